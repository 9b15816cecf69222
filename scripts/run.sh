#!/usr/bin/env bash
# Installs what is missing, builds the program and starts it from its program folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release
cmake --build --preset release
bin=build/release/bin
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session found (DISPLAY is not set): start this from a desktop terminal." >&2
  exit 1
fi
cd "$bin"
exec ./iccard
