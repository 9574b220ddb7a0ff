#!/usr/bin/env bash
# Runs a Windows program under Wine; CMake uses it as CMAKE_CROSSCOMPILING_EMULATOR.
#
#   wine-run.sh PROGRAM.exe [ARGS...]   run one program, exit with its exit code
#   wine-run.sh --init                  only create the prefix and start the server
#   wine-run.sh --stop                  shut the wineserver of the prefix down
#
# One private 64-bit prefix (it runs 32-bit and 64-bit programs) is created once, under
# $NELKO_WINEPREFIX (default: ${XDG_CACHE_HOME:-$HOME/.cache}/nelko-wine). A persistent
# wineserver is kept alive between programs, so each test does not pay Wine's start-up;
# stop it with --stop (or scripts/wine-stop.sh) at the end of a run.
#
# Hangs avoided on purpose:
#  - The wineserver and the helper processes Wine spawns on the first start of a session
#    (services.exe, winedevice.exe, plugplay.exe, explorer.exe /desktop, rpcss.exe) live on
#    after the program. They inherit every Unix descriptor of the process that starts them,
#    and a reader such as ctest waits until all writers of its pipe are gone. They are
#    therefore started here, with stdio on a log file and every other descriptor closed,
#    before any test program runs.
#  - The set-up runs under flock on its own descriptor, which no child inherits.
#  - When the output is not a terminal (ctest), the program writes into temporary files
#    that are copied out after it ends, so even a helper it spawns later cannot hold the
#    caller's pipes. NELKO_WINE_CAPTURE=0 streams instead, =1 forces capturing.
#
#  - Debian's "wine" wrapper starts the 32-bit loader whenever wine32 is installed, and
#    fails for every program, 64-bit ones included, on a kernel that cannot execute 32-bit
#    programs. The loaders are therefore called directly: wine64 for the prefix and every
#    x86-64 program, the 32-bit loader only for i386 programs and only where
#    can-run-32bit.sh (or NELKO_32BIT) says they can run.
#
# Environment: NELKO_WINEPREFIX, NELKO_WINEDEBUG (default -all), NELKO_WINE_CAPTURE,
# NELKO_WINE (a launcher for every program instead of the loaders), NELKO_32BIT (yes or
# no: whether 32-bit programs can run here; probed when unset),
# NELKO_WINE_LOCK_TIMEOUT (seconds, default 900).
set -uo pipefail

die() { echo "wine-run: $*" >&2; exit 125; }

cache_home=${XDG_CACHE_HOME:-${HOME:+$HOME/.cache}}
export WINEPREFIX=${NELKO_WINEPREFIX:-${cache_home:-/tmp/nelko-$(id -u)}/nelko-wine}
export WINEARCH=win64
export WINEDEBUG=${NELKO_WINEDEBUG:--all}
# No Mono/Gecko installer dialogs, no menu entries or file associations on the host.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
# Headless: no window may reach an X or Wayland display.
unset DISPLAY WAYLAND_DISPLAY
# Debian 12 (Wine 8) and Debian 13 (Wine 10) both keep the loaders in /usr/lib/wine; only
# Debian 12 also has /usr/bin/wine64. Other layouts are looked for, not assumed.
wine64=""
for candidate in /usr/lib/wine/wine64 "/usr/lib/$(uname -m)-linux-gnu/wine/wine64" /usr/bin/wine64; do
  [[ -x $candidate ]] && { wine64=$candidate; break; }
done
[[ -n $wine64 ]] || die "no 64-bit Wine loader (/usr/lib/wine/wine64) found (Debian: apt-get install wine64)"
wine32=$(dirname "$wine64")/wine
# A 64-bit loader that has to start a 32-bit program finds the 32-bit one through this
# (its name without "64").
export WINELOADER=$wine64
wine=${NELKO_WINE:-$wine64}

# Wine 8 keeps its server's socket below $TMPDIR: programs started with different TMPDIRs
# (ctest gives each test folder its own) would each start a wineserver of their own for
# the same prefix, which --stop never reaches. Wine 10 (Debian 13) aborts at start-up
# ("free(): invalid pointer") whenever TMPDIR is set at all. Without it both use /tmp,
# one server per prefix. (Windows programs take their temporary folder from TMP and TEMP.)
unset TMPDIR
log="$WINEPREFIX.log"
ready="$WINEPREFIX/.nelko-ready"

# Closes every descriptor above stderr, then replaces the shell by "$@". Call it in a
# subshell only: it also closes the descriptor bash reads this script from.
exec_clean() {
  local fd
  for fd in "/proc/$BASHPID/fd"/*; do
    fd=${fd##*/}
    # The descriptor the glob itself used is gone again; skip it (no error output, which
    # must not be redirected here: bash would save stderr on a descriptor we then close).
    if [[ $fd =~ ^[0-9]+$ ]] && ((fd > 2)) && [[ -e /proc/$BASHPID/fd/$fd ]]; then
      eval "exec $fd>&-"
    fi
  done
  exec "$@"
}

# Runs "$@" with stdin from /dev/null, stdout and stderr appended to the log, and every
# other descriptor closed, so that nothing it leaves running holds one of ours.
detached() {
  (exec_clean "$@") </dev/null >>"$log" 2>&1
}

wine_version() { "$wine" --version 2>/dev/null || echo unknown; }

