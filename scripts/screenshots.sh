#!/usr/bin/env bash
# The manual's pictures of the Windows program, taken by the WineWindow
# tests of tests/e2e under Wine (BUILD_DIR/screenshots/), cut to
# what each shows and kept as doc/images/NAME.png (8-bit RGB, read by
# scripts/manual.sh; the Linux build needs neither Wine nor ImageMagick).
#   bash scripts/screenshots.sh SHOTS_DIR           refresh doc/images/
#   bash scripts/screenshots.sh SHOTS_DIR --check   fail if one is stale
# A picture is stale when its size changed or more than 2% of its pixels
# differ (the data folder's path and the clock differ from run to run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
shots=${1:?usage: screenshots.sh SHOTS_DIR [--check]}
check=0
[ "${2:-}" = --check ] && check=1
command -v convert >/dev/null || { echo "screenshots.sh: ImageMagick is missing" >&2; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# NAME and how to cut it from the 1024x768 desktop: the windows are cut out
# of the desktop's plain background (the taskbar at the bottom first taken
# off); the tray menu is the desktop's bottom-right corner; the closing
# notice is the box the program centres on the screen.
cut() {  # NAME OUT
  case "$1" in
    tray-popup) convert "$shots/$1.png" -gravity southeast -crop 240x80+0+0 +repage -strip "PNG24:$2" ;;
    # The closing notice alone: the window behind it depends on timing, and
    # its place on the desktop too (centred in the work area, which Wine's
    # taskbar may or may not have taken yet): it is looked for up to 10
    # pixels either way across and 20 up or down of where it usually is.
    closing)
      local x=10 y=20 found
      convert "$shots/$1.png" -crop 373x102+326+323 +repage "$tmp/region.png"
      if [ -f "$root/doc/images/closing.png" ]; then
        found=$(compare -metric RMSE -dissimilarity-threshold 1 -subimage-search "$tmp/region.png" \
          "$root/doc/images/closing.png" null: 2>&1 | sed -n 's/.* @ \([0-9]*\),\([0-9]*\).*/\1 \2/p' || true)
        [ -n "$found" ] && read -r x y <<<"$found"
      fi
      convert "$tmp/region.png" -crop "353x62+$x+$y" +repage -strip "PNG24:$2" ;;
    *) convert "$shots/$1.png" -gravity south -chop 0x30 -fuzz 3% -trim +repage -strip "PNG24:$2" ;;
  esac
}

stale=0
for name in main splash tray-popup about closing; do
  [ -f "$shots/$name.png" ] || { echo "screenshots.sh: $shots/$name.png is missing" >&2; exit 1; }
  cut "$name" "$tmp/$name.png"
  kept=$root/doc/images/$name.png
  if [ "$check" = 0 ]; then
    cp "$tmp/$name.png" "$kept"
    continue
  fi
  size_new=$(identify -format '%wx%h' "$tmp/$name.png")
  size_kept=$(identify -format '%wx%h' "$kept" 2>/dev/null || echo none)
  if [ "$size_new" != "$size_kept" ]; then
    echo "stale picture $name: $size_kept, now $size_new" >&2
    stale=1
    continue
  fi
  differ=$(compare -metric AE -fuzz 5% "$tmp/$name.png" "$kept" null: 2>&1 || true)
  total=$(( ${size_new%x*} * ${size_new#*x} ))
  if [ "${differ%.*}" -gt $(( total / 50 )) ]; then
    echo "stale picture $name: $differ of $total pixels differ" >&2
    stale=1
  fi
done
if [ "$stale" = 1 ]; then
  echo "screenshots.sh: refresh with 'bash scripts/screenshots.sh $shots' and commit doc/images/" >&2
  exit 1
fi
[ "$check" = 1 ] && echo "screenshots.sh: the manual's pictures are current" || echo "screenshots.sh: doc/images/ refreshed"
