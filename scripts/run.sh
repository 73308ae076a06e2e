#!/usr/bin/env bash
# Starts Pavrel from the build folder. Until the desktop program exists this shows the
# headless tracker at work on frames the build generated.
set -euo pipefail
build=${1:-build}
if [ -x "$build/src/app/pavrel" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "Pavrel needs a graphical session, and none is open here (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
    echo "To try it without one:  xvfb-run -a -s '-screen 0 1280x1024x24' $build/src/app/pavrel" >&2
    exit 1
  fi
  exec "$build/src/app/pavrel"
fi
exec "$build/tools/pavrel-track" "$build/tools/demo-frames"
