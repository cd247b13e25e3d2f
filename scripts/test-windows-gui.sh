#!/usr/bin/env bash
# The operator window of the Windows program, under Wine on a virtual X
# display with Wine's virtual desktop (window frames and a tray):
#  - starts BUILD_DIR/kolibra.exe WITH its window against the Linux ECR
#    simulator (build/kolibra-ecr-sim) over TCP; the splash shows first, then
#    the program lives in the tray with its main window hidden;
#  - from a second Windows program (BUILD_DIR/win-probe.exe) restores the
#    window as a tray double click does, reads the controls back, presses
#    " Esegui Test" and sees the simulator close the test receipt, sets the
#    polling value and sees KBTIMER1.TXT, refuses a zero polling value in a
#    message window that does not hold up the program, opens the tray pop-up
#    menu and the about window and sees a job end while each is open, takes
#    a tray menu asked for during a job open only once it has ended, takes
#    the tray icon away and sees it come back with the message a restarted
#    Explorer sends;
#  - sees each start refusal (bad option, missing settings or data folder,
#    settings folder in use) in a message window that stays until OK, then
#    the exit code;
#  - ends the program with --close-running while the tray menu is open
#    (the menu ends, the close goes on), which writes the settings files;
#  - saves screenshots (splash, main window, tray pop-up, about window,
#    a start refusal, closing notice) as PNG files in BUILD_DIR/screenshots/.
# Needs wine64, Xvfb and ImageMagick's import. Exits non-zero on a failure.
#
#   bash scripts/test-windows-gui.sh [BUILD_DIR]     (default build-win64)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/wine-lib.sh
. scripts/wine-lib.sh
build=${1:-build-win64}
case "$build" in -h|--help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac

exe=$build/kolibra.exe
probe_exe=$build/win-probe.exe
sim=build/kolibra-ecr-sim
for f in "$exe" "$probe_exe" "$sim"; do
  [ -x "$f" ] || [ -f "$f" ] || { echo "test-windows-gui.sh: $f missing (build it first)" >&2; exit 2; }
done
for p in Xvfb import; do
  command -v "$p" >/dev/null || { echo "test-windows-gui.sh: $p missing" >&2; exit 2; }
done
shots=$build/screenshots
mkdir -p "$shots"

run=$(mktemp -d /tmp/kolibra-gui.XXXXXX)
data=$run/data settings=$run/settings
mkdir -p "$data" "$settings"
wine_env "$run/prefix"
trap_exit

probe() { "$WINE" "$probe_exe" "$@" 2>>"$run/probe.log" | tr -d '\r'; }
shot() { import -window root "$shots/$1.png" && pass "screenshot $shots/$1.png"; }
# A settings file's lines, joined by commas.
setting() { tr -d '\r' <"$settings/$1" 2>/dev/null | paste -sd, -; }

echo "== Wine with a virtual desktop on a virtual X display"
start_display "$run" || { echo "Xvfb did not start" >&2; exit 1; }
{
  "$WINE" wineboot --init
  "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f
  "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f
  "$WINESERVER" -w
  "$WINESERVER" -p60
  "$WINE" cmd /c exit 0
} >"$run/wine-setup.log" 2>&1 </dev/null

echo "== the ECR simulator on TCP"
start_sim "$run/sim.out" "$run/sim.log" --port 0 --stats-file "$run/stats.txt" ||
  { echo "kolibra-ecr-sim did not start" >&2; exit 1; }

# Network link to the simulator, slot 1 only.
printf '1000\r\n' >"$settings/KBCHKCOM.TXT"
printf '0\r\n0\r\n0\r\n1\r\n127.0.0.1\r\n0\r\n0\r\n' >"$settings/KBCHKSCO.TXT"

echo "== kolibra.exe with its window"
"$WINE" "$exe" --settings-dir "$settings" --data-dir "$data" --ecr-port "$port" \
  >"$run/driver.log" 2>&1 </dev/null &
driver_pid=$!
pids+=("$driver_pid")

if wait_for 30 '[ "$(probe window "Kolibra Version")" = 1 ]'; then
  pass "splash shown"
  shot splash
else
  fail_line "splash shown"
fi
wait_for 30 'probe wait 1' || { fail_line "main window created"; exit 1; }
check "main window hidden at start" 0 "$(probe visible)"
wait_for 30 '[ -f "$data/SR_MATR.001" ]' && pass "configuration dump on slot 1" || fail_line "configuration dump on slot 1"

