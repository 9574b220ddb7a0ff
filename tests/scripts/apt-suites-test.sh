#!/usr/bin/env bash
# scripts/apt-suites.sh counts only the entries apt reads: a commented suite, a paragraph
# with "Enabled: no" and a file apt ignores must not pass for the backports suite.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
etc=$(mktemp -d)
trap 'rm -rf "$etc"' EXIT
mkdir "$etc/sources.list.d"
cat >"$etc/sources.list.d/debian.sources" <<'TXT'
Types: deb
URIs: http://mirror.invalid/debian
# Suites: bookworm-backports
Suites: bookworm bookworm-updates
Components: main

Types: deb
URIs: http://mirror.invalid/debian
Suites: bookworm-backports
Enabled: no
TXT
printf 'Types: deb\nURIs: http://mirror.invalid/debian\nSuites: bookworm-backports\n' >"$etc/sources.list.d/b.sources.disabled"
printf '# deb http://mirror.invalid/debian bookworm-backports main\ndeb-src http://mirror.invalid/debian bookworm-backports main\n' >"$etc/sources.list"
suites() { bash "$here/../../scripts/apt-suites.sh" "$etc" | tr '\n' ' '; }
suite_names() { suites | awk '{ for (i = 1; i <= NF; i += 3) printf "%s ", $i }'; }

failed=0
check() {  # check EXPECTED WHAT [LISTER]
  local got
  got=$(${3:-suite_names})
  if [[ $got == "$1" ]]; then echo "ok: $2"; else echo "FAIL: $2: got '$got', expected '$1'"; failed=1; fi
}
check "bookworm bookworm-updates " "inactive backports entries do not count"
printf 'deb [signed-by=/k.gpg] http://mirror.invalid/debian bookworm-backports main\n' >>"$etc/sources.list"
check "bookworm http://mirror.invalid/debian - bookworm-backports http://mirror.invalid/debian /k.gpg \
bookworm-updates http://mirror.invalid/debian - " "an active one-line entry counts, with its URI and keyring" suites
exit $failed
