#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, AddressSanitizer and UndefinedBehaviorSanitizer) in
# build/fuzz and runs each one for SECONDS, all at once, on a scratch copy of its
# checked-in corpus (tests/fuzz/corpus/<target>), so a run never changes the corpus.
# Exits non-zero when a program reports a crash, a leak, a timeout or a broken invariant;
# the inputs that caused it are kept in build/fuzz/findings/<target>/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]   (default: 60 s, every target)
source "$(dirname "$0")/preamble.sh"
source "$root/scripts/fuzz-common.sh"
seconds=${1:-60}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${fuzz_targets[@]}")
build_fuzzers "${targets[@]}"

runs=$build/runs
rm -rf "$runs"
pids=()
for target in "${targets[@]}"; do
  work=$runs/$target
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp"
  cp "$root/tests/fuzz/corpus/$target/"* "$work/corpus/"
  # Each harness makes its private tree (drivers) below TMPDIR.
  # shellcheck disable=SC2046  # one option a line, none with blanks
  TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/$target" $(fuzz_options "$target" "$work/artifacts") -max_total_time="$seconds" \
    -print_final_stats=1 "$work/corpus" >"$work/output.log" 2>&1 &
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
  if keep_findings "$target" "$work/artifacts"; then
    grep -E 'ERROR:|invariant broken|set-up|SUMMARY|runtime error|deadly signal' "$work/output.log" | head -20
  elif ! grep -q '^stat::number_of_executed_units' "$work/output.log"; then
    echo
    echo "=== $target did not finish normally:"
    tail -30 "$work/output.log"
  fi
done
exit $status