# A double click on the tray icon: its callback message to the window.
probe tray 515
wait_for 5 '[ "$(probe visible)" = 1 ]' && pass "tray double click shows the window" || fail_line "tray double click shows the window"
sleep 0.5
probe dump >"$run/dump.txt"
field() { awk -F'\t' -v id="$1" '$1 == id { print $2; exit }' "$run/dump.txt"; }
check "caption" "Norvik_Kolibra per ZIZ_ADUD ( XON_XOFF)   RT + V7" "$(sed -n 's/^caption\t\([^\t]*\).*/\1/p' "$run/dump.txt")"
check "slot 1 dump box" "DUMP ESEGUITO" "$(field 1031)"
check "slot 2 dump box" "DUMP NON ESEGUITO" "$(field 1032)"
check "serial-number box" "99MZT123456" "$(field 1054)"
check "test button caption" " Esegui Test" "$(field 1055)"
check "network option ticked" 1 "$(probe checked 1066)"
check "slot 2 box cleared by the dump" 0 "$(probe checked 1002)"
check "speed list items" "items=[9600][19200][38400][57600][115200]" \
  "$(awk -F'\t' '$1 == 1062 { print $6 }' "$run/dump.txt")"
check "payments list items" "items=[5 PAGAMENTI][6 PAGAMENTI][8 PAGAMENTI]" \
  "$(awk -F'\t' '$1 == 1071 { print $6 }' "$run/dump.txt")"
shot main

echo "== the test receipt"
probe click 1055
if wait_for 30 'grep -q "^receipts=1" "$run/stats.txt" 2>/dev/null'; then
  pass "simulator closed the test receipt"
else
  fail_line "simulator closed the test receipt"
fi
grep -q 'PROVA' "$run/stats.txt" && pass "test receipt lines printed" || fail_line "test receipt lines printed"
wait_for 10 '[ -f "$data/FINESCO.001" ]' && pass "FINESCO.001 after the test receipt" || fail_line "FINESCO.001 after the test receipt"
wait_for 5 '[ "$(probe text 1052)" = "KOLIBRA TERMINATO : TUTTO OK" ]' && pass "status box after the job" ||
  fail_line "status box after the job: '$(probe text 1052)'"
wait_for 5 '[ "$(probe enabled 1055)" = 1 ]' && pass "test button enabled again" || fail_line "test button enabled again"

echo "== the polling value"
probe settext 1059 5
probe click 1060
wait_for 5 '[ "$(setting KBTIMER1.TXT)" = 5 ]' && pass "KBTIMER1.TXT holds 5" ||
  fail_line "KBTIMER1.TXT holds 5: '$(setting KBTIMER1.TXT)'"
probe settext 1059 0
probe click 1060
wait_for 5 '[ "$(probe messages)" = "Valore non ammesso" ]' && pass "zero polling value refused in a message window" ||
  fail_line "zero polling value refused: '$(probe messages)'"
# The message window does not hold up the program: the window still answers.
probe settext 1059 500
probe click 1060
wait_for 5 '[ "$(probe text 1059)" = 500ms ]' && pass "program goes on with the message window open" ||
  fail_line "program goes on with the message window open: '$(probe text 1059)'"

# A till's job, answered while the window named stays open.
job_under() {  # WHAT
  rm -f "$data/FINESCO.001"
  printf 'SALE,N1,P1000,:Pane;\r\nTEND,N1,V1000;\r\n' >"$data/SR_DATI.001"
  printf '1\r\n' >"$data/SR_START.001"
  if wait_for 20 '[ ! -e "$data/SR_START.001" ]' && [ -f "$data/FINESCO.001" ]; then
    pass "a job ends while the $1 is open"
  else
    fail_line "a job ends while the $1 is open"
  fi
}

echo "== tray pop-up menu and about window"
probe tray 517
if wait_for 5 '[ "$(probe popup)" = 1 ]'; then
  shot tray-popup
  job_under "tray menu"
  check "tray menu still open after the job" 1 "$(probe popup)"
else
  fail_line "tray menu open"
fi
probe close-popup
sleep 0.5
probe menu 40003
if wait_for 5 '[ "$(probe window "Informazioni su Kolibra")" = 1 ]'; then
  pass "about window"
  sleep 0.3
  shot about
  job_under "about window"
  probe about-ok
else
  fail_line "about window"
fi

