# shellcheck shell=bash
# Sourced by the .deb tests: a scratch root for `dpkg --root`, with a copy of this machine's
# package database so that dependencies count as installed. Sets `scratch` and `admin`,
# removes the root on exit, and defines `quiet_dpkg`.
# Usage: make_scratch_root NAME
make_scratch_root() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX") || exit 2
  trap 'rm -rf "$scratch"' EXIT
  admin=$scratch/var/lib/dpkg
  mkdir -p "$admin/info" "$admin/updates"
  cp /var/lib/dpkg/status "$admin/status"
  touch "$admin/available"
}
# The copied database lists packages without their file lists, which dpkg mentions for each.
quiet_dpkg() { dpkg --root="$scratch" "$@" 2>&1 | grep -v 'files list file for package .* missing'; }
