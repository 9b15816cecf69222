#!/usr/bin/env bash
# Checks what windows-package.sh made, in a Wine prefix of its own (a clean "PC"): the portable
# folder's programs start with only the DLLs beside them; the installer installs silently into
# Program Files with its Start-menu entries, the installed command line keeps its data in the
# user's application data folder, and the uninstaller removes the program.
#   windows-installer-check.sh [DIST]   DIST: build/windows/dist
set -euo pipefail
cd "$(dirname "$0")/.."
dist=$(realpath "${1:-build/windows/dist}")
version=$(sed -n 's/^project(iccard VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
prefix=$(mktemp -d)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
trap '"$wineserver" -k 2>/dev/null || true; rm -rf "$prefix"' EXIT
fail() { echo "windows-installer-check: $*" >&2; exit 1; }

out=$("$wine" "$dist/iccard-$version-windows/iccard-data.exe" --version 2>&1) || fail "the portable folder's iccard-data does not start: $out"
[[ $out == *"iccard-data $version"* ]] || fail "the portable folder's iccard-data said: $out"

"$wine" "$dist/iccard-$version-setup.exe" /S || fail "the installer failed"
installed="$prefix/drive_c/Program Files/iccard"
for f in bin/iccard.exe bin/iccard-data.exe bin/iccard-sim.exe bin/platforms/qwindows.dll \
  bin/sqldrivers/qsqlite.dll share/iccard/SystemInfo.dat share/iccard/null.jpg \
  share/doc/iccard/manual/zh_CN/index.md share/doc/iccard/iccard-manual-zh_CN.pdf uninstall.exe; do
  [ -f "$installed/$f" ] || fail "the installer did not install $f"
done
menu="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/IC卡脱机系统"
for f in IC卡脱机系统.lnk 使用说明.lnk 卸载.lnk; do
  [ -f "$menu/$f" ] || fail "the Start menu lacks $f"
done
out=$("$wine" 'C:\Program Files\iccard\bin\iccard-data.exe' where 2>&1 || true)
[[ $out == *'AppData\Local\iccard\QDR_DB.GRes'* ]] || fail "the installed program's folder is not in AppData: $out"

"$wine" 'C:\Program Files\iccard\uninstall.exe' /S || fail "the uninstaller failed"
for _ in $(seq 1 20); do
  [ -e "$installed/bin" ] || break
  sleep 0.5
done
[ ! -e "$installed/bin" ] || fail "the uninstaller left the program"
[ ! -e "$menu" ] || fail "the uninstaller left the Start-menu folder"
echo "windows-installer-check: the portable folder starts; the installer installs, and the uninstaller removes, the program"
