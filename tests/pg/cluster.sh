#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the test runs against PostgreSQL (the *_pg tests).
#
#   cluster.sh start <statedir>   starts a fresh cluster and writes <statedir>/conninfo
#   cluster.sh stop <statedir>    stops it and removes its folder and <statedir>/conninfo
#
# The cluster lives in a new /tmp/iccard-pg.XXXXXX folder: the build folder may be under /root,
# which an unprivileged user cannot enter, and the Unix socket path must stay short. initdb and
# postgres refuse to run as root, so as root the cluster belongs to and runs as nobody:nogroup.
# It listens on its Unix socket only (no TCP, so no port clash with anything on the machine).
#
# <statedir>/conninfo is one line: libpq key=value pairs (host, port, user, dbname) for the
# superuser iccard (trust), or "skip: <reason>" when the server binaries are not installed.
# <statedir>/cluster holds the cluster folder, so that stop, and the next start after a killed
# run, can find it. The role office (password office-pass) logs in with a password (scram).
#
# ICCARD_PG_BINDIR overrides the server binary folder (default: the newest
# /usr/lib/postgresql/<version>/bin).
set -euo pipefail

usage() {
  echo "usage: $0 start|stop <statedir>" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action=$1
statedir=$2
port=55432 # only names the socket file in the cluster's own folder

# The server binary folder: the override, or the newest installed version.
find_bindir() {
  if [ -n "${ICCARD_PG_BINDIR:-}" ]; then
    echo "$ICCARD_PG_BINDIR"
    return
  fi
  local dirs
  dirs=$(compgen -G '/usr/lib/postgresql/*/bin' || true)
  [ -n "$dirs" ] && sort -V <<<"$dirs" | tail -n 1
  return 0
}

# Runs a command as the owner of the cluster folder $1 (the server refuses to run as root),
# from inside that folder so that nobody never needs to enter the caller's folder.
as_owner() {
  local dir=$1
  shift
  local env=(env "HOME=$dir" "PGDATA=$dir/data" LC_ALL=C.UTF-8)
  if [ "$(id -u)" -eq 0 ]; then
    local owner group
    owner=$(stat -c %U "$dir")
    group=$(stat -c %G "$dir")
    (cd "$dir" && setpriv --reuid="$owner" --regid="$group" --clear-groups -- "${env[@]}" "$@")
  else
    (cd "$dir" && "${env[@]}" "$@")
  fi
}

# Stops and removes the cluster <statedir>/cluster names, if any; quiet when there is none.
stop_cluster() {
  local dir=""
  if [ -f "$statedir/cluster" ]; then
    dir=$(cat "$statedir/cluster")
  fi
  # Only ever remove a folder this script made.
  if [[ "$dir" == /tmp/iccard-pg.* ]] && [ -d "$dir" ]; then
    if [ -f "$dir/data/postmaster.pid" ]; then
      local bindir pid
      bindir=$(cat "$statedir/bindir" 2>/dev/null || true)
      if [ -x "$bindir/pg_ctl" ] && as_owner "$dir" "$bindir/pg_ctl" stop -D "$dir/data" -m immediate -w \
        -t 30 >/dev/null 2>&1; then
        :
      else
        # pg_ctl is gone or failed: end the postmaster itself (SIGQUIT is the immediate shutdown),
        # if the pid file still names this cluster's postmaster and not a process that reused it.
        pid=$(head -n 1 "$dir/data/postmaster.pid")
        if [[ "$pid" =~ ^[0-9]+$ ]] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF "$dir/data" &&
          kill -QUIT "$pid" 2>/dev/null; then
          for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
          done
          kill -KILL "$pid" 2>/dev/null || true
        fi
      fi
    fi
    rm -rf "$dir"
  fi
  rm -f "$statedir/cluster" "$statedir/bindir" "$statedir/conninfo"
}

# Writes "skip: <reason>" as the conninfo, tells why, and ends successfully.
skip() {
  echo "skip: $1" >"$statedir/conninfo"
  echo "PostgreSQL tests skipped: $1" >&2
  exit 0
}

# Prints what initdb and the server said, removes the half-made cluster and fails.
fail() {
  echo "$1" >&2
  local log
  for log in initdb.log server.log; do
    if [ -f "$dir/$log" ]; then
      echo "--- $log ---" >&2
      cat "$dir/$log" >&2
    fi
  done
  stop_cluster
  exit 1
}

start_cluster() {
  local bindir
  bindir=$(find_bindir)
  if [ -z "$bindir" ]; then
    skip "the PostgreSQL server packages are not installed (no /usr/lib/postgresql/*/bin)"
  fi
  local b
  for b in initdb pg_ctl postgres; do
    if [ ! -x "$bindir/$b" ]; then
      skip "the PostgreSQL server packages are not installed ($bindir/$b is missing)"
    fi
  done
  local psql=$bindir/psql
  [ -x "$psql" ] || psql=psql

  dir=$(mktemp -d /tmp/iccard-pg.XXXXXX)
  echo "$dir" >"$statedir/cluster"
  echo "$bindir" >"$statedir/bindir"
  chmod 755 "$dir" # others may connect through the socket; the data folder itself stays 0700
  if [ "$(id -u)" -eq 0 ]; then
    chown nobody:nogroup "$dir"
  fi

  local locale=(--locale=C.UTF-8)
  if ! locale -a 2>/dev/null | grep -qixE 'c\.utf-?8'; then
    locale=(--no-locale)
  fi
  if ! as_owner "$dir" "$bindir/initdb" -D "$dir/data" -E UTF8 "${locale[@]}" -U iccard --auth=trust \
    --no-sync >"$dir/initdb.log" 2>&1; then
    fail "initdb failed"
  fi

  # Speed over safety: the cluster is thrown away after the run.
  as_owner "$dir" tee -a "$dir/data/postgresql.conf" >/dev/null <<EOF
fsync = off
synchronous_commit = off
full_page_writes = off
listen_addresses = ''
unix_socket_directories = '$dir'
port = $port
password_encryption = 'scram-sha-256'
EOF
  as_owner "$dir" tee "$dir/data/pg_hba.conf" >/dev/null <<EOF
# TYPE  DATABASE  USER    METHOD
local   all       iccard  trust
local   all       all     scram-sha-256
EOF

  if ! as_owner "$dir" "$bindir/pg_ctl" start -D "$dir/data" -l "$dir/server.log" -w -t 30 >/dev/null; then
    fail "the PostgreSQL server did not start"
  fi

  local ready=0
  for _ in $(seq 1 60); do
    if "$psql" -X -q -h "$dir" -p "$port" -U iccard -d postgres -c 'select 1' >/dev/null 2>&1; then
      ready=1
      break
    fi
    sleep 0.5
  done
  [ "$ready" -eq 1 ] || fail "the PostgreSQL server does not accept connections"

  if ! "$psql" -X -q -h "$dir" -p "$port" -U iccard -d postgres -v ON_ERROR_STOP=1 \
    -c "create role office login createdb password 'office-pass'" >/dev/null; then
    fail "could not create the role office"
  fi

  # Written last, whole: a test that sees the file sees a cluster ready for it.
  echo "host=$dir port=$port user=iccard dbname=postgres" >"$statedir/conninfo.new"
  mv "$statedir/conninfo.new" "$statedir/conninfo"
  echo "$("$bindir/postgres" --version) running in $dir as $(stat -c %U "$dir")"
}

mkdir -p "$statedir"
statedir=$(cd "$statedir" && pwd)
dir=""
case $action in
  start)
    # A run that was killed may have left its cluster behind.
    stop_cluster
    start_cluster
    ;;
  stop)
    stop_cluster
    ;;
  *) usage ;;
esac
