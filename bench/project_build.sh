#!/usr/bin/env bash
# lumivor build on a generated project of 2,000 assets (1,000 images, 400
# sounds, 400 scripts sharing one include, 200 bundles each embedding a file):
# the full build with -j 2, a rebuild with nothing changed, and a rebuild
# after touching one image (its time and the edges Ninja ran). Release build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
lumivor="$bin/cli/lumivor"
[ -x "$lumivor" ] || { echo "build the release preset first ($lumivor missing)"; exit 1; }
work="$(mktemp -d /tmp/lumivor-project-bench-XXXXXX)"
trap 'rm -rf "$work"' EXIT

python3 - "$work" "$root/examples/project" <<'PY'
import math, os, shutil, struct, sys, wave, zlib
work, example = sys.argv[1], sys.argv[2]
for d in ("images", "sounds", "scripts", "bundles"):
    os.makedirs(os.path.join(work, d))

def png(path, w, h, seed):
    rows = b"".join(b"\0" + bytes((x * 7 + y * 3 + seed) % 256 if c < 3 else 255
                                  for x in range(w) for c in range(4)) for y in range(h))
    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))

for i in range(1000):
    png(os.path.join(work, "images", "img%04d.png" % i), 32, 32, i)
for i in range(400):
    with wave.open(os.path.join(work, "sounds", "snd%04d.wav" % i), "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(22050)
        w.writeframes(b"".join(struct.pack("<h", int(8000 * math.sin(n * (0.05 + i * 0.001)))) for n in range(2205)))
shutil.copy(os.path.join(example, "script", "MenuInstruction.def"), os.path.join(work, "scripts"))
shutil.copy(os.path.join(example, "script", "keys.drs"), os.path.join(work, "scripts"))
for i in range(400):
    with open(os.path.join(work, "scripts", "s%04d.drs" % i), "w") as f:
        f.write('#instdef "MenuInstruction.def"\n#define SOUND_BEEP 2\nvariant g_focus = %d;\n'
                'module moveFocus(d) { g_focus = g_focus + d; }\nmodule openItem(i) { SetAlpha(i, 1.0); }\n'
                '#include "keys.drs"\n' % i)
for n in ("template.atr", "menu_ids.h"):
    shutil.copy(os.path.join(example, "menu", n), os.path.join(work, "bundles"))
text = open(os.path.join(example, "menu", "instance.atr"), "rb").read()
for i in range(200):
    open(os.path.join(work, "bundles", "logo%04d.bin" % i), "wb").write(bytes([i % 256]) * 40)
    open(os.path.join(work, "bundles", "i%04d.atr" % i), "wb").write(
        text.replace(b'"logo.bin"', b'"logo%04d.bin"' % i))
with open(os.path.join(work, "lumivor.atr"), "w") as m:
    m.write("<Project>\n")
    m.write('<Image input = "images/*.png", output = "images", colors = 64 />\n')
    m.write('<Sound input = "sounds/*.wav", output = "sounds" />\n')
    for i in range(400):
        m.write('<Script source = "scripts/s%04d.drs", output = "scripts/s%04d.bin", fixed = 12 />\n' % (i, i))
    for i in range(200):
        m.write('<Bundle instance = "bundles/i%04d.atr", template = "bundles/template.atr", '
                'output = "bundles/b%04d.bin", code = "MENU", defs = "bundles/menu_ids.h" />\n' % (i, i))
    m.write("</Project>\n")
PY

seconds() { local s e; s=$(date +%s.%N); "$@" > "$work/log.txt" 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc; }
echo "project_build full -j2: $(seconds "$lumivor" build -C "$work" -j 2) s, edges run: $(grep -o '\[[0-9]*/[0-9]*\]' "$work/log.txt" | tail -1)"
echo "project_build no-op: $(seconds "$lumivor" build -C "$work") s ($(tail -1 "$work/log.txt"))"
touch "$work/images/img0500.png"
echo "project_build one image: $(seconds "$lumivor" build -C "$work") s, edges run: $(grep -o '\[[0-9]*/[0-9]*\]' "$work/log.txt" | tail -1)"
touch "$work/scripts/keys.drs"
echo "project_build shared include: $(seconds "$lumivor" build -C "$work" -j 2) s, edges run: $(grep -o '\[[0-9]*/[0-9]*\]' "$work/log.txt" | tail -1)"
# The same bytes as the tools run one by one (one output of each kind).
enc="$bin/audio/zafencoder"
hand="$work/by-hand"
mkdir -p "$hand"
(cd "$work/bundles" && "$lumivor" bundle i0007.atr template.atr -o "$hand/b.bin" --code MENU --defs menu_ids.h) > /dev/null
(cd "$work/scripts" && "$lumivor" script s0007.drs --fixed 12 -o "$hand/s.bin") > /dev/null 2>&1
"$lumivor" reduce "$work/images/img0007.png" -o "$hand" --colors 64 > /dev/null
"$enc" "$work/sounds/snd0007.wav" "$hand/snd0007.zaf" > /dev/null 2>&1
same=0
cmp -s "$hand/b.bin" "$work/build/out/bundles/b0007.bin" && cmp -s "$hand/s.bin" "$work/build/out/scripts/s0007.bin" &&
  cmp -s "$hand/img0007.idx" "$work/build/out/images/img0007.idx" && cmp -s "$hand/img0007.pal" "$work/build/out/images/img0007.pal" &&
  cmp -s "$hand/snd0007.zaf" "$work/build/out/sounds/snd0007.zaf" && same=1
echo "project_build same bytes as the tools one by one: $([ $same = 1 ] && echo yes || echo NO)"
