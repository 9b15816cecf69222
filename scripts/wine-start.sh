#!/usr/bin/env bash
# Starts the Windows program under Wine on a virtual display (Xvfb, 1366x768 like the offices'
# screens) with a program folder of its own, waits for its login window 「系统登录」, saves a picture
# of the screen and ends the program. Fails when the window has not come within 120 s.
#   wine-start.sh ICCARD.EXE PICTURE.png
set -euo pipefail
exe=$(realpath "$1")
picture=$(realpath -m "$2")
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${DISPLAY:-}" ] || [ "${WINE_START_NESTED:-}" != 1 ]; then
  export WINE_START_NESTED=1
  exec xvfb-run -a -s "-screen 0 1366x768x24" bash "$0" "$@"
fi
cache=${ICCARD_WINDOWS_CACHE:-$HOME/.cache/iccard-windows}
export WINEPREFIX=${WINEPREFIX:-$cache/wineprefix}
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
# Wine's desktop belongs to the prefix's server and is made for the display the server's first
# window program had: a server left from programs without a display (the offscreen tests) would
# refuse every window here. It is ended first, and again at the end (the tests run one at a time).
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
folder=$(mktemp -d)
pid=
trap '[ -z "$pid" ] || { kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; } || true; "$wineserver" -k 2>/dev/null || true; rm -rf "$folder" "$folder.log"' EXIT
# The window platform, not the tests' offscreen one.
unset QT_QPA_PLATFORM
bash "$here/wine-run.sh" "$exe" --folder "$(echo "Z:$folder" | tr / '\\')" >"$folder.log" 2>&1 &
pid=$!
for _ in $(seq 1 240); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"系统登录"'; then
    sleep 2 # the window drawn
    mkdir -p "$(dirname "$picture")"
    import -window root "$picture"
    echo "the login window came up; the screen: $picture"
    exit 0
  fi
  if ! kill -0 "$pid" 2>/dev/null; then
    echo "the program ended before its login window came up:" >&2
    cat "$folder.log" >&2
    exit 1
  fi
  sleep 0.5
done
echo "no login window within 120 s" >&2
cat "$folder.log" >&2
exit 1
