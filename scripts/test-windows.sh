#!/usr/bin/env bash
# The Windows program, built and tested on Linux:
#  - cross-builds build-win32/ and build-win64/ with mingw-w64: kolibra.exe
#    (the GUI program shops start: no console), kolibra.com (the same
#    program for the command line), and for 64 bits the unit tests and
#    win-probe.exe; checks that each program imports only system DLLs,
#    carries the program's version in its version resource and has its
#    subsystem;
#  - sets up Wine on a virtual X display: the 64-bit build's prefix, with
#    COM1 mapped to the ECR simulator's pseudo-terminal and COM5 and COM6 to
#    the two ends of a socat pair, and a prefix with Wine's desktop and tray;
#  - runs the unit tests under Wine (ctest in build-win64/), then the
#    end-to-end tests of the Windows programs (the Wine tests of ctest in
#    build/, tests/e2e), and checks the manual's pictures they took;
#  - installs, upgrades and removes the packages (scripts/test-windows-msi.sh);
#    with --bench, runs scripts/bench-windows.sh.
# 32-bit programs cannot run on these machines: the 32-bit build is built and
# its imports checked. Exits non-zero when a step fails.
#
#   bash scripts/test-windows.sh [--bench]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/wine-lib.sh
. scripts/wine-lib.sh
case "${1:-}" in
  "" | --bench) ;;
  *) echo "usage: bash scripts/test-windows.sh [--bench]" >&2; exit 2 ;;
esac

bash scripts/setup.sh
bash scripts/need-packages.sh g++-mingw-w64-i686 g++-mingw-w64-x86-64 googletest \
  wine wine64 fonts-wine xvfb socat imagemagick wixl msitools

run=$(mktemp -d /tmp/kolibra-windows.XXXXXX)
trap_exit
# One step: its output in RUN/NAME.log, and the log's end when it fails.
step() {  # NAME CMD...
  local name=$1 t=$SECONDS; shift
  if "$@" >"$run/$name.log" 2>&1; then
    pass "$name ($((SECONDS - t)) s)"
  else
    fail_line "$name: see $run/$name.log"
    tail -n 40 "$run/$name.log" >&2
  fi
}

