#!/usr/bin/env bash
# Takes the README's screenshots of the real windows under Xvfb, with the simulated card issuer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release --target iccard-screenshots program_folder
xvfb-run -a -s "-screen 0 1366x768x24" build/release/bin/iccard-screenshots docs/screenshots build/release/bin
