#!/usr/bin/env bash
# Builds every target and runs every test suite. Installs the Debian packages it needs
# when they are missing (as root). Usage: scripts/test.sh
source "$(dirname "$0")/preamble.sh"

# The stages to run (NELKO_STAGES, names as in the table at the end; default all) and the
# package groups they need.
all_stages="linux sanitizers fuzz static win64 win32 winclient deb winpkg release"
read -r -a stages <<<"${NELKO_STAGES:-$all_stages}"
declare -A STAGE_GROUPS=([linux]="core test e2e" [sanitizers]="core test analysis" [fuzz]="core analysis"
  [static]="core test analysis" [win64]="core test windows" [win32]="core test windows"
  [winclient]="core e2e windows sfreerdp" [deb]="core e2e package"
  [winpkg]="core windows package" [release]="roots")
groups=()
for name in "${stages[@]}"; do
  [[ -n ${STAGE_GROUPS[$name]+x} ]] || { echo "test: unknown stage '$name' (stages: $all_stages)" >&2; exit 2; }
  read -r -a stage_groups <<<"${STAGE_GROUPS[$name]}"
  groups+=("${stage_groups[@]}")
done
wants() { [[ " ${stages[*]} " == *" $1 "* ]]; }

not_run=()
note_not_run() {
  not_run+=("$1")
  echo "not run: $1"
}

# Whether this machine executes 32-bit programs, found once for the whole run (NELKO_32BIT=
# yes or no decides instead). Where it cannot, 32-bit Wine is neither installed nor used.
if [[ -z "${NELKO_32BIT:-}" ]]; then
  if no_32bit_reason=$(bash scripts/can-run-32bit.sh); then NELKO_32BIT=yes; else NELKO_32BIT=no; fi
fi
no_32bit_reason=${no_32bit_reason:-NELKO_32BIT=$NELKO_32BIT}
bash scripts/install-deps.sh "${groups[@]}" || exit 1
# 32-bit Wine comes from the i386 architecture, whose package lists can lag behind amd64's
# on a mirror: where it cannot be installed, the 32-bit programs are built but not run.
if [[ $NELKO_32BIT == yes ]] && { wants win32 || wants winclient || wants winpkg; } &&
  ! bash scripts/install-deps.sh windows32; then
  NELKO_32BIT=no
  no_32bit_reason="32-bit Wine (wine32:i386) could not be installed (apt's messages above)"
fi
export NELKO_32BIT

# Every wineserver this run starts is stopped at its end, whatever failed.
trap 'bash "$root/scripts/wine-stop.sh" >/dev/null 2>&1' EXIT

passed=0
failed=0
failures=()
stage() {
  local key=$1 name=$2
  shift 2
  wants "$key" || return 0
  echo "=== $name"
  local start=$SECONDS
  if "$@"; then
    passed=$((passed + 1))
    echo "=== $name: passed ($((SECONDS - start)) s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "=== $name: FAILED ($((SECONDS - start)) s)"
  fi
}

# The plain and the sanitizer build trees; other stages use them too (the package test's
# test server, clang-tidy's compile commands), so a stage picked alone configures them.
configure_linux() {
  cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
}
configure_asan() {
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELKO_SANITIZE=ON >/dev/null
}

linux_suite() {
  configure_linux && cmake --build "$root/build/linux" -j"$jobs" &&
    ctest --test-dir "$root/build/linux" -j"$jobs" --output-on-failure --timeout 300
  local status=$?
  # Skipped real-client sessions say why (no root, no mount namespaces, no client).
  local reason
  while IFS= read -r reason; do
    note_not_run "Linux: real-client sessions skipped: $reason"
  done < <(sed -n 's/.*\] SKIP: //p' "$root/build/linux/Testing/Temporary/LastTest.log" 2>/dev/null | sort -u)
  return $status
}

# The same suites built by clang with AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer; any report fails the test that caused it. (The real-client
# sessions run only in the plain build: xfreerdp itself is not instrumented.)
sanitizer_suite() {
  configure_asan && cmake --build "$root/build/asan" -j"$jobs" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build/asan" -j"$jobs" -LE e2e --output-on-failure --timeout 600
}

