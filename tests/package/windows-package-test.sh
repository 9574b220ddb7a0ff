#!/usr/bin/env bash
# Tests the Windows packages of one bitness as an administrator meets them. Always: the MSI's
# tables (msiinfo), its files (msiextract), and the zip: the same files plus a .reg template.
# Under Wine: a per-user install with msiexec, the registration read back with reg query,
# the installed console tool loading the DLL by that path, an upgrade from an older version,
# the other bitness refused while this one is installed, an uninstall that leaves neither
# files nor key, and the .reg template importing the same registration.
#
# Usage: windows-package-test.sh MSI ZIP [OTHER_BITNESS_MSI]
# Environment: NELKO_MSI_RUN=0 only checks tables and files; NELKO_MSI_LOAD=0 installs but
# does not load the DLL (a bitness whose programs cannot run here); the Wine variables of
# scripts/wine-run.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
wine_run=$root/scripts/wine-run.sh
msi=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
zip=$2
other=${3:+$(cd "$(dirname "$3")" && pwd)/$(basename "$3")}

fail() { echo "windows-package-test: FAIL: $*"; exit 1; }
log() { echo "windows-package-test: $*"; }

[[ $(basename "$msi") =~ ^NelkoClientDriver-([0-9.]+)-(x64|x86)\.msi$ ]] || fail "unexpected file name $msi"
version=${BASH_REMATCH[1]}
arch=${BASH_REMATCH[2]}
key='HKCU\Software\Microsoft\Terminal Server Client\Default\AddIns\NelkoClientDriver'
work=$(mktemp -d "${TMPDIR:-/tmp}/nelko-msi-test.XXXXXX") || exit 2
trap 'rm -rf "$work"' EXIT

table() { msiinfo export "$msi" "$1" | tail -n +4 | tr -d '\r'; }
property() { table Property | awk -F'\t' -v n="$1" '$1 == n { print $2 }'; }

# --- tables ----------------------------------------------------------------------------
[[ $(property ProductVersion) == "$version" ]] || fail "ProductVersion $(property ProductVersion), file name says $version"
upgrade_code=$(property UpgradeCode)
[[ -n $upgrade_code ]] || fail "no UpgradeCode"
# Older versions of the same UpgradeCode are removed (attributes without OnlyDetect), newer refused.
table Upgrade | awk -F'\t' -v c="$upgrade_code" -v v="$version" \
  '$1 == c && $2 == "" && $3 == v && $5 % 4 < 2 { ok = 1 } END { exit !ok }' ||
  fail "no major upgrade of older versions in the Upgrade table"
summary=$(msiinfo suminfo "$msi")
template=$([[ $arch == x64 ]] && echo x64 || echo Intel)
grep -qx "Template: $template;1033" <<<"$summary" || fail "platform is not $template: $(grep Template <<<"$summary")"
# Word count bit 8: no elevation, a per-user package.
word_count=$(sed -n 's/^Source: \([0-9]*\).*/\1/p' <<<"$summary")
((word_count & 8)) || fail "the package asks for elevation (word count $word_count)"
[[ $(table Registry | awk -F'\t' '$2 == 1 && $4 == "Name" { print $3 "|" $5 }') == \
  'Software\Microsoft\Terminal Server Client\Default\AddIns\NelkoClientDriver|[#NelkoClientDriver.dll]' ]] ||
  fail "the registration is not HKCU ...\\AddIns\\NelkoClientDriver Name = the DLL's path"
[[ $(table Directory | awk -F'\t' '$1 == "INSTALLDIR" { print $2 }') == UserProgramsFolder &&
  $(table Directory | awk -F'\t' '$1 == "UserProgramsFolder" { print $2 }') == LocalAppDataFolder ]] ||
  fail "the install folder is not below LocalAppDataFolder"
# Wine removes an emptied folder by itself, Windows only when told.
table RemoveFile | awk -F'\t' '$4 == "INSTALLDIR" && $5 >= 2 { ok = 1 } END { exit !ok }' ||
  fail "the install folder is not removed on uninstall (RemoveFile table)"
# 64-bit components carry msidbComponentAttributes64bit (256), 32-bit ones must not.
attributes=$(table Component | awk -F'\t' '{ print $4 }' | sort -u)
for a in $attributes; do
  if [[ $arch == x64 ]]; then ((a & 256)) || fail "component not marked 64-bit"; else ((a & 256)) && fail "component marked 64-bit"; fi
