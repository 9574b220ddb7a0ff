#!/usr/bin/env bash
# Runs one end-to-end session: Xvfb on a private display, nelko-test-server on a free loopback
# port with a fresh certificate, and xfreerdp (FreeRDP 2) or xfreerdp3 (FreeRDP 3) loading the
# given channel plug-in, with the client's add-in folder replaced (in a private mount
# namespace) by the plug-in's build folder. Everything started here is stopped on every path;
# nothing on the system is changed, not even outside the namespace. With E2E_CLIENT=sfreerdp
# the client is FreeRDP's sample client built for Windows, under Wine, which loads the
# plug-in's DLL from its working folder: a folder of the run holding copies of the DLLs of
# PLUGIN_DIR, the plug-in under the name the client looks for (lib<NAME>-client.dll).
#
# Usage: run-session.sh PLUGIN_NAME PLUGIN_DIR SESSION_SCRIPT [-- EXTRA_SERVER_ARGS...]
#   PLUGIN_NAME     e.g. NelkoEcho or NelkoClientDriver (xfreerdp loads libPLUGIN_NAME-client.so)
#   PLUGIN_DIR      folder holding that library (the build's output folder)
#   SESSION_SCRIPT  session script for the server, or "-" for none (e.g. with --bench)
#
# Environment (all optional):
#   E2E_SERVER            nelko-test-server binary (default: PLUGIN_DIR/nelko-test-server)
#   E2E_LOG_DIR           folder for this run's logs (default: a new folder under TMPDIR, kept)
#   E2E_CLIENT_CWD        the client's working directory (default: PLUGIN_DIR); the add-in loads
#                         drivers from there
#   E2E_CLIENT_TMPDIR     TMPDIR for the client, e.g. for the add-in's trace log
#                         (default: LOG_DIR/client-tmp)
#   E2E_CLIENT            the client program: xfreerdp (default), xfreerdp3 or sfreerdp
#   E2E_SFREERDP          sfreerdp.exe (scripts/build-sfreerdp.sh builds it)
#   E2E_WINEPREFIX        the Wine prefix of the Windows client, its own so that its trace
#                         log is this session's (default ~/.cache/nelko-wine-sfreerdp); the
#                         log is copied from its temporary folder into E2E_CLIENT_TMPDIR
#   E2E_CLIENT_ARGS       extra client arguments (word-split)
#   E2E_CLIENTS           how many client processes may be started one after another
#                         (default: 1 + the number of "disconnect" lines in the script)
#   E2E_TIMEOUT           overall limit in seconds (default 150)
#   E2E_EXPECT_SERVER_EXIT  the server exit code that counts as success (default 0; 1 for a
#                         session written to fail)
#   E2E_ADDIN_DIR         the client's add-in folder (default /usr/lib/<multiarch>/freerdp2,
#                         or .../freerdp3 for xfreerdp3)
#
# Exit: 0 success; 1 session failed; 2 usage or missing plug-in/server; 77 environment lacks
# root, mount namespaces, Xvfb, Wine or the client (test skipped, the reason printed); 124 overall
# time limit.
set -uo pipefail

usage() { sed -n '2,36p' "$0" >&2; exit 2; }
[[ $# -ge 3 ]] || usage
PLUGIN_NAME=$1
PLUGIN_DIR=$(cd "$2" 2>/dev/null && pwd) || { echo "run-session: no such folder: $2" >&2; exit 2; }
SCRIPT=$3
shift 3
SERVER_EXTRA=()
if [[ $# -gt 0 ]]; then
  [[ $1 == "--" ]] || usage
  shift
  SERVER_EXTRA=("$@")
fi

log() { printf '[run-session %s] %s\n' "$(date +%H:%M:%S.%3N)" "$*"; }
skip() { log "SKIP: $*"; exit 77; }

CLIENT=${E2E_CLIENT:-xfreerdp}
case $CLIENT in
  xfreerdp) FREERDP_ADDIN_FOLDER=freerdp2 ;;
  xfreerdp3) FREERDP_ADDIN_FOLDER=freerdp3 ;;
  sfreerdp) FREERDP_ADDIN_FOLDER="" ;;
  *) echo "run-session: E2E_CLIENT must be xfreerdp, xfreerdp3 or sfreerdp, not $CLIENT" >&2; exit 2 ;;
