#!/usr/bin/env bash
# Runs stages of the test command in a root of the other Debian release (Debian 13 on a
# Debian 12 machine, Debian 12 on a Debian 13 one), so that every run proves both.
# The root is made once with debootstrap, from this machine's own apt sources (same URIs and
# keyring, the other release's suites), and kept outside the clone; later runs only refresh
# it. The source tree is copied in afresh each time, builds included. Everything mounted for
# the run lives in a private mount namespace and vanishes with it.
#
# Usage: release-root.sh STAGE...   (stages of scripts/test.sh, e.g. linux deb)
# Environment: NELKO_RELEASE_ROOTS (default /var/cache/nelko/roots), NELKO_JOBS.
# Exit: the inner test command's status; 77 when this machine cannot run it (reason printed).
source "$(dirname "$0")/preamble.sh"
skip() { echo "release-root: SKIP: $*"; exit 77; }

# shellcheck disable=SC1091  # the machine's own file
this=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
case $this in
  bookworm) other=trixie ;;
  trixie) other=bookworm ;;
  *) skip "this machine is neither Debian 12 nor 13 (${this:-no codename}), so there is no other release to run" ;;
esac
[[ $(id -u) -eq 0 ]] || skip "needs root (debootstrap, chroot, mounts)"
unshare_error=$(unshare -m true 2>&1) || skip "mount namespaces refused here (unshare -m: ${unshare_error:-failed})"
bash scripts/install-deps.sh roots || exit 1

dir=${NELKO_RELEASE_ROOTS:-/var/cache/nelko/roots}/$other
mkdir -p "$(dirname "$dir")"
# One run at a time in a root: another test run may be using it (the lock goes with us).
exec 9>"$dir.lock"
flock 9
entries=$(bash scripts/apt-suites.sh) || exit 1
entry() {  # entry SUITE: its URI and keyring from this machine's sources
  grep "^$1 " <<<"$entries" | head -n 1 | cut -d' ' -f2-
}
read -r uri keyring <<<"$(entry "$this")"
read -r security_uri _ <<<"$(entry "$this-security")"
[[ -n $uri ]] || { echo "release-root: no active Debian $this entry in /etc/apt to derive $other's from" >&2; exit 1; }

if [[ ! -x $dir/usr/bin/apt-get ]]; then
  echo "release-root: making a Debian $other root in $dir (from $uri)"
  rm -rf "$dir.new"
  keyring_option=()
  [[ $keyring != - ]] && keyring_option=(--keyring="$keyring")
  debootstrap --variant=minbase "${keyring_option[@]}" "$other" "$dir.new" "$uri" >"$dir.log" 2>&1 ||
    { tail -n 20 "$dir.log"; echo "release-root: debootstrap failed (whole log: $dir.log)" >&2; exit 1; }
  {
    echo "Types: deb"
    echo "URIs: $uri"
    echo "Suites: $other $other-updates"
    echo "Components: main"
    [[ $keyring != - ]] && echo "Signed-By: $keyring"
    if [[ -n $security_uri ]]; then
      echo
      echo "Types: deb"
      echo "URIs: $security_uri"
      echo "Suites: $other-security"
      echo "Components: main"
      [[ $keyring != - ]] && echo "Signed-By: $keyring"
    fi
  } >"$dir.new/etc/apt/sources.list.d/debian.sources"
  rm -f "$dir.new/etc/apt/sources.list"
  mv "$dir.new" "$dir"
fi
cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null
# No daemon a package brings (xrdp's) starts in the root: it would run beside the host's.
printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d" && chmod 755 "$dir/usr/sbin/policy-rc.d"

# The tree as it is here, without its builds.
rm -rf "$dir/root/nelko"
mkdir -p "$dir/root/nelko"
tar -C "$root" --exclude=./build -cf - . | tar -C "$dir/root/nelko" -xf - || exit 1

# The root is bound onto itself, so that the tests' own mount namespaces work inside it.
# shellcheck disable=SC2016  # expanded by the inner shell
exec unshare -m --propagation private bash -c '
  dir=$1; shift
  mount --bind "$dir" "$dir" && mount -t proc proc "$dir/proc" && mount --rbind /sys "$dir/sys" &&
    mount --rbind /dev "$dir/dev" || exit 1
  exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 CI="${CI:-}" NELKO_JOBS="${NELKO_JOBS:-}" NELKO_STAGES="$*" bash -c "
      export DEBIAN_FRONTEND=noninteractive
      apt-get -o DPkg::Lock::Timeout=600 update -qq && apt-get -o DPkg::Lock::Timeout=600 -y -qq upgrade >/dev/null ||
        echo \"release-root: refreshing the root failed; going on with what it has\"
      cd /root/nelko && bash scripts/test.sh"
' release-root "$dir" "$@"
