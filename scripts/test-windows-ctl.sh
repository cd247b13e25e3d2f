#!/usr/bin/env bash
# kolibra ctl on Windows, under Wine: the 64-bit kolibra.com --headless runs
# on a settings folder against the Linux kolibra-ecr-sim over TCP, and
# kolibra.com ctl sends it every command of the Linux ctl table that does not
# need a job held open, each with its exit code and its text; status --json
# is checked against doc/status.schema.json (with python3's jsonschema when
# it is there, else as JSON with its main members), ctl given another name
# of the settings folder (\\?\Z:...) reaches the same driver; stop ends the driver,
# which saves the settings, and ctl then finds no driver (exit code 3).
#
#   bash scripts/test-windows-ctl.sh WORK-DIR
#
# Run by scripts/test-windows.sh, whose environment it expects: WINEPREFIX
# (a prefix with a running server), DISPLAY, and the builds build/ (the
# simulator) and build-win64/ (kolibra.com). Prints one line per row; exits
# non-zero when one failed.
set -uo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-lib.sh
. scripts/wine-lib.sh
dir=${1:?usage: test-windows-ctl.sh WORK-DIR}
settings="$dir/settings" data="$dir/data"
mkdir -p "$settings" "$data"
stop_server=0  # the caller's
trap_exit

ctl() {  # ARGS... -> $code, $out (stdout and stderr)
  out=$(scripts/wine-run.sh build-win64/kolibra.com ctl --settings-dir "$settings" "$@" 2>&1 </dev/null)
  code=$?
}

# All four slots ticked, network, the ECR at 127.0.0.1.
printf '1111\r\n' >"$settings/KBCHKCOM.TXT"
printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >"$settings/KBCHKSCO.TXT"
start_sim "$dir/sim.out" "$dir/sim.log" --port 0
scripts/wine-run.sh build-win64/kolibra.com --headless --settings-dir "$settings" --data-dir "$data" \
  --ecr-port "$port" >"$dir/driver.log" 2>&1 </dev/null &
driver_pid=$!
pids+=("$driver_pid")
for _ in $(seq 1 600); do [ -s "$data/SR_MATR.001" ] && break; sleep 0.1; done
if [ ! -s "$data/SR_MATR.001" ]; then
  fail_line "driver's dump (SR_MATR.001) within 60 s: $(tail -n 3 "$dir/driver.log" | tr '\n' ' ')"
  exit 1
fi
grep -q 'Comandi operatore (kolibra ctl) su \\\\.\\pipe\\KolibraCtl-' "$dir/driver.log" &&
  pass "driver log names its pipe" || fail_line "driver log names its pipe: $(grep -m1 'Comandi operatore' "$dir/driver.log")"

