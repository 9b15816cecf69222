#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci
