#!/usr/bin/env bash
# Takes the pictures of the real windows under Xvfb, with the simulated card issuer: the README's
# (docs/screenshots) and the operator's guide's (docs/manual/zh_CN/images).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target iccard-screenshots program_folder
for set in "docs/screenshots" "--guide docs/manual/zh_CN/images"; do
  # shellcheck disable=SC2086 # the set is the switch and the folder
  xvfb-run -a -s "-screen 0 1366x768x24" build/release/bin/iccard-screenshots $set build/release/bin
done
