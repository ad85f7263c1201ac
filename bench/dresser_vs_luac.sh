#!/usr/bin/env bash
# The whole script compile as a process: `lumivor script` on generated menu
# scripts of 6,000 and 60,000 lines against `luac5.4 -p` and `luac5.4 -o` on
# the same program written in Lua, in alternating rounds (ROUNDS, default 5),
# then the in-process CompileText benchmark. Prints the median wall and
# processor (user + system) seconds, MB/s and lines/s on both (1 MB = 10^6
# bytes), the peak memory and the ratios to luac -p; on a
# shared machine the processor times are the steadier measure. Needs the
# release build, luac5.4 (Debian lua5.4), python3 and /usr/bin/time (time).
default_rounds=5
. "$(dirname "$0")/lib/common.sh"
lumivor="$bin/cli/lumivor"
bench="$bin/bench/dresser_compile_bench"
for tool in "$lumivor" "$bench"; do
  [ -x "$tool" ] || { echo "dresser_vs_luac: $tool not built (release preset with LUMIVOR_BENCH)" >&2; exit 1; }
done
bench_install lua5.4 luac5.4
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for lines in 6000 60000; do
  "$bench" --write "$lines" "$work/menu$lines.drs"
  "$bench" --write "$lines" "$work/menu$lines.lua" --lua
done

# wall seconds, peak KB and processor seconds of one command: "WALL KB CPU"
# (processor time from wait4, to the microsecond; the peak from /usr/bin/time,
# which keeps the measuring Python's own memory out).
measure() {
  python3 - "$work/mem" "$@" <<'PY'
import os, subprocess, sys, time
mem = sys.argv[1]
t0 = time.perf_counter()
p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", mem] + sys.argv[2:],
                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
err = p.stderr.read()
_, status, ru = os.wait4(p.pid, 0)
wall = time.perf_counter() - t0
if status != 0:
    sys.stderr.write(err.decode(errors="replace"))
    sys.exit(1)
print(f"{wall:.6f} {open(mem).read().split()[-1]} {ru.ru_utime + ru.ru_stime:.6f}")
PY
}
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

printf "%-16s %7s %8s %8s %9s %9s %8s\n" "command" "lines" "wall s" "cpu s" "MB/s wall" "MB/s cpu" "peak MB"
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
    cpu=$(awk '{print $3}' "$work/t_$kind" | median)
    mem=$(awk '{print $2}' "$work/t_$kind" | sort -g | tail -1)
    awk -v name="$name" -v n="$n" -v s="$sec" -v c="$cpu" -v b="$bytes" -v m="$mem" \
      'BEGIN {printf "%-16s %7d %8.4f %8.4f %9.1f %9.1f %8.1f   (%.2f M lines/s wall)\n", name, n, s, c, b / s / 1e6, (c > 0 ? b / c / 1e6 : 0), m / 1024, n / s / 1e6}'
    echo "$sec $cpu" > "$work/s_$kind"
  done
  awk -v bd="$(stat -c %s "$drs")" -v bl="$(stat -c %s "$lua")" '
    FILENAME ~ /s_drs$/ {sd = $1; cd = $2} FILENAME ~ /s_p$/ {sl = $1; cl = $2}
    END {printf "  MB/s of lumivor script / MB/s of luac5.4 -p: %.2f wall, %.2f processor\n",
         (bd / sd) / (bl / sl), (cd > 0 && cl > 0) ? (bd / cd) / (bl / cl) : 0}' "$work/s_drs" "$work/s_p"
done

echo
echo "in-process CompileText:"
"$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_counters_tabular=true
