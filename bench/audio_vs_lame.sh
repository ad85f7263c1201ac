#!/usr/bin/env bash
# Timed comparison of zafencoder with lame on the same 60-second input.
# A 60 s 44.1 kHz 16-bit stereo WAV is made from the synthetic sample (three
# copies back to back) and a 48 kHz version of it (linear interpolation).
# In ROUNDS alternating rounds (default 5) each command encodes the 44.1 kHz
# file: zafencoder with ZAF_THREADS=1, zafencoder with all threads, and
# `lame -b 256 --quiet`; zafencoder also encodes the 48 kHz file at
# 256 kbit/s. Alternating keeps drift of a shared machine out of the ratios.
# Prints the median seconds, the multiple of real time, the ratios to lame
# and the peak memory (/usr/bin/time -v); wall time is taken with date. Needs the release build.
default_rounds=5
. "$(dirname "$0")/lib/common.sh"
enc="$bin/audio/zafencoder"
src="${ZAF_BENCH_INPUT:-$root/../shared/data/audio/synth_44k16_stereo_20s.wav}"
if [ ! -x "$enc" ]; then
  echo "zafencoder not found at $enc (build the release preset or set LUMIVOR_BIN)" >&2
  exit 1
fi
bench_install lame lame
if [ ! -x /usr/bin/time ]; then
  echo "/usr/bin/time is needed (Debian package time)" >&2
  exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

python3 - "$src" "$work" <<'PY'
import array, sys, wave
src, d = sys.argv[1], sys.argv[2]
with wave.open(src, "rb") as w:
    assert w.getnchannels() == 2 and w.getsampwidth() == 2 and w.getframerate() == 44100
    data = w.readframes(w.getnframes())
with wave.open(f"{d}/in44.wav", "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(44100)
    w.writeframes(data * 3)
# 48 kHz: linear interpolation between the 44.1 kHz samples, integer
# arithmetic only, so the file is the same on every machine.
x = array.array("h", data * 3)
if sys.byteorder == "big":
    x.byteswap()
n_in = len(x) // 2
n_out = n_in * 480 // 441
y = array.array("h", bytes(4 * n_out))
for i in range(n_out):
    num = i * 441
    j, f = divmod(num, 480)
    k = j + 1 if j + 1 < n_in else j
    a0, a1 = x[2 * j], x[2 * j + 1]
    b0, b1 = x[2 * k], x[2 * k + 1]
    y[2 * i] = (a0 * (480 - f) + b0 * f) // 480
    y[2 * i + 1] = (a1 * (480 - f) + b1 * f) // 480
if sys.byteorder == "big":
    y.byteswap()
with wave.open(f"{d}/in48.wav", "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
    w.writeframes(y.tobytes())
PY

all=$(nproc)
# run NAME command... : one timed run; appends "seconds peak_kib" to NAME.
run() {
  local name="$1"; shift
  local t0 t1 kib
  t0=$(date +%s%N)
  /usr/bin/time -v -o "$work/$name.tv" "$@" >/dev/null 2>"$work/$name.err" || {
    echo "$name failed:" >&2; cat "$work/$name.err" >&2; exit 1; }
  t1=$(date +%s%N)
  kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/$name.tv")
  echo "$((t1 - t0)) $kib" >>"$work/$name.times"
}
for r in $(seq 1 "$rounds"); do
  ZAF_THREADS=1 run zaf1 "$enc" "$work/in44.wav" "$work/out1.zaf"
  ZAF_THREADS="$all" run zafN "$enc" "$work/in44.wav" "$work/outN.zaf"
  run lame lame -b 256 --quiet "$work/in44.wav" "$work/out.mp3"
  ZAF_THREADS=1 run zaf48 "$enc" -b 256 "$work/in48.wav" "$work/out48.zaf"
  ZAF_THREADS="$all" run zaf48N "$enc" -b 256 "$work/in48.wav" "$work/out48N.zaf"
done
cmp -s "$work/out1.zaf" "$work/outN.zaf" || { echo "thread counts wrote different bytes" >&2; exit 1; }
cmp -s "$work/out48.zaf" "$work/out48N.zaf" || { echo "thread counts wrote different bytes (48 kHz)" >&2; exit 1; }

python3 - "$work" "$rounds" "$all" <<'PY'
import statistics, sys
d, rounds, threads = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def secs(t):  # nanoseconds of wall-clock time
    return int(t) / 1e9
def load(name):
    rows = [l.split() for l in open(f"{d}/{name}.times")]
    return statistics.median(secs(r[0]) for r in rows), max(int(r[1]) for r in rows)
rows = [("zafencoder 44.1k stereo default, 1 thread", "zaf1"),
        (f"zafencoder 44.1k stereo default, {threads} threads", "zafN"),
        ("lame -b 256 44.1k stereo", "lame"),
        ("zafencoder 48k stereo 256k, 1 thread", "zaf48"),
        (f"zafencoder 48k stereo 256k, {threads} threads", "zaf48N")]
res = {k: load(k) for _, k in rows}
print(f"60 s inputs, median of {rounds} alternating rounds")
print(f"{'command':<46} {'seconds':>8} {'x real time':>12} {'peak KiB':>9}")
for label, k in rows:
    s, kib = res[k]
    x = 60.0 / s if s > 0 else float("inf")
    print(f"{label:<46} {s:8.2f} {x:12.1f} {kib:9d}")
lame = res["lame"][0]
def ratio(k):
    s = res[k][0]
    return f"{lame / s:.2f}" if s > 0 else "inf"
print(f"speed zafencoder(1 thread)/lame:  {ratio('zaf1')}")
print(f"speed zafencoder({threads} threads)/lame: {ratio('zafN')}")
PY
