#!/usr/bin/env bash
# check-translations.sh LUPDATE INCLUDE-DIR TS-FILE SOURCE...: the translation file is what
# lupdate makes of the sources, and every text in it is translated.
set -euo pipefail
lupdate=$1
include=$2
ts=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$ts" "$work/current.ts"
"$lupdate" -silent -no-obsolete -locations none -I "$include" "$@" -ts "$work/current.ts"
status=0
if ! cmp -s "$ts" "$work/current.ts"; then
  echo "$(basename "$ts") is not up to date with the sources; run" >&2
  echo "  cmake --build build --target update_translations   and translate what is new:" >&2
  diff "$ts" "$work/current.ts" >&2 || true
  status=1
fi
untranslated=$(grep -c 'type="unfinished"' "$work/current.ts" || true)
if [ "$untranslated" -ne 0 ]; then
  echo "$untranslated texts have no translation in $(basename "$ts"):" >&2
  grep -B2 'type="unfinished"' "$work/current.ts" | sed -n 's|.*<source>\(.*\)</source>|  \1|p' >&2
  status=1
fi
[ $status -ne 0 ] || echo "$(basename "$ts"): $(grep -c '<source>' "$ts") texts, all translated"
exit $status
