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
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
seconds=${1:-14400}
runs=${NELKO_FUZZ_RUNS:-10000000}
shift || true
targets=("$@")
[[ ${#targets[@]} -gt 0 ]] || targets=(fuzz_request fuzz_channel_events fuzz_init_names)
jobs=${NELKO_JOBS:-$(nproc)}
build=$root/build/fuzz
corpora=${NELKO_FUZZ_CORPUS:-$root/tests/fuzz/corpus}

bash scripts/install-deps.sh core test analysis e2e || exit 1
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNELKO_SANITIZE=ON -DNELKO_FUZZ=ON >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target "${targets[@]}" >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log"; exit 1; }

declare -A dictionaries=([fuzz_request]=requests.dict [fuzz_channel_events]=requests.dict [fuzz_init_names]=names.dict)
status=0
for target in "${targets[@]}"; do
  work=$build/long/$target
  corpus=$corpora/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts" "$work/tmp" "$corpus"
  cp "$corpus/"* "$work/corpus/" 2>/dev/null
  dictionary=()
  [[ -n "${dictionaries[$target]:-}" ]] && dictionary=(-dict="$root/tests/fuzz/${dictionaries[$target]}")
  echo "=== $target: $runs executions or $seconds s with $jobs workers"
  # Leaks are looked for when each worker exits rather than after every input, which would
  # cost a third of the time: the harnesses keep state from one input to the next.
  export TMPDIR="$work/tmp" ASAN_OPTIONS=detect_leaks=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  "$build/bin/$target" -fork="$jobs" -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 -detect_leaks=0 \
    -runs="$runs" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 "${dictionary[@]}" \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/output.log" 2>&1
  grep -E '^#[0-9]+: cov:' "$work/output.log" | tail -1
  before=$(ls "$corpus" | wc -l)
  "$build/bin/$target" -merge=1 "$corpus" "$work/corpus" >"$work/merge.log" 2>&1 ||
    { echo "merge failed:"; tail -20 "$work/merge.log"; status=1; }
  echo "corpus $corpus: $before -> $(ls "$corpus" | wc -l) inputs"
  if compgen -G "$work/artifacts/*" >/dev/null; then
    mkdir -p "$build/findings/$target"
    cp "$work/artifacts/"* "$build/findings/$target/"
    echo "findings in build/fuzz/findings/$target/ (replay: build/fuzz/bin/$target FILE):"
    ls "$work/artifacts"
    status=1
  fi
  unset TMPDIR
done
exit $status
