#!/usr/bin/env bash
# `lumivor bundle` against `flatc -b`, whole processes, in one run:
# bundle_treegen_tool writes one generated menu tree of MEGABYTES of instance
# text (default 20) as our instance text + template and as a flatbuffers
# schema + JSON with the same fields; both programs then compile it in ROUNDS
# alternating runs (default 7, after one warm-up each). Prints the median
# wall and processor (user + system) seconds and the median peak resident
# memory of each side, the ratios, and our peak in bytes per instance byte.
# Installs Debian flatbuffers-compiler when flatc is missing and builds
# lumivor and the generator in the release preset.
. "$(dirname "$0")/lib/common.sh"
megabytes="${MEGABYTES:-20}"
bench_install flatbuffers-compiler flatc
bench_build lumivor bundle_treegen_tool
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
lumivor="$bin/cli/lumivor"
"$bin/bench/bundle_treegen_tool" "$megabytes" "$work" >"$work/sizes"
read -r _ elements _ screens _ instance_bytes _ json_bytes <"$work/sizes"

# One timed run: appends "wall cpu peakKiB" to $work/$1.times.
run() {
  local side="$1"
  shift
  /usr/bin/time -f "%e %U %S %M" -o "$work/one" "$@" >/dev/null 2>"$work/stderr" ||
    { echo "$side failed:" >&2; cat "$work/stderr" >&2; exit 1; }
  awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }' "$work/one" >>"$work/$side.times"
}
ours() { run ours "$lumivor" bundle "$work/menu.atr" "$work/menu_template.atr" -o "$work/menu.image"; }
theirs() { run flatc flatc -b -o "$work" "$work/menu.fbs" "$work/menu.json"; }

ours; theirs
rm -f "$work/ours.times" "$work/flatc.times"
for ((i = 0; i < rounds; ++i)); do
  if ((i % 2 == 0)); then ours; theirs; else theirs; ours; fi
done

# Median of column $2 of file $1.
median() { awk -v c="$2" '{ print $c }' "$1" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ow=$(median "$work/ours.times" 1); oc=$(median "$work/ours.times" 2); om=$(median "$work/ours.times" 3)
fw=$(median "$work/flatc.times" 1); fc=$(median "$work/flatc.times" 2); fm=$(median "$work/flatc.times" 3)
echo "tree: $elements elements ($screens screens); instance text $instance_bytes bytes, JSON $json_bytes bytes"
echo "image: $(stat -c %s "$work/menu.image") bytes (ours), $(stat -c %s "$work/menu.bin") bytes (flatc)"
awk -v ow="$ow" -v oc="$oc" -v om="$om" -v fw="$fw" -v fc="$fc" -v fm="$fm" -v ib="$instance_bytes" -v r="$rounds" 'BEGIN {
  printf "medians of %d alternating runs   wall s   cpu s   peak MiB\n", r
  printf "  lumivor bundle                 %6.3f  %6.3f   %8.1f\n", ow, oc, om / 1024
  printf "  flatc -b                       %6.3f  %6.3f   %8.1f\n", fw, fc, fm / 1024
  printf "speed ratio (flatc / ours): wall %.2f, cpu %.2f\n", fw / ow, fc / oc
  printf "our peak: %.2f bytes per instance byte (flatc peak %.1f MiB)\n", om * 1024 / ib, fm / 1024
}'
