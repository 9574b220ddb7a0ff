#!/usr/bin/env bash
# Runs a session script against the real add-in inside a real client (run-session.sh:
# xfreerdp, xfreerdp3 or, with E2E_CLIENT=sfreerdp, FreeRDP's sample client for Windows,
# under Wine), then checks the add-in's trace log of that run against the checks beside the
# script: NAME.checks for NAME.session, and NAME.CLIENT.checks for what only that client
# does. One check a line: a fixed text that must occur in the log, or N=TEXT, which must
# occur on exactly N lines; # starts a comment.
#
# Usage: addin-session.sh OUTPUT_DIR SESSION_SCRIPT
# Exit codes as run-session.sh; 1 also when a check fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
output_dir=$1
session=$2
shift 2

# A fresh build tree has no log folder yet, and run-session.sh makes it only after its skip
# checks: made here, so that a machine without a client skips instead of failing.
logs=${E2E_LOG_DIR:-${TMPDIR:-/tmp}}
mkdir -p "$logs" || exit 2
log_dir=$(mktemp -d "$logs/addin-$(basename "${session%.session}").XXXXXX") || exit 2
E2E_LOG_DIR=$log_dir E2E_CLIENT_TMPDIR=$log_dir/client-tmp bash "$here/run-session.sh" NelkoClientDriver \
  "$output_dir" "$session"
status=$?
[[ $status -eq 0 ]] || exit $status

trace=$log_dir/client-tmp/NelkoClientDriver.log
[[ -s $trace ]] || { echo "addin-session: no trace log at $trace"; exit 1; }
checks=()
for file in "${session%.session}.checks" "${session%.session}.${E2E_CLIENT:-xfreerdp}.checks"; do
  [[ -f $file ]] && mapfile -t -O "${#checks[@]}" checks < <(grep -v -e '^#' -e '^$' "$file")
done
failed=0
for check in "${checks[@]}"; do
  if [[ $check =~ ^([0-9]+)=(.*)$ ]]; then
    count=$(grep -a -c -F -- "${BASH_REMATCH[2]}" "$trace")
    if [[ $count -ne ${BASH_REMATCH[1]} ]]; then
      echo "addin-session: trace log has $count lines with \"${BASH_REMATCH[2]}\", expected ${BASH_REMATCH[1]}"
      failed=1
    fi
  elif ! grep -a -q -F -- "$check" "$trace"; then
    echo "addin-session: trace log lacks \"$check\""
    failed=1
  fi
done
[[ $failed -eq 0 ]] && echo "addin-session: trace log checks passed ($trace)"
exit $failed
