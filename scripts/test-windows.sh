#!/usr/bin/env bash
# The Windows program, built and tested on Linux:
#  - cross-builds build-win32/ and build-win64/ with mingw-w64: kolibra.exe
#    (the GUI program shops start: no console) and kolibra.com (the same
#    program for the command line), plus the 64-bit unit tests;
#  - checks that each program imports only system DLLs, carries the
#    program's version in its version resource and has its subsystem (GUI
#    for kolibra.exe, console for kolibra.com);
#  - runs the unit tests under 64-bit Wine (ctest, through the toolchain's
#    emulator scripts/wine-run.sh);
#  - checks kolibra.com --version and that convert writes the bytes it
#    means (CR LF, not CR CR LF), then runs jobs end to end: the 64-bit
#    kolibra.com --headless under Wine, with a hidden top-level window on a
#    virtual X display, against the Linux kolibra-ecr-sim over TCP and over
#    COM1 (mapped to the simulator's pseudo-terminal): the configuration
#    dump, a receipt, an E504 with a silent ECR during which a logoff is
#    refused (WM_QUERYENDSESSION) and allowed once it ended, and a shutdown
#    that writes the settings files back: through WM_CLOSE over TCP, through
#    WM_ENDSESSION over COM1 (all done when the message returns, a waiting
#    job answered);
#  - installs, upgrades and removes the x64 package in a fresh Wine prefix
#    and checks the x86 package's tables (scripts/test-windows-msi.sh);
#  - runs the kolibra ctl table against kolibra.com over its named pipe
#    (scripts/test-windows-ctl.sh);
#  - prints a table of the results.
# 32-bit programs cannot run on these machines, so the 32-bit build is built
# and its imports checked; it is the same source as the 64-bit one that runs.
# Installs the Debian packages it needs. Exits non-zero when a step fails.
#
#   bash scripts/test-windows.sh [--bench]
#
# --bench then also runs scripts/bench-windows.sh (idle CPU and the 50-line
# receipt under Wine against the Linux driver).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/wine-lib.sh
. scripts/wine-lib.sh

bench=0
for arg in "$@"; do
  case "$arg" in
    --bench) bench=1 ;;
    -h|--help) sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test-windows.sh: unknown option '$arg' (try --help)" >&2; exit 2 ;;
  esac
done

# ---------------------------------------------------------------- packages
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
install_missing() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing ${missing[*]}"
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq \
    --no-install-recommends "${missing[@]}"
}
bash scripts/setup.sh
# mingw-w64 for both architectures (the -posix compilers come with them),
# GoogleTest's sources, 64-bit Wine, a virtual X display for the program's
# top-level window, socat for a pair of joined serial ports, ImageMagick for
# the screenshots, and wixl and msitools for the Windows packages.
install_missing g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest \
  wine wine64 fonts-wine xvfb socat imagemagick wixl msitools

WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
export KOLIBRA_WINE64=$WINE KOLIBRA_WINESERVER=$WINESERVER

# ------------------------------------------------------------ bookkeeping
run=$(mktemp -d /tmp/kolibra-windows.XXXXXX)
kept_note="logs and end-to-end folders kept in"
# Runs a command with its output in a log file; on failure shows the end.
logged() {  # LOG CMD...
  local log=$1; shift
  if "$@" >"$log" 2>&1; then return 0; fi
  echo "---- last lines of $log" >&2
  tail -n 40 "$log" >&2
  return 1
}
trap_exit

# ------------------------------------------------------------------ builds
echo "== Linux build (the ECR simulator, and the driver for --bench)"
t=$(now)
cmake -S . -B build -G Ninja >/dev/null
if logged "$run/build-linux.log" cmake --build build --target kolibra kolibra-ecr-sim; then
  record "Linux kolibra-ecr-sim" PASS "$(since "$t")"
else
  record "Linux kolibra-ecr-sim" FAIL "$(since "$t")" "see $run/build-linux.log"
fi

