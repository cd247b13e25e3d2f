#!/usr/bin/env bash
# Runs `kolibra submit` and the example clients (examples/submit.py,
# examples/Submit.cs built with mono-mcs) against the built driver and the
# simulator. Each client, with a driver and a simulator of its own, sends one
# command file the driver refuses (E511), one receipt whose outcome is
# uncertain (E520: the simulator drops the link instead of answering the
# receipt's closing line) and one receipt that is printed, and must give the
# exit codes 1, 3 and 0; then two copies of it started together on the same
# slot (a receipt and a refused file) must each get their own outcome (0 and
# 1), as must the three clients started together on one slot (the claim
# of ~KBCLAIM.001 is the same lock in each).
#   bash scripts/test-examples.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=$(cd "${1:-build}" && pwd)
for p in kolibra kolibra-ecr-sim; do
  [ -x "$build/$p" ] || { echo "test-examples: $build/$p is not built" >&2; exit 2; }
done

if ! command -v mcs >/dev/null || ! command -v mono >/dev/null; then
  bash scripts/need-packages.sh mono-mcs mono-runtime
fi

work=$(mktemp -d /tmp/kolibra-examples-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap 'cleanup; rm -rf "$work"' EXIT

mcs -nologo -out:"$work/Submit.exe" examples/Submit.cs

printf 'SALE,N1,P1000;\r\nQQQQ,N1;\r\n' >"$work/refused.txt"
printf 'SALE,N1,P1000,:Pane;\r\nTEND,N1,V1500;\r\n' >"$work/uncertain.txt"
printf 'SALE,N1,P200;\r\nTEND,N1;\r\n' >"$work/printed.txt"
printf 'SALE,N1,P300;\r\nTEND,N1;\r\n' >"$work/printed2.txt"

failures=0
# check NAME FILE CODE EXPECTED FIRST: one job's exit code and first line.
check() {
  local name=$1 file=$2 code=$3 expected=$4 first=$5 dir="$work/$1"
  local got
  got=$(cat "$dir/$file.out" "$dir/$file.err" | tr -d '\r' | grep -v '^$' | head -n 1 || true)
  if [ "$code" = "$expected" ] && [[ "$got" == "$first"* ]]; then
    printf '%-8s %-10s ok   exit %s  %s\n' "$name" "$file" "$code" "$got"
  else
    printf '%-8s %-10s FAIL exit %s (want %s)  %s\n' "$name" "$file" "$code" "$expected" "$got"
    sed 's/^/    /' "$dir/driver.log" | tail -n 20
    failures=$((failures + 1))
  fi
}

# start_driver NAME [SIM_OPTION...]: a simulator and a driver of their own in
# $work/NAME.
start_driver() {
  local name=$1
  local dir="$work/$name"
  mkdir -p "$dir/data" "$dir/settings"
  chmod 700 "$dir/settings"
  # Network mode on slot 1, polling every 100 ms.
  printf '1000\r\n' >"$dir/settings/KBCHKCOM.TXT"
  printf '100ms\r\n' >"$dir/settings/KBTIMER1.TXT"
  printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >"$dir/settings/KBCHKSCO.TXT"
  "$build/kolibra-ecr-sim" --port 0 "${@:2}" >"$dir/sim.out" 2>"$dir/sim.log" &
  pids+=($!)
  local port=""
  for _ in $(seq 1 100); do
    port=$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$dir/sim.out")
    [ -n "$port" ] && break
    sleep 0.1
  done
  "$build/kolibra" --headless --settings-dir "$dir/settings" --data-dir "$dir/data" \
    --ecr-port "$port" 2>"$dir/driver.log" &
  pids+=($!)
  # Jobs go in once the driver has started and dumped slot 1: a job already
  # waiting when a driver starts without a journal is answered E520.
  for _ in $(seq 1 200); do
    [ -s "$dir/data/SR_MATR.001" ] && break
    sleep 0.1
  done
}

# run_client NAME COMMAND...: the three jobs through one client, then two
# copies of it at once; COMMAND is given --data-dir DIR --slot 1 FILE.
run_client() {
  local name=$1
  shift
  local dir="$work/$name"
  start_driver "$name" --cut-at-close
  local job expected code first
  for job in refused:1:E511 uncertain:3:E520 printed:0:finesco; do
    IFS=: read -r file expected first <<<"$job"
    code=0
    "$@" --data-dir "$dir/data" --slot 1 "$work/$file.txt" >"$dir/$file.out" 2>"$dir/$file.err" || code=$?
    check "$name" "$file" "$code" "$expected" "$first"
  done
  local a b code_a=0 code_b=0
  "$@" --data-dir "$dir/data" --slot 1 "$work/printed2.txt" >"$dir/printed2.out" 2>"$dir/printed2.err" &
  a=$!
  "$@" --data-dir "$dir/data" --slot 1 "$work/refused.txt" >"$dir/refused2.out" 2>"$dir/refused2.err" &
  b=$!
  wait "$a" || code_a=$?
  wait "$b" || code_b=$?
  check "$name" printed2 "$code_a" 0 finesco
  check "$name" refused2 "$code_b" 1 E511
  cleanup
}

# run_together: one client of each kind at once on one driver's slot 1.
run_together() {
  local dir="$work/together" i=0 job
  local -a clients=("$build/kolibra submit" "python3 examples/submit.py" "mono $work/Submit.exe")
  local -a jobs=(printed:0:finesco refused:1:E511 printed2:0:finesco) waits=()
  start_driver together
  for job in "${jobs[@]}"; do
    # shellcheck disable=SC2086
    ${clients[$i]} --timeout 60 --data-dir "$dir/data" --slot 1 "$work/${job%%:*}.txt" \
      >"$dir/${job%%:*}.out" 2>"$dir/${job%%:*}.err" &
    waits+=($!)
    i=$((i + 1))
  done
  for i in 0 1 2; do
    local code=0 file expected first
    wait "${waits[$i]}" || code=$?
    IFS=: read -r file expected first <<<"${jobs[$i]}"
    check together "$file" "$code" "$expected" "$first"
  done
  cleanup
}

run_client kolibra "$build/kolibra" submit --timeout 60
run_client python python3 examples/submit.py --timeout 60
run_client csharp mono "$work/Submit.exe" --timeout 60
run_together

if [ "$failures" -ne 0 ]; then
  echo "test-examples: $failures job(s) failed" >&2
  exit 1
fi
echo "test-examples: all clients gave the expected results"
