#!/usr/bin/env bash
# Builds the packages into dist/ (or OUT_DIR), installing the Debian packages
# the builds need:
#   kolibra_<version>_amd64.deb   Debian 12: the programs, the man pages, the
#                                 manual and the systemd service kolibra.service
#   kolibra-<version>-x86.msi     Windows, per machine: the 32-bit programs
#                                 (the package shops install)
#   kolibra-<version>-x64.msi     the same package with the 64-bit programs
# The version is the program's own (project() in CMakeLists.txt).
#
#   bash scripts/package.sh [OUT_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-dist}
mkdir -p "$out"
bash packaging/debian/build-deb.sh "$out"
bash packaging/windows/build-msi.sh "$out"
echo "== packages in $out"
ls -l "$out"
