#!/usr/bin/env bash
# Runs the fuzz targets for as long as asked: scripts/fuzz.sh [target|all] [seconds per target].
# Builds the fuzz preset (clang) first. The corpus each target grows is kept in
# build/fuzz/corpus/<target>; the seeds in fuzz/corpus/<target> are read, never written. A finding
# (crash, leak, time-out) is written to build/fuzz/findings/ and the command that reproduces it is
# printed.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(fuzz_reports fuzz_import fuzz_settings fuzz_restore)
which="${1:-all}"
seconds="${2:-60}"
if [ "$which" != all ]; then
  if [[ ! " ${targets[*]} " =~ " ${which} " ]]; then
    echo "unknown target: $which (one of: ${targets[*]}, all)" >&2
    exit 2
  fi
  targets=("$which")
fi
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "seconds must be a whole number above 0: $seconds" >&2
  exit 2
fi
if ! command -v clang++ >/dev/null; then
  echo "clang++ is missing: run scripts/install-deps.sh" >&2
  exit 2
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "${targets[@]}"

bin="$PWD/build/fuzz/bin"
findings="$PWD/build/fuzz/findings"
mkdir -p "$findings"
status=0
for t in "${targets[@]}"; do
  grown="$PWD/build/fuzz/corpus/$t"
  mkdir -p "$grown"
  log="$PWD/build/fuzz/$t.log"
  echo "== $t: ${seconds}s, corpus $grown (seeds fuzz/corpus/$t)"
  marker="$findings/.$t.start"
  touch "$marker"
  if "$bin/$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
      -artifact_prefix="$findings/$t-" "$grown" "fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units|^stat::new_units_added' "$log" | sed "s/^/   /" || true
  else
    status=1
    tail -n 40 "$log"
    echo "!! $t found a fault (log: $log)"
  fi
  while IFS= read -r f; do
    echo "!! finding: $f"
    echo "   reproduce: $bin/$t $f"
  done < <(find "$findings" -maxdepth 1 -name "$t-*" -newer "$marker")
done
exit $status
