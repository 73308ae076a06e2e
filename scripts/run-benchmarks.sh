#!/usr/bin/env bash
# Runs every benchmark binary of a build folder.
set -euo pipefail
export PAVREL_MEDIA_DIR=${PAVREL_MEDIA_DIR:-$(cd "$(dirname "$0")/.." && pwd)/media}
build=${1:-build-bench}
found=0
while IFS= read -r b; do
  found=1
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done < <(find "$build/bench" -type f -executable -name 'bench_*' | sort)
[ "$found" = 1 ] || echo "no benchmarks built"
