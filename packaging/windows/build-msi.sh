#!/usr/bin/env bash
# Builds the Windows packages from packaging/windows/kolibra.wxs with wixl:
#   OUT_DIR/kolibra-<version>-x86.msi  the 32-bit programs (build-win32/),
#                                      the package shops install
#   OUT_DIR/kolibra-<version>-x64.msi  the same package with the 64-bit
#                                      programs (build-win64/)
# The programs are built first (mingw-w64, configured as
# scripts/test-windows.sh does when the build folder is new), then stripped
# into a staging folder with the icon and the manual.
#
#   bash packaging/windows/build-msi.sh OUT_DIR [--version X.Y.0.W] [--arch x86|x64]
#
# The version is the program's (the build's version.txt); --version gives
# another one, for a test's upgrade package. Windows Installer compares only
# the first three fields of a product version, so the package's is
# major.minor.revision (the program's third field is always 0).
# --arch builds one package only.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

out="" version="" archs=(x86 x64)
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=${2:-}; shift 2 ;;
    --arch) archs=("${2:-}"); shift 2 ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "build-msi.sh: unknown option '$1' (try --help)" >&2; exit 2 ;;
    *) out=$1; shift ;;
  esac
done
[ -n "$out" ] || { echo "build-msi.sh: no OUT_DIR (try --help)" >&2; exit 2; }
for a in "${archs[@]}"; do
  [[ $a == x86 || $a == x64 ]] || { echo "build-msi.sh: --arch is x86 or x64, not '$a'" >&2; exit 2; }
done

# A version major.minor.0.revision, its fields in BASH_REMATCH; else exit 2.
check_version() {
  [[ $1 =~ ^([0-9]+)\.([0-9]+)\.0\.([0-9]+)$ ]] ||
    { echo "build-msi.sh: version '$1' is not X.Y.0.W" >&2; exit 2; }
}
[ -z "$version" ] || check_version "$version"

for tool in wixl groff; do
  command -v "$tool" >/dev/null ||
    { echo "build-msi.sh: $tool is missing (apt-get install wixl msitools groff)" >&2; exit 1; }
done

# The build folder of an architecture.
build_of() { [ "$1" = x86 ] && echo "$root/build-win32" || echo "$root/build-win64"; }
for arch in "${archs[@]}"; do
  build=$(build_of "$arch")
  if [ "$arch" = x86 ]; then
    toolchain="$root/cmake/toolchain-mingw-i686.cmake"
  else
    toolchain="$root/cmake/toolchain-mingw-x86_64.cmake"
  fi
  # Configured when new; built (or found up to date) every time, so that a
  # package never carries programs older than the sources.
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKOLIBRA_WERROR=ON -DKOLIBRA_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target kolibra kolibra-console
done

# The program's version, as its build has it (the manual's too).
program_version=$(<"$(build_of "${archs[0]}")/version.txt")
version=${version:-$program_version}
check_version "$version"
product_version="${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.${BASH_REMATCH[3]}"
# Where the versions a package replaces end (not included): its own version
# is replaced too, by a rebuilt package or the other architecture's.
upgrade_maximum="${BASH_REMATCH[1]}.${BASH_REMATCH[2]}.$((BASH_REMATCH[3] + 1))"

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage_root=$(mktemp -d)
trap 'rm -rf "$stage_root"' EXIT
bash "$root/scripts/manual.sh" "$stage_root/manual" "$program_version" >/dev/null

for arch in "${archs[@]}"; do
  build=$(build_of "$arch")
  if [ "$arch" = x86 ]; then triple=i686-w64-mingw32; else triple=x86_64-w64-mingw32; fi
  stage="$stage_root/$arch"
  mkdir -p "$stage"
  "$triple-strip" -o "$stage/kolibra.exe" "$build/kolibra.exe"
  "$triple-strip" -o "$stage/kolibra.com" "$build/kolibra.com"
  cp "$root/res/win32/kolibra.ico" "$stage/"
  cp "$stage_root/manual/mankolibra.pdf" "$stage/"
  msi="$out/kolibra-$version-$arch.msi"
  # wixl takes source files by names relative to the current folder.
  (cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
    -D ProductVersion="$product_version" -D UpgradeMaximum="$upgrade_maximum" -D Stage=. -o "$msi" "$root/packaging/windows/kolibra.wxs")
  echo "$msi ($(( $(stat -c %s "$msi") / 1024 )) KiB)"
done
