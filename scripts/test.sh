#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every test through CTest; then
# builds the fuzz targets with clang and runs each for a few seconds on its seeds; then the Windows
# build and its tests under Wine (scripts/windows-test.sh: its tool chain is made once, into a cache
# outside the clone, when the run has the time; otherwise it says plainly that it skipped it).
set -euo pipefail
cd "$(dirname "$0")/.."
export ICCARD_TEST_STARTED=${ICCARD_TEST_STARTED:-$(date +%s)}
bash scripts/install-deps.sh
cmake --preset ci
cmake --build --preset ci
ctest --preset ci

# The fuzz targets: a crash, a leak or a failed check fails the run (scripts/fuzz.sh runs them longer).
if command -v clang++ >/dev/null; then
  cmake --preset fuzz
  cmake --build --preset fuzz
  ctest --preset fuzz
else
  echo "clang++ is missing: the fuzz targets were not run" >&2
fi

# The Windows build, tested under Wine, and its zip and installer.
bash scripts/windows-test.sh
