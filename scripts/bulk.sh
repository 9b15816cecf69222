#!/usr/bin/env bash
# Times whole runs of iccard-data import and export on the owner data file of 100,000 owners, beside
# the engine's own bulk tool on the same rows in the same run, each a process of its own timed from
# outside: on the SQLite file sqlite3's .import (into UserInfo of an empty database of the program's
# schema, synchronous=FULL) and sqlite3 -csv of the export's query; on a throw-away PostgreSQL
# server (tests/pg/cluster.sh, its state in build/release/pg) psql's \copy ... from (COPY FROM
# STDIN into an empty copy of UserInfo) and \copy (query) to (COPY (query) TO STDOUT). Every import
# starts on an empty table. Prints each round, then per engine and operation the program's median,
# the tool's median and their ratio. The cluster is stopped however the run ends.
# Usage: scripts/bulk.sh [rounds] [file|server|both]   (5 rounds, both engines when not given)
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-5}
engines=${2:-both}
cmake --preset release >/dev/null
cmake --build --preset release --target iccard-data bench_exchange >/dev/null
bin=$PWD/build/release/bin
state=$PWD/build/release/pg
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

"$bin/bench_exchange" --files "$scratch"
owners=$scratch/owners.csv
# The export's query, as the program runs it on each engine for all owners (no owner lacks a place).
columns="DongHao, DanYuan, FangHao, CardID, UserName, phone, chUseExpdate, Expdate, Sex, UserType, CardNo,\
 ExtName, VaildTerminal"
fileQuery="select $columns from UserInfo where 1 = 1 order by DongHao, DanYuan, FangHao"
serverQuery="select $columns from UserInfo where 1 = 1 order by DongHao, DanYuan, FangHao, idx"

# Milliseconds a command takes, its output thrown away; the script stops when it fails.
ms() {
  local start end
  start=$(date +%s%N)
  if ! "$@" >"$scratch/out.log" 2>&1; then
    echo "failed: $*" >&2
    cat "$scratch/out.log" >&2
    exit 1
  fi
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { tr ' ' '\n' | awk 'NF' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A times
# Adds a round's time: key, milliseconds.
note() { times[$1]="${times[$1]:-} $2"; }

summary() {
  local engine=$1 tool=$2
  for op in import export; do
    local ours theirs
    ours=$(median <<<"${times[$engine-$op-ours]}")
    theirs=$(median <<<"${times[$engine-$op-tool]}")
    printf '%-7s %-7s iccard-data %6d ms   %-16s %6d ms   ratio %s\n' "$engine" "$op" "$ours" "$tool" \
      "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.2f", a / b }')"
  done
}

run_file() {
  local folder=$scratch/file template=$scratch/empty.db db
  mkdir -p "$folder"
  # An empty database of the program's schema: an import of a file without owners makes it.
  head -n 1 "$owners" >"$scratch/header.csv"
  "$bin/iccard-data" --folder "$folder" import "$scratch/header.csv" >/dev/null 2>&1 || true
  db=$("$bin/iccard-data" --folder "$folder" where | sed -n 2p)
  cp "$db" "$template"
  for round in $(seq 1 "$rounds"); do
    cp "$template" "$db"
    rm -f "$db-journal" "$db-wal" "$db-shm"
    note file-import-ours "$(ms "$bin/iccard-data" --folder "$folder" import "$owners")"
    cp "$template" "$scratch/tool.db"
    note file-import-tool "$(ms sqlite3 "$scratch/tool.db" -cmd 'PRAGMA synchronous=FULL' \
      ".import --csv $scratch/rows-file.csv UserInfo")"
    note file-export-ours "$(ms "$bin/iccard-data" --folder "$folder" export "$scratch/export.csv" --force)"
    note file-export-tool "$(ms sh -c "sqlite3 -csv '$db' '$fileQuery' >'$scratch/tool-export.csv'")"
    echo "file round $round:${times[file-import-ours]##* } ${times[file-import-tool]##* }" \
      "${times[file-export-ours]##* } ${times[file-export-tool]##* } ms (import ours, tool; export ours, tool)"
  done
}

run_server() {
  trap 'bash tests/pg/cluster.sh stop "$state" >/dev/null 2>&1 || true; rm -rf "$scratch"' EXIT
  bash tests/pg/cluster.sh start "$state"
  local conninfo url
  conninfo=$(cat "$state/conninfo")
  if [[ $conninfo == skip:* ]]; then
    echo "no PostgreSQL server: ${conninfo#skip:}" >&2
    exit 1
  fi
  url=${conninfo/dbname=postgres/dbname=iccard_bulk}
  psql "$conninfo" -qc "create database iccard_bulk template template0 encoding 'UTF8' lc_ctype 'C' lc_collate 'C'"
  local folder=$scratch/server
  mkdir -p "$folder"
  head -n 1 "$owners" >"$scratch/header.csv"
  "$bin/iccard-data" --folder "$folder" --database "$url" import "$scratch/header.csv" >/dev/null 2>&1 || true
  for round in $(seq 1 "$rounds"); do
    psql "$url" -qc "set client_min_messages = warning" -c "truncate UserInfo restart identity" -c "drop table if exists bulk_copy" \
      -c "set client_min_messages = warning" -c "create table bulk_copy (like UserInfo including all)" -c "checkpoint" >/dev/null
    note server-import-ours "$(ms "$bin/iccard-data" --folder "$folder" --database "$url" import "$owners")"
    note server-import-tool "$(ms psql "$url" -qc "\\copy bulk_copy from '$scratch/rows-server.csv' (format csv)")"
    note server-export-ours "$(ms "$bin/iccard-data" --folder "$folder" --database "$url" export \
      "$scratch/export.csv" --force)"
    note server-export-tool "$(ms psql "$url" -qc "\\copy ($serverQuery) to '$scratch/tool-export.csv' (format csv)")"
    echo "server round $round:${times[server-import-ours]##* } ${times[server-import-tool]##* }" \
      "${times[server-export-ours]##* } ${times[server-export-tool]##* } ms (import ours, tool; export ours, tool)"
  done
}

echo "100,000 owners, $(du -h "$owners" | cut -f1) owner data file (GBK); $rounds rounds, medians"
[[ $engines == server ]] || run_file
[[ $engines == file ]] || run_server
echo "engine  operation   program median          tool median              ratio"
[[ $engines == server ]] || summary file "sqlite3"
[[ $engines == file ]] || summary server "psql \\copy"
