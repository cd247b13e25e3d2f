#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need, if missing,
# with their recommended packages (groff's perl runs the manual's PDF step).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/need-packages.sh --with-recommends cmake ninja-build g++ googletest libgtest-dev libgmock-dev \
  libbenchmark-dev clang-14 libclang-rt-14-dev groff ghostscript poppler-utils gcovr
