#!/usr/bin/env bash
# Round trips over a real Remote Desktop client (not part of the test suite): xfreerdp
# (FreeRDP 2) or xfreerdp3 (FreeRDP 3) on loopback against nelko-test-server, once with the echo plug-in (the channel alone) and
# twice with the add-in (test driver; simulated instrument, calibrated), each timing
# "Hello|", "Measure|" and "GetSpectralDataAll|0|" one at a time; then the simulator once more
# from inside an xrdp session through the server-side library. Prints median and p99
# round trip, requests per second, and the add-in's median and rate against the echo's.
#
# Usage (as root, like tests/e2e/run-session.sh): scripts/bench-e2e.sh [COUNT [CLIENT...]]
#   COUNT   timed round trips per request text (default 2000; 200 more go first, untimed)
#   CLIENT  xfreerdp and/or xfreerdp3, one table each (default: xfreerdp)
# Environment: BENCH_BUILD_DIR (default build/bench), NELKO_JOBS.
# Exit: 0 when all sessions ran; 77 when the machine lacks what the rig needs.
source "$(dirname "$0")/preamble.sh"
count=${1:-2000}
shift $(($# > 0 ? 1 : 0))
clients=("${@:-xfreerdp}")
warmup=200
build=${BENCH_BUILD_DIR:-$root/build/bench}
bin=$build/bin

[[ $(id -u) -eq 0 ]] || { echo "bench-e2e: needs root (the rig uses a private mount namespace)"; exit 77; }
bash scripts/install-deps.sh core test e2e || exit 1
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j"$jobs" --target nelko-test-server NelkoEcho NelkoClientDriver TestDriver NelkoSimulator \
  nelko-remote nelko-console nelko_remote_bench >/dev/null || exit 1

work=$(mktemp -d "${TMPDIR:-/tmp}/nelko-bench-e2e.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
requests=('Hello|' 'Measure|' 'GetSpectralDataAll|0|')

# Session scripts run before the timed requests (fields separated by one TAB).
printf 'Init|TestDriver|\tany\n' >"$work/echo.session"
printf 'Init|TestDriver|\tOK\n' >"$work/testdriver.session"
printf '%s\n' $'Init|NelkoSimulator|\tOK' $'Connect|\tOK|true' $'Calibrate|\tOK|true' \
  $'CalibrateStep|Black|\tOK|true' $'CalibrateStep|White|\tOK|true' $'CalibrateStep|Green|\tOK|true' \
  $'Measure|\tOK|true' >"$work/simulator.session"

# run CLIENT NAME PLUGIN SESSION EXPECT...: one client session with the three timed requests.
run() {
  local client=$1 name=$2 plugin=$3 session=$4
  shift 4
  local args=(--bench --bench-count "$count" --bench-warmup "$warmup" --bench-out "$work/$client-$name.jsonl")
  local i
  for i in "${!requests[@]}"; do args+=(--bench-request "${requests[$i]}" --bench-expect "$1"); shift; done
  echo "== $client, $name: ${#requests[@]} x $count round trips"
  E2E_CLIENT=$client E2E_LOG_DIR=$work/logs E2E_TIMEOUT=$((120 + count / 10)) \
    bash "$root/tests/e2e/run-session.sh" "$plugin" "$bin" "$session" -- "${args[@]}" >"$work/$client-$name.log" 2>&1
  local status=$?
  grep '^BENCH' "$work/$client-$name.log"
  if [[ $status -ne 0 ]]; then
    echo "bench-e2e: the $client $name session ended with $status; its output:"
    tail -n 40 "$work/$client-$name.log"
    return $status
  fi
}

# field FILE REQUEST NAME: one number from the JSON line of that request.
field() {
  grep -F "\"request\":\"$2\"" "$1" | tail -n 1 | sed -n "s/.*\"$3\":\([0-9.]*\).*/\1/p"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'; }

# xrdp_run CLIENT: the same requests from inside an xrdp session through the server-side
# library, the simulated instrument set up as in the simulator session.
xrdp_run() {
  cut -f1 "$work/simulator.session" >"$work/setup.txt"
  echo "== $1 through xrdp, add-in, NelkoSimulator: ${#requests[@]} x $count round trips"
  bash "$root/tests/e2e/xrdp-session.sh" "$bin" "$1" --bench "$work/$1-xrdp.jsonl" "$count" "$warmup" \
    "$work/setup.txt" "${requests[@]}" >"$work/$1-xrdp.log" 2>&1
  local status=$?
  [[ $status -eq 0 ]] || { tail -n 20 "$work/$1-xrdp.log"; echo "bench-e2e: the xrdp session ended with $status"; }
  return $status
}

# report CLIENT: the table of one client's three sessions.
report() {
  local request line name median medians
  echo
  echo "== Round trips over $1, $count per request, one in flight (microseconds; rate per second)"
  printf '%-22s | %8s %8s %7s | %-25s | %-25s\n' "" "echo" "" "" "add-in, TestDriver" "add-in, NelkoSimulator"
  printf '%-22s | %8s %8s %7s | %8s %8s %7s | %8s %8s %7s | %s\n' request median p99 rate median p99 rate \
    median p99 rate "median / echo (TestDriver, Simulator)"
  for request in "${requests[@]}"; do
    line=$(printf '%-22s |' "$request")
    medians=()
    for name in echoplugin testdriver simulator; do
      median=$(field "$work/$1-$name.jsonl" "$request" median_us)
      medians+=("$median")
      line+=$(printf ' %8s %8s %7s |' "$median" "$(field "$work/$1-$name.jsonl" "$request" p99_us)" \
        "$(field "$work/$1-$name.jsonl" "$request" rps)")
    done
    echo "$line $(ratio "${medians[1]}" "${medians[0]}"), $(ratio "${medians[2]}" "${medians[0]}")"
  done
  [[ -s $work/$1-xrdp.jsonl ]] || return 0
  echo "== The same from inside an xrdp session through the server-side library (nelko_remote_bench), NelkoSimulator"
  printf '%-22s | %8s %8s %7s | %s\n' request median p99 rate "median / test server's (NelkoSimulator), / echo"
  for request in "${requests[@]}"; do
    median=$(field "$work/$1-xrdp.jsonl" "$request" median_us)
    printf '%-22s | %8s %8s %7s | %s, %s\n' "$request" "$median" "$(field "$work/$1-xrdp.jsonl" "$request" p99_us)" \
      "$(field "$work/$1-xrdp.jsonl" "$request" rps)" \
      "$(ratio "$median" "$(field "$work/$1-simulator.jsonl" "$request" median_us)")" \
      "$(ratio "$median" "$(field "$work/$1-echoplugin.jsonl" "$request" median_us)")"
  done
}

for client in "${clients[@]}"; do
  run "$client" echoplugin NelkoEcho "$work/echo.session" 'Hello|' 'Measure|' 'GetSpectralDataAll|0|'
  status=$?
  [[ $status -eq 77 ]] && exit 77
  [[ $status -eq 0 ]] || exit 1
  # The test driver answers true at once and 0 for every value; the simulator, once its
  # sample store of 100 is full, refuses further measurements (error 12).
  run "$client" testdriver NelkoClientDriver "$work/testdriver.session" 'OK|Hello' 'OK|true' 'prefix:OK|0;0;0' || exit 1
  run "$client" simulator NelkoClientDriver "$work/simulator.session" 'OK|Hello' 'regex:OK\|(true|false)' 'prefix:OK|' ||
    exit 1
  xrdp_run "$client"
  report "$client"
done
