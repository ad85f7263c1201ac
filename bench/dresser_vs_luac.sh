#!/usr/bin/env bash
# The whole script compile as a process: `lumivor script` on generated menu
# scripts of 6,000 and 60,000 lines against `luac5.4 -p` and `luac5.4 -o` on
# the same program written in Lua, in alternating rounds (ROUNDS, default 5),
# then the in-process CompileText benchmark. Prints the median seconds, MB/s
# (1 MB = 10^6 bytes), lines/s, the peak memory (/usr/bin/time -v) and the
# ratio to luac -p. Needs the release build, luac5.4 (Debian lua5.4) and time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
lumivor="$bin/cli/lumivor"
bench="$bin/bench/dresser_compile_bench"
rounds="${ROUNDS:-5}"
for tool in "$lumivor" "$bench"; do
  [ -x "$tool" ] || { echo "dresser_vs_luac: $tool not built (release preset with LUMIVOR_BENCH)" >&2; exit 1; }
done
if ! command -v luac5.4 >/dev/null 2>&1; then
  echo "installing lua5.4" >&2
  apt-get install -y lua5.4 >/dev/null 2>&1 || sudo apt-get install -y lua5.4 >/dev/null
fi
[ -x /usr/bin/time ] || { echo "dresser_vs_luac: /usr/bin/time is needed (Debian time)" >&2; exit 1; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for lines in 6000 60000; do
  "$bench" --write "$lines" "$work/menu$lines.drs"
  "$bench" --write "$lines" "$work/menu$lines.lua" --lua
done

# seconds and peak KB of one command: "SECONDS KB"
measure() {
  local t0 t1
  t0=$(date +%s.%N)
  /usr/bin/time -f "%M" -o "$work/mem" "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.6f", b - a}') $(cat "$work/mem")"
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf "%-26s %8s %10s %12s %9s %8s\n" "command" "lines" "seconds" "MB/s" "Mlines/s" "peak MB"
for lines in 6000 60000; do
  drs="$work/menu$lines.drs"; lua="$work/menu$lines.lua"
  : > "$work/t_drs"; : > "$work/t_p"; : > "$work/t_o"
  for _ in $(seq "$rounds"); do
    measure "$lumivor" script "$drs" -o "$work/out.bin" >> "$work/t_drs"
    measure luac5.4 -p "$lua" >> "$work/t_p"
    measure luac5.4 -o "$work/out.luac" "$lua" >> "$work/t_o"
  done
  for kind in drs p o; do
    case $kind in
      drs) name="lumivor script"; file="$drs" ;;
      p) name="luac5.4 -p"; file="$lua" ;;
      o) name="luac5.4 -o"; file="$lua" ;;
    esac
    bytes=$(stat -c %s "$file")
    n=$(wc -l < "$file")
    sec=$(awk '{print $1}' "$work/t_$kind" | median)
    mem=$(awk '{print $2}' "$work/t_$kind" | sort -g | tail -1)
    awk -v name="$name" -v n="$n" -v s="$sec" -v b="$bytes" -v m="$mem" \
      'BEGIN {printf "%-26s %8d %10.4f %12.1f %9.3f %8.1f\n", name, n, s, b / s / 1e6, n / s / 1e6, m / 1024}'
    echo "$sec" > "$work/s_$kind"
  done
  awk -v bd="$(stat -c %s "$drs")" -v sd="$(cat "$work/s_drs")" -v bl="$(stat -c %s "$lua")" -v sl="$(cat "$work/s_p")" \
    'BEGIN {printf "  MB/s of lumivor script / MB/s of luac5.4 -p: %.2f\n", (bd / sd) / (bl / sl)}'
done

echo
echo "in-process CompileText:"
"$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_counters_tabular=true