# status --json against the schema; then the Python expression CHECK on it (j).
json_ok() {  # NAME CHECK
  if [ "$code" -ne 0 ]; then fail_line "$1: exit code $code: $out"; return; fi
  local why
  why=$(printf '%s' "$out" | python3 -c '
import json, sys
doc = json.loads(sys.stdin.read())
try:
    import jsonschema
    jsonschema.validate(doc, json.load(open("doc/status.schema.json")))
except ImportError:
    assert set(doc) >= {"version", "slots", "connection", "polling", "jobs"}
j = doc
assert '"$2"', "not " + sys.argv[1]
' "$2" 2>&1) && pass "$1" || fail_line "$1: $(printf '%s' "$why" | tail -n 1)"
}

# Another name of the same settings folder reaches the same driver.
alias_dir="\\\\?\\Z:${settings//\//\\}"
out=$(scripts/wine-run.sh build-win64/kolibra.com ctl --settings-dir "$alias_dir" status 2>&1 </dev/null)
code=$?
[ "$code" -eq 0 ] && [[ "$out" == *"DUMP NON ESEGUITO"* ]] && pass "ctl through $alias_dir -> 0" ||
  fail_line "ctl through $alias_dir -> $code: $(printf '%s' "$out" | head -n 2 | tr '\n' ' ')"

ctl status --json
json_ok "status --json after the dump" \
  'j["slots"][0]["ecr"] == {"serialNumber": "99MZT123456", "mode": "RT"} and j["slots"][0]["dump"] == "done" and j["jobs"]["last"] is None'

# ARGS | exit code | text in the output
rows=(
  "status|0|COM 2  no *    rosso   DUMP NON ESEGUITO"
  "test-receipt|1|Pulsante \" Esegui Test\" disattivato"
  "slots 1100|1|COM 2: casella disattivata, valore non accettato"
  "slots 0000|0|Ricerca lavori: ferma"
  "slots 1000|0|Ricerca lavori: attiva"
  "test-receipt|0|Scontrino di prova scritto per la porta COM 1"
  "WAIT-FINESCO"
  "set-polling 0|0|Timer in sec.: 0 (1000 ms)"
  "set-polling 2|0|Timer in sec.: 2 (2000 ms)"
  "set-speed 1234|1|Velocita' non ammessa"
  "set-speed 19200|0|19200"
  "mode serial|0|Collegamento: Seriale"
  "mode network|0|Collegamento: Rete"
  "address 127.0.0.256|1|IP non Valido"
  "address 127.0.0.1|0|IP OK"
  "reset-connection|0|Connessione: verde"
  "trace on|0|Abilita Trace: si"
  "pass-through on|0|Attiva Input Xon-Xoff: si"
  "payments 8|0|N. dei Pagamenti: 8 PAGAMENTI"
  "fourth-payment card|0|Pagam.4 = Bancomat: si"
  "payments 7|2|argomento non valido, si scrive: payments 5|6|8"
  "status now|2|argomento non valido, si scrive: status [--json]"
  "status|0|Ultimo lavoro: COM 1, TUTTO OK (0), "
  "JSON-AFTER-JOB"
  "stop|0| Chiusura programma Kolibra in corso ..."
)
for row in "${rows[@]}"; do
  case "$row" in
    WAIT-FINESCO)
      for _ in $(seq 1 300); do [ -e "$data/FINESCO.001" ] && break; sleep 0.1; done
      [ -e "$data/FINESCO.001" ] && pass "test receipt printed (FINESCO.001)" || fail_line "test receipt printed (FINESCO.001)"
      continue ;;
    JSON-AFTER-JOB)
      ctl status --json
      json_ok "status --json after the test receipt" \
        'j["jobs"]["last"]["outcome"] == "printed" and j["jobs"]["sinceStart"]["printed"] == 1 and j["polling"]["intervalMs"] == 2000 and j["connection"]["speed"] == "19200"'
      continue ;;
  esac
  IFS='|' read -r args want text <<<"$row"
  # shellcheck disable=SC2086
  ctl $args
  if [ "$code" -eq "$want" ] && [[ "$out" == *"$text"* ]]; then
    pass "ctl $args -> $code"
  else
    fail_line "ctl $args -> $code (want $want, '$text'): $(printf '%s' "$out" | head -n 3 | tr '\n' ' ')"
  fi
done

# The driver ends in order and saves the settings; then nobody answers.
for _ in $(seq 1 300); do kill -0 "$driver_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$driver_pid" 2>/dev/null; then
  fail_line "driver ended after stop"
else
  forget_pid "$driver_pid"
  pass "driver ended after stop"
fi
[ "$(cat "$settings/KBCHKCOM.TXT")" = $'1000\r' ] && [ "$(cat "$settings/KBChkBd.txt")" = $'19200\r' ] &&
  pass "settings saved at the end" ||
  fail_line "settings saved at the end: $(od -c "$settings/KBCHKCOM.TXT" | head -n 1)"
ctl status
[ "$code" -eq 3 ] && [[ "$out" == *"nessun driver Kolibra in esecuzione"* ]] && pass "ctl status with no driver -> 3" ||
  fail_line "ctl status with no driver -> $code: $out"
exit "$failed"
