#!/usr/bin/env bash
# Installs the Debian packages a build or test run needs, only when missing.
# Usage: install-deps.sh GROUP...   (groups: core, test, windows, windows32, e2e, analysis, package,
#                                    roots: what makes the other release's root,
#                                    sfreerdp: what builds FreeRDP's sample client for Windows from source)
# core has FreeRDP's headers: the Linux add-in is built against its channel types, and Little
# CMS for the console tool's colour figures; test has colormath, which the tests check them against.
# windows32 is 32-bit Wine: only for machines that can execute 32-bit programs
# (scripts/can-run-32bit.sh); elsewhere it could never start, and Debian's wine wrapper
# would pick it even for 64-bit programs.
# test also makes the German locale that the number-format tests switch to.
set -euo pipefail

# What every release has under the same name.
declare -A GROUP_PACKAGES=(
  [core]="build-essential cmake pkg-config libboost-dev libcli11-dev libedit-dev liblcms2-dev"
  [test]="googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind locales python3-colormath"
  [windows]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64"
  [windows32]="wine32:i386"
  [e2e]="xvfb openssl xrdp tigervnc-standalone-server"
  [analysis]="clang clang-tidy clang-format cppcheck git"
  [package]="dpkg-dev lintian wixl msitools"
  [roots]="debootstrap"
  [sfreerdp]="dpkg-dev ninja-build perl"
)
# What differs by release. Debian 12 builds against FreeRDP 2 and takes FreeRDP 3's client
# from its backports suite (NAME@backports); Debian 13 has FreeRDP 3 alone, whose pkg-config
# files need zlib's and OpenSSL's, which its -dev package does not pull in. Clang's fuzzing
# and sanitizer runtimes follow each release's default clang.
declare -A RELEASE_PACKAGES=(
  [bookworm:core]="freerdp2-dev"
  [bookworm:e2e]="freerdp2-x11 libfreerdp-server2-2 freerdp3-x11@backports"
  [bookworm:analysis]="libclang-rt-14-dev libfuzzer-14-dev"
  [trixie:core]="freerdp3-dev zlib1g-dev libssl-dev"
  [trixie:e2e]="freerdp3-x11 libfreerdp-server3-3"
  [trixie:analysis]="libclang-rt-19-dev libfuzzer-19-dev"
)
for group in "$@"; do
  [[ -n "${GROUP_PACKAGES[$group]+x}" ]] || { echo "install-deps: unknown group '$group'" >&2; exit 2; }
done
# shellcheck disable=SC1091  # the machine's own file
release=$(. /etc/os-release && echo "${ID:-}:${VERSION_CODENAME:-}")
case $release in
  debian:bookworm | debian:trixie) release=${release#debian:} ;;
  *)
    echo "install-deps: this machine is ${release:-an unknown system} (from /etc/os-release), not Debian 12" \
      "(bookworm) or 13 (trixie); nothing was installed. Install by hand what these groups need: $*" >&2
    for group in "$@"; do
      echo "  $group: ${GROUP_PACKAGES[$group]:-} ${RELEASE_PACKAGES[bookworm:$group]:-} (Debian 12) or" \
        "${RELEASE_PACKAGES[trixie:$group]:-} (Debian 13), or your system's equivalents" >&2
    done
    exit 1
    ;;
esac

wanted=()
for group in "$@"; do
  for pkg in ${GROUP_PACKAGES[$group]} ${RELEASE_PACKAGES[$release:$group]:-}; do wanted+=("$pkg"); done
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
  local sources_file=/etc/apt/sources.list.d/nelko-backports.sources entry uri keyring
  BACKPORTS_SUITE=$release-backports
  entry=$(bash "$(dirname "$0")/apt-suites.sh") || return 1
  grep -q "^$BACKPORTS_SUITE " <<<"$entry" && return 0
  read -r _ uri keyring < <(grep "^$release " <<<"$entry") ||
    { echo "install-deps: no active Debian $release entry in /etc/apt to derive $BACKPORTS_SUITE from" >&2; return 1; }
  {
    echo "Types: deb"
    echo "URIs: $uri"
    echo "Suites: $BACKPORTS_SUITE"
    echo "Components: main"
    if [[ $keyring != - ]]; then echo "Signed-By: $keyring"; fi
  } >"$sources_file"
  echo "install-deps: added $BACKPORTS_SUITE (from the $release entry) in $sources_file"
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
