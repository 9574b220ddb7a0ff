#!/usr/bin/env bash
# Prints the suites of the active "deb" entries in apt's sources, one per line with the
# entry's URI and keyring ("-" when it names none): what apt really reads, so commented
# lines, "Enabled: no" paragraphs and files apt ignores (such as *.disabled) do not count.
# Usage: apt-suites.sh [APT_ETC_DIR]   (default /etc/apt)
set -uo pipefail
etc=${1:-/etc/apt}
shopt -s nullglob
{
  # One-line format: deb [OPTIONS] URI SUITE [COMPONENT...]
  for f in "$etc/sources.list" "$etc"/sources.list.d/*.list; do
    [[ -f $f ]] || continue
    sed -e 's/#.*//' "$f" | awk '$1 == "deb" {
      keyring = "-"
      if ($2 ~ /^\[/) {
        for (i = 2; i <= NF; i++) { if ($i ~ /^\[?signed-by=/) { keyring = $i; sub(/^\[?signed-by=/, "", keyring); sub(/\]$/, "", keyring) }
                                    if ($i ~ /\]$/) break }
        $0 = substr($0, index($0, "]") + 1); $0 = "deb " $0
      }
      if (NF >= 3) print $3, $2, keyring }'
  done
  # deb822 format, one paragraph an entry.
  for f in "$etc"/sources.list.d/*.sources; do
    awk '
      function flush() { if (deb && enabled) for (i = 1; i <= n; i++) print suites[i], uri, keyring
                         deb = 0; enabled = 1; n = 0; uri = ""; keyring = "-" }
      BEGIN { enabled = 1; keyring = "-" }
      /^#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      tolower($1) == "types:" { for (i = 2; i <= NF; i++) if ($i == "deb") deb = 1 }
      tolower($1) == "enabled:" { enabled = (tolower($2) != "no") }
      tolower($1) == "suites:" { for (i = 2; i <= NF; i++) suites[++n] = $i }
      tolower($1) == "uris:" { uri = $2 }
      tolower($1) == "signed-by:" { keyring = $2 }
      END { flush() }' "$f"
  done
} | sort -u -k1,1
