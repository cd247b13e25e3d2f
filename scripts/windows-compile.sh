#!/usr/bin/env bash
# Compiles every source outside the POSIX platform folder with the 64-bit
# mingw-w64 compiler (no link), so that the tree stays ready for the Windows
# program. Installs the compiler when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
CXX=x86_64-w64-mingw32-g++-posix
if ! command -v "$CXX" >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64
fi
failed=0
for f in $(find src -name '*.cpp' -not -path 'src/platform/posix/*' | sort); do
  if ! "$CXX" -std=c++20 -Wall -Wextra -Werror -Isrc -c "$f" -o /dev/null; then
    echo "does not compile for Windows: $f"
    failed=1
  fi
done
[ "$failed" -eq 0 ] && echo "every source outside src/platform/posix compiles for Windows"
exit "$failed"
