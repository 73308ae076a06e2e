#!/usr/bin/env bash
# The pointer figures of bench/mouse/README.md: jitter, lag and click drift, the original
# pointer against the One Euro filter and hold on click. Usage: scripts/measure-pointer.sh
# [build-dir]; needs pavrel-track and make-pointer-clips built there.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
track="$build/tools/pavrel-track"
media=${PAVREL_MEDIA_DIR:-$(pwd)/media}
clips=$(mktemp -d)
trap 'rm -rf "$clips"' EXIT
"$build/tools/make-pointer-clips" "$clips"
measure=scripts/pointer-measures.py
# Skin bounds of the generated blob and of the shared hand clip.
blob=(--set LHueBound=5 --set HHueBound=30 --set LSatBound=50 --set HSatBound=200 --set LValBound=80)
hand=(--set HHueBound=30 --set LSatBound=40 --set LValBound=60)
oneEuro=(--set PointerFilter=1)
hold=(--set HoldOnClick=1 --set ClickDeadZone=40)

run() { "$track" --pointer "$@"; }
for method in original oneeuro; do
  extra=()
  [ "$method" = oneeuro ] && extra=("${oneEuro[@]}")
  still=$(run "${blob[@]}" "${extra[@]}" "$clips/still" | $measure jitter -)
  run --fps 25 "${hand[@]}" "${extra[@]}" "$media/asl_hand.mp4" >"$clips/real.jsonl"
  real=$($measure jitter "$clips/real.jsonl")
  calm=$($measure still "$media/asl_hand.truth.json" "$clips/real.jsonl")
  lag=$(run "${blob[@]}" "${extra[@]}" "$clips/moving" | $measure lag --skip 20 -)
  drift=$(run "${blob[@]}" "${extra[@]}" "$clips/click" | $measure drift -)
  held=$(run "${blob[@]}" "${extra[@]}" "${hold[@]}" "$clips/click" | $measure drift -)
  echo "$method: jitter still blob $still px, shared hand clip $real px, its still stretches"
  echo "  $calm; lag $lag frames;"
  echo "  click drift: $drift; with hold on click: $held"
done