esac
WINE_RUN=$(cd "$(dirname "$0")/../.." && pwd)/scripts/wine-run.sh
if [[ $CLIENT == sfreerdp ]]; then
  command -v Xvfb >/dev/null 2>&1 || skip "Xvfb not installed"
  [[ -f ${E2E_SFREERDP:-} ]] || skip "no FreeRDP Windows client (E2E_SFREERDP; scripts/build-sfreerdp.sh builds it)"
  [[ -f $WINE_RUN ]] || skip "no scripts/wine-run.sh beside this script's source tree"
  export NELKO_WINEPREFIX=${E2E_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/nelko-wine-sfreerdp}
  wine_error=$(bash "$WINE_RUN" --init 2>&1) || skip "Wine cannot start here: $wine_error"
  PLUGIN_LIB="$PLUGIN_DIR/$PLUGIN_NAME.dll"
else
  [[ $(id -u) -eq 0 ]] || skip "needs root (for the private mount namespace)"
  for tool in unshare Xvfb "$CLIENT" mount; do
    command -v "$tool" >/dev/null 2>&1 && continue
    [[ $tool == xfreerdp ]] && skip "xfreerdp not installed (FreeRDP 2's client: Debian 13 has none)"
    skip "$tool not installed"
  done
  # In a chroot or a container the kernel may refuse private mount namespaces; then the
  # client's add-in folder cannot be replaced without changing the system.
  unshare_error=$(unshare -m true 2>&1) || skip "mount namespaces refused here (unshare -m: ${unshare_error:-failed})"
  PLUGIN_LIB="$PLUGIN_DIR/lib${PLUGIN_NAME}-client.so"
fi

[[ -f $PLUGIN_LIB ]] || { echo "run-session: plug-in not found: $PLUGIN_LIB" >&2; exit 2; }
SERVER_BIN=${E2E_SERVER:-$PLUGIN_DIR/nelko-test-server}
[[ -x $SERVER_BIN ]] || { echo "run-session: server not found: $SERVER_BIN" >&2; exit 2; }
SERVER_ARGS=()
if [[ $SCRIPT != "-" ]]; then
  [[ -f $SCRIPT ]] || { echo "run-session: no such session script: $SCRIPT" >&2; exit 2; }
  SCRIPT=$(cd "$(dirname "$SCRIPT")" && pwd)/$(basename "$SCRIPT")
  SERVER_ARGS+=(--script "$SCRIPT")
fi

TIMEOUT_S=${E2E_TIMEOUT:-150}
EXPECT_SERVER_EXIT=${E2E_EXPECT_SERVER_EXIT:-0}
MULTIARCH=$(gcc -print-multiarch 2>/dev/null || echo "$(uname -m)-linux-gnu")
ADDIN_DIR=${E2E_ADDIN_DIR:-/usr/lib/$MULTIARCH/$FREERDP_ADDIN_FOLDER}
CLIENT_CWD=${E2E_CLIENT_CWD:-$PLUGIN_DIR}
if [[ -n ${E2E_CLIENTS:-} ]]; then
  MAX_CLIENTS=$E2E_CLIENTS
elif [[ $SCRIPT != "-" ]]; then
  MAX_CLIENTS=$((1 + $(grep -c '^disconnect[[:space:]]*$' "$SCRIPT" || true)))
else
  MAX_CLIENTS=1
fi

RUN_DIR=$(mktemp -d "${TMPDIR:-/tmp}/nelko-e2e.XXXXXX") || exit 2
if [[ -n ${E2E_LOG_DIR:-} ]]; then
  mkdir -p "$E2E_LOG_DIR" || exit 2
  LOG_DIR=$(mktemp -d "$E2E_LOG_DIR/$(basename "${SCRIPT%.session}")-$PLUGIN_NAME.XXXXXX") || exit 2
