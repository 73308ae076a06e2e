#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, over a copy of its seed
# corpus in fuzz/corpus/<target>/ (the repository's corpus is never changed). Fails when a
# target crashes, leaks, times out or runs out of memory; the reproducer is left in
# BUILD_DIR/fuzz-artifacts/<target>/.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR SECONDS" >&2; exit 2; }
build=$(cd "$1" && pwd)
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

mapfile -t targets < <(find "$build/fuzz" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets in $build/fuzz" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=()
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus="$work/$name"
  mkdir -p "$corpus"
  if [ -d "$root/fuzz/corpus/$name" ]; then
    cp -r "$root/fuzz/corpus/$name/." "$corpus/"
  fi
  artifacts="$build/fuzz-artifacts/$name"
  mkdir -p "$artifacts"
  echo "== $name: $seconds s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
       -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" > "$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log"
    echo "== $name FAILED (artifacts in $artifacts)"
    failed+=("$name")
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done )' "$work/$name.log" || true
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzzing passed: ${#targets[@]} targets, $seconds s each"