# GoogleTest cross-built once per build folder with the same toolchain.
gtest_for() {  # BUILD-DIR TOOLCHAIN
  [ -f "$1/_deps/gtest-install/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  cmake -S /usr/src/googletest -B "$1/_deps/gtest-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$2" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$1/_deps/gtest-install" -DBUILD_GMOCK=ON \
    -DINSTALL_GTEST=ON && cmake --build "$1/_deps/gtest-build" && cmake --install "$1/_deps/gtest-build"
}
build_win() {  # BITS ARCH [CMAKE OPTIONS...]
  local dir=build-win$1 tc=$root/cmake/toolchain-mingw-$2.cmake
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$tc" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DKOLIBRA_WERROR=ON "$@" && cmake --build "$dir"
}
build_linux() { cmake -S . -B build -G Ninja && cmake --build build --target kolibra kolibra-ecr-sim e2e_tests; }
build_win64() {
  gtest_for build-win64 "$root/cmake/toolchain-mingw-x86_64.cmake" &&
    build_win 64 x86_64 -DKOLIBRA_GTEST_PREFIX="$root/build-win64/_deps/gtest-install"
}
echo "== builds"
step linux-build build_linux
step win64-build build_win64
step win32-build build_win 32 i686 -DKOLIBRA_TESTS=OFF
[ "$failed" -eq 0 ] || exit 1

# Only DLLs every Windows has; anything else (libstdc++, libgcc,
# libwinpthread, ...) would have to ship beside the program. The version
# resource carries the version --version prints (UTF-16); the PE header's
# subsystem is "(Windows GUI)" or "(Windows CUI)".
system_dlls=" $(echo kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll ws2_32.dll msvcrt.dll comctl32.dll \
  comdlg32.dll ole32.dll oleaut32.dll shlwapi.dll version.dll winmm.dll uxtheme.dll imm32.dll winspool.drv) "
version=$(build/kolibra --version | awk '{ print $NF }')
imports() {  # EXE OBJDUMP SUBSYSTEM
  local headers dlls d
  headers=$("$2" -p "$1" | tr -d '\r')
  dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
  [ -n "$dlls" ] || { echo "no import table read"; return 1; }
  for d in $dlls; do [[ $system_dlls == *" ${d,,} "* ]] || { echo "not a system DLL: $d"; return 1; }; done
  grep -q "^Subsystem.*($3)\$" <<<"$headers" || { echo "subsystem not $3"; return 1; }
  strings -el "$1" | grep -xF "$version" >/dev/null || { echo "no version $version in its VERSIONINFO"; return 1; }
  echo "$dlls" | tr '\n' ' '
}
for b in 32:i686 64:x86_64; do
  step "win${b%%:*}-kolibra.exe-imports" imports "build-win${b%%:*}/kolibra.exe" "${b#*:}-w64-mingw32-objdump" "Windows GUI"
  step "win${b%%:*}-kolibra.com-imports" imports "build-win${b%%:*}/kolibra.com" "${b#*:}-w64-mingw32-objdump" "Windows CUI"
done

# Wine's background services are started with every output on /dev/null:
# whoever reads their output would wait for them.
echo "== Wine"
com1=$run/ttyCOM1
socat pty,raw,echo=0,link="$run/ttyCOM5" pty,raw,echo=0,link="$run/ttyCOM6" >"$run/socat.log" 2>&1 </dev/null &
pids+=($!)
start_display "$run" || { fail_line "Xvfb did not start"; exit 1; }
desktop=$run/desktop
more_prefixes=("$desktop")
desktop_prefix() {
  wine_env "$desktop"
  "$WINE" wineboot --init && "$WINESERVER" -w &&
    "$WINE" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f &&
    "$WINE" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f && "$WINESERVER" -w
}
ports() {
  local p
  wine_env "$root/build-win64/_wine"
  mkdir -p "$WINEPREFIX"
  "$WINESERVER" -k || true
  "$WINESERVER" -w
  for p in COM1:"$com1" COM5:"$run/ttyCOM5" COM6:"$run/ttyCOM6"; do
    "$WINE" reg add 'HKLM\Software\Wine\Ports' /v "${p%%:*}" /t REG_SZ /d "${p#*:}" /f || return 1
  done
  # A kept-alive server with its services (they map the ports).
  "$WINESERVER" -k || true
  "$WINESERVER" -w
  quiet "$WINESERVER" -p120 && quiet "$WINE" cmd /c exit 0 &&
    [ "$(readlink "$WINEPREFIX/dosdevices/com1")" = "$com1" ] && [ -e "$run/ttyCOM5" ] && [ -e "$run/ttyCOM6" ]
}
step wine-desktop-prefix desktop_prefix </dev/null
step wine-prefix-and-ports ports </dev/null
wine_env "$root/build-win64/_wine"

echo "== tests under Wine"
step unit-tests env KOLIBRA_TEST_COM_PAIR=5,6 ctest --test-dir build-win64 --output-on-failure -j2 --timeout 300
grep -E 'tests passed|\(Skipped\)$' "$run/unit-tests.log" || true
rm -rf build-win64/screenshots
step end-to-end env KOLIBRA_WINE_BUILD="$root/build-win64" KOLIBRA_WINE_COM1="$com1" KOLIBRA_WINE_DESKTOP="$desktop" \
  ctest --test-dir build -R '^Wine' --output-on-failure --timeout 600
grep -E 'tests passed' "$run/end-to-end.log" || true
step manual-pictures bash scripts/screenshots.sh build-win64/screenshots --check
step packages bash scripts/test-windows-msi.sh
if [ "${1:-}" = --bench ]; then bash scripts/bench-windows.sh || failed=1; fi
exit "$failed"
