#!/usr/bin/env bash
# Builds every target and runs every test suite. Installs the Debian packages it needs
# when they are missing (as root). Usage: scripts/test.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${NELKO_JOBS:-$(nproc)}

bash scripts/install-deps.sh core test analysis e2e windows || exit 1

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
  local status=$?
  # Skipped real-client sessions say why (no root, no mount namespaces, no client).
  sed -n 's/.*\] SKIP: /skipped real-client sessions: /p' "$root/build/linux/Testing/Temporary/LastTest.log" \
    2>/dev/null | sort -u
  return $status
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

stage "Linux build and tests (with real-client sessions)" linux_suite
stage "Sanitizer build and tests" sanitizer_suite
stage "Fuzzing (60 s, all targets at once)" bash scripts/fuzz.sh 60
stage "Static analysis" static_analysis
stage "Windows x86_64 build and tests under Wine" windows_suite x86_64
stage "Windows i686 build and tests under Wine" windows_suite i686

echo
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
