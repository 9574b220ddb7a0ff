#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs each one for SECONDS, all at once, on a scratch copy of its
# checked-in corpus (tests/fuzz/corpus/<target>), so a run never changes the corpus.
# Exits non-zero when a program reports a crash, a leak, a timeout or a broken invariant;
# the inputs that caused it are kept in build/fuzz/findings/<target>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (default: 60 s, every target)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_request fuzz_channel_events fuzz_init_names)
jobs=${NELKO_JOBS:-$(nproc)}
build=$root/build/fuzz

bash scripts/install-deps.sh core test analysis e2e || exit 1
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNELKO_SANITIZE=ON -DNELKO_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log"; exit 1; }

runs=$build/runs
rm -rf "$runs"
declare -A dictionaries=([fuzz_request]=requests.dict [fuzz_channel_events]=requests.dict [fuzz_init_names]=names.dict)
pids=()
for target in "${targets[@]}"; do
  work=$runs/$target
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  cp "$root/tests/fuzz/corpus/$target/"* "$work/corpus/"
  dictionary=()
  [[ -n "${dictionaries[$target]:-}" ]] && dictionary=(-dict="$root/tests/fuzz/${dictionaries[$target]}")
  # Each harness makes its private tree (drivers) below TMPDIR. Leaks are looked for at
  # exit rather than after every input (a third of the time).
  TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 "$build/bin/$target" -detect_leaks=0 \
    -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 -print_final_stats=1 \
    "${dictionary[@]}" -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/output.log" 2>&1 &
  pids+=($!)
done

status=0
printf '%-22s %12s %9s %10s %9s  %s\n' target executions exec/s "new units" "rss MB" result
for i in "${!targets[@]}"; do
  target=${targets[$i]}
  work=$runs/$target
  wait "${pids[$i]}"
  rc=$?
  figure() { sed -n "s/^stat::$1: *//p" "$work/output.log" | tail -1; }
  result=ok
  if [[ $rc -ne 0 ]] || compgen -G "$work/artifacts/*" >/dev/null; then
    result="FAILED (exit $rc)"
    status=1
  fi
  printf '%-22s %12s %9s %10s %9s  %s\n' "$target" "$(figure number_of_executed_units)" \
    "$(figure average_exec_per_sec)" "$(figure new_units_added)" "$(figure peak_rss_mb)" "$result"
done

for target in "${targets[@]}"; do
  work=$runs/$target
  if compgen -G "$work/artifacts/*" >/dev/null; then
    mkdir -p "$build/findings/$target"
    cp "$work/artifacts/"* "$build/findings/$target/"
    echo
    echo "=== $target: findings in build/fuzz/findings/$target/ (replay: build/fuzz/bin/$target FILE)"
    grep -E 'ERROR:|invariant broken|set-up|SUMMARY|runtime error|deadly signal' "$work/output.log" | head -20
  elif ! grep -q '^stat::number_of_executed_units' "$work/output.log"; then
    echo
    echo "=== $target did not finish normally:"
    tail -30 "$work/output.log"
  fi
done
exit $status
