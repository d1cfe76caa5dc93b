#!/usr/bin/env bash
# Draws the application icon (icon 128): a photo print, a small landscape with a sun
# on a white sheet, lying on a second sheet. Each size is drawn at four times its size
# on a 64-unit grid and scaled down, so edges stay smooth.
# Usage: res/icon/make-icon.sh   (writes pvprint-16.png, pvprint-32.png, pvprint-48.png
# next to this script; needs ImageMagick's convert)
set -euo pipefail
cd "$(dirname "$0")"

draw() {  # draw SIZE
  local size=$1 big=$(( $1 * 4 ))
  local scale
  scale=$(awk -v b="$big" 'BEGIN { printf "%.4f", b / 64 }')
  convert -size "${big}x${big}" xc:none \
    -draw "scale $scale,$scale
           stroke #5a6470 stroke-width 1.5
           fill #dfe4ea
           push graphic-context
             translate 30,30 rotate -14
             rectangle -22,-18 22,20
           pop graphic-context
           fill white
           rectangle 12,16 58,58
           stroke none
           fill #4a90d9 rectangle 17,21 53,47
           fill #ffd23f circle 44,28 44,32.5
           fill #3f9b4f polygon 17,47 17,39 27,31 36,40 42,35 53,44 53,47
           fill #2f7a3c polygon 17,47 30,38 41,47" \
    -filter Lanczos -resize "${size}x${size}" \
    -depth 8 -define png:exclude-chunks=date,time -strip \
    "pvprint-${size}.png"
}

for size in 16 32 48; do
  draw "$size"
done
echo "wrote $(pwd)/pvprint-16.png pvprint-32.png pvprint-48.png"
