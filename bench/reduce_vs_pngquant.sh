#!/usr/bin/env bash
# Palette reduction quality and speed of `lumivor reduce`, in its compatible
# (default) and best quality, next to Debian's pngquant, at 256, 64 and 16
# colours, with and without dithering. Images: the samples in
# ../shared/data/images/ (relative to the checkout root) and two pieces of
# synthetic menu artwork drawn at bench time by reduce_uiart_tool: ui_screen
# (gradients, shadows, anti-aliased shapes, several hundred colours) and
# ui_flat (flat icons, fewer than a hundred colours).
#
# Quality is the PSNR over R, G and B of the pixels that are not fully
# transparent in the original (reduce_psnr_tool; "inf": an exact copy).
# Images with transparent pixels are reduced with --transparent (alpha-0
# pixels take the reserved entry 0); the palette types hold no alpha, so
# partial alpha is not part of the comparison. Time is the processor time
# (user + system) of the whole process, start-up and PNG read and write
# included, the fastest of three runs: on a shared machine it varies far
# less than the wall time. pngquant runs on one thread (OMP_NUM_THREADS=1),
# as our reduction does.
#
# Needs the release build (LUMIVOR_BIN, default build/release; LUMIVOR_IMAGES
# names another folder of samples); installs
# pngquant with apt-get when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-build/release}"
case "$bin" in /*) ;; *) bin="$root/$bin" ;; esac
lumivor="$bin/cli/lumivor"
psnr_tool="$bin/bench/reduce_psnr_tool"
uiart_tool="$bin/bench/reduce_uiart_tool"
samples="${LUMIVOR_IMAGES:-$root/../shared/data/images}"

for tool in "$lumivor" "$psnr_tool" "$uiart_tool"; do
  if [ ! -x "$tool" ]; then
    echo "missing $tool (build the release preset or set LUMIVOR_BIN)" >&2
    exit 1
  fi
done
if ! command -v pngquant >/dev/null 2>&1; then
  apt-get update -qq
  apt-get install -y -qq pngquant
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$uiart_tool" screen "$work/ui_screen.png"
"$uiart_tool" flat "$work/ui_flat.png"

# Processor time (user + system) of one run of a command, in seconds: the
# second line of `times` in a subshell holds its children's. Nothing when
# the command fails.
cpu_once() {
  { ( "$@" >/dev/null 2>&1 || exit 1; times ) | awk 'NR == 2 {
    split($1, u, /[ms]/); split($2, s, /[ms]/); printf "%.3f", u[1] * 60 + u[2] + s[1] * 60 + s[2] }'; } || true
}
# The fastest of three runs ("failed" if the command fails).
timed() {
  local best="" t
  for _ in 1 2 3; do
    t="$(cpu_once "$@")"
    [ -n "$t" ] || { printf 'failed'; return; }
    if [ -z "$best" ] || awk -v a="$t" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$t"; fi
  done
  printf '%s' "$best"
}
psnr() { "$psnr_tool" "$1" "$2" | cut -d' ' -f1; }

# Start-up alone (the front end loads the whole tool chain's libraries).
printf 'start-up: lumivor %s s, pngquant %s s (processor time of a run that only prints)\n' \
  "$(timed "$lumivor" reduce --help)" "$(timed env OMP_NUM_THREADS=1 pngquant --version)"
printf '%-26s %7s %6s | %8s %7s | %8s %7s | %8s %7s\n' \
  image colours dither default_dB s best_dB s pngquant_dB s
for img in "$samples"/*.png "$work"/ui_screen.png "$work"/ui_flat.png; do
  [ -e "$img" ] || continue
  name="$(basename "$img" .png)"
  alpha=()
  [ "$(identify -format '%[opaque]' "$img")" = false ] && alpha=(--transparent)
  for n in 256 64 16; do
    for dither in yes no; do
      flags=(--colors "$n" "${alpha[@]}")
      pqflags=()
      if [ "$dither" = no ]; then
        flags+=(--no-dither)
        pqflags+=(--nofs)
      fi
      row=()
      for quality in compatible best; do
        out="$work/${quality}_${n}_$dither"
        mkdir -p "$out"
        s="$(timed "$lumivor" reduce "$img" -o "$out" "${flags[@]}" --quality "$quality")"
        row+=("$(psnr "$img" "$out/$name.palette.png")" "$s")
      done
      pqout="$work/pq_${n}_${dither}_$name.png"
      s="$(timed env OMP_NUM_THREADS=1 pngquant "$n" "${pqflags[@]}" --force --output "$pqout" "$img")"
      if [ "$s" = failed ]; then row+=(- failed); else row+=("$(psnr "$img" "$pqout")" "$s"); fi
      printf '%-26s %7s %6s | %8s %7s | %8s %7s | %8s %7s\n' "$name" "$n" "$dither" "${row[@]}"
    done
  done
done
