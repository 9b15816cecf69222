#!/usr/bin/env bash
# Takes the pictures of the real windows under Xvfb, with the simulated card issuer: the README's
# (docs/screenshots) and the operator's guide's (docs/manual/zh_CN/images). For the guide's picture
# of the program on a database server, a throw-away PostgreSQL server runs on 127.0.0.1 meanwhile
# (without the PostgreSQL server packages that picture shows the program on its file).
#   scripts/screenshots.sh [PRESET]     the build preset, release unless given (e.g. ci)
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-release}
bash scripts/install-deps.sh
cmake --preset "$preset"
cmake --build --preset "$preset" --target iccard-screenshots program_folder

port=55433
dir=""
bindir=$(compgen -G '/usr/lib/postgresql/*/bin' | sort -V | tail -n 1 || true)

# Runs a command in the server's folder as its owner (the server refuses to run as root).
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    (cd "$dir" && setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$@")
  else
    (cd "$dir" && "$@")
  fi
}

stop_server() {
  if [ -n "$dir" ] && [ -d "$dir" ]; then
    if [ -f "$dir/data/postmaster.pid" ]; then
      as_owner "$bindir/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
  fi
}
trap stop_server EXIT

# Sets url to the server's address once it runs with an empty database iccard for the user office.
url=""
start_server() {
  [ -n "$bindir" ] && [ -x "$bindir/initdb" ] && [ -x "$bindir/pg_ctl" ] || return 1
  dir=$(mktemp -d /tmp/iccard-shots-pg.XXXXXX)
  chmod 755 "$dir"
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$dir"
  fi
  as_owner "$bindir/initdb" -D "$dir/data" -E UTF8 --no-locale -U office --auth=trust --no-sync \
    >"$dir/initdb.log" 2>&1 || return 1
  as_owner "$bindir/pg_ctl" -D "$dir/data" -o "-h 127.0.0.1 -p $port -k $dir" -l "$dir/server.log" -w \
    start >/dev/null || return 1
  as_owner "$bindir/createdb" -h 127.0.0.1 -p "$port" -U office iccard || return 1
  url="postgresql://office@127.0.0.1:$port/iccard"
}

server=()
if start_server; then
  server=(--server "$url")
else
  echo "no PostgreSQL server for the picture of the program on a server: it shows the database file" >&2
fi

shoot() {
  xvfb-run -a -s "-screen 0 1366x768x24" "build/$preset/bin/iccard-screenshots" "$@" "build/$preset/bin"
}
shoot docs/screenshots
shoot --guide "${server[@]}" docs/manual/zh_CN/images
