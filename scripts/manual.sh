#!/usr/bin/env bash
# Builds the user manual from doc/mankolibra.ms with groff (ms macros, tbl,
# preconv for the UTF-8 source):
#   OUT_DIR/mankolibra.pdf  the manual, A4, with its table of contents and
#                           PDF bookmarks
#   OUT_DIR/mankolibra.txt  the same text rendered as plain UTF-8, one long
#                           page; the catalogue test reads it
# Usage: bash scripts/manual.sh [OUT_DIR [VERSION]]   (default: build)
# VERSION is the program's, major.minor.0.revision; without it, the one a
# configured build folder OUT_DIR holds in version.txt.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build}
src=$root/doc/mankolibra.ms

command -v groff >/dev/null || { echo "manual.sh: groff is missing (apt-get install groff)" >&2; exit 1; }
mkdir -p "$out"

version=${2:-}
if [ -z "$version" ]; then
  [ -f "$out/version.txt" ] ||
    { echo "manual.sh: no version: give it, or configure the build folder $out first (cmake -S . -B ...)" >&2; exit 1; }
  version=$(<"$out/version.txt")
fi
[[ $version =~ ^[0-9]+\.[0-9]+\.0\.[0-9]+$ ]] || { echo "manual.sh: bad version '$version'" >&2; exit 1; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: >"$tmp/toc.ms"
: >"$tmp/index.ms"

# -k -K utf8: preconv reads the source as UTF-8, so accented letters come
# through; -t: tbl; -ww: every warning; -P-e: every font embedded, so that the
# manual looks the same on every machine. Page numbers of the contents restart
# at 1 after the contents pages. A pass reports the headings and their pages
# on stderr as "KTOC <level> <page> <number> <title>"; a pass with an empty
# contents list lays the pages out differently from one with the full list,
# so the passes go on until the pages a pass reports are the ones its contents
# listed.
pdf_args=(-k -K utf8 -t -mspdf -Tpdf -P-e -dpaper=a4 -P-pa4 -dversion="$version")

# The screenshots doc/images/NAME.png, each wrapped as a PDF page that groff
# embeds, and their sizes in pixels for the manual's .PIC.
: >"$tmp/images.ms"
for png in "$root"/doc/images/*.png; do
  [ -e "$png" ] || continue
  name=$(basename "$png" .png)
  perl "$root/scripts/png2pdf.pl" "$png" "$tmp/$name.pdf"
  od -An -tu1 -j16 -N8 "$png" | awk -v n="$name" '{
    printf ".nr img-w-%s %d\n.nr img-h-%s %d\n", n, $1 * 16777216 + $2 * 65536 + $3 * 256 + $4,
           n, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }' >>"$tmp/images.ms"
done

pass() {  # OUT_PDF: one run of groff with the current contents and index
  groff "${pdf_args[@]}" -dtoc="$tmp/toc.ms" -dindex="$tmp/index.ms" -dimgdir="$tmp" "$src" >"$1" 2>"$tmp/pass.err"
  grep -v '^K\(TOC\|IDX\) ' "$tmp/pass.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
  grep '^K\(TOC\|IDX\) ' "$tmp/pass.err" >"$tmp/headings.new" || true
}

# The index: "KIDX <page>|<group>|<entry>" lines become, per group in the
# order of its first entry, its entries (codes in order, the rest
# alphabetically, the «» quotes ignored), each with a leader to its pages.
make_index() {
  awk -F'|' '
    { page = substr($1, 6); g = $2; e = $3
      if (!(g in seen)) { seen[g] = 1; groups[++ng] = g }
      key = g SUBSEP e
      if (!(key in pages)) { pages[key] = page; entries[g] = entries[g] SUBSEP e }
      else if (("," pages[key] ",") !~ ("," page ",")) pages[key] = pages[key] ", " page }
    END {
      for (i = 1; i <= ng; i++) {
        g = groups[i]; n = split(substr(entries[g], 2), list, SUBSEP)
        for (a = 1; a <= n; a++) { sortkey[a] = list[a]; gsub(/\\\[u00(AB|BB)\]/, "", sortkey[a]) }
        for (a = 2; a <= n; a++) for (b = a; b > 1 && tolower(sortkey[b - 1]) > tolower(sortkey[b]); b--) {
          t = list[b]; list[b] = list[b - 1]; list[b - 1] = t
          t = sortkey[b]; sortkey[b] = sortkey[b - 1]; sortkey[b - 1] = t }
        printf ".SH 3\n%s\n.LP\n.nf\n.ta \\n[.l]uR\n", g
        for (a = 1; a <= n; a++) printf "%s\\a\t%s\n", list[a], pages[g SUBSEP list[a]]
        printf ".fi\n"
      }
    }' <(grep '^KIDX ' "$tmp/headings")
}
settled=0
for _ in 1 2 3 4; do
  pass "$tmp/mankolibra.pdf"
  [ -s "$tmp/headings.new" ] || { echo "manual.sh: no headings found in $src" >&2; exit 1; }
  if cmp -s "$tmp/headings.new" "$tmp/headings"; then settled=1; break; fi
  mv "$tmp/headings.new" "$tmp/headings"
  make_index >"$tmp/index.ms"
  while read -r _ level page number title; do
    indent=$(( (level - 1) * 3 ))
    # Each entry a link to its heading's destination ("h" and the number).
    # An entry without a number ("-") shows its title alone.
    label="$number\\ \\ $title"
    [ "$number" = - ] && label=$title
    printf '.XS %s %sn\n.pdfhref L -D h%s -- %s\n.XE\n' "$page" "$indent" "${number%.}" "$label"
  done < <(grep '^KTOC ' "$tmp/headings") >"$tmp/toc.ms"
done
[ "$settled" = 1 ] || { echo "manual.sh: the contents' page numbers do not settle" >&2; exit 1; }
mv "$tmp/mankolibra.pdf" "$out/mankolibra.pdf"

# The plain-text rendering: no bold or underline sequences, blank lines
# squeezed.
groff -k -K utf8 -t -ms -Tutf8 -P-cbou -dversion="$version" -dtoc=/dev/null "$src" \
  2>"$tmp/text.err" | cat -s >"$tmp/mankolibra.txt"
grep -v '^K\(TOC\|IDX\) ' "$tmp/text.err" >&2 && { echo "manual.sh: groff warnings (above)" >&2; exit 1; }
mv "$tmp/mankolibra.txt" "$out/mankolibra.txt"
echo "manual.sh: $out/mankolibra.pdf"
