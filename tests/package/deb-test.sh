#!/usr/bin/env bash
# Tests the .deb as an administrator meets it: its contents and control fields, lintian, an
# install with dpkg into a scratch root (with a copy of this machine's package database, so
# that its dependencies are checked for real), the installed console tool, real-client
# sessions in xfreerdp and xfreerdp3 whose plug-in is the installed file, and a purge that
# leaves nothing behind.
# Nothing outside the scratch root changes; the session sees the installed add-in folder
# through run-session.sh's private mount namespace.
#
# Usage: deb-test.sh PACKAGE.deb TEST_SERVER
# The install and the session need root; without it only contents and lintian are checked.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
server=$2

fail() { echo "deb-test: FAIL: $*"; exit 1; }
log() { echo "deb-test: $*"; }
# shellcheck source=tests/package/scratch-root.sh
. "$here/scratch-root.sh"

# --- contents and fields -----------------------------------------------------------------
[[ $(basename "$deb") =~ ^nelko-client-driver_([0-9.]+)_amd64\.deb$ ]] || fail "unexpected file name $deb"
version=${BASH_REMATCH[1]}
[[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "Version field $(dpkg-deb -f "$deb" Version)"
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$multiarch
doc=usr/share/doc/nelko-client-driver
# The clients of this release, with their add-in folders: the package built on Debian 12
# serves FreeRDP 2 and 3, the one built on Debian 13 (no FreeRDP 2) FreeRDP 3 alone.
clients=(xfreerdp3:freerdp3)
recommends="freerdp3-x11"
if pkg-config --exists freerdp2; then
  clients=(xfreerdp:freerdp2 xfreerdp3:freerdp3)
  recommends="freerdp2-x11 | freerdp3-x11"
fi
# Every file with its mode: libraries are not executable, the tool is.
expected="$(for client in "${clients[@]}"; do echo "-rw-r--r-- ./$lib/${client#*:}/libNelkoClientDriver-client.so"; done)
-rw-r--r-- ./$lib/nelko/NelkoSimulator.so
-rw-r--r-- ./$doc/README.md
-rw-r--r-- ./$doc/changelog.gz
-rw-r--r-- ./$doc/copyright
-rw-r--r-- ./usr/share/man/man1/nelko-console.1.gz
-rwxr-xr-x ./usr/bin/nelko-console"
actual=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $6 }' | sort -k2)
[[ $actual == "$(sort -k2 <<<"$expected")" ]] || fail "contents differ:
$(diff <(sort -k2 <<<"$expected") <(echo "$actual"))"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libc6* && $depends == *libedit2* ]] || fail "Depends lacks the shared-library dependencies: $depends"
[[ $depends != *freerdp* ]] || fail "FreeRDP must be recommended, not required: $depends"
[[ $(dpkg-deb -f "$deb" Recommends) == "$recommends" ]] || fail "Recommends is not \"$recommends\": $(dpkg-deb -f "$deb" Recommends)"
# The add-in folders are the package's own: on Debian 13 no other package makes FreeRDP 3's.
listing=$(dpkg-deb -c "$deb")
for client in "${clients[@]}"; do
  grep -q " \./$lib/${client#*:}/\$" <<<"$listing" || fail "the package does not own $lib/${client#*:}/"
done
log "contents and fields OK"

lintian --fail-on error "$deb" || fail "lintian reported errors"
log "lintian: no errors"

if [[ $(id -u) -ne 0 ]]; then
  log "SKIP: install, session and removal need root"
  exit 0
fi

# --- install into a scratch root -----------------------------------------------------------
make_scratch_root nelko-deb-root
quiet_dpkg -i "$deb"
[[ $(dpkg-query --admindir="$admin" -W -f='${Status}' nelko-client-driver 2>/dev/null) == "install ok installed" ]] ||
  fail "dpkg -i did not install the package"
installed_files=$(cd "$scratch" && find usr -type f | sort)
[[ $installed_files == "$(awk '{ print substr($2, 3) }' <<<"$expected" | sort)" ]] ||
  fail "installed files differ from the package's: $installed_files"
log "installed into $scratch"

# The console tool finds the installed add-in and drivers by itself.
output=$("$scratch/usr/bin/nelko-console" Hello "Init|NelkoSimulator|" "Connect|" 2>&1) ||
  fail "the installed nelko-console failed: $output"
log "the installed nelko-console drove the installed simulator"

# Each client loading the installed plug-in file from its own add-in folder, working in the
# installed drivers' folder.
for client in "${clients[@]}"; do
  folder=$scratch/$lib/${client#*:}
  client=${client%:*}
  session=$(E2E_CLIENT=$client E2E_SERVER=$server E2E_CLIENT_CWD=$scratch/$lib/nelko E2E_LOG_DIR=$scratch/e2e-logs \
    bash "$here/../e2e/run-session.sh" NelkoClientDriver "$folder" "$here/installed.session" 2>&1)
  status=$?
  case $status in
    0) log "$client session with the installed plug-in: $(grep '^session:' <<<"$session")" ;;
    77) log "SKIP: no $client session possible here: $(grep SKIP <<<"$session")" ;;
    *) echo "$session"; fail "the $client session with the installed plug-in failed ($status)" ;;
  esac
  rm -rf "$scratch/e2e-logs"
done

# --- removal ---------------------------------------------------------------------------------
quiet_dpkg -P nelko-client-driver
left=$(cd "$scratch" && find . -mindepth 1 -not -path './var' -not -path './var/*')
[[ -z $left ]] || fail "left after the purge: $left"
[[ -z $(find "$admin/info" -name 'nelko-client-driver.*') ]] || fail "dpkg still keeps: $(ls "$admin/info")"
dpkg-query --admindir="$admin" -W nelko-client-driver >/dev/null 2>&1 && fail "still known to dpkg after the purge"
log "purged: nothing left"
