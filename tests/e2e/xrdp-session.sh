#!/usr/bin/env bash
# The whole chain with no code of ours on the wire: a real xrdp server (its own
# configuration, on a loopback port, an Xvnc session for a throw-away user), a real FreeRDP
# client loading the add-in from the build, and inside the session nelko-remote running a
# script through xrdp's channel library. Its output must equal what nelko-console gives for
# the same script on this machine. Half-way the client disconnects and a new client
# connects to the same session; the same nelko-remote process carries on.
#
# Usage: xrdp-session.sh BIN_DIR CLIENT     (CLIENT: xfreerdp or xfreerdp3)
#        xrdp-session.sh BIN_DIR CLIENT --bench OUT COUNT WARMUP SETUP_FILE REQUEST...
#   the second form runs nelko_remote_bench in the session instead (scripts/bench-e2e.sh)
#   and writes its JSON lines to OUT
# Exit: 0 passed; 1 failed; 2 usage; 77 not run here (the reason is printed).
set -uo pipefail
[[ $# -eq 2 || ($# -ge 7 && $3 == --bench) ]] || { sed -n '2,14p' "$0" >&2; exit 2; }
BIN=$(cd "$1" 2>/dev/null && pwd) || { echo "xrdp-session: no such folder: $1" >&2; exit 2; }
CLIENT=$2
BENCH=()
[[ $# -gt 2 ]] && BENCH=("${@:4}")
log() { printf '[xrdp-session %s] %s\n' "$(date +%H:%M:%S)" "$*"; }
skip() { log "SKIP: $*"; exit 77; }
case $CLIENT in
  xfreerdp) ADDIN_FOLDER=freerdp2 ;;
  xfreerdp3) ADDIN_FOLDER=freerdp3 ;;
  *) echo "xrdp-session: CLIENT must be xfreerdp or xfreerdp3" >&2; exit 2 ;;
esac
[[ $(id -u) -eq 0 ]] || skip "needs root (a throw-away user, xrdp's session manager)"
for tool in xrdp xrdp-sesman Xvnc Xvfb "$CLIENT" unshare useradd userdel chpasswd; do
  command -v "$tool" >/dev/null 2>&1 && continue
  [[ $tool == xfreerdp ]] && skip "xfreerdp not installed (FreeRDP 2's client: Debian 13 has none)"
  skip "$tool not installed"
done
for file in nelko-remote nelko-console libNelkoClientDriver-client.so NelkoSimulator.so demo-session.txt; do
  [[ -e $BIN/$file ]] || { echo "xrdp-session: $BIN/$file missing" >&2; exit 2; }
done
unshare_error=$(unshare -m true 2>&1) || skip "mount namespaces refused here (unshare -m: ${unshare_error:-failed})"
# xrdp finds its session manager on the port that /etc/xrdp/sesman.ini names.
sesman_port=$(sed -n 's/^ListenPort=//p' /etc/xrdp/sesman.ini | head -1)
sesman_port=${sesman_port:-3350}
if (exec 3<>"/dev/tcp/127.0.0.1/$sesman_port") 2>/dev/null; then
  skip "a session manager already listens on port $sesman_port"
fi

RUN=$(mktemp -d /tmp/nelko-xrdp.XXXXXX) || exit 2
chmod 755 "$RUN"
USER_NAME=nlk$((RANDOM % 90000 + 10000))
PASSWORD=p$RANDOM$RANDOM
PIDS=()
user_made=0
# shellcheck disable=SC2317  # run by the EXIT trap
cleanup() {
  trap - EXIT INT TERM
  local pid
  for pid in "${PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  sleep 0.5
  for pid in "${PIDS[@]}"; do kill -KILL "$pid" 2>/dev/null; done
  if [[ $user_made -eq 1 ]]; then
    pkill -KILL -u "$USER_NAME" 2>/dev/null
    sleep 0.2
    userdel "$USER_NAME" 2>/dev/null
  fi
  [[ ${KEEP_LOGS:-0} -eq 1 ]] || rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

useradd -M -d "$RUN/home" -s /bin/sh "$USER_NAME" || { log "FAIL: useradd"; exit 1; }
user_made=1
mkdir "$RUN/home" "$RUN/out" && chown "$USER_NAME" "$RUN/home" "$RUN/out"
echo "$USER_NAME:$PASSWORD" | chpasswd || { log "FAIL: chpasswd"; exit 1; }

# The session program: nelko-remote reading requests from a FIFO that this script feeds. The
# user may not reach the build folder (under /root in a release root): it runs copies.
mkfifo "$RUN/requests" && chown "$USER_NAME" "$RUN/requests"
mkdir "$RUN/bin" && cp "$BIN/nelko-remote" "$RUN/bin/" || exit 2
[[ ${#BENCH[@]} -eq 0 ]] || cp "$BIN/nelko_remote_bench" "$RUN/bin/" || exit 2
if [[ ${#BENCH[@]} -gt 0 ]]; then
  cp "${BENCH[3]}" "$RUN/setup" && chmod 644 "$RUN/setup"
  printf '#!/bin/sh\n%q %q %q %q' "$RUN/bin/nelko_remote_bench" "${BENCH[1]}" "${BENCH[2]}" "$RUN/setup" >"$RUN/startwm.sh"
  printf ' %q' "${BENCH[@]:4}" >>"$RUN/startwm.sh"
  printf ' >%q 2>%q\necho $? >%q\n' "$RUN/out/remote.out" "$RUN/out/remote.err" "$RUN/out/remote.rc" >>"$RUN/startwm.sh"
else
  cat >"$RUN/startwm.sh" <<EOF
#!/bin/sh
"$RUN/bin/nelko-remote" --keep-going --timeout 4000 --script - <"$RUN/requests" >"$RUN/out/remote.out" 2>"$RUN/out/remote.err"
echo \$? >"$RUN/out/remote.rc"
EOF
fi
chmod 755 "$RUN/startwm.sh"

PORT=$((40000 + RANDOM % 20000))
sed -e "s|^port=3389\$|port=tcp://127.0.0.1:$PORT|" -e 's|^autorun=.*|autorun=Xvnc|' \
  -e "s|^LogFile=.*|LogFile=$RUN/xrdp.log|" -e 's|^EnableSyslog=.*|EnableSyslog=false|' \
  -e 's|^\[Channels\]$|[Channels]\nNlkCmd1=true\nNlkDta1=true|' /etc/xrdp/xrdp.ini >"$RUN/xrdp.ini"
sed -e "s|^DefaultWindowManager=.*|DefaultWindowManager=$RUN/startwm.sh|" \
  -e 's|^EnableUserWindowManager=.*|EnableUserWindowManager=false|' \
  -e "s|^LogFile=.*|LogFile=$RUN/sesman.log|" -e 's|^EnableSyslog=.*|EnableSyslog=false|' \
  /etc/xrdp/sesman.ini >"$RUN/sesman.ini"
mkdir -p /run/xrdp/sockdir && chmod 1777 /run/xrdp/sockdir

xrdp-sesman -n -c "$RUN/sesman.ini" >"$RUN/sesman.out" 2>&1 &
PIDS+=($!)
xrdp -n -c "$RUN/xrdp.ini" >"$RUN/xrdp.out" 2>&1 &
PIDS+=($!)
for ((i = 0; i < 100; i++)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break
  sleep 0.1
done

display=$((200 + RANDOM % 200))
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$RUN/xvfb.log" 2>&1 &
PIDS+=($!)
MULTIARCH=$(gcc -print-multiarch 2>/dev/null || echo "$(uname -m)-linux-gnu")
ADDIN_DIR=/usr/lib/$MULTIARCH/$ADDIN_FOLDER
mkdir -p "$RUN/client-tmp" "$RUN/client-home"
client_pid=""
start_client() {  # the add-in's folder is the build's, in a namespace of the client's own
  env HOME="$RUN/client-home" DISPLAY=":$display" TMPDIR="$RUN/client-tmp" \
    unshare -m sh -c 'mkdir -p "$1" 2>/dev/null; mount --bind "$2" "$1" && cd "$2" && shift 2 && exec "$@"' sh \
    "$ADDIN_DIR" "$BIN" "$CLIENT" "/v:127.0.0.1:$PORT" "/u:$USER_NAME" "/p:$PASSWORD" /cert:ignore \
    -clipboard /vc:NelkoClientDriver /size:800x600 /log-level:WARN >"$RUN/client-$1.log" 2>&1 7>&- &
  client_pid=$!
  PIDS+=("$client_pid")
}
fail() {
  log "FAIL: $*"
  for f in out/remote.err client-1.log client-2.log xrdp.log sesman.log; do
    [[ -s $RUN/$f ]] && { echo "--- $f"; tail -20 "$RUN/$f"; }
  done
  exit 1
}
responses() {
  local n
  n=$(grep -c '^< ' "$RUN/out/remote.out" 2>/dev/null)
  echo "${n:-0}"
}
wait_responses() {  # wait_responses N SECONDS
  for ((i = 0; i < $2 * 10; i++)); do
    [[ $(responses) -ge $1 ]] && return 0
    sleep 0.1
  done
  fail "$(responses) of $1 responses after $2 s"
}

# The script: the demo session, a request over one channel chunk, an error; after the
# reconnect, in the new client's new add-in, the driver loaded again and more of the instrument.
grep -v -e '^#' -e '^[[:space:]]*$' "$BIN/demo-session.txt" >"$RUN/part1"
printf 'GetOption|%s|\nGetSpectralData|0|\n' "$(head -c 2000 /dev/zero | tr '\0' 'L')" >>"$RUN/part1"
printf '%s\n' 'Init|NelkoSimulator|' 'Connect|' 'GetSerialNumber|' 'Measure|' 'GetSampleCount|' 'GetSpectralDataAll|1|' >"$RUN/part2"
count1=$(grep -c -v '^:' "$RUN/part1")
count2=$(wc -l <"$RUN/part2")

# Held open from here on, so that the session program's open of the FIFO does not wait.
exec 7<>"$RUN/requests"
start_client 1
for ((i = 0; i < 300; i++)); do
  [[ -e $RUN/out/remote.out ]] && break
  kill -0 "$client_pid" 2>/dev/null || fail "$CLIENT ended before the session started"
  sleep 0.1
done
[[ -e $RUN/out/remote.out ]] || fail "the session program did not start within 30 s"
if [[ ${#BENCH[@]} -gt 0 ]]; then
  for ((i = 0; i < 6000; i++)); do
    [[ -s $RUN/out/remote.rc ]] && break
    sleep 0.1
  done
  [[ $(cat "$RUN/out/remote.rc" 2>/dev/null) == 0 ]] || fail "nelko_remote_bench did not finish within 600 s, or failed"
  cp "$RUN/out/remote.out" "${BENCH[0]}"
  exit 0
fi
log "session started; $count1 requests"
cat "$RUN/part1" >&7
wait_responses "$count1" 60

log "disconnecting and connecting again"
kill -TERM "$client_pid"
wait "$client_pid" 2>/dev/null
start_client 2
sleep 3
cat "$RUN/part2" >&7
wait_responses $((count1 + count2)) 60
exec 7>&-
for ((i = 0; i < 100; i++)); do
  [[ -s $RUN/out/remote.rc ]] && break
  sleep 0.1
done

(cd "$BIN" && ./nelko-console --keep-going --script - <<<"$(cat "$RUN/part1" "$RUN/part2")") >"$RUN/local.out" 2>"$RUN/local.err"
local_rc=$?
if ! diff -u "$RUN/local.out" "$RUN/out/remote.out" >"$RUN/diff"; then
  head -40 "$RUN/diff"
  fail "nelko-remote's output differs from nelko-console's"
fi
remote_rc=$(cat "$RUN/out/remote.rc" 2>/dev/null)
[[ $remote_rc == "$local_rc" ]] || fail "exit code $remote_rc, nelko-console's $local_rc"
log "passed: $((count1 + count2)) requests through xrdp and $CLIENT, one reconnect, same output and exit code ($local_rc) as nelko-console"
