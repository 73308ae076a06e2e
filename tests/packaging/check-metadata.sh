#!/usr/bin/env bash
# check-metadata.sh DESKTOP-FILE METAINFO-FILE: the desktop entry and the AppStream metadata
# pass their validators (offline), and the metadata launches that desktop entry.
set -euo pipefail
desktop=$1
metainfo=$2
desktop-file-validate "$desktop"
appstreamcli validate --no-net --explain "$metainfo"
launchable=$(sed -n 's|.*<launchable type="desktop-id">\(.*\)</launchable>.*|\1|p' "$metainfo")
if [ "$launchable" != "$(basename "$desktop")" ]; then
  echo "the metadata launches '$launchable', not $(basename "$desktop")" >&2
  exit 1
fi
echo "desktop entry and AppStream metadata valid"
