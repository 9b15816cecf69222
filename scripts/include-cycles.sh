#!/bin/bash
# Lists the include edges among the units of the data store (a header and its source file are one
# unit) and fails when the units include each other round in a circle, naming the units of the
# circle. The store's units are meant to call each other one way only.
#
#   scripts/include-cycles.sh [source root]      (default: the folder above this script)
set -euo pipefail
root=${1:-$(dirname "$0")/..}
store="$root/src/store"

edges=$(
    for file in "$store"/*.h "$store"/*.cpp; do
        from=$(basename "${file%.*}")
        sed -n 's/^#include "\([^"/]*\)\.h".*/\1/p' "$file" | while read -r to; do
            [[ "$to" != "$from" && -f "$store/$to.h" ]] && echo "$from $to"
        done
    done | sort -u
)

if [[ "${VERBOSE:-}" == 1 ]]; then
    echo "$edges"
fi
if ! loops=$(tsort <<<"$edges" 2>&1 >/dev/null) || [[ -n "$loops" ]]; then
    echo "The store's units include each other in a circle:" >&2
    sed -n 's/^tsort: \([A-Za-z0-9_]*\)$/  \1/p' <<<"$loops" >&2
    exit 1
fi
echo "No circle among the store's units ($(wc -l <<<"$edges") include edges)."
