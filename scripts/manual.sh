#!/usr/bin/env bash
# Builds the user manual from doc/mankolibra.ms with groff (ms macros, tbl,
# preconv for the UTF-8 source):
#   OUT_DIR/mankolibra.pdf  the manual, A4, with its table of contents and
#                           PDF bookmarks
#   OUT_DIR/mankolibra.txt  the same text rendered as plain UTF-8, one long
#                           page; the catalogue test reads it
# Usage: bash scripts/manual.sh [OUT_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build}
src=$root/doc/mankolibra.ms

command -v groff >/dev/null || { echo "manual.sh: groff is missing (apt-get install groff)" >&2; exit 1; }
mkdir -p "$out"

# The one version of the program, as --version prints it: major.minor.0.revision,
# read from a "#define KOLIBRA_VERSION_MAJOR 1" or a "kVersionMajor = 1;".
ver() {
  local n
  n=$(sed -n "s/^#define KOLIBRA_VERSION_$1 *\([0-9][0-9]*\).*/\1/p" "$root/src/core/version.h")
  [ -n "$n" ] || n=$(sed -n "s/.*kVersion$2 = \([0-9][0-9]*\);.*/\1/p" "$root/src/core/version.h")
  [ -n "$n" ] || { echo "manual.sh: no $2 version in src/core/version.h" >&2; exit 1; }
  echo "$n"
}
version="$(ver MAJOR Major).$(ver MINOR Minor).0.$(ver REVISION Revision)"
[[ $version =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] || { echo "manual.sh: bad version '$version'" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/toc.ms"

# -k -K utf8: preconv reads the source as UTF-8, so accented letters come
# through; -t: tbl; -ww: every warning. Page numbers of the contents restart
# at 1 after the contents pages, so the first pass (with an empty contents
# list) gives the pages of the second.
pdf_args=(-k -K utf8 -t -mspdf -Tpdf -dpaper=a4 -P-pa4 -dversion="$version")

# Pass 1: the headings and their pages, reported on stderr as
# "KTOC <level> <page> <number> <title>".
groff "${pdf_args[@]}" -dtoc="$tmp/toc.ms" "$src" >/dev/null 2>"$tmp/pass1.err"
grep -v '^KTOC ' "$tmp/pass1.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
while read -r _ level page number title; do
  indent=$(( (level - 1) * 3 ))
  printf '.XS %s %sn\n%s\\ \\ %s\n.XE\n' "$page" "$indent" "$number" "$title"
done < <(grep '^KTOC ' "$tmp/pass1.err") >"$tmp/toc.ms"
[ -s "$tmp/toc.ms" ] || { echo "manual.sh: no headings found in $src" >&2; exit 1; }

# Pass 2: the manual with its contents.
groff "${pdf_args[@]}" -dtoc="$tmp/toc.ms" "$src" >"$tmp/mankolibra.pdf" 2>"$tmp/pass2.err"
grep -v '^KTOC ' "$tmp/pass2.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
mv "$tmp/mankolibra.pdf" "$out/mankolibra.pdf"

# The plain-text rendering: no bold or underline sequences, blank lines
# squeezed.
groff -k -K utf8 -t -ms -Tutf8 -P-cbou -dversion="$version" -dtoc=/dev/null "$src" \
  2>"$tmp/text.err" | cat -s >"$tmp/mankolibra.txt"
grep -v '^KTOC ' "$tmp/text.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
mv "$tmp/mankolibra.txt" "$out/mankolibra.txt"
echo "manual.sh: $out/mankolibra.pdf"
