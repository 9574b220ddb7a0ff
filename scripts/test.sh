#!/usr/bin/env bash
# Builds every target and runs every test suite. Installs the Debian packages it needs
# when they are missing (as root). Usage: scripts/test.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${NELKO_JOBS:-$(nproc)}

bash scripts/install-deps.sh core test || exit 1

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

stage "Linux build and tests" linux_suite

echo
for name in "${failures[@]}"; do echo "failed: $name"; done
echo "suites: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
