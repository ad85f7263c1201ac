#!/usr/bin/env bash
# Reduces two small sample images: a shared 64-colour palette (dithered), a
# 16-colour palette with transparency, and the three 16-bit pixel formats.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${LUMIVOR_OUT:?}/reduce"
mkdir -p "$out"
echo "-- 64 shared colours, dithered"
lumivor reduce "$here/icons.png" "$here/coffee.png" -o "$out/palette64" --colors 64
echo "-- 16 colours, index 0 transparent, no dithering"
lumivor reduce "$here/icons.png" -o "$out/palette16" --colors 16 --transparent --no-dither
for f in rgb565 rgba4444 rgba5551; do
  echo "-- $f"
  lumivor reduce "$here/icons.png" -o "$out/$f" --format "$f"
done
echo "reduce outputs are in $out"
