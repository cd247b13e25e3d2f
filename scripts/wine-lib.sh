# shellcheck shell=bash
# Sourced by the scripts that run the Windows program under Wine: Wine's
# environment for a prefix, a virtual display, the ECR simulator, the
# background programs and the clean-up on exit, waits, and one line per check.
# Expects the caller in the repository's top folder.

WINE=${KOLIBRA_WINE64:-/usr/lib/wine/wine64}
WINESERVER=${KOLIBRA_WINESERVER:-/usr/lib/wine/wineserver64}

# Wine's environment for PREFIX: 64 bits, quiet, no prompts to install Mono
# or Gecko (OVERRIDES replaces the DLL overrides).
wine_env() {  # PREFIX [OVERRIDES]
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=${2:-mscoree,mshtml=}
}
quiet() { "$@" >/dev/null 2>&1 </dev/null; }
# A kept-alive server for the prefix (SECONDS after its last client) with
# Wine's background services started, every output on /dev/null: whoever
# reads their output would wait for them. -p fails when a server runs.
wine_server_up() {  # [SECONDS]
  { quiet "$WINESERVER" -p"${1:-120}" || true; } && quiet "$WINE" cmd /c exit 0
}

# ------------------------------------------------------ background programs
pids=()        # ended on exit
xvfb_pid=""
# The run folder: removed on exit when all passed, else named on stderr.
run=""
failed=0
kept_note="logs kept in"
# 1: the Wine server of WINEPREFIX is ended on exit.
stop_server=1

forget_pid() {
  local p keep=()
  for p in "${pids[@]}"; do [ "$p" != "$1" ] && keep+=("$p"); done
  pids=("${keep[@]}")
}
stop_pids() {
  local p
  for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  pids=()
}
on_exit() {
  local status=$?
  trap - EXIT INT TERM
  stop_pids
  if [ "$stop_server" -eq 1 ] && [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    quiet "$WINESERVER" -k || true
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
# in LOG; sets sim_pid and, on TCP, port. False when it did not start in 10 s.
start_sim() {  # OUT LOG ARGS...
  local out=$1 log=$2; shift 2
  : >"$out"
  build/kolibra-ecr-sim "$@" >"$out" 2>>"$log" </dev/null &
  sim_pid=$!
  pids+=("$sim_pid")
  local i=0
  while [ "$i" -lt 100 ] && [ ! -s "$out" ] && kill -0 "$sim_pid" 2>/dev/null; do
    sleep 0.1
    i=$((i + 1))
  done
  port=$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$out")
  [ -s "$out" ]
}

# ------------------------------------------------------------------ checks
# One line per check.
pass() { printf '   PASS  %s\n' "$1"; }
fail_line() { printf '   FAIL  %s\n' "$1"; failed=1; }
check() {  # NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then pass "$1"; else fail_line "$1: expected '$2', got '$3'"; fi
}

# Steps with a time and a note, kept for a table of results: begin one,
# fail collects what was wrong in it, finish records it.
names=() states=() times=() notes=()
record() {  # NAME STATE SECONDS NOTE
  names+=("$1"); states+=("$2"); times+=("$3"); notes+=("${4:-}")
  [ "$2" = FAIL ] && failed=1
  printf '   %-5s %s%s\n' "$2" "$1" "${4:+ ($4)}"
}
now() { echo "$EPOCHREALTIME"; }
since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }
step_name="" step_errors="" step_t=""
begin() { step_name=$1; step_errors=""; step_t=$(now); }
fail() { step_errors+="${step_errors:+; }$*"; }
finish() {  # [NOTE] -> 0 when the step passed
  if [ -z "$step_errors" ]; then
    record "$step_name" PASS "$(since "$step_t")" "${1:-}"
  else
    record "$step_name" FAIL "$(since "$step_t")" "$step_errors"
    return 1
  fi
}

# The bytes of a file, trailing line ends included.
content() { if [ -f "$1" ]; then cat "$1"; fi; printf x; }
file_is() { local c; c=$(content "$1"); [ "${c%x}" = "$2" ]; }
file_starts() { local c; c=$(content "$1"); [[ "${c%x}" == "$2"* ]]; }
file_has() { local c; c=$(content "$1"); [[ "${c%x}" == *"$2"* ]]; }
file_ends() { local c; c=$(content "$1"); [[ "${c%x}" == *"$2" ]]; }
shown() { if [ -f "$1" ]; then LC_ALL=C sed -n 'l 200' "$1" | head -n 6 | tr '\n' ' '; else echo "(missing)"; fi; }
expect_is() { file_is "$1" "$2" || fail "$(basename "$1") is $(shown "$1")"; }
expect_gone() { [ ! -e "$1" ] || fail "$(basename "$1") present: $(shown "$1")"; }
