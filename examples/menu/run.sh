#!/bin/bash
# Compiles the menu example (three screens of items with strings, colours,
# angles, counted child lists, pointer lists, a key-map byte block and an
# embedded logo file) into one binary image and prints its chunks. Then
# compiles instance.defs.atr, the same menu with the screen ids, layers and
# actions named by the enum header menu_ids.h, and checks that it gives the
# very same image.
set -e
here="$(cd "$(dirname "$0")" && pwd)"
out="${LUMIVOR_OUT:-$here/out}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
# The instance names its logo file relative to the example's folder.
cd "$here"
lumivor bundle instance.atr template.atr -o "$out/menu.bin" --code MENU
echo "image: $out/menu.bin ($(stat -c %s "$out/menu.bin") bytes, sha256 $(sha256sum "$out/menu.bin" | cut -c1-16)...)"
lumivor bundle instance.defs.atr template.atr -o "$out/menu.defs.bin" --code MENU --defs menu_ids.h > /dev/null
cmp "$out/menu.bin" "$out/menu.defs.bin"
echo "instance.defs.atr with menu_ids.h: the same image"