create_prefix() {
  local t0=$SECONDS
  echo "wine-run: creating Wine prefix $WINEPREFIX (once, about 20 s)" >&2
  : >"$log"
  if [[ -d "$WINEPREFIX" ]]; then
    # Left over from an interrupted creation: its server may still run.
    detached wineserver -k
    detached timeout 60 wineserver -w
    rm -rf "$WINEPREFIX"
  fi
  # wineboot starts a non-persistent server; waiting for it to end flushes the registry
  # to disk before the prefix is marked ready.
  detached timeout 600 "$wine" wineboot.exe -i || die "wineboot -i failed, see $log"
  detached timeout 120 wineserver -w || detached wineserver -k
  [[ -f "$WINEPREFIX/system.reg" ]] || die "no system.reg after wineboot, see $log"
  wine_version >"$ready"
  echo "wine-run: prefix ready after $((SECONDS - t0)) s" >&2
}

# Makes sure the prefix exists and a persistent wineserver with its helpers is running.
setup() {
  mkdir -p "$(dirname "$WINEPREFIX")" || die "cannot create $(dirname "$WINEPREFIX")"
  local lockfd
  exec {lockfd}>"$WINEPREFIX.lock" || die "cannot open $WINEPREFIX.lock"
  flock -w "${NELKO_WINE_LOCK_TIMEOUT:-900}" "$lockfd" || die "timed out waiting for $WINEPREFIX.lock"

  if [[ ! -f "$ready" ]]; then
    create_prefix
  elif [[ "$(cat "$ready")" != "$(wine_version)" ]]; then
    echo "wine-run: Wine changed, updating prefix $WINEPREFIX" >&2
    detached wineserver -k
    detached timeout 60 wineserver -w
    detached timeout 600 "$wine" wineboot.exe -u || die "wineboot -u failed, see $log"
    detached timeout 120 wineserver -w || detached wineserver -k
    wine_version >"$ready"
  fi

  # Exit code 0: this call started the server; 2: one is already running for the prefix.
  # (Debian's wrapper passes -p0 first; the later -p wins.)
  detached wineserver -p
  local rc=$?
  if ((rc == 0)); then
    # The first program of a session starts the system services; rundll32 without
    # arguments also creates the desktop (explorer.exe /desktop, rpcss.exe). Let them
    # start here, detached, instead of inside a test.
    detached timeout 120 "$wine" rundll32.exe || echo "wine-run: warm-up failed, see $log" >&2
  elif ((rc != 2)); then
    die "cannot start wineserver (exit code $rc), see $log"
  fi
  exec {lockfd}>&-
}

# Kills the server and with it every Wine process of the prefix, test programs of other
# runs that share the prefix included: run suites that share a prefix one after another.
stop() {
  [[ -d "$WINEPREFIX" ]] || return 0
  local lockfd
  exec {lockfd}>"$WINEPREFIX.lock" || die "cannot open $WINEPREFIX.lock"
  flock -w "${NELKO_WINE_LOCK_TIMEOUT:-900}" "$lockfd" || die "timed out waiting for $WINEPREFIX.lock"
  detached wineserver -k
  detached timeout 60 wineserver -w
  exec {lockfd}>&-
  return 0
}

can_run_32bit() {
  case "${NELKO_32BIT:-}" in
    yes) return 0 ;;
    no) return 1 ;;
  esac
  "$(dirname "${BASH_SOURCE[0]}")/can-run-32bit.sh" >/dev/null
}

# The loader for a program: the 32-bit one for an i386 program file, wine64 for anything
# else (x86-64 programs, and Wine's own programs such as msiexec or reg, which are 64-bit
# in this prefix).
launcher_for() {
  if [[ -n "${NELKO_WINE:-}" ]]; then
    echo "$NELKO_WINE"
    return
  fi
  local offset machine
  if [[ -f "$1" ]]; then
    # PE header offset at 0x3c, machine type 4 bytes after it; 0x14c is i386.
    offset=$(od -An -tu4 -j60 -N4 -- "$1" 2>/dev/null | tr -d ' ')
    if [[ "$offset" =~ ^[0-9]+$ ]]; then
      machine=$(od -An -tx2 -j$((offset + 4)) -N2 -- "$1" 2>/dev/null | tr -d ' ')
      if [[ "$machine" == 014c ]]; then
        if ! can_run_32bit; then
          local reason="NELKO_32BIT=no"
          [[ -z "${NELKO_32BIT:-}" ]] && reason=$("$(dirname "${BASH_SOURCE[0]}")/can-run-32bit.sh")
          die "cannot run the 32-bit program $1: $reason"
        fi
        [[ -x $wine32 ]] || die "cannot run the 32-bit program $1: $wine32 is missing (Debian: wine32:i386)"
        echo "$wine32"
        return
      fi
    fi
  fi
  echo "$wine64"
}

run_captured() {
  local out err pid rc
  out=$(mktemp /tmp/nelko-wine-out.XXXXXX) || die "mktemp failed"
  err=$(mktemp /tmp/nelko-wine-err.XXXXXX) || die "mktemp failed"
  # Started in the background so that a ctest time-out (SIGTERM) still shows the output.
  (exec_clean "$wine" "$@") <&0 >"$out" 2>"$err" &
  pid=$!
  trap 'kill -TERM $pid 2>/dev/null; wait $pid; cat "$out"; cat "$err" >&2; rm -f "$out" "$err"; exit 143' TERM INT HUP
  wait "$pid"
  rc=$?
  trap - TERM INT HUP
  cat "$out"
  cat "$err" >&2
  rm -f "$out" "$err"
  return "$rc"
}

case "${1:-}" in
  "" | -h | --help)
    sed -n '2,6p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  --init)
    setup
    exit 0
    ;;
  --stop)
    stop
    exit 0
    ;;
esac

setup
wine=$(launcher_for "$1") || exit 125
capture=${NELKO_WINE_CAPTURE:-}
if [[ -z "$capture" ]]; then
  if [[ -t 1 ]]; then capture=0; else capture=1; fi
fi
if [[ "$capture" == 1 ]]; then
  run_captured "$@"
  exit $?
fi
(exec_clean "$wine" "$@")
exit $?
