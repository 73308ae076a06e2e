#!/usr/bin/env bash
# check-manpage.sh PAGE.1 PROGRAM: the options PROGRAM --help lists and those the manual
# page's OPTIONS section describes are the same, and the page formats without warnings.
set -euo pipefail
page=$1
program=$2

# First column of --help: "-h, --help", "-h,--help", "--set NAME=VALUE", "--user-settings Excludes: ...".
help_options() {
  "$program" --help | sed -n 's/^[[:space:]]\{1,\}\(-.*\)/\1/p' | while read -r line; do
    for word in $(tr ',' ' ' <<<"$line"); do
      [[ $word == -* ]] || break
      echo "$word"
    done
  done | sed 's/=.*//' | sort -u
}

# The line after each .TP in the OPTIONS section names the options, e.g. ".BR \-h \", \" \-\-help".
page_options() {
  sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$page" | sed -n '/^\.TP/{n;p}' | sed 's/\\-/-/g' |
    grep -o -- '\(^\|[[:space:]"]\)--\?[a-z][a-z-]*' | tr -d ' "' | sort -u
}

from_help=$(help_options)
from_page=$(page_options)
[ -n "$from_help" ] || { echo "$program --help lists no options" >&2; exit 1; }
if [ "$from_help" != "$from_page" ]; then
  echo "options of $program --help and of $(basename "$page") differ (< help, > page):" >&2
  diff <(echo "$from_help") <(echo "$from_page") >&2 || true
  exit 1
fi
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
if [ -n "$warnings" ]; then
  echo "$(basename "$page") formats with warnings:" >&2
  echo "$warnings" >&2
  exit 1
fi
echo "$(basename "$page"): $(wc -w <<<"$from_help") options, in step with --help"
