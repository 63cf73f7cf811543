#!/usr/bin/env bash
# Draws the application icon (an SD card with a write arrow) at 256 x 256
# with ImageMagick and scales it to the sizes the window system asks for.
# The PNGs are committed; run this again only to change the drawing.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 256x256 xc:none \
  -fill '#1d4e89' -stroke '#0e2a4d' -strokewidth 8 \
  -draw 'polygon 40,12 168,12 216,60 216,236 40,236' \
  -stroke none -fill '#e8b923' \
  -draw 'rectangle 62,26 80,70' -draw 'rectangle 92,26 110,70' \
  -draw 'rectangle 122,26 140,70' -draw 'rectangle 152,34 170,70' \
  -fill '#ffffff' \
  -draw 'rectangle 108,96 148,160' \
  -draw 'polygon 78,156 178,156 128,214' \
  -strip icon-256.png
for size in 16 24 32 48 64 128; do
  convert icon-256.png -filter Lanczos -resize ${size}x${size} -strip icon-${size}.png
done
