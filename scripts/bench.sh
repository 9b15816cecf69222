#!/usr/bin/env bash
# Builds the release preset and runs the owner list, owner data file and operation log benchmarks on
# the SQLite file and on a throw-away PostgreSQL server (tests/pg/cluster.sh, its state in
# build/release/pg), and the cost of a log entry on the file, printing their figures; the cluster is
# stopped however the run ends.
# Usage: scripts/bench.sh [runs of bench_exchange]   (3 when not given)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
cmake --preset release >/dev/null
cmake --build --preset release --target bench_exchange bench_list bench_owner_list bench_log bench_oplog
bin=$PWD/build/release/bin
state=$PWD/build/release/pg
export QT_QPA_PLATFORM=offscreen
failed=0 # a benchmark that fails is named, the others still run, and the script fails at the end

run_all() {
  echo "=== bench_list ($1) ==="
  "$bin/bench_list" "${@:2}" || { echo "bench_list failed"; failed=1; }
  echo "=== bench_owner_list ($1) ==="
  "$bin/bench_owner_list" "${@:2}" || { echo "bench_owner_list failed"; failed=1; }
  echo "=== bench_log ($1) ==="
  "$bin/bench_log" "${@:2}" || { echo "bench_log failed"; failed=1; }
  echo "=== bench_exchange ($1) ==="
  local scratch
  scratch=$(mktemp -d)
  "$bin/bench_exchange" "$scratch" "$runs" "${@:2}" || { echo "bench_exchange failed"; failed=1; }
  rm -rf "$scratch"
}

run_all "SQLite file"
echo "=== bench_oplog (SQLite file) ==="
"$bin/bench_oplog" || { echo "bench_oplog failed"; failed=1; }

trap 'bash tests/pg/cluster.sh stop "$state" >/dev/null 2>&1 || true' EXIT
bash tests/pg/cluster.sh start "$state"
conninfo=$(cat "$state/conninfo")
if [[ $conninfo == skip:* ]]; then
  echo "no PostgreSQL server: ${conninfo#skip:}" >&2
  exit 1
fi
psql "$conninfo" -qc "create database iccard_bench template template0 encoding 'UTF8' lc_ctype 'C' lc_collate 'C'"
run_all "PostgreSQL server" --database "${conninfo/dbname=postgres/dbname=iccard_bench}"
exit "$failed"