# clang-tidy over every source the clang build compiles (so not the Windows-only files),
# cppcheck, and the tree's formatting. The rules are the same on Debian 12 and 13: checks
# that newer clang-tidy versions added are off in .clang-tidy, and cppcheck 2.17 is told
# that the add-in's file name is a macro of the build and not to report its branch limit.
static_analysis() {
  (cd "$root" && git ls-files '*.cpp' '*.h' '*.inc' | xargs clang-format --dry-run --Werror) || return 1
  local sources
  # The compile commands are written when the tree is configured; nothing is built for them.
  configure_asan || return 1
  sources=$(grep -o '"file": "[^"]*"' "$root/build/asan/compile_commands.json" | cut -d'"' -f4 |
    grep -v -e '/build/' -e '^/usr/' | sort -u)
  (cd "$root" && echo "$sources" | xargs -P"$jobs" -n8 clang-tidy -p build/asan --quiet 2>/dev/null) &&
    (cd "$root" && cppcheck --library=googletest --library=boost --enable=warning,performance,portability \
      --std=c++17 --error-exitcode=1 --inline-suppr --quiet -j"$jobs" --suppress=missingIncludeSystem \
      --suppress=normalCheckLevelMaxBranches --suppress=unknownMacro:tools/console/main.cpp \
      -I src -I drivers -I support -I tests/support -I tests/addin -I bench -I remote/include src drivers support tests tools bench remote)
}

# Whether this machine runs Windows programs of the bitness ARCH.
runs_programs_of() { [[ $1 != i686 || $NELKO_32BIT == yes ]]; }

# The Windows build tree of a bitness; its test programs are run only where this machine
# runs programs of that bitness.
configure_windows() {
  local arch=$1 run_programs=OFF
  runs_programs_of "$arch" && run_programs=ON
  cmake -S "$root" -B "$root/build/win-$arch" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELKO_WINE_TESTS=$run_programs >/dev/null
}

# Windows DLLs and test programs cross-built with mingw-w64, tests run under Wine. Where
# this machine cannot run the programs of a bitness, everything is still built and the
# checks that only read the built files run.
windows_suite() {
  local arch=$1 dir="$root/build/win-$1"
  configure_windows "$arch" && cmake --build "$dir" -j"$jobs" &&
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300 || return 1
  if ! runs_programs_of "$arch"; then
    note_not_run "Windows $arch: the test programs were built but not run: $no_32bit_reason"
  fi
}

# The Windows DLL of each bitness in a real Windows client: FreeRDP's sample client, built
# once per machine from Debian's sources (scripts/build-sfreerdp.sh), under Wine, against
# the test server on loopback, with the sessions of the Linux real-client tests.
windows_client() {
  local arch session status server="$root/build/linux/bin/nelko-test-server" client
  configure_linux && cmake --build "$root/build/linux" -j"$jobs" --target nelko-test-server >/dev/null || return 1
  for arch in x86_64 i686; do
    if ! runs_programs_of "$arch"; then
      note_not_run "Windows client i686: not built or run: $no_32bit_reason"
      continue
    fi
    client=$(bash "$root/scripts/build-sfreerdp.sh" "$arch" | tail -n 1) || return 1
    configure_windows "$arch" &&
      cmake --build "$root/build/win-$arch" -j"$jobs" --target NelkoClientDriver NelkoSimulator >/dev/null || return 1
    for session in addin addin-reconnect; do
      E2E_CLIENT=sfreerdp E2E_SFREERDP=$client E2E_SERVER=$server E2E_LOG_DIR="$root/build/win-$arch/e2e-logs" \
        E2E_WINEPREFIX="$root/build/win-$arch/wine-sfreerdp" \
        bash "$root/tests/e2e/addin-session.sh" "$root/build/win-$arch/bin" "$root/tests/e2e/sessions/$session.session"
      status=$?
      if ((status == 77)); then
        note_not_run "Windows client $arch: $session.session skipped (the reason above)"
      elif ((status != 0)); then
        echo "windows client: $arch: $session.session failed (exit $status)"
        return 1
      fi
    done
  done
}

