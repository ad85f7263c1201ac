#!/bin/bash
# Compiles the menu script example (modules reacting to remote-control keys,
# a switch over DRS_VKEY_ codes, loops with synch, arrays, initialized
# globals, an #include, an enum, fixed-point reals and its own instruction
# table) and lists the compiled image.
set -e
here="$(cd "$(dirname "$0")" && pwd)"
# A folder of its own: other examples write a menu.bin too.
out="${LUMIVOR_OUT:-$here/out}/script"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
cd "$here"
lumivor script menu.drs -I "$here" --fixed 12 -o "$out/menu.bin"
echo "image: $out/menu.bin ($(stat -c %s "$out/menu.bin") bytes, sha256 $(sha256sum "$out/menu.bin" | cut -c1-16)...)"
lumivor script --dump "$out/menu.bin"