else
  LOG_DIR=$(mktemp -d "${TMPDIR:-/tmp}/nelko-e2e-logs.XXXXXX") || exit 2
fi
CLIENT_TMPDIR=${E2E_CLIENT_TMPDIR:-$LOG_DIR/client-tmp}
mkdir -p "$RUN_DIR/home" "$RUN_DIR/ns" "$CLIENT_TMPDIR"
if [[ $CLIENT == sfreerdp ]]; then
  # The client's working folder: the drivers, and the plug-in under the client's name for it.
  CLIENT_CWD=${E2E_CLIENT_CWD:-$RUN_DIR/client}
  mkdir -p "$CLIENT_CWD"
  find "$PLUGIN_DIR" -maxdepth 1 -name '*.dll' ! -name "$PLUGIN_NAME.dll" -exec cp {} "$CLIENT_CWD/" \;
  cp "$PLUGIN_LIB" "$CLIENT_CWD/lib$PLUGIN_NAME-client.dll" || exit 2
  # A log left by an earlier run must never pass for this one's.
  WINE_TRACE_LOGS=$NELKO_WINEPREFIX/drive_c/users
  find "$WINE_TRACE_LOGS" -path '*/Temp/NelkoClientDriver.log*' -delete 2>/dev/null
fi

XVFB_PID=""
SERVER_PID=""
CLIENT_PID=""

stop_pid() {  # stop_pid PID NAME: TERM, wait up to 3 s, then KILL
  local pid=$1 name=$2 i
  [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 30; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
    sleep 0.1
  done
  log "$name (pid $pid) ignored TERM; killing"
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# shellcheck disable=SC2317  # invoked by the EXIT trap
cleanup() {
  trap - EXIT INT TERM
  stop_pid "$CLIENT_PID" "$CLIENT"
  stop_pid "$SERVER_PID" nelko-test-server
  stop_pid "$XVFB_PID" Xvfb
  [[ $CLIENT != sfreerdp ]] || bash "$WINE_RUN" --stop
  rm -rf "$RUN_DIR"
}
trap cleanup EXIT
trap 'log "interrupted"; exit 130' INT TERM

START_S=$SECONDS
remaining() { echo $((TIMEOUT_S - (SECONDS - START_S))); }
now_ms() { date +%s%3N; }

# --- Xvfb on a private display ---------------------------------------------------------
DISPLAY_NUM=""
for _ in 1 2 3 4 5 6 7 8; do
  n=$((77 + RANDOM % 400))
  [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$LOG_DIR/xvfb.log" 2>&1 &
  XVFB_PID=$!
  for ((i = 0; i < 100; i++)); do
    [[ -S /tmp/.X11-unix/X$n ]] && break
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -S /tmp/.X11-unix/X$n ]] && kill -0 "$XVFB_PID" 2>/dev/null; then
    DISPLAY_NUM=$n
    break
  fi
  stop_pid "$XVFB_PID" Xvfb
  XVFB_PID=""
done
[[ -n $DISPLAY_NUM ]] || { log "FAIL: Xvfb did not start (see $LOG_DIR/xvfb.log)"; exit 1; }
log "Xvfb on :$DISPLAY_NUM"

# --- server -----------------------------------------------------------------------------
PORT_FILE="$RUN_DIR/port"
"$SERVER_BIN" --bind 127.0.0.1 --port 0 --port-file "$PORT_FILE" \
  --cert "$RUN_DIR/server.crt" --key "$RUN_DIR/server.key" --generate-cert \
  --time-limit-s $((TIMEOUT_S > 20 ? TIMEOUT_S - 10 : TIMEOUT_S)) \
  "${SERVER_ARGS[@]}" "${SERVER_EXTRA[@]}" >"$LOG_DIR/server.log" 2>&1 &
SERVER_PID=$!
for ((i = 0; i < 150; i++)); do
  [[ -s $PORT_FILE ]] && break
  kill -0 "$SERVER_PID" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -s $PORT_FILE ]]; then
  log "FAIL: the server did not start listening"
  cat "$LOG_DIR/server.log"
  exit 1
