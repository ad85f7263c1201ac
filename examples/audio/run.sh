#!/usr/bin/env bash
# Encodes the sample WAV files into ZAF streams with zafencoder and prints
# the encoder's report for each.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${LUMIVOR_OUT:-/tmp/lumivor-out}/audio"
mkdir -p "$out"
enc="$(command -v zafencoder || true)"
if [ -z "$enc" ]; then
  enc="${LUMIVOR_BIN:-$here/../../build/release}/audio/zafencoder"
fi
data="$here/../../../shared/data/audio"
inputs=()
if [ -d "$data" ]; then
  inputs=("$data"/*.wav)
fi
if [ ${#inputs[@]} -eq 0 ]; then
  # No sample data: make a short two-tone stereo WAV.
  python3 - "$out/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(b"".join(struct.pack("<hh", int(12000 * math.sin(i * 0.0627)),
                  int(12000 * math.sin(i * 0.0941))) for i in range(44100 * 2)))
PY
  inputs=("$out/tone.wav")
fi
for wav in "${inputs[@]}"; do
  name="$(basename "$wav" .wav)"
  echo "== zafencoder --verbose $name.wav -> $out/$name.zaf"
  "$enc" --verbose "$wav" "$out/$name.zaf" 2>/dev/null
  echo "wrote $(stat -c %s "$out/$name.zaf") bytes from $(stat -c %s "$wav") bytes"
done
