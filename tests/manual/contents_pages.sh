#!/usr/bin/env bash
# Checks the rendered manual: every entry of its contents names the page on
# which that heading is printed (the page's own number, in its footer), every
# entry of its index names pages that hold that entry, and every font is
# embedded.
#   bash contents_pages.sh mankolibra.pdf
set -euo pipefail
pdf=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

pages=$(pdfinfo "$pdf" | awk '/^Pages:/ { print $2 }')
[ -n "$pages" ] || { echo "not a PDF: $pdf" >&2; exit 1; }
: >"$tmp/contents"
: >"$tmp/headings"
: >"$tmp/index"
for ((i = 1; i <= pages; i++)); do
  pdftotext -layout -f "$i" -l "$i" "$pdf" "$tmp/page"
  # The footer "– N –" gives the printed number; the contents pages have none.
  number=$(grep -v '^[[:space:]]*$' "$tmp/page" | tail -n 1 | sed -n 's/^[[:space:]]*– *\([0-9][0-9]*\) *–[[:space:]]*$/\1/p')
  if [ -z "$number" ]; then
    # "2.1. Che cosa si installa . . . .   2": number, title, page.
    sed -n 's/^\([0-9][0-9.]*\) \(.*[^ .]\)[ .]*  *\([0-9][0-9]*\)$/\1|\2|\3/p' "$tmp/page" >>"$tmp/contents"
  else
    sed -n 's/^[[:space:]]*\([0-9][0-9.]*\) \(.*\)$/\1|\2/p' "$tmp/page" | sed "s/^/$number|/" >>"$tmp/headings"
    sed 's/[«»]//g' "$tmp/page" >"$tmp/printed-$number"
    # The index: "«Abilita Trace» . . .   4, 7" after its heading.
    if [ -s "$tmp/index" ] || grep -q '^Indice analitico$' "$tmp/page"; then
      sed -n 's/^\(.*[^ .]\)[ .]*  *\([0-9][0-9, ]*\)$/\1|\2/p' "$tmp/page" >>"$tmp/index"
    fi
  fi
done

entries=0 wrong=0
while IFS='|' read -r num title listed; do
  entries=$((entries + 1))
  # The first page whose text begins a line with this number and title.
  printed=$(awk -F'|' -v n="$num" -v t="${title:0:20}" \
    '$2 == n && index($3, t) == 1 { print $1; exit }' "$tmp/headings")
  if [ "$printed" != "$listed" ]; then
    echo "contents: '$num $title' listed on page $listed, printed on page ${printed:-(not found)}" >&2
    wrong=$((wrong + 1))
  fi
done <"$tmp/contents"
[ "$entries" -gt 10 ] || { echo "contents: only $entries entries found" >&2; exit 1; }

indexed=0
while IFS='|' read -r term listed; do
  indexed=$((indexed + 1))
  plain=$(printf '%s' "$term" | sed 's/[«»]//g')
  for page in ${listed//,/ }; do
    if ! grep -qsF "$plain" "$tmp/printed-$page"; then
      echo "index: '$term' listed on page $page, not printed there" >&2
      wrong=$((wrong + 1))
    fi
  done
done <"$tmp/index"
[ "$indexed" -gt 5 ] || { echo "index: only $indexed entries found" >&2; exit 1; }

unembedded=$(pdffonts "$pdf" | awk 'NR > 2 && $(NF - 4) != "yes" { print $1 }')
[ -z "$unembedded" ] || { echo "fonts not embedded: $unembedded" >&2; wrong=$((wrong + 1)); }
[ "$wrong" -eq 0 ] && echo "contents: $entries entries, index: $indexed entries on their pages; fonts embedded"