fi
PORT=$(cat "$PORT_FILE")
log "server listening on 127.0.0.1:$PORT"

# --- the client's add-in folder, replaced in a private mount namespace --------------------
ADDIN_PARENT=$(dirname "$ADDIN_DIR")
NS_MODE=bind
if [[ $CLIENT != sfreerdp && ! -d $ADDIN_DIR ]]; then
  # Missing folder (Debian does not create it): lay an overlay over its parent inside the
  # namespace and create it there. Never on the host.
  # shellcheck disable=SC2016  # expanded by the inner shell
  if unshare -m sh -c 'mount -t tmpfs tmpfs "$1" && mkdir "$1/u" "$1/w" &&
        mount -t overlay overlay -o "lowerdir=$2,upperdir=$1/u,workdir=$1/w" "$2"' \
        sh "$RUN_DIR/ns" "$ADDIN_PARENT" >/dev/null 2>&1; then
    NS_MODE=overlay
  else
    skip "$ADDIN_DIR is missing and no overlay can make it inside the namespace"
  fi
fi

# shellcheck disable=SC2016
NS_SETUP='set -e
if [ "$NS_MODE" = overlay ]; then
  mount -t tmpfs tmpfs "$NS_TMP"
  mkdir "$NS_TMP/u" "$NS_TMP/w"
  mount -t overlay overlay -o "lowerdir=$ADDIN_PARENT,upperdir=$NS_TMP/u,workdir=$NS_TMP/w" "$ADDIN_PARENT"
  mkdir -p "$ADDIN_DIR"
fi
mount --bind "$PLUGIN_DIR" "$ADDIN_DIR"
cd "$CLIENT_CWD"
exec "$@"'

read -r -a EXTRA_CLIENT_ARGS <<<"${E2E_CLIENT_ARGS:-}"
CLIENT_ARGS=("/v:127.0.0.1:$PORT" /u:e2e /p:e2e /cert:ignore /sec:tls "/vc:$PLUGIN_NAME" /size:800x600 -clipboard
  +auto-reconnect /auto-reconnect-max-retries:5 /log-level:WARN "${EXTRA_CLIENT_ARGS[@]}")
if [[ $CLIENT == sfreerdp ]]; then
  CLIENT_CMD=(bash "$WINE_RUN" "$E2E_SFREERDP" "${CLIENT_ARGS[@]}")
else
  CLIENT_CMD=("$CLIENT" -grab-keyboard -grab-mouse "${CLIENT_ARGS[@]}")
fi

start_client() {  # start_client N
  local n=$1
  CLIENT_START_MS=$(now_ms)
  if [[ $CLIENT == sfreerdp ]]; then
    # shellcheck disable=SC2016  # expanded by the inner shell
    env HOME="$RUN_DIR/home" sh -c 'cd "$1" && shift && exec "$@"' sh "$CLIENT_CWD" "${CLIENT_CMD[@]}" \
      >"$LOG_DIR/client-$n.log" 2>&1 &
  else
    env HOME="$RUN_DIR/home" DISPLAY=":$DISPLAY_NUM" TMPDIR="$CLIENT_TMPDIR" \
      NS_MODE="$NS_MODE" NS_TMP="$RUN_DIR/ns" ADDIN_PARENT="$ADDIN_PARENT" ADDIN_DIR="$ADDIN_DIR" \
      PLUGIN_DIR="$PLUGIN_DIR" CLIENT_CWD="$CLIENT_CWD" \
      unshare -m sh -c "$NS_SETUP" sh "${CLIENT_CMD[@]}" >"$LOG_DIR/client-$n.log" 2>&1 &
  fi
  CLIENT_PID=$!
  log "client $n started (pid $CLIENT_PID)"
  echo "$CLIENT_START_MS" >"$LOG_DIR/client-$n.start_ms"
}

log "client: cd $CLIENT_CWD && ${CLIENT_CMD[*]}"
CLIENTS_STARTED=1
start_client 1
FIRST_CLIENT_START_MS=$CLIENT_START_MS
CLIENT_CODES=()
SERVER_CODE=""
TIMED_OUT=0
CLIENTS_DONE_AT=""
CLIENT_GONE_GRACE_S=10

