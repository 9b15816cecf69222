#!/usr/bin/env bash
# The Windows part of the test command: the tool chain (scripts/windows-toolchain.sh, into a cache
# outside the clone: about 40 minutes on two cores the first time, seconds afterwards), the Windows
# build (the windows preset), its tests under Wine (the store, the command line, the link and the
# windows, offscreen; the program itself up to its login window on a virtual display), then the
# program folder, its zip and the installer (scripts/windows-package.sh), tried in a clean Wine
# prefix (scripts/windows-installer-check.sh).
#   ICCARD_WINDOWS_CACHE   the tool chain's cache (~/.cache/iccard-windows when not set)
#   ICCARD_WINDOWS=skip    leaves the Windows part out (said so at the end of the run)
#   ICCARD_TEST_STARTED    when the test command began (seconds since 1970): a tool chain that is
#                          not there yet, and a Windows build from scratch, are made only when
#                          the whole run stays within ICCARD_TEST_BUDGET_MINUTES (85), CI's limit
#                          being 90; a run that could make only the tool chain makes it, so that
#                          the next run on the machine does the rest
# When the Windows part cannot run (asked, out of time, or the source packages cannot be fetched)
# it says so plainly and why, and the test command goes on; when it runs, any failure fails it.
set -euo pipefail
cd "$(dirname "$0")/.."
export ICCARD_WINDOWS_CACHE=${ICCARD_WINDOWS_CACHE:-$HOME/.cache/iccard-windows}
cache=$ICCARD_WINDOWS_CACHE
started=${ICCARD_TEST_STARTED:-$(date +%s)}
budget=${ICCARD_TEST_BUDGET_MINUTES:-85}
say() { echo "windows-test: $*"; }
skip() {
  echo "=============================================================================" >&2
  echo "THE WINDOWS PART WAS SKIPPED: $*" >&2
  echo "=============================================================================" >&2
  exit 0
}
minutes() { echo $((($(date +%s) - $1 + 59) / 60)); }

case ${ICCARD_WINDOWS:-} in
  skip | off | no | 0) skip "ICCARD_WINDOWS=$ICCARD_WINDOWS asked for it." ;;
esac

# Minutes on two cores: the tool chain the first time, and the Windows build from scratch with its
# tests and packages.
toolchain_minutes=50
build_minutes=32
if [ ! -f "$cache/qt/.built" ] || [ ! -f "$cache/pq/.built" ] || [ ! -f "$cache/qt/plugins/sqldrivers/.drivers" ]; then
  used=$(minutes "$started")
  if [ $((used + toolchain_minutes)) -gt "$budget" ]; then
    skip "the Windows tool chain is not in $cache yet, and building it (about 40 minutes on two cores)
would take this run past $budget minutes (it has run $used). Make it once with:
  bash scripts/windows-toolchain.sh $cache"
  fi
  say "the Windows tool chain is not in $cache yet: building it (about 40 minutes on two cores, once)"
fi
t=$(date +%s)
rc=0
bash scripts/windows-toolchain.sh "$cache" || rc=$?
if [ "$rc" -eq 3 ]; then
  skip "the source packages the Windows tool chain is made from cannot be fetched on this machine
(no deb-src twin of its Debian package sources can be read; see the lines above)."
elif [ "$rc" -ne 0 ]; then
  exit "$rc"
fi
say "tool chain ready in $(minutes "$t") min"
used=$(minutes "$started")
if [ ! -f build/windows/build.ninja ] && [ $((used + build_minutes)) -gt "$budget" ]; then
  skip "the Windows tool chain is ready in $cache now, but the Windows build with its tests (about
$build_minutes minutes) would take this run past $budget minutes (it has run $used). The next run of
the test command on this machine does it."
fi

t=$(date +%s)
cmake --preset windows
cmake --build --preset windows
say "Windows build done in $(minutes "$t") min"

# Wine's prefix is made (the first time) and its server started before the first test.
t=$(date +%s)
WINEDEBUG=-all WINEPREFIX=$cache/wineprefix "$(command -v wineboot || echo /usr/lib/wine/wineboot)" -i >/dev/null 2>&1 || true
ctest --preset windows
WINEPREFIX=$cache/wineprefix "$(command -v wineserver || echo /usr/lib/wine/wineserver)" -k 2>/dev/null || true
say "Windows tests under Wine done in $(minutes "$t") min"

bash scripts/windows-package.sh build/windows
bash scripts/windows-installer-check.sh build/windows/dist
