#!/usr/bin/env bash
# Installs what building and running need and is missing, builds the program, its command line
# and the simulated card issuer (the run preset: no tests, benchmarks or tools) and starts the
# program from its program folder. With no card issuer plugged in, the simulated card issuer's
# window starts beside it with a few blank cards, so every card workflow can be tried without
# hardware. scripts/test.sh installs and builds everything else.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --run
cmake --preset run
cmake --build --preset run
bin="$PWD/build/run/bin"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session found (DISPLAY is not set): start this from a terminal of the desktop." >&2
  exit 1
fi

real_issuer=no
for uevent in /sys/class/hidraw/*/device/uevent; do
  if [ -r "$uevent" ] && grep -qi '^HID_ID=0003:00001A86:0000E010' "$uevent"; then
    real_issuer=yes
  fi
done

cd "$bin"
if [ "$real_issuer" = no ]; then
  socket="${XDG_RUNTIME_DIR:-/tmp}/iccard-sim-$(id -u).sock"
  ./iccard-sim --socket "$socket" --cards "$bin/sim-cards.json" --blank-cards 3 &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null || true' EXIT
  export ICCARD_SIMULATOR="$socket"
  echo "No card issuer is plugged in: the simulated card issuer runs beside the program ($socket)."
fi
./iccard