# --- wait: restart the client after a polite disconnect, until the server is done ---------
while :; do
  if ! kill -0 "$SERVER_PID" 2>/dev/null; then
    wait "$SERVER_PID"
    SERVER_CODE=$?
    SERVER_PID=""
    break
  fi
  if [[ -n $CLIENT_PID ]] && ! kill -0 "$CLIENT_PID" 2>/dev/null; then
    wait "$CLIENT_PID"
    code=$?
    CLIENT_CODES+=("$code")
    log "client $CLIENTS_STARTED exited with $code"
    CLIENT_PID=""
    if ((CLIENTS_STARTED < MAX_CLIENTS)); then
      CLIENTS_STARTED=$((CLIENTS_STARTED + 1))
      sleep 0.2
      start_client "$CLIENTS_STARTED"
    else
      CLIENTS_DONE_AT=$SECONDS
    fi
  fi
  # No client left: a server still waiting (e.g. for a client that never connected) is stopped.
  if [[ -n $CLIENTS_DONE_AT ]] && ((SECONDS - CLIENTS_DONE_AT > CLIENT_GONE_GRACE_S)); then
    log "FAIL: no client left for ${CLIENT_GONE_GRACE_S}s and the server is still running; stopping it"
    stop_pid "$SERVER_PID" nelko-test-server
    wait "$SERVER_PID" 2>/dev/null
    SERVER_CODE=stopped
    SERVER_PID=""
    break
  fi
  if (($(remaining) <= 0)); then
    TIMED_OUT=1
    log "FAIL: overall time limit of ${TIMEOUT_S}s reached"
    break
  fi
  sleep 0.05
done

# The server said goodbye: the client should leave by itself.
if [[ -n $CLIENT_PID ]]; then
  for ((i = 0; i < 100; i++)); do
    kill -0 "$CLIENT_PID" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$CLIENT_PID" 2>/dev/null; then
    log "client $CLIENTS_STARTED still running after the server ended; stopping it"
    stop_pid "$CLIENT_PID" "$CLIENT"
    CLIENT_CODES+=("killed")
  else
    wait "$CLIENT_PID"
    code=$?
    CLIENT_CODES+=("$code")
    log "client $CLIENTS_STARTED exited with $code"
  fi
  CLIENT_PID=""
fi

# The Windows client's trace log, from the temporary folder of its Wine prefix.
if [[ $CLIENT == sfreerdp ]]; then
  find "$WINE_TRACE_LOGS" -path '*/Temp/NelkoClientDriver.log' -exec cp {} "$CLIENT_TMPDIR/" \; 2>/dev/null
fi

# --- report ----------------------------------------------------------------------------
echo "----- server log ($LOG_DIR/server.log) -----"
cat "$LOG_DIR/server.log"
echo "--------------------------------------------"
ACTIVATED_MS=$(sed -n 's/^EVENT activated epoch_ms=\([0-9]*\).*/\1/p' "$LOG_DIR/server.log" | head -n 1)
if [[ -n $ACTIVATED_MS ]]; then
  log "connection setup (client start -> server activation): $((ACTIVATED_MS - FIRST_CLIENT_START_MS)) ms"
fi
log "client exit codes: ${CLIENT_CODES[*]:-none} (logs: $LOG_DIR/client-*.log)"

status=0
if ((TIMED_OUT)); then
  status=124
elif [[ $SERVER_CODE != "$EXPECT_SERVER_EXIT" ]]; then
  log "FAIL: server exited with $SERVER_CODE, expected $EXPECT_SERVER_EXIT"
  status=1
  for f in "$LOG_DIR"/client-*.log; do
    [[ -s $f ]] || continue
    echo "----- $f (last 30 lines) -----"
    tail -n 30 "$f"
  done
else
  log "OK: server exited with $SERVER_CODE as expected"
fi
log "logs kept in $LOG_DIR"
exit $status
