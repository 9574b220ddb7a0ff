#!/usr/bin/env bash
# Installs the Debian packages a build or test run needs, only when missing.
# Usage: install-deps.sh GROUP...   (groups: core, test, windows, windows32, e2e, analysis, package)
# core has FreeRDP's headers: the Linux add-in is built against its channel types.
# windows32 is 32-bit Wine: only for machines that can execute 32-bit programs
# (scripts/can-run-32bit.sh); elsewhere it could never start, and Debian's wine wrapper
# would pick it even for 64-bit programs.
# test also makes the German locale that the number-format tests switch to.
set -euo pipefail

declare -A GROUP_PACKAGES=(
  [core]="build-essential cmake pkg-config libboost-dev libcli11-dev libedit-dev freerdp2-dev"
  [test]="googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind locales"
  [windows]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64"
  [windows32]="wine32:i386"
  [e2e]="freerdp2-x11 libfreerdp-server2-2 xvfb openssl"
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

missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
if [[ ${#missing[@]} -eq 0 ]]; then
  make_german_locale "$@"
  exit 0
fi
need_root "missing packages (${missing[*]}); run as root to install them"

export DEBIAN_FRONTEND=noninteractive
for pkg in "${missing[@]}"; do
  if [[ "$pkg" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
done
echo "install-deps: installing ${missing[*]}"
apt-get -o DPkg::Lock::Timeout=600 update -qq
apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
make_german_locale "$@"