# Asked for while a job waits on the ECR, the tray menu would hold the job
# for as long as it stays open: it opens once the job has ended; the menu
# bar is ignored until then.
echo "== the menu bar and the tray menu asked for during a job"
probe menubar
wait_for 5 '[ "$(probe popup)" = 1 ]' && pass "menu bar opens when idle" || fail_line "menu bar opens when idle"
probe close-popup
sleep 0.5
rm -f "$data/FINESCO.001"
for i in 1 2 3 4 5 6 7 8; do printf 'SALE,N1,P100%s,:Pane;\r\n' "$i"; done >"$data/SR_DATI.001"
printf 'TEND,N1,V9000;\r\n' >>"$data/SR_DATI.001"
printf '1\r\n' >"$data/SR_START.001"
if wait_for 10 '[ "$(probe text 1052)" = "TRASMISSIONE KOLIBRA IN CORSO .." ]'; then
  probe menubar
  probe tray 517
  sleep 0.5
  shown=$(probe popup)
  if [ ! -e "$data/SR_START.001" ]; then
    fail_line "tray menu during a job: the job ended before it could be seen"
  else
    check "no menu while the job runs" 0 "$shown"
  fi
  wait_for 20 '[ ! -e "$data/SR_START.001" ]' && [ -f "$data/FINESCO.001" ] &&
    pass "the job ends" || fail_line "the job ends"
  wait_for 5 '[ "$(probe popup)" = 1 ]' && pass "tray menu opens once the job has ended" ||
    fail_line "tray menu opens once the job has ended"
  probe close-popup
  sleep 0.5
else
  fail_line "job running: '$(probe text 1052)'"
fi

echo "== the tray icon after an Explorer restart"
check "tray icon present" 1 "$(probe tray-icon)"
probe tray-delete
check "tray icon gone with the old taskbar" 0 "$(probe tray-icon)"
probe taskbar-created
wait_for 5 '[ "$(probe tray-icon)" = 1 ]' && pass "tray icon added again for the new taskbar" ||
  fail_line "tray icon added again for the new taskbar"

echo "== start refusals in a message window the operator acknowledges"
shows() { probe messages | grep -qF -- "$1"; }
refused() {  # WHAT EXIT TEXT ARGS...
  local what=$1 code=$2 text=$3 p rc=0
  shift 3
  "$WINE" "$exe" "$@" >"$run/refused.log" 2>&1 </dev/null &
  p=$!
  pids+=("$p")
  # Past the splash and any message window of the start-up itself.
  if wait_for 30 shows "$text"; then
    sleep 3
    kill -0 "$p" 2>/dev/null && shows "$text" && pass "$what: shown until OK" || fail_line "$what: ended before OK"
    [ "$code" != 3 ] || shot refusal
  else
    fail_line "$what: no message '$text' ($(probe messages | tr '\n' '|'))"
  fi
  wait_for 10 'probe message-ok; sleep 0.3; ! kill -0 '"$p"' 2>/dev/null' || fail_line "$what: still running after OK"
  wait "$p" || rc=$?
  forget_pid "$p"
  check "$what: exit code" "$code" "$rc"
}
mkdir -p "$run/settings2"
refused "bad option" 2 "kolibra: opzione sconosciuta '--bogus'" --bogus
refused "missing settings folder" 1 "$run/none : DIR NON ESISTENTE" --settings-dir "$run/none"
refused "missing data folder" 1 "$run/nodata : DIR NON ESISTENTE" --settings-dir "$run/settings2" \
  --data-dir "$run/nodata"
refused "settings folder in use" 3 "Cartella impostazioni gia' in uso da un'altra copia di Kolibra" \
  --settings-dir "$settings" --data-dir "$data"

# What an upgrade's close does (WM_CLOSE to the program's window), with the
# tray menu open: the menu ends and the program closes in order.
echo "== --close-running with the tray menu open"
rm -f "$settings/KBChkBd.txt"
probe tray 517
wait_for 5 '[ "$(probe popup)" = 1 ]' && pass "tray menu open" || fail_line "tray menu open"
"$WINE" "$exe" --close-running >"$run/close.log" 2>&1 </dev/null &
close_pid=$!
pids+=("$close_pid")
if wait_for 5 '[ "$(probe window " Chiusura programma Kolibra")" = 1 ]'; then
  shot closing
fi
ended=0
for _ in $(seq 1 150); do
  kill -0 "$driver_pid" 2>/dev/null || { ended=1; break; }
  sleep 0.2
done
if [ "$ended" = 1 ]; then
  wait "$driver_pid" 2>/dev/null || true
  forget_pid "$driver_pid"
  pass "program ended"
else
  fail_line "program ended"
fi
close_rc=0
wait "$close_pid" || close_rc=$?
forget_pid "$close_pid"
check "--close-running exit code" 0 "$close_rc"
check "KBChkBd.txt written" "9600" "$(setting KBChkBd.txt)"
check "KBCHKCOM.TXT written" "1000" "$(setting KBCHKCOM.TXT)"
check "KBCHKSCO.TXT written (RT footer from the dump)" "0,1,0,1,127.0.0.1,0,0" \
  "$(setting KBCHKSCO.TXT)"

echo "screenshots in $shots"
exit "$failed"
