#!/usr/bin/env bash
# Long fuzzing runs: builds the libFuzzer programs as scripts/fuzz.sh does, runs each target
# in turn for NELKO_FUZZ_RUNS executions (default 10 million) or SECONDS, whichever ends
# first, with NELKO_JOBS worker processes (libFuzzer's fork mode, which carries on after a
# finding), then merges the inputs that reach new code back into the checked-in corpus
# (tests/fuzz/corpus/<target>; NELKO_FUZZ_CORPUS=DIR uses DIR/<target> instead).
# Findings are kept in build/fuzz/findings/<target>/; each one belongs in
# tests/fuzz/regressions/<target>/ once understood. Exits non-zero when there are findings.
# On a shared machine run it as `nice -n 19 scripts/fuzz-long.sh ...`.
# Usage: scripts/fuzz-long.sh [SECONDS] [TARGET...]   (default: 14400 s, every target)
source "$(dirname "$0")/preamble.sh"
source "$root/scripts/fuzz-common.sh"
seconds=${1:-14400}
runs=${NELKO_FUZZ_RUNS:-10000000}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=("${fuzz_targets[@]}")
corpora=${NELKO_FUZZ_CORPUS:-$root/tests/fuzz/corpus}
build_fuzzers "${targets[@]}"

status=0
for target in "${targets[@]}"; do
  work=$build/long/$target
  corpus=$corpora/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp" "$corpus"
  cp "$corpus/"* "$work/corpus/" 2>/dev/null
  echo "=== $target: $runs executions or $seconds s with $jobs workers"
  # shellcheck disable=SC2046  # one option a line, none with blanks
  TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/$target" $(fuzz_options "$target" "$work/artifacts") -fork="$jobs" -ignore_crashes=1 \
    -ignore_timeouts=1 -ignore_ooms=1 -runs="$runs" -max_total_time="$seconds" "$work/corpus" \
    >"$work/output.log" 2>&1
  grep -E '^#[0-9]+: cov:' "$work/output.log" | tail -1
  before=$(ls "$corpus" | wc -l)
  TMPDIR="$work/tmp" "$build/bin/$target" -merge=1 "$corpus" "$work/corpus" >"$work/merge.log" 2>&1 ||
    { echo "merge failed:"; tail -20 "$work/merge.log"; status=1; }
  echo "corpus $corpus: $before -> $(ls "$corpus" | wc -l) inputs"
  if keep_findings "$target" "$work/artifacts"; then
    ls "$work/artifacts"
    status=1
  fi
done
exit $status