done
files=$(table File | awk -F'\t' '{ print $3 }' | LC_ALL=C sort | tr '\n' ' ')
[[ $files == "NelkoClientDriver.dll NelkoSimulator.dll copyright.txt nelko-console.exe " ]] || fail "files are: $files"

# The files themselves: of this package's bitness.
msiextract -C "$work/files" "$msi" >/dev/null || fail "msiextract failed"
machine=$([[ $arch == x64 ]] && echo 8664 || echo 014c)
for f in NelkoClientDriver.dll NelkoSimulator.dll nelko-console.exe; do
  path=$(find "$work/files" -name "$f" -type f | head -n 1)
  [[ -n $path ]] || fail "$f is not in the cabinet"
  offset=$(od -An -tu4 -j60 -N4 "$path" | tr -d ' ')
  [[ $(od -An -tx2 -j$((offset + 4)) -N2 "$path" | tr -d ' ') == "$machine" ]] || fail "$f is not a $arch file"
done
# The zip: the same files and the .reg template, which names the MSI's install folder.
[[ $(unzip -Z1 "$zip" | LC_ALL=C sort | tr '\n' ' ') == "NelkoClientDriver.dll NelkoClientDriver.reg NelkoSimulator.dll copyright.txt nelko-console.exe " ]] ||
  fail "the zip holds: $(unzip -Z1 "$zip" | tr '\n' ' ')"
unzip -q -d "$work/zip" "$zip" || fail "cannot unpack $zip"
for f in NelkoClientDriver.dll NelkoSimulator.dll nelko-console.exe copyright.txt; do
  cmp -s "$work/zip/$f" "$(find "$work/files" -name "$f" -type f | head -n 1)" || fail "$f in the zip differs from the MSI's"
done
reg_file=$work/zip/NelkoClientDriver.reg
[[ $(head -n 1 "$reg_file") == $'Windows Registry Editor Version 5.00\r' ]] || fail ".reg header or line ends wrong"
reg_path=$(sed -n 's/^"Name"="\(.*\)"\r$/\1/p' "$reg_file" | sed 's/\\\\/\\/g')
[[ $reg_path == 'C:\Users\YOUR-USER-NAME\AppData\Local\Programs\NelkoClientDriver\NelkoClientDriver.dll' ]] ||
  fail ".reg names $reg_path"
# One vendor throughout: the copyright holder is the MSI's manufacturer.
holder=$(sed -n 's/^Copyright (C) [0-9]* \(.*\)\.\r$/\1/p' "$work/zip/copyright.txt")
[[ -n $holder && $(property Manufacturer) == "$holder" ]] ||
  fail "the manufacturer is \"$(property Manufacturer)\", copyright.txt names \"$holder\""
log "tables and files of $(basename "$msi") and $(basename "$zip") OK"
[[ ${NELKO_MSI_RUN:-1} == 1 ]] || exit 0

# --- under Wine ------------------------------------------------------------------------
wine() { "$wine_run" "$@"; }
windows_path() { wine winepath -w "$1" | tr -d '\r'; }
unix_path() { wine winepath -u "$1" | tr -d '\r'; }
# The registered path, empty when there is none. A query that fails for another reason (once,
# right after a refused msiexec, one did not give the value the next query gave) is asked
# again, and then shows its error.
registered() {
  local i output
  for ((i = 0; i < 5; i++)); do
    output=$(wine reg query "$key" /v Name 2>&1 | tr -d '\r')
    if grep -q 'REG_SZ' <<<"$output"; then
      sed -n 's/^ *Name *REG_SZ *//p' <<<"$output"
      return
    fi
    grep -q 'Unable to find the specified registry' <<<"$output" && return
    sleep 1
  done
  echo "(reg query failed: $output)"
}
# msiexec, again while the previous installation still holds Windows Installer's lock:
# exit code 1618, of which Wine passes on the low byte.
msiexec() {
  local i rc
  for ((i = 0; i < 30; i++)); do
    wine msiexec "$@"
    rc=$?
    ((rc == 1618 % 256)) || return "$rc"
    sleep 1
  done
  return "$rc"
}
install() { msiexec /i "$(windows_path "$1")" /qn; }
uninstall() { msiexec /x "$(windows_path "$1")" /qn; }

