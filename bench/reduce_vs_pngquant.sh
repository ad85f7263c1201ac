#!/usr/bin/env bash
# Palette reduction quality and speed of `lumivor reduce` next to Debian's
# pngquant, on the sample images in ../shared/data/images/ (relative to the
# checkout root), at 256, 64 and 16 colours, with and without dithering.
#
# For every run the whole process is timed (start-up, PNG read and write
# included) and the result is compared with the original by ImageMagick's
# `compare -metric PSNR`; the table shows dB and seconds for both tools.
# Images with an alpha channel are compared as compare sees them: its default
# channel set, so alpha errors count alongside colour errors, and colours of
# fully transparent pixels count too. "inf" means an exact copy.
#
# Needs the release build of the front end (LUMIVOR_BIN, default
# build/release); installs pngquant with apt-get when it is missing.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-build/release}"
case "$bin" in /*) ;; *) bin="$root/$bin" ;; esac
lumivor="$bin/cli/lumivor"
images="$root/../shared/data/images"

if [ ! -x "$lumivor" ]; then
  echo "missing $lumivor (build the release preset or set LUMIVOR_BIN)" >&2
  exit 1
fi
if ! command -v pngquant >/dev/null 2>&1; then
  apt-get update -qq
  apt-get install -y -qq pngquant
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
# First field of compare's output: "38.12 (0.3812)" on newer versions,
# a bare number or "inf" on older ones.
psnr() {
  local out
  out="$(compare -metric PSNR "$1" "$2" null: 2>&1 || true)"
  out="${out%% *}"
  case "$out" in
    inf|[0-9]*) printf '%s' "$out" ;;
    *) printf 'error' ;;
  esac
}

printf '%-30s %6s %6s %10s %8s %10s %8s\n' \
  image colours dither ours_dB ours_s pq_dB pq_s
for img in "$images"/*.png; do
  [ -e "$img" ] || continue
  name="$(basename "$img" .png)"
  for n in 256 64 16; do
    for dither in yes no; do
      ourdir="$work/ours_${n}_$dither"
      mkdir -p "$ourdir"
      ourflags=(--colors "$n")
      pqflags=()
      if [ "$dither" = no ]; then
        ourflags+=(--no-dither)
        pqflags+=(--nofs)
      fi

      t0="$(now)"
      "$lumivor" reduce "$img" -o "$ourdir" "${ourflags[@]}" >/dev/null
      t1="$(now)"
      ours_s="$(elapsed "$t0" "$t1")"
      ours_db="$(psnr "$img" "$ourdir/$name.palette.png")"

      pqout="$work/pq_${n}_${dither}_$name.png"
      t0="$(now)"
      # Exit status 98/99 means pngquant declined on quality limits; none
      # are set here, so any failure is reported as such in the table.
      if pngquant "$n" "${pqflags[@]}" --force --output "$pqout" "$img"; then
        t1="$(now)"
        pq_s="$(elapsed "$t0" "$t1")"
        pq_db="$(psnr "$img" "$pqout")"
      else
        pq_s="failed"
        pq_db="-"
      fi

      printf '%-30s %6s %6s %10s %8s %10s %8s\n' \
        "$name" "$n" "$dither" "$ours_db" "$ours_s" "$pq_db" "$pq_s"
    done
  done
done
