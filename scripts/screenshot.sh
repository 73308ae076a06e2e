#!/usr/bin/env bash
# Makes docs/screenshot.png: the program on a private Xvfb + openbox (started and stopped by
# the helper itself), playing the shared hand clip. Usage: scripts/screenshot.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
media=${PAVREL_MEDIA_DIR:-$(pwd)/media}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build"
cmake --build "$build" -j2 --target pavrel_screenshot
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/pavrel-runtime-$(id -u)}
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
"$build/tests/app/pavrel_screenshot" "$media/asl_hand.mp4" docs/screenshot.png
