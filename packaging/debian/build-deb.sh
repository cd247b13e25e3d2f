#!/usr/bin/env bash
# Builds the Debian package OUT_DIR/kolibra_<version>_amd64.deb: a Release
# build in build-deb/ with the package's folders as the programs' defaults,
# stripped programs, manual pages, the manual, the systemd service and the
# maintainer scripts of packaging/debian/. The package is native (its
# version is the program's), so its changelog is changelog.gz.
# Usage: bash packaging/debian/build-deb.sh OUT_DIR
set -euo pipefail
umask 022
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/packaging/debian
[ $# -eq 1 ] || { echo "usage: build-deb.sh OUT_DIR" >&2; exit 2; }
mkdir -p "$1"
out=$(cd "$1" && pwd)

maintainer="Kolibra maintainers <maintainers@users.noreply.c-seed-07d61d2f.example>"
# Reproducible dates: the last commit's, or now outside a git checkout.
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct 2>/dev/null || date +%s)}
export SOURCE_DATE_EPOCH=$epoch

build=$root/build-deb
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# The package's folders are the programs' defaults (never /usr/bin).
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKOLIBRA_TESTS=OFF \
  -DKOLIBRA_BENCH=OFF -DKOLIBRA_PACKAGE_FOLDERS=ON "${launcher[@]}" >/dev/null
# The one version of the program, major.minor.0.revision, as the build has it.
version=$(<"$build/version.txt")
[[ $version =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] || { echo "build-deb.sh: bad version '$version'" >&2; exit 1; }
cmake --build "$build" --target kolibra kolibra-ecr-sim manual >"$build/build-deb.log" 2>&1 ||
  { cat "$build/build-deb.log" >&2; exit 1; }

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg=$stage/kolibra
doc=$pkg/usr/share/doc/kolibra
install -d -m 0755 "$pkg/DEBIAN" "$pkg/usr/bin" "$pkg/usr/share/man/man1" "$doc/examples" \
  "$pkg/lib/systemd/system" "$pkg/etc/default"
for prog in kolibra kolibra-ecr-sim; do
  install -m 0755 "$build/$prog" "$pkg/usr/bin/$prog"
  strip --strip-unneeded --remove-section=.comment --remove-section=.note "$pkg/usr/bin/$prog"
  gzip -9n <"$root/doc/$prog.1" >"$pkg/usr/share/man/man1/$prog.1.gz"
done
install -m 0644 "$build/mankolibra.pdf" "$here/copyright" "$doc/"
install -m 0644 "$here/data-dir.conf" "$doc/examples/"
changelog_date=$(date -R -u -d "@$epoch")
sed -e "s/@VERSION@/$version/" -e "s/@MAINTAINER@/$maintainer/" -e "s/@DATE@/$changelog_date/" \
  "$here/changelog.in" | gzip -9n >"$doc/changelog.gz"
chmod 0644 "$doc/changelog.gz" "$pkg"/usr/share/man/man1/*.gz
install -m 0644 "$here/kolibra.service" "$pkg/lib/systemd/system/"
install -m 0644 "$here/kolibra.default" "$pkg/etc/default/kolibra"
install -m 0755 "$here/postinst" "$here/prerm" "$here/postrm" "$pkg/DEBIAN/"
echo /etc/default/kolibra >"$pkg/DEBIAN/conffiles"

# The shared libraries the programs need, as dpkg-shlibdeps finds them (it
# wants a debian/control in its working folder).
mkdir -p "$stage/debian"
printf 'Source: kolibra\n\nPackage: kolibra\nArchitecture: amd64\n' >"$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O kolibra/usr/bin/kolibra kolibra/usr/bin/kolibra-ecr-sim 2>/dev/null |
  sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "build-deb.sh: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
size=$(du -sk --exclude=DEBIAN "$pkg" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@MAINTAINER@/$maintainer/" -e "s/@SIZE@/$size/" \
  -e "s/@DEPENDS@/$depends/" "$here/control.in" >"$pkg/DEBIAN/control"
(cd "$pkg" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) \
  >"$pkg/DEBIAN/md5sums"
chmod 0644 "$pkg/DEBIAN/control" "$pkg/DEBIAN/conffiles" "$pkg/DEBIAN/md5sums"
find "$pkg" -exec touch -h -d "@$epoch" {} +

deb=$out/kolibra_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$pkg" "$deb" >/dev/null
echo "build-deb.sh: $deb ($(du -k "$deb" | cut -f1) KiB)"
