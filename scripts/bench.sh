#!/usr/bin/env bash
# Performance benchmarks of the add-in (not part of the test suite). Builds build/bench
# (RelWithDebInfo) and runs, from its bin folder:
#   nelko_request_bench   CPU time per request through SimulationExecute beside the floor
#                         (the same trace entries as checked open, write, close), ratio and goal
#   nelko_memory_growth   resident set size before and after 1,000,000 requests
# Takes two to three minutes. Full outputs are kept in build/bench/*.log.
#
# Usage: scripts/bench.sh [--quick] [-- EXTRA_GOOGLE_BENCHMARK_FLAGS...]
#   --quick   3 repetitions and 200,000 requests for the memory figure (under a minute)
# Environment: BENCH_BUILD_DIR (default build/bench), NELKO_JOBS.
source "$(dirname "$0")/preamble.sh"
build=${BENCH_BUILD_DIR:-$root/build/bench}
repetitions=5
memory_requests=1000000
extra=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --quick) repetitions=3; memory_requests=200000 ;;
    --) shift; extra=("$@"); break ;;
    *) sed -n '2,13p' "$0" >&2; exit 2 ;;
  esac
  shift
done

bash scripts/install-deps.sh core test e2e || exit 1
mkdir -p "$build" && echo "== building $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log"; exit 1; }
cmake --build "$build" -j"$jobs" --target nelko_request_bench nelko_memory_growth >"$build/build.log" 2>&1 ||
  { tail -n 40 "$build/build.log"; exit 1; }

cd "$build/bin" || exit 1
echo "== nelko_request_bench ($repetitions repetitions; log: $build/request-bench.log)"
./nelko_request_bench "--benchmark_repetitions=$repetitions" "${extra[@]}" >"$build/request-bench.log" 2>&1
request_status=$?
sed -n '/^== Summary/,$p' "$build/request-bench.log"
[[ $request_status -eq 0 ]] || { echo "bench: nelko_request_bench failed:"; tail -n 20 "$build/request-bench.log"; }

echo
echo "== nelko_memory_growth ($memory_requests requests; log: $build/memory-growth.log)"
./nelko_memory_growth "$memory_requests" >"$build/memory-growth.log" 2>&1
memory_status=$?
cat "$build/memory-growth.log"

[[ $request_status -eq 0 && $memory_status -eq 0 ]]
