#!/usr/bin/env bash
# check-lintian.sh OUT-DIR: lintian reports no error on the package build-package.sh made.
set -euo pipefail
deb=$(cat "$1/deb")
report=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v 'running with root privileges' || true)
echo "$report"
if grep -q '^E:' <<<"$report"; then
  echo "lintian reports errors on $(basename "$deb")" >&2
  exit 1
fi
echo "lintian: no errors on $(basename "$deb")"
