#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine: the cross-compiling emulator of
# the x86_64 build (cmake/toolchain-mingw-x86_64.cmake), so that ctest runs
# the Windows tests. WINEPREFIX may be set by the caller (scripts/
# test-windows.sh sets its own); the default is a prefix of this user's.
set -euo pipefail

: "${WINEPREFIX:=${XDG_CACHE_HOME:-$HOME/.cache}/kolibra/wine64}"
export WINEPREFIX
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No prompts to install Mono or Gecko.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# shellcheck source=scripts/wine-lib.sh
. "$(dirname "$0")/wine-lib.sh"

# Wine's background services inherit the output of the program that starts
# them, and whoever reads that output (ctest) then waits for them to end. So
# when no server runs for this prefix, start a kept-alive one and its
# services with every output on /dev/null first. wineserver -p exits 0 when
# it started a server, non-zero when one is already running. The lock keeps
# two programs started at once from both doing it; the lock's descriptor is
# closed for the Wine processes, which outlive this script.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if "$WINESERVER" -p120 >/dev/null 2>&1 </dev/null 9>&-; then
    "$WINE" cmd /c exit 0 >/dev/null 2>&1 </dev/null 9>&- || true
  fi
) 9>"$WINEPREFIX/.kolibra-start.lock"

exec "$WINE" "$@"
