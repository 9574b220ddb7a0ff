#!/usr/bin/env bash
# Installs the Debian packages a build or test run needs, only when missing.
# Usage: install-deps.sh GROUP...   (groups: core, test, windows, windows32, e2e, analysis, package)
# core has FreeRDP's headers: the Linux add-in is built against its channel types, and Little
# CMS for the console tool's colour figures; test has colormath, which the tests check them against.
# windows32 is 32-bit Wine: only for machines that can execute 32-bit programs
# (scripts/can-run-32bit.sh); elsewhere it could never start, and Debian's wine wrapper
# would pick it even for 64-bit programs.
# test also makes the German locale that the number-format tests switch to.
set -euo pipefail

declare -A GROUP_PACKAGES=(
  [core]="build-essential cmake pkg-config libboost-dev libcli11-dev libedit-dev freerdp2-dev liblcms2-dev"
  [test]="googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind locales python3-colormath"
  [windows]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64"
  [windows32]="wine32:i386"
  [e2e]="freerdp2-x11 libfreerdp-server2-2 xvfb openssl freerdp3-x11@backports"
  [analysis]="clang clang-tidy clang-format cppcheck libclang-rt-14-dev libfuzzer-14-dev git"
  [package]="dpkg-dev lintian wixl msitools"
)

wanted=()
for group in "$@"; do
  [[ -n "${GROUP_PACKAGES[$group]+x}" ]] || { echo "install-deps: unknown group '$group'" >&2; exit 2; }
  for pkg in ${GROUP_PACKAGES[$group]}; do wanted+=("$pkg"); done
done

need_root() {
  if [[ $(id -u) -ne 0 ]]; then
    echo "install-deps: $*" >&2
    exit 1
  fi
}

german_locale_missing() {
  [[ " $* " == *" test "* ]] && ! locale -a 2>/dev/null | grep -qix 'de_DE.utf-\{0,1\}8'
}

make_german_locale() {
  german_locale_missing "$@" || return 0
  need_root "the German locale de_DE.UTF-8 is missing; run as root to make it"
  sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
}

# NAME@backports: from Debian's backports suite (FreeRDP 3 is not in bookworm itself).
missing=()
backports=()
for entry in "${wanted[@]}"; do
  pkg=${entry%@backports}
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] && continue
  if [[ $entry == *@backports ]]; then backports+=("$pkg"); else missing+=("$pkg"); fi
done
if [[ ${#missing[@]} -eq 0 && ${#backports[@]} -eq 0 ]]; then
  make_german_locale "$@"
  exit 0
fi
need_root "missing packages (${missing[*]} ${backports[*]}); run as root to install them"

export DEBIAN_FRONTEND=noninteractive
for pkg in "${missing[@]}"; do
  if [[ "$pkg" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
done
# The backports suite beside this machine's own Debian entry (same URIs and keyring).
add_backports_suite() {
  local codename sources_file=/etc/apt/sources.list.d/nelko-backports.sources
  # shellcheck disable=SC1091  # the machine's own file
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [[ -n $codename ]] || { echo "install-deps: no VERSION_CODENAME in /etc/os-release" >&2; return 1; }
  BACKPORTS_SUITE=$codename-backports
  grep -rqsw -- "$BACKPORTS_SUITE" /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local uris="" signed_by=""
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [[ -f $f ]] || continue
    # deb822: the first "deb" paragraph whose Suites include the release itself.
    IFS=$'\t' read -r uris signed_by < <(awk -v suite="$codename" '
      function flush() { if (!done && deb && has && uris != "") { print uris "\t" signed; done = 1 }
                         deb = has = 0; uris = signed = "" }
      /^[[:space:]]*$/ { flush(); next }
      /^Types:/ { deb = ($0 ~ /[[:space:]]deb([[:space:]]|$)/) }
      /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) has = 1 }
      /^Signed-By:/ { signed = $2 }
      END { flush() }' "$f") || true
    [[ -n $uris ]] && break
  done
  if [[ -z $uris ]]; then
    # One-line format: deb [signed-by=KEYRING] URI SUITE COMPONENTS...
    local line
    line=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
      grep -E "^deb[[:space:]].*[[:space:]]${codename}[[:space:]]" | head -n 1) || true
    [[ $line =~ signed-by=([^]\ ]+) ]] && signed_by=${BASH_REMATCH[1]}
    read -r _ uris _ <<<"${line/\[*\]/}"
  fi
  [[ -n $uris ]] || { echo "install-deps: no Debian $codename entry in /etc/apt to derive $BACKPORTS_SUITE from" >&2; return 1; }
  {
    echo "Types: deb"
    echo "URIs: $uris"
    echo "Suites: $BACKPORTS_SUITE"
    echo "Components: main"
    if [[ -n $signed_by ]]; then echo "Signed-By: $signed_by"; fi
  } >"$sources_file"
  echo "install-deps: added $BACKPORTS_SUITE (from the $codename entry) in $sources_file"
}

apt_get() { apt-get -o DPkg::Lock::Timeout=600 "$@"; }
[[ ${#backports[@]} -eq 0 ]] || add_backports_suite
apt_get update -qq || echo "install-deps: apt-get update reported errors (above); going on with the package lists it has" >&2
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "install-deps: installing ${missing[*]}"
  apt_get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [[ ${#backports[@]} -gt 0 ]]; then
  echo "install-deps: installing ${backports[*]} from $BACKPORTS_SUITE"
  # Named as PKG/SUITE and without -t: only these, and dependencies found nowhere else, come
  # from backports (whose default priority keeps it from raising anything else).
  apt_get install -y -qq --no-install-recommends "${backports[@]/%//$BACKPORTS_SUITE}" >/dev/null
fi
make_german_locale "$@"
