#!/usr/bin/env bash
# The manual page cannot fall behind the tool: every option --help lists, and every exit
# status, must be in it.
# Usage: man-page-test.sh NELKO_CONSOLE MANUAL_PAGE
set -uo pipefail
console=$1
page=$2
help=$("$console" --help) || { echo "man-page-test: $console --help failed"; exit 1; }
# groff writes a - as \-.
text=$(sed 's/\\-/-/g' "$page")
missing=()
for option in $(grep -o -- '--[a-z][a-z-]*' <<<"$help" | sort -u); do
  grep -q -- "$option\\b" <<<"$text" || missing+=("$option")
done
for status in 0 1 2; do
  grep -A20 '^\.SH EXIT STATUS' "$page" | grep -q "^\.B $status\$\|^$status " || missing+=("exit status $status")
done
if ((${#missing[@]})); then
  echo "man-page-test: $page lacks: ${missing[*]}"
  exit 1
fi
echo "man-page-test: every option and exit status of --help is in $page"
