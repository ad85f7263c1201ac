#!/usr/bin/env bash
# Writes a few QR Code symbols with `lumivor qr` (bitmap plus a viewable PNG)
# and prints what was written.
set -euo pipefail
out="${LUMIVOR_OUT:?}/qr"
mkdir -p "$out"
lumivor qr "HELLO WORLD" -o "$out/hello.bmp" --png
lumivor qr "https://example.com/menu?page=2&focus=play" -o "$out/url.bmp" --png
lumivor qr "メニュー画面の設定" -o "$out/japanese.bmp" --png
lumivor qr "0123456789" --version 5 -o "$out/digits-v5.bmp" --png
ls -l "$out"
