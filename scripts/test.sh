#!/usr/bin/env bash
# Builds every target and runs every test suite. Installs the Debian packages it needs
# when they are missing (as root). Usage: scripts/test.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${NELKO_JOBS:-$(nproc)}

bash scripts/install-deps.sh core test analysis e2e windows package || exit 1

passed=0
failed=0
failures=()
stage() {
  local name=$1
  shift
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

linux_suite() {
  cmake -S "$root" -B "$root/build/linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$root/build/linux" -j"$jobs" &&
    ctest --test-dir "$root/build/linux" -j"$jobs" --output-on-failure --timeout 300
}

# The same suites built by clang with AddressSanitizer (leak checks included) and
# UndefinedBehaviorSanitizer; any report fails the test that caused it. (The real-client
# sessions run only in the plain build: xfreerdp itself is not instrumented.)
sanitizer_suite() {
  CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNELKO_SANITIZE=ON >/dev/null &&
    cmake --build "$root/build/asan" -j"$jobs" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir "$root/build/asan" -j"$jobs" -LE e2e --output-on-failure --timeout 600
}

# clang-tidy over every source the clang build compiles (so not the Windows-only files),
# cppcheck, and the tree's formatting.
static_analysis() {
  (cd "$root" && git ls-files '*.cpp' '*.h' '*.inc' | xargs clang-format --dry-run --Werror) || return 1
  local sources
  sources=$(grep -o '"file": "[^"]*"' "$root/build/asan/compile_commands.json" | cut -d'"' -f4 |
    grep -v -e '/build/' -e '^/usr/' | sort -u)
  (cd "$root" && echo "$sources" | xargs -P"$jobs" -n8 clang-tidy -p build/asan --quiet 2>/dev/null) &&
    (cd "$root" && cppcheck --library=googletest --library=boost --enable=warning,performance,portability \
      --std=c++17 --error-exitcode=1 --inline-suppr --quiet -j"$jobs" --suppress=missingIncludeSystem \
      -I src -I drivers -I tests/support -I tests/addin -I bench src drivers tests tools bench)
}

# Windows DLLs and test programs cross-built with mingw-w64, tests run under Wine.
windows_suite() {
  local arch=$1 dir="$root/build/win-$1"
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null &&
    cmake --build "$dir" -j"$jobs" &&
    ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
}

# The packages a user installs (scripts/package.sh), tested as an administrator meets them.
deb_package() {
  bash "$root/scripts/package.sh" deb >/dev/null &&
    cmake --build "$root/build/linux" -j"$jobs" --target nelko-test-server >/dev/null &&
    bash "$root/tests/package/deb-test.sh" "$root"/build/packages/nelko-client-driver_*_amd64.deb \
      "$root/build/linux/bin/nelko-test-server"
}

# Both MSIs install with the 64-bit msiexec, as on 64-bit Windows; the 32-bit add-in is
# loaded only where 32-bit programs run (the kernel may lack IA-32 emulation).
wine_runs_32bit() {
  "$root/scripts/wine-run.sh" "$root/build/win-i686/bin/nelko-console.exe" --version >/dev/null 2>&1
}
windows_packages() {
  local packages=$root/build/packages x64 x86
  bash "$root/scripts/package.sh" windows >/dev/null || return 1
  x64=$(echo "$packages"/NelkoClientDriver-*-x64.msi)
  x86=$(echo "$packages"/NelkoClientDriver-*-x86.msi)
  bash "$root/tests/package/windows-package-test.sh" "$x64" "${x64%.msi}.zip" "$x86" &&
    NELKO_MSI_LOAD=$(wine_runs_32bit && echo 1 || echo 0) \
      bash "$root/tests/package/windows-package-test.sh" "$x86" "${x86%.msi}.zip" "$x64"
}

stage "Linux build and tests (with real-client sessions)" linux_suite
stage "Sanitizer build and tests" sanitizer_suite
stage "Fuzzing (60 s, all targets at once)" bash scripts/fuzz.sh 60
stage "Static analysis" static_analysis
stage "Windows x86_64 build and tests under Wine" windows_suite x86_64
stage "Windows i686 build and tests under Wine" windows_suite i686
stage "Debian package: contents, lintian, install, session, removal" deb_package
stage "Windows packages: MSI tables, install under Wine, upgrade, removal; zip" windows_packages

echo
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
