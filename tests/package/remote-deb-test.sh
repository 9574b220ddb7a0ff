#!/usr/bin/env bash
# Tests the server side's .deb: its contents and fields, lintian, an install with dpkg into a
# scratch root (with a copy of this machine's package database), the installed nelko-remote
# and a C program built against the installed header and library, and a purge that leaves
# nothing behind.
#
# Usage: remote-deb-test.sh nelko-remote_VERSION_amd64.deb
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
fail() { echo "remote-deb-test: FAIL: $*"; exit 1; }
log() { echo "remote-deb-test: $*"; }
# shellcheck source=tests/package/scratch-root.sh
. "$here/scratch-root.sh"

[[ $(basename "$deb") =~ ^nelko-remote_([0-9.]+)_amd64\.deb$ ]] || fail "unexpected file name $deb"
version=${BASH_REMATCH[1]}
lib=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/nelko-remote
doc=usr/share/doc/nelko-remote
expected="-rwxr-xr-x ./usr/bin/nelko-remote
-rw-r--r-- ./usr/include/nelko/RemoteConnection.h
-rw-r--r-- ./usr/include/nelko/RemoteInstrument.h
-rw-r--r-- ./usr/include/nelko/nelko_remote.h
-rw-r--r-- ./$lib/libnelko_remote_client.a
lrwxrwxrwx ./$lib/libnelkoremote.so
lrwxrwxrwx ./$lib/libnelkoremote.so.1
-rw-r--r-- ./$lib/libnelkoremote.so.$version
-rw-r--r-- ./$doc/README.md
-rw-r--r-- ./$doc/changelog.gz
-rw-r--r-- ./$doc/copyright
-rw-r--r-- ./usr/share/man/man1/nelko-remote.1.gz"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort -k2)
[[ $actual == "$(sort -k2 <<<"$expected")" ]] || fail "contents differ:
$(diff <(sort -k2 <<<"$expected") <(echo "$actual"))"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == xrdp,* && $depends == *libc6* ]] || fail "Depends is not xrdp and the shared libraries: $depends"
log "contents and fields OK"
lintian --fail-on error "$deb" || fail "lintian reported errors"
log "lintian: no errors"
if [[ $(id -u) -ne 0 ]]; then
  log "SKIP: install and removal need root"
  exit 0
fi

make_scratch_root nelko-remote-root
quiet_dpkg -i "$deb"
[[ $(dpkg-query --admindir="$admin" -W -f='${Status}' nelko-remote 2>/dev/null) == "install ok installed" ]] ||
  fail "dpkg -i did not install the package (is xrdp installed here?)"
[[ $("$scratch/usr/bin/nelko-remote" --version) == "nelko-remote $version" ]] || fail "the installed nelko-remote"
# Outside a session the installed tool says why there is no answer, and ends with 1.
output=$("$scratch/usr/bin/nelko-remote" --timeout 100 "Hello|" 2>&1)
[[ $? -eq 1 && $output == *"nelko-remote: "* ]] || fail "nelko-remote outside a session: $output"
cat >"$scratch/use.c" <<'C'
#include <stdio.h>
#include "nelko/nelko_remote.h"
int main(void) {
    char response[1601];
    nelko_remote* remote = nelko_remote_open(NULL, NULL, 100);
    int result = nelko_remote_execute(remote, "Hello|", response, sizeof response, NULL);
    printf("%d %s\n", result, nelko_remote_last_error(remote));
    nelko_remote_close(remote);
    return 0;
}
C
gcc -Wall -Werror -I"$scratch/usr/include" "$scratch/use.c" -L"$scratch/$lib" -Wl,-rpath,"$scratch/$lib" \
  -lnelkoremote -o "$scratch/use" || fail "a C program does not build against the installed library"
[[ $("$scratch/use") == [12]\ * ]] || fail "the C program: $("$scratch/use")"
rm -f "$scratch/use" "$scratch/use.c"
log "installed: nelko-remote and a C program against libnelkoremote run"

quiet_dpkg -P nelko-remote
left=$(cd "$scratch" && find . -mindepth 1 -not -path './var' -not -path './var/*')
[[ -z $left ]] || fail "left after the purge: $left"
log "purged: nothing left"
