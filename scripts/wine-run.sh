#!/usr/bin/env bash
# Runs a program of the Windows build under Wine: CTest's emulator for the Windows build's tests,
# and the way to start the Windows program on this machine.
#   wine-run.sh PROGRAM.exe [ARGUMENTS...]
# The tool chain's cache ($ICCARD_WINDOWS_CACHE, else ~/.cache/iccard-windows) holds Qt's DLLs and
# plugins and the Wine prefix. Wine 8 drops the environment variables named QT_*: each one set here
# reaches the program as WINEQT_*, which Wine hands over without the prefix. Qt Test's output goes
# to standard error (not the debugger's channel), and the offscreen platform finds the CJK font.
set -euo pipefail
cache=${ICCARD_WINDOWS_CACHE:-$HOME/.cache/iccard-windows}
export WINEPREFIX=${WINEPREFIX:-$cache/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
winpath() { echo "Z:${1//\//\\}"; }
runtime=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="$(winpath "$cache/qt/bin");$(winpath "$cache/pq/bin");$(winpath "$cache/sqlite/bin");$(winpath "$runtime");$(winpath /usr/x86_64-w64-mingw32/lib)"
export QT_PLUGIN_PATH=${QT_PLUGIN_PATH:-$(winpath "$cache/qt/plugins")}
export QT_FORCE_STDERR_LOGGING=1
[ -n "${QT_QPA_FONTDIR:-}" ] || export QT_QPA_FONTDIR='Z:\usr\share\fonts\truetype\wqy'
while IFS='=' read -r name _; do
  [[ $name == QT_* ]] && export "WINE$name=${!name}"
done < <(env)
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec "$wine" "$@"
