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
# through; -t: tbl; -ww: every warning; -P-e: every font embedded, so that the
# manual looks the same on every machine. Page numbers of the contents restart
# at 1 after the contents pages. A pass reports the headings and their pages
# on stderr as "KTOC <level> <page> <number> <title>"; a pass with an empty
# contents list lays the pages out differently from one with the full list,
# so the passes go on until the pages a pass reports are the ones its contents
# listed.
pdf_args=(-k -K utf8 -t -mspdf -Tpdf -P-e -dpaper=a4 -P-pa4 -dversion="$version")

pass() {  # OUT_PDF: one run of groff with the current contents list
  groff "${pdf_args[@]}" -dtoc="$tmp/toc.ms" "$src" >"$1" 2>"$tmp/pass.err"
  grep -v '^KTOC ' "$tmp/pass.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
  grep '^KTOC ' "$tmp/pass.err" >"$tmp/headings.new" || true
}
settled=0
for _ in 1 2 3 4; do
  pass "$tmp/mankolibra.pdf"
  [ -s "$tmp/headings.new" ] || { echo "manual.sh: no headings found in $src" >&2; exit 1; }
  if cmp -s "$tmp/headings.new" "$tmp/headings"; then settled=1; break; fi
  mv "$tmp/headings.new" "$tmp/headings"
  while read -r _ level page number title; do
    indent=$(( (level - 1) * 3 ))
    # Each entry a link to its heading's destination ("h" and the number).
    printf '.XS %s %sn\n.pdfhref L -D h%s -- %s\\ \\ %s\n.XE\n' \
      "$page" "$indent" "${number%.}" "$number" "$title"
  done <"$tmp/headings" >"$tmp/toc.ms"
done
[ "$settled" = 1 ] || { echo "manual.sh: the contents' page numbers do not settle" >&2; exit 1; }
mv "$tmp/mankolibra.pdf" "$out/mankolibra.pdf"

# The plain-text rendering: no bold or underline sequences, blank lines
# squeezed.
groff -k -K utf8 -t -ms -Tutf8 -P-cbou -dversion="$version" -dtoc=/dev/null "$src" \
  2>"$tmp/text.err" | cat -s >"$tmp/mankolibra.txt"
grep -v '^KTOC ' "$tmp/text.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
mv "$tmp/mankolibra.txt" "$out/mankolibra.txt"
echo "manual.sh: $out/mankolibra.pdf"
