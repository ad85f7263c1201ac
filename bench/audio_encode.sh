#!/usr/bin/env bash
# Encode speed of zafencoder as a multiple of real time (60 s inputs), with
# one thread and with all threads, peak memory, and the SNR of the decoded
# stream against the input (zafdecode). Needs the release build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
enc="$bin/audio/zafencoder"
dec="$bin/audio/zafdecode"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
python3 - "$work" <<'PY'
import math, random, struct, sys, wave
d = sys.argv[1]
def make(name, rate, ch, seconds):
    r = random.Random(7)
    frames = bytearray()
    for i in range(rate * seconds):
        t = i / rate
        for c in range(ch):
            v = 0.3 * math.sin(2 * math.pi * (220 * (c + 1)) * t) + 0.2 * math.sin(2 * math.pi * 3150 * t) \
                + 0.05 * (r.random() * 2 - 1)
            frames += struct.pack("<h", int(v * 32767))
    with wave.open(f"{d}/{name}.wav", "wb") as w:
        w.setnchannels(ch); w.setsampwidth(2); w.setframerate(rate); w.writeframes(bytes(frames))
make("s44", 44100, 2, 60)
make("s48", 48000, 2, 60)
make("m44", 44100, 1, 60)
PY
snr() {
python3 - "$1" "$2" <<'PY'
import math, struct, sys, wave
a = wave.open(sys.argv[1]); b = wave.open(sys.argv[2])
n = min(a.getnframes(), b.getnframes()) * a.getnchannels()
x = struct.unpack(f"<{n}h", a.readframes(a.getnframes())[:2 * n])
y = struct.unpack(f"<{n}h", b.readframes(b.getnframes())[:2 * n])
s = sum(v * v for v in x); e = sum((u - v) ** 2 for u, v in zip(x, y))
print(f"{10 * math.log10(s / e):.1f}" if e else "inf")
PY
}
run() {  # label threads input options...
  local label="$1" threads="$2" input="$3"; shift 3
  local t0 t1 mem
  t0=$(date +%s.%N)
  mem=$( { ZAF_THREADS=$threads /usr/bin/time -f "%M" "$enc" "$@" "$work/$input.wav" "$work/out.zaf" >/dev/null 2>"$work/err"; } 2>&1; tail -1 "$work/err" | tr "\r" "\n" | tail -1)
  t1=$(date +%s.%N)
  local speed
  speed=$(python3 -c "print(f'{60/($t1-$t0):.1f}')")
  "$dec" "$work/out.zaf" "$work/out.wav" >/dev/null
  echo "$label: threads=$threads speed=${speed}x realtime peak_rss=${mem}KiB snr=$(snr "$work/$input.wav" "$work/out.wav")dB"
}
all=$(nproc)
run "44.1k stereo default" 1 s44
run "44.1k stereo default" "$all" s44
run "48k stereo 256k" 1 s48 -b 256
run "48k stereo 256k" "$all" s48 -b 256
run "44.1k mono 128k" 1 m44 -b 128
