#!/usr/bin/env bash
# Installs those of the named Debian packages that are not installed yet
# (as root, or through sudo), waiting for another apt to finish. Without
# their recommended packages, unless --with-recommends comes first.
#
#   bash scripts/need-packages.sh [--with-recommends] PACKAGE...
set -euo pipefail
recommends=(--no-install-recommends)
if [ "${1:-}" = --with-recommends ]; then
  recommends=()
  shift
fi
missing=()
for p in "$@"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
echo "== installing ${missing[*]}"
apt="$sudo apt-get -o DPkg::Lock::Timeout=600"
$apt update -qq
DEBIAN_FRONTEND=noninteractive $apt install -y -qq "${recommends[@]}" "${missing[@]}" >/dev/null
