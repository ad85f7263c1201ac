#!/usr/bin/env bash
# Runs the benchmarks of the release build: bash scripts/bench.sh [name-filter]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j 2
for b in build/release/bench/*_bench; do
  [ -x "$b" ] || continue
  echo "=== $(basename "$b") ==="
  "$b" ${1:+--benchmark_filter="$1"}
done
for s in bench/*.sh; do
  [ -e "$s" ] || continue
  echo "=== $s ==="
  bash "$s"
done
