#!/usr/bin/env bash
# The Dresser lexer against the Lua compiler as a yardstick, in one run.
# dresser_lex_bench tokenizes a generated 60,000-line menu script in process
# (Google Benchmark, MB/s and lines/s per processor second); `luac5.4 -p`
# parses and compiles a Lua text of the same shape and size as a whole
# process, ROUNDS times (default 7), and its median wall and processor times
# give MB/s and lines/s. On a busy machine compare processor times. Needs the release
# build and luac5.4 (Debian lua5.4).
. "$(dirname "$0")/lib/common.sh"
bench="$bin/bench/dresser_lex_bench"
[ -x "$bench" ] || { echo "dresser_lex_bench not found at $bench (build the release preset with LUMIVOR_BENCH=ON)" >&2; exit 1; }
bench_install lua5.4 luac5.4
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$bench" --write-lua="$work/menu.lua"
"$bench" --write-script="$work/menu.drs"
lua_bytes=$(stat -c %s "$work/menu.lua")
lua_lines=$(wc -l < "$work/menu.lua")
drs_bytes=$(stat -c %s "$work/menu.drs")
drs_lines=$(wc -l < "$work/menu.drs")
echo "Dresser script: $drs_lines lines, $drs_bytes bytes; Lua text: $lua_lines lines, $lua_bytes bytes"

# Wall and processor time (user + system, from wait4) of each luac run.
python3 - "$work/menu.lua" "$rounds" "$lua_bytes" "$lua_lines" <<'PY'
import os, statistics, subprocess, sys, time
path, rounds, size, lines = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
walls, cpus = [], []
for _ in range(rounds):
    start = time.perf_counter()
    proc = subprocess.Popen(["luac5.4", "-p", path])
    _, status, usage = os.wait4(proc.pid, 0)
    walls.append(time.perf_counter() - start)
    cpus.append(usage.ru_utime + usage.ru_stime)
    if status != 0:
        sys.exit("luac5.4 failed")
for name, t in (("wall", statistics.median(walls)), ("processor", statistics.median(cpus))):
    print(f"luac5.4 -p, median {name} time of {rounds}: {t * 1e3:.1f} ms, "
          f"{size / t / 1e6:.1f} MB/s, {lines / t / 1e6:.2f} M lines/s")
PY

# Google Benchmark's rates are per processor second; "Time" is wall time.
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_counters_tabular=true 2>/dev/null
