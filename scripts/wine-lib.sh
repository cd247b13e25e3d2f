# shellcheck shell=bash
# Sourced by the scripts that run the Windows program under Wine: Wine's
# environment for a prefix, a virtual display, the ECR simulator, the
# background programs and the clean-up on exit, a wait, one line per check.
# Expects the caller in the repository's top folder.

WINE=${KOLIBRA_WINE64:-/usr/lib/wine/wine64}
WINESERVER=${KOLIBRA_WINESERVER:-/usr/lib/wine/wineserver64}

# Wine's environment for PREFIX: 64 bits, quiet, no prompts to install Mono
# or Gecko (OVERRIDES replaces the DLL overrides).
wine_env() {  # PREFIX [OVERRIDES]
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=${2:-mscoree,mshtml=}
}
quiet() { "$@" >/dev/null 2>&1 </dev/null; }

pids=()        # ended on exit
xvfb_pid=""
# The run folder: removed on exit when all passed, else named on stderr.
run=""
failed=0
kept_note="logs kept in"
# 1: the Wine servers of WINEPREFIX and of the prefixes in more_prefixes end on exit.
stop_server=1
more_prefixes=()

stop_pids() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
on_exit() {
  local status=$? p
  trap - EXIT INT TERM
  stop_pids
  if [ "$stop_server" -eq 1 ]; then
    for p in "${WINEPREFIX:-}" "${more_prefixes[@]}"; do
      [ -n "$p" ] && [ -d "$p" ] && WINEPREFIX=$p quiet "$WINESERVER" -k || true
    done
  fi
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "$run" ]; then
    if [ "$status" -eq 0 ] && [ "$failed" -eq 0 ]; then rm -rf "$run"; else echo "$kept_note $run" >&2; fi
  fi
  exit "$status"
}
trap_exit() {
  trap on_exit EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# Polls a condition every 0.1 s for up to SECONDS: a command and its
# arguments, or one string of shell evaluated afresh each time.
wait_for() {  # SECONDS CMD... | SECONDS 'CONDITION'
  local deadline=$((SECONDS + $1)); shift
  local cond=("$@")
  [ $# -eq 1 ] && cond=(eval "$1")
  until "${cond[@]}"; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# A virtual X display of this script's own (Xvfb); sets DISPLAY.
start_display() {  # DIR (for the display's number)
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 </dev/null &
  xvfb_pid=$!
  wait_for 10 test -s "$1/display" || return 1
  export DISPLAY=":$(head -n 1 "$1/display")"
}

# kolibra-ecr-sim in the background: its address line in OUT, its messages
# in LOG; sets port (on TCP). False when it did not start in 10 s.
start_sim() {  # OUT LOG ARGS...
  local out=$1 log=$2 sim_pid; shift 2
  : >"$out"
  build/kolibra-ecr-sim "$@" >"$out" 2>>"$log" </dev/null &
  sim_pid=$!
  pids+=("$sim_pid")
  wait_for 10 '[ -s "$out" ] || ! kill -0 '"$sim_pid"' 2>/dev/null'
  port=$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$out")
  [ -s "$out" ]
}

# One line per check; fail collects what was wrong in a step.
pass() { printf '   PASS  %s\n' "$1"; }
fail_line() { printf '   FAIL  %s\n' "$1"; failed=1; }
step_errors=""
fail() { step_errors+="${step_errors:+; }$*"; }
