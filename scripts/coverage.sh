#!/usr/bin/env bash
# Measures the line coverage of src/ (outside src/platform/win32/, which the
# Linux suite does not run): configures a Debug build with --coverage in
# BUILD_DIR (default: build-coverage), builds it, runs the whole test suite and
# prints gcovr's summary. The per-file table goes to BUILD_DIR/coverage.txt.
# Usage: bash scripts/coverage.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-coverage}
mkdir -p "$build"
build=$(cd "$build" && pwd)

command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is missing (apt-get install gcovr)" >&2; exit 1; }

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage \
  -DKOLIBRA_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build "$build"

# Counts from an earlier run would add to this one's.
find "$build" -name '*.gcda' -delete
status=0
ctest --test-dir "$build" -j2 --output-on-failure || status=$?

gcovr --root "$root" --object-directory "$build" \
  --filter "$root/src/" --exclude "$root/src/platform/win32/" \
  --print-summary --output "$build/coverage.txt" 2>/dev/null |
  grep -E '^(lines|functions|branches):' || true
echo "per-file table: $build/coverage.txt"
if [ "$status" -ne 0 ]; then
  echo "coverage.sh: some tests failed" >&2
fi
exit "$status"
