#!/usr/bin/env bash
# Draws the Windows program's icons with ImageMagick: a receipt printer with
# a receipt coming out, blue-grey when idle (res/win32/kolibra.ico) and green
# with a lit lamp while a job runs (res/win32/kolibra_run.ico). Each file holds
# 256, 48, 32 and 16 pixel images. Run again after changing the drawing and
# commit the .ico files.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v convert >/dev/null || { echo "needs ImageMagick's convert (apt-get install imagemagick)"; exit 1; }

# draw <output> <body colour> <body edge colour> <lamp colour>
draw() {
  convert -size 256x256 xc:none \
    -fill '#ffffff' -stroke '#404040' -strokewidth 8 -draw 'rectangle 64,12 192,160' \
    -stroke '#505050' -strokewidth 12 \
    -draw 'line 88,48 168,48' -draw 'line 88,82 168,82' -draw 'line 88,116 144,116' \
    -fill "$2" -stroke "$3" -strokewidth 10 -draw 'roundrectangle 14,124 242,238 26,26' \
    -fill '#10161e' -stroke none -draw 'rectangle 50,142 206,158' \
    -fill "$4" -stroke '#10161e' -strokewidth 6 -draw 'circle 196,196 196,224' \
    -strip -depth 8 -define png:exclude-chunks=date,time \
    -define icon:auto-resize=256,48,32,16 "$1"
}

draw res/win32/kolibra.ico '#5a6e8c' '#2a3446' '#8a9099'
draw res/win32/kolibra_run.ico '#2e9a48' '#175a28' '#b6ff3a'
echo "wrote res/win32/kolibra.ico and res/win32/kolibra_run.ico"
