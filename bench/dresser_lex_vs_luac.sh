#!/usr/bin/env bash
# The Dresser lexer against the Lua compiler as a yardstick, in one run.
# dresser_lex_bench tokenizes a generated 60,000-line menu script in process
# (Google Benchmark, MB/s and lines/s); `luac5.4 -p` parses and compiles a Lua
# text of the same shape and size as a whole process, ROUNDS times (default
# 7), and its median wall time gives MB/s and lines/s. Needs the release
# build and luac5.4 (Debian lua5.4).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
bench="$bin/bench/dresser_lex_bench"
rounds="${ROUNDS:-7}"
[ -x "$bench" ] || { echo "dresser_lex_bench not found at $bench (build the release preset with LUMIVOR_BENCH=ON)" >&2; exit 1; }
if ! command -v luac5.4 >/dev/null; then
  echo "installing lua5.4" >&2
  apt-get install -y lua5.4 >/dev/null 2>&1 || sudo apt-get install -y lua5.4 >/dev/null
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

"$bench" --write-lua="$work/menu.lua"
"$bench" --write-script="$work/menu.drs"
lua_bytes=$(stat -c %s "$work/menu.lua")
lua_lines=$(wc -l < "$work/menu.lua")
drs_bytes=$(stat -c %s "$work/menu.drs")
drs_lines=$(wc -l < "$work/menu.drs")
echo "Dresser script: $drs_lines lines, $drs_bytes bytes; Lua text: $lua_lines lines, $lua_bytes bytes"

times=()
for _ in $(seq "$rounds"); do
  start=$(date +%s.%N)
  luac5.4 -p "$work/menu.lua"
  end=$(date +%s.%N)
  times+=("$(awk -v a="$start" -v b="$end" 'BEGIN {printf "%.6f", b - a}')")
done
median=$(printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
awk -v t="$median" -v b="$lua_bytes" -v l="$lua_lines" -v r="$rounds" \
  'BEGIN {printf "luac5.4 -p (whole process, median of %d): %.4f s, %.1f MB/s, %.2f M lines/s\n", r, t, b / t / 1e6, l / t / 1e6}'

"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_counters_tabular=true 2>/dev/null