[[ -z $(registered) ]] || fail "the add-in is already registered before the test: $(registered)"
# Whatever happens, nothing this test installed stays in the prefix.
installed=()
cleanup() {
  local package
  for package in "${installed[@]}"; do uninstall "$package" >/dev/null 2>&1; done
  rm -rf "$work"
}
trap cleanup EXIT

# An older version first, made from the same source and files: the upgrade must replace it.
older=$work/NelkoClientDriver-older-$arch.msi
(cd "$(dirname "$(find "$work/files" -name NelkoClientDriver.dll | head -n 1)")" &&
  wixl --arch "$arch" -D Version=0.9.0 -D Arch="$arch" -D SourceDir=. -D ProgramsFolder=Programs \
    -D InstallFolder=NelkoClientDriver -D Manufacturer="$(property Manufacturer)" -o "$older" "$root/packaging/windows/NelkoClientDriver.wxs") ||
  fail "cannot build the older package"
installed+=("$older" "$msi" ${other:+"$other"})
install "$older" || fail "msiexec /i of the older package failed (exit code $?)"

install "$msi" || fail "msiexec /i $(basename "$msi") failed (exit code $?)"
dll=$(registered)
[[ $dll == *'\AppData\Local\Programs\NelkoClientDriver\NelkoClientDriver.dll' ]] || fail "registered path: '$dll'"
dll_unix=$(unix_path "$dll")
dir_unix=$(dirname "$dll_unix")
for f in NelkoClientDriver.dll NelkoSimulator.dll nelko-console.exe; do
  cmp -s "$dir_unix/$f" "$(find "$work/files" -name "$f" -type f | head -n 1)" || fail "installed $f differs from the package's"
done
log "installed; $key Name = $dll"

if [[ ${NELKO_MSI_LOAD:-1} == 1 ]]; then
  # The DLL loaded by the registered path, as mstsc.exe does, with the simulated
  # instrument from the same folder.
  output=$(cd "$dir_unix" && wine "$dir_unix/nelko-console.exe" --library "$dll" Hello "Init|NelkoSimulator|" "Connect|" 2>&1)
  grep -q '^< OK|true' <<<"$output" || fail "the installed add-in did not run: $output"
  log "the installed console loaded $dll and drove the simulator"
fi

if [[ -n $other ]]; then
  touch "$work/other.log"
  msiexec /i "$(windows_path "$other")" /qn /l "$(windows_path "$work/other.log")" >/dev/null 2>&1
  rc=$?
  ((rc != 0)) || fail "$(basename "$other") installed beside $(basename "$msi")"
  # Refused for that reason, not for any failure (the log is UTF-16 on some versions).
  tr -d '\0' <"$work/other.log" | grep -q 'NELKO_OTHER_BITNESS_INSTALLED = {' ||
    fail "$(basename "$other") failed (exit code $rc), but not for the other bitness: $(tr -d '\0' <"$work/other.log")"
  [[ $(registered) == "$dll" ]] || fail "refusing $(basename "$other") changed the registration: $(registered)"
  log "$(basename "$other") refused while $(basename "$msi") is installed"
fi

uninstall "$msi" || fail "msiexec /x $(basename "$msi") failed (exit code $?)"
# The older version must be gone since the upgrade: were it still installed, it would keep
# the shared component, its files and its key.
wine reg query "$key" >/dev/null 2>&1 && fail "the key is still there after the uninstall"
[[ ! -e $dir_unix ]] || fail "$dir_unix is still there after the uninstall: $(ls -A "$dir_unix")"
installed=()
log "uninstalled: neither files nor key left"

# The .reg template, with this user's profile folder put in, registers the same path.
profile=${dll%%\\AppData\\*}
user=${profile##*\\}
sed "s/YOUR-USER-NAME/$user/" "$reg_file" >"$work/edited.reg"
wine reg import "$(windows_path "$work/edited.reg")" >/dev/null 2>&1 || fail "reg import of the template failed"
imported=$(registered)
wine reg delete "$key" /f >/dev/null 2>&1
# Wine spells the profile folder C:\users, Windows C:\Users: paths compare without case.
[[ ${imported,,} == "${dll,,}" ]] || fail "the .reg template registers '$imported', the MSI '$dll'"
log "the .reg template registers the MSI's path"