# The packages a user installs (scripts/package.sh), tested as an administrator meets them.
deb_package() {
  bash "$root/scripts/package.sh" deb >/dev/null &&
    configure_linux && cmake --build "$root/build/linux" -j"$jobs" --target nelko-test-server >/dev/null &&
    bash "$root/tests/package/deb-test.sh" "$root"/build/packages/nelko-client-driver_*_amd64.deb \
      "$root/build/linux/bin/nelko-test-server" &&
    bash "$root/tests/package/remote-deb-test.sh" "$root"/build/packages/nelko-remote_*_amd64.deb
}

# Both MSIs install with the 64-bit msiexec, as on 64-bit Windows; the 32-bit add-in is
# loaded only where 32-bit programs run.
windows_packages() {
  local packages=$root/build/packages x64 x86 load32=1
  bash "$root/scripts/package.sh" windows >/dev/null || return 1
  x64=$(echo "$packages"/NelkoClientDriver-*-x64.msi)
  x86=$(echo "$packages"/NelkoClientDriver-*-x86.msi)
  [[ $NELKO_32BIT == no ]] && load32=0
  bash "$root/tests/package/windows-package-test.sh" "$x64" "${x64%.msi}.zip" "$x86" &&
    NELKO_MSI_LOAD=$load32 bash "$root/tests/package/windows-package-test.sh" "$x86" "${x86%.msi}.zip" "$x64" ||
    return 1
  local zip expected="copyright.txt include/nelko/RemoteConnection.h include/nelko/RemoteInstrument.h"
  expected+=" include/nelko/nelko_remote.h libnelkoremote.dll.a nelko-remote.exe nelkoremote.dll"
  for zip in "$packages"/nelko-remote-*-x64.zip "$packages"/nelko-remote-*-x86.zip; do
    [[ $(unzip -Z1 "$zip" | grep -v '/$' | LC_ALL=C sort | tr '\n' ' ') == "$expected " ]] ||
      { echo "windows packages: $zip holds $(unzip -Z1 "$zip" | tr '\n' ' ')"; return 1; }
  done
  if ((!load32)); then
    note_not_run "Windows packages: the installed 32-bit add-in was not loaded: $no_32bit_reason"
  fi
}

# The Linux suites with the real-client sessions, the .deb and the static analysis (whose
# tools differ most between the releases), in a root of the other Debian release
# (scripts/release-root.sh); what that run could not do is listed here as well.
other_release() {
  local output status line
  output=$(mktemp)
  bash "$root/scripts/release-root.sh" linux deb static 2>&1 | tee "$output"
  status=${PIPESTATUS[0]}
  while IFS= read -r line; do
    note_not_run "$line"
  done < <(sed -n 's/^release-root: SKIP: /other Debian release: /p; s/^not run: /other Debian release: /p' "$output" | sort -u)
  rm -f "$output"
  [[ $status -eq 0 || $status -eq 77 ]]
}

stage linux "Linux build and tests (with real-client sessions)" linux_suite
stage sanitizers "Sanitizer build and tests" sanitizer_suite
stage fuzz "Fuzzing (60 s, all targets at once)" bash scripts/fuzz.sh 60
stage static "Static analysis" static_analysis
stage win64 "Windows x86_64 build and tests under Wine" windows_suite x86_64
stage win32 "Windows i686 build and tests under Wine" windows_suite i686
stage winclient "Windows DLL in a real Windows client (FreeRDP's sample client under Wine)" windows_client
stage deb "Debian package: contents, lintian, install, session, removal" deb_package
stage winpkg "Windows packages: MSI tables, install under Wine, upgrade, removal; zip" windows_packages
stage release "The other Debian release, in a root of its own: Linux suites with real-client sessions, .deb, static analysis" other_release

echo
for line in "${not_run[@]}"; do echo "not run: $line"; done
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
