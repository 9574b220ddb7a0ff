#!/usr/bin/env bash
# Installs the Debian packages a build or test run needs, only when missing.
# Usage: install-deps.sh GROUP...   (groups: core, test, windows, e2e, analysis, package)
# core has FreeRDP's headers: the Linux add-in is built against its channel types.
set -euo pipefail

declare -A GROUP_PACKAGES=(
  [core]="build-essential cmake pkg-config libboost-dev libcli11-dev libedit-dev freerdp2-dev"
  [test]="googletest libgtest-dev libgmock-dev libbenchmark-dev valgrind"
  [windows]="g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 wine wine64 wine32:i386"
  [e2e]="freerdp2-x11 libfreerdp-server2-2 xvfb openssl"
  [analysis]="clang clang-tidy cppcheck libclang-rt-14-dev libfuzzer-14-dev"
  [package]="dpkg-dev lintian wixl msitools"
)

wanted=()
for group in "$@"; do
  [[ -n "${GROUP_PACKAGES[$group]+x}" ]] || { echo "install-deps: unknown group '$group'" >&2; exit 2; }
  for pkg in ${GROUP_PACKAGES[$group]}; do wanted+=("$pkg"); done
done

missing=()
for pkg in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
for pkg in "${missing[@]}"; do
  if [[ "$pkg" == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
done
echo "install-deps: installing ${missing[*]}"
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