# GoogleTest cross-built once per build folder with the same toolchain.
gtest_for() {  # BUILD-DIR TOOLCHAIN
  local prefix="$1/_deps/gtest-install"
  [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  cmake -S /usr/src/googletest -B "$1/_deps/gtest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON &&
    cmake --build "$1/_deps/gtest-build" &&
    cmake --install "$1/_deps/gtest-build"
}

echo "== 64-bit Windows build (kolibra.exe and the unit tests)"
t=$(now)
tc64="$root/cmake/toolchain-mingw-x86_64.cmake"
win64_ok=0
if logged "$run/gtest-win64.log" gtest_for build-win64 "$tc64" &&
   logged "$run/build-win64.log" cmake -S . -B build-win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc64" \
     -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLIBRA_WERROR=ON \
     -DKOLIBRA_GTEST_PREFIX="$root/build-win64/_deps/gtest-install"; then
  logged "$run/build-win64.log" cmake --build build-win64 && win64_ok=1
fi
if [ "$win64_ok" -eq 1 ]; then
  record "win64 build" PASS "$(since "$t")" "kolibra.exe and tests"
else
  record "win64 build" FAIL "$(since "$t")" "see $run/build-win64.log"
fi

echo "== 32-bit Windows build (kolibra.exe)"
t=$(now)
tc32="$root/cmake/toolchain-mingw-i686.cmake"
win32_ok=0
if logged "$run/build-win32.log" cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc32" \
     -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLIBRA_WERROR=ON -DKOLIBRA_TESTS=OFF; then
  logged "$run/build-win32.log" cmake --build build-win32 --target kolibra kolibra-console && win32_ok=1
fi
if [ "$win32_ok" -eq 1 ]; then
  record "win32 build" PASS "$(since "$t")" "kolibra.exe, kolibra.com"
else
  record "win32 build" FAIL "$(since "$t")" "see $run/build-win32.log"
fi

# The program's version, as the Linux program prints it.
version=$(build/kolibra --version 2>/dev/null | awk '{ print $NF }') || true

# ------------------------------------------------------------ DLL imports
# Only DLLs every Windows has; anything else (libstdc++, libgcc,
# libwinpthread, ...) would have to ship beside the program.
system_dlls=(kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll msvcrt.dll
  comctl32.dll comdlg32.dll ole32.dll oleaut32.dll shlwapi.dll version.dll winmm.dll uxtheme.dll
  imm32.dll winspool.drv)
check_imports() {  # LABEL EXE OBJDUMP SUBSYSTEM
  local t dlls bad=() d subsystem
  t=$(now)
  if [ ! -f "$2" ]; then
    record "$1 imports+version" FAIL "$(since "$t")" "$2 missing"
    return
  fi
  dlls=$("$3" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r')
  # The PE header's Subsystem: "(Windows GUI)" or "(Windows CUI)".
  subsystem=$("$3" -p "$2" | sed -n 's/^Subsystem[[:space:]].*(\(.*\))$/\1/p')
  for d in $dlls; do
    [[ " ${system_dlls[*]} " == *" ${d,,} "* ]] || bad+=("$d")
  done
  local size
  size=$(( $(stat -c %s "$2") / 1024 ))
  # The version resource carries the version --version prints (UTF-16).
  if [ "$subsystem" != "$4" ]; then
    record "$1 imports+version" FAIL "$(since "$t")" "subsystem '$subsystem', not '$4'"
  elif ! strings -el "$2" | grep -qxF "$version"; then
    record "$1 imports+version" FAIL "$(since "$t")" "no version $version in its VERSIONINFO"
  elif [ -z "$dlls" ]; then
    record "$1 imports+version" FAIL "$(since "$t")" "no import table read"
  elif [ ${#bad[@]} -eq 0 ]; then
    record "$1 imports+version" PASS "$(since "$t")" "$(echo $dlls | tr ' ' ','); ${size} KiB; version $version; $subsystem"
  else
    record "$1 imports+version" FAIL "$(since "$t")" "not system DLLs: ${bad[*]}"
  fi
}
echo "== imported DLLs and version resources"
for b in win32:i686 win64:x86_64; do
  check_imports "${b%%:*} kolibra.exe" "build-${b%%:*}/kolibra.exe" "${b#*:}-w64-mingw32-objdump" "Windows GUI"
  check_imports "${b%%:*} kolibra.com" "build-${b%%:*}/kolibra.com" "${b#*:}-w64-mingw32-objdump" "Windows CUI"
done

# ------------------------------------------------------------------- Wine
# A throwaway prefix kept with the 64-bit build; a display for top-level
# windows; COM1 mapped to the simulator's pseudo-terminal, COM5 and COM6 to
# the two ends of a socat pseudo-terminal pair (for the serial port's unit
# test); a kept-alive server with its background services started with every
# output on /dev/null (whoever reads their output would wait for them).
wine_env "$root/build-win64/_wine"
mkdir -p "$WINEPREFIX"
com1_link="$run/ttyCOM1"
com5_link="$run/ttyCOM5"
com6_link="$run/ttyCOM6"

echo "== Wine: display, prefix, COM ports, server"
t=$(now)
wine_ok=1
socat pty,raw,echo=0,link="$com5_link" pty,raw,echo=0,link="$com6_link" >"$run/socat.log" 2>&1 </dev/null &
pids+=($!)
start_display "$run" || wine_ok=0
quiet "$WINESERVER" -k || true
quiet "$WINESERVER" -w || true
if [ "$wine_ok" -eq 1 ] && wine_server_up &&
   quiet "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1_link" /f &&
   quiet "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$com5_link" /f &&
   quiet "$WINE" reg add 'HKLM\Software\Wine\Ports' /v COM6 /t REG_SZ /d "$com6_link" /f &&
   quiet "$WINESERVER" -k && quiet "$WINESERVER" -w && wine_server_up &&
   [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$com1_link" ] &&
   [ "$(readlink "$WINEPREFIX/dosdevices/com6")" = "$com6_link" ] &&
   [ -e "$com5_link" ] && [ -e "$com6_link" ]; then
  record "Wine set-up" PASS "$(since "$t")" "DISPLAY=$DISPLAY, COM1 -> $com1_link, COM5 = COM6"
else
  wine_ok=0
  record "Wine set-up" FAIL "$(since "$t")" "display, prefix or COM1 mapping"
fi

# ------------------------------------------------------------- unit tests
if [ "$win64_ok" -eq 1 ] && [ "$wine_ok" -eq 1 ]; then
  echo "== unit tests under Wine"
  t=$(now)
  if KOLIBRA_TEST_COM_PAIR=5,6 \
     ctest --test-dir build-win64 --output-on-failure -j2 --timeout 300 \
       >"$run/ctest-win64.log" 2>&1; then
    summary=$(grep -E 'tests passed' "$run/ctest-win64.log" | tail -n 1)
    skipped=$(grep -c '(Skipped)$' "$run/ctest-win64.log" || true)
    record "unit tests under Wine" PASS "$(since "$t")" "$summary; $skipped skipped"
    grep '(Skipped)$' "$run/ctest-win64.log" | sed 's/^[[:space:]]*/      skipped: /' || true
  else
    grep -E 'tests passed|\(Failed\)|\(Timeout\)|Not Run|Exception' "$run/ctest-win64.log" >&2 || true
    summary=$(grep -E 'tests passed' "$run/ctest-win64.log" | tail -n 1)
    record "unit tests under Wine" FAIL "$(since "$t")" "${summary:-see $run/ctest-win64.log}"
  fi
else
  record "unit tests under Wine" FAIL 0 "not run: the 64-bit build or Wine failed"
fi

# ------------------------------------------------------------- end to end

receipt=$'SALE,N1,P1000,:Pane;\r\nSALE,N2,P2.50,Q2,:Latte;\r\nTEND,N1,V1500;\r\n'
receipt_xon=$'"PANE"1000H1R\r\n"  2 X 2.5"@\r\n"LATTE"1*500H2R\r\n1500H1T\r\n'
err_e504=$'E504: Nessun messaggio ricevuto: controllare connessione con l\'Ecr\r\n'

driver_pid="" sim_pid=""
# Polls a condition every 0.1 s for up to SECONDS; gives up early when the
# driver has ended.
wait_until() {  # SECONDS CMD...
  local limit=$1; shift
  local deadline=$((SECONDS + limit))
  while [ "$SECONDS" -lt "$deadline" ]; do
    "$@" && return 0
    if [ -n "$driver_pid" ] && ! kill -0 "$driver_pid" 2>/dev/null; then
      "$@" && return 0
      fail "kolibra.exe ended early"
      return 1
    fi
    sleep 0.1
  done
  "$@"
}

sim_in() {  # DIR ARGS...
  local dir=$1; shift
  start_sim "$dir/sim.out" "$dir/sim.log" "$@" && return 0
  fail "kolibra-ecr-sim did not start: $(tail -n 2 "$dir/sim.log" | tr '\n' ' ')"
  return 1
}
stop_sim() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  forget_pid "$sim_pid"
  sim_pid=""
}
start_driver() {  # DIR ARGS...
  local dir=$1; shift
  scripts/wine-run.sh build-win64/kolibra.com --headless --settings-dir "$dir/settings" \
    --data-dir "$dir/data" "$@" >"$dir/driver.log" 2>&1 </dev/null &
  driver_pid=$!
  pids+=("$driver_pid")
}
probe() { scripts/wine-run.sh build-win64/win-probe.exe "$@" 2>/dev/null </dev/null | tr -d '\r'; }
# Number of jobs the driver has logged as started.
jobs_started() { grep -c 'TRASMISSIONE KOLIBRA IN CORSO' "$1/driver.log" || true; }
submit() {  # DATA-DIR COMMANDS
  printf '%s' "$2" >"$1/SR_DATI.001.tmp"
  mv "$1/SR_DATI.001.tmp" "$1/SR_DATI.001"
  printf '1\r\n' >"$1/SR_START.001"
}

# One end-to-end run: MODE is tcp or com1.
e2e() {
  local mode=$1
  local dir="$run/e2e-$mode"
  local data="$dir/data" settings="$dir/settings"
  mkdir -p "$data" "$settings"
  local net sim_args driver_args=() port=""
  if [ "$mode" = tcp ]; then
    net=1
    sim_args=(--port 0)
  else
    net=0
    sim_args=(--no-tcp --pty-link "$com1_link")
  fi
  # Slot 1 only, 200 ms polling (written as "200", which the program
  # rewrites as "200ms" when it starts), TCP or serial, ECR at 127.0.0.1.
  printf '1000\r\n' >"$settings/KBCHKCOM.TXT"
  printf '200\r\n' >"$settings/KBTIMER1.TXT"
  printf '0\r\n0\r\n0\r\n%s\r\n127.0.0.1\r\n0\r\n0\r\n' "$net" >"$settings/KBCHKSCO.TXT"

  # The configuration dump writes SR_MATR.001.
  begin "$mode: dump (SR_MATR.001)"
  if sim_in "$dir" "${sim_args[@]}"; then
    if [ "$mode" = tcp ]; then
      port=$(sed -n 's/^tcp .*:\([0-9]*\)$/\1/p' "$dir/sim.out")
      driver_args=(--ecr-port "$port")
    fi
    start_driver "$dir" "${driver_args[@]}"
    if wait_until 60 file_ends "$data/SR_MATR.001" $'FW: \r\n'; then
      expect_is "$data/SR_MATR.001" \
        $'99MZT123456\r\nStato: RT\r\nDriverType: ZizAdud\r\nVersione: '"$version"$'\r\nFW: \r\n'
    else
      fail "no whole SR_MATR.001 in 60 s: $(shown "$data/SR_MATR.001")"
    fi
  fi
  if ! finish; then
    e2e_rest_skipped "$mode"
    return
  fi

  # A receipt: FINESCO.001, both SR_OUT.001 records, XON.txt.
  begin "$mode: receipt (FINESCO, SR_OUT, XON)"
  submit "$data" "$receipt"
  if wait_until 60 eval '[ ! -e "$data/SR_START.001" ]'; then
    expect_is "$data/FINESCO.001" "finesco"
    expect_gone "$data/SR_ERR.001"
    expect_gone "$data/SR_DATI.001"
    expect_is "$data/XON.txt" "$receipt_xon"
    file_starts "$data/SR_OUT.001" "TIME,CASS. 1 " || fail "SR_OUT.001 TIME record: $(shown "$data/SR_OUT.001")"
    file_has "$data/SR_OUT.001" $' CASSA   1 ,E,A1;\r\nDATE,' || fail "SR_OUT.001 DATE record: $(shown "$data/SR_OUT.001")"
    file_has "$data/SR_OUT.001" "  SCONTR. N. " || fail "SR_OUT.001 receipt number: $(shown "$data/SR_OUT.001")"
    file_ends "$data/SR_OUT.001" $',E,A1;\r\n' || fail "SR_OUT.001 end: $(shown "$data/SR_OUT.001")"
  else
    fail "job not answered in 60 s"
  fi
  finish || true

  # The ECR goes silent: a new simulator on the same port (or pty link)
  # that never answers; " K" gets its echo time-outs and the job fails.
  begin "$mode: silent ECR (E504)"
  stop_sim
  local silent_args=("${sim_args[@]}")
  [ "$mode" = tcp ] && silent_args=(--port "$port")
  if sim_in "$dir" "${silent_args[@]}" --silent; then
    local started
    started=$(jobs_started "$dir")
    submit "$data" "$receipt"
    # A logoff while the job runs is refused (a yes would hold new jobs).
    if wait_until 20 eval '[ "$(jobs_started "$dir")" -gt "$started" ]'; then
      [ "$(probe session-query)" = 0 ] || fail "logoff not refused during the job"
    else
      fail "job not started in 20 s"
    fi
    if wait_until 120 eval '[ ! -e "$data/SR_START.001" ]'; then
      expect_is "$data/SR_ERR.001" "$err_e504"
      expect_is "$data/SR_DATI.001" "$receipt"
      expect_gone "$data/FINESCO.001"
      [ "$(probe session-query)" = 1 ] || fail "logoff refused after the job"
    else
      fail "job not answered in 120 s"
    fi
  fi
  finish || true

  # TCP: WM_CLOSE to the program's top-level window (taskkill without /f).
  # COM1: the session ends (WM_ENDSESSION), with a job waiting that the
  # logoff's yes above kept from starting: all is done when the message
  # returns. The shutdown saves the settings; the files it writes are
  # removed first; KBTIMER1.TXT was rewritten at start-up.
  local how="WM_CLOSE"
  [ "$mode" = com1 ] && how="WM_ENDSESSION"
  begin "$mode: $how shutdown (settings saved)"
  rm -f "$settings/KBCHKCOM.TXT" "$settings/KBChkBd.txt" "$settings/KBCHKSCO.TXT"
  if [ "$mode" = com1 ]; then
    submit "$data" "$receipt"
    probe session-end
    expect_is "$data/SR_ERR.001" $'E521: Lavoro non eseguito: Kolibra riavviato o chiuso, ripetere l\'invio\r\n'
    expect_gone "$data/SR_START.001"
    file_is "$settings/KBChkBd.txt" $'9600\r\n' || fail "settings not saved when WM_ENDSESSION returned"
  else
    scripts/wine-run.sh taskkill /im kolibra.com >"$dir/taskkill.log" 2>&1 </dev/null ||
      fail "taskkill: $(tr '\r\n' '  ' <"$dir/taskkill.log")"
  fi
  local status="" i
  for i in $(seq 1 200); do
    kill -0 "$driver_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$driver_pid" 2>/dev/null; then
    fail "kolibra.com still running 20 s after $how"
  else
    status=0
    wait "$driver_pid" || status=$?
    forget_pid "$driver_pid"
    [ "$status" -eq 0 ] || fail "exit status $status"
  fi
  driver_pid=""
  expect_is "$settings/KBCHKCOM.TXT" $'1000\r\n'
  expect_is "$settings/KBTIMER1.TXT" $'200ms\r\n'
  expect_is "$settings/KBChkBd.txt" $'9600\r\n'
  # The dump of an RT register turned the RT footer on.
  expect_is "$settings/KBCHKSCO.TXT" $'0\r\n1\r\n0\r\n'"$net"$'\r\n127.0.0.1\r\n0\r\n0\r\n'
  expect_gone "$data/SR_MATR.001"
  finish "${status:+exit $status}" || true
  stop_sim
}
e2e_rest_skipped() {
  local s
  for s in "receipt (FINESCO, SR_OUT, XON)" "silent ECR (E504)" "shutdown (settings saved)"; do
    record "$1: $s" FAIL 0 "not run: no dump"
  done
  if [ -n "$driver_pid" ]; then
    kill -TERM "$driver_pid" 2>/dev/null || true
    wait "$driver_pid" 2>/dev/null || true
    forget_pid "$driver_pid"
    driver_pid=""
  fi
  stop_sim
}

# The same command line as on Linux: --version prints the same line, and
# convert the same bytes (the C runtime's text mode would add a CR).
version_check() {
  begin "kolibra.com --version"
  local out status=0
  out=$(scripts/wine-run.sh build-win64/kolibra.com --version 2>&1 </dev/null | tr -d '\r') || status=$?
  [ "$status" -eq 0 ] || fail "exit status $status"
  [ "$out" = "$(build/kolibra --version)" ] || fail "printed '$out', Linux prints '$(build/kolibra --version)'"
  finish "$out" || true

  begin "kolibra.com convert (bytes as on Linux)"
  printf '%s' "$receipt" >"$run/convert.txt"
  scripts/wine-run.sh build-win64/kolibra.com convert "$run/convert.txt" >"$run/convert.win" 2>&1 </dev/null ||
    fail "exit status $?"
  build/kolibra convert "$run/convert.txt" >"$run/convert.linux" 2>&1 || true
  cmp -s "$run/convert.win" "$run/convert.linux" || fail "printed $(shown "$run/convert.win")"
  finish || true
}

e2e_t=$(now)
if [ "$win64_ok" -eq 1 ] && [ "$wine_ok" -eq 1 ] && [ -x build/kolibra-ecr-sim ]; then
  version_check
  echo "== end to end under Wine: TCP"
  e2e tcp
  echo "== end to end under Wine: COM1"
  e2e com1
  echo "== kolibra ctl under Wine"
  t=$(now)
  logged "$run/ctl.log" bash scripts/test-windows-ctl.sh "$run/ctl" &&
    record "kolibra ctl (named pipe)" PASS "$(since "$t")" "$(grep -c '^   PASS' "$run/ctl.log") rows" ||
    record "kolibra ctl (named pipe)" FAIL "$(since "$t")" "$(grep -m1 '^   FAIL' "$run/ctl.log")"
  echo "== the operator window under Wine"
  t=$(now)
  if logged "$run/gui.log" bash scripts/test-windows-gui.sh build-win64; then
    record "operator window" PASS "$(since "$t")" "$(grep -c '^   PASS' "$run/gui.log" || true) checks; screenshots in build-win64/screenshots"
    t=$(now)
    if logged "$run/pictures.log" bash scripts/screenshots.sh build-win64/screenshots --check; then
      record "manual's pictures" PASS "$(since "$t")" "doc/images/ current"
    else
      record "manual's pictures" FAIL "$(since "$t")" "$(grep -m1 stale "$run/pictures.log")"
    fi
  else
    record "operator window" FAIL "$(since "$t")" "see $run/gui.log"
  fi
  echo "== the Windows packages (install, receipt, upgrade, uninstall) in a fresh prefix"
  t=$(now)
  if logged "$run/msi.log" bash scripts/test-windows-msi.sh; then
    record "MSI packages" PASS "$(since "$t")" "$(grep -c '^   PASS' "$run/msi.log" || true) checks; $(sed -n 's/^   PASS  build-msi.sh: //p' "$run/msi.log")"
  else
    record "MSI packages" FAIL "$(since "$t")" "see $run/msi.log"
  fi
else
  record "end to end" FAIL 0 "not run: a build or Wine failed"
fi
e2e_s=$(since "$e2e_t")

bench_status=0
if [ "$bench" -eq 1 ]; then
  if [ "$win64_ok" -eq 1 ] && [ "$wine_ok" -eq 1 ]; then
    echo "== benchmarks"
    bash scripts/bench-windows.sh || bench_status=$?
  else
    echo "== benchmarks not run: no 64-bit kolibra.exe or no Wine" >&2
    bench_status=1
  fi
fi

# ---------------------------------------------------------------- results
echo
echo "Windows results (end to end: ${e2e_s}s)"
printf '%-44s %-5s %7s  %s\n' "step" "" "seconds" "notes"
for i in "${!names[@]}"; do
  printf '%-44s %-5s %7s  %s\n' "${names[$i]}" "${states[$i]}" "${times[$i]}" "${notes[$i]}"
done
[ "$failed" -eq 0 ] && [ "$bench_status" -eq 0 ]
