#!/usr/bin/env bash
# HTTP read of a 50 MB file from a loopback server: CvkFile (through the
# kit_file_bench program) against `curl -o /dev/null`, run alternately, in
# MB/s (1 MB = 2^20 bytes). Needs the release build and curl.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
bench="$bin/bench/kit_file_bench"
[ -x "$bench" ] || { echo "kit_http: $bench not built" >&2; exit 1; }
command -v curl >/dev/null || { echo "kit_http: curl not installed; skipped"; exit 0; }
work="$(mktemp -d)"
server=""
cleanup() { [ -n "$server" ] && kill "$server" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
head -c $((50 << 20)) /dev/urandom > "$work/big.bin"
python3 "$root/kit/tests/http_test_server.py" "$work" 600 > "$work/port" &
server=$!
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(awk '{print $2}' "$work/port")
url="http://127.0.0.1:$port/big.bin"
echo "file: 50 MB at $url"
for round in 1 2 3; do
  kit=$(LUMIVOR_BENCH_HTTP_URL="$url" "$bench" --benchmark_filter=Http --benchmark_min_time=3 \
        --benchmark_format=csv 2>/dev/null | awk -F, '/BM_CvkFileHttpReadWhole/ {printf "%.1f", $6 / 1048576}')
  start=$(date +%s.%N)
  for _ in 1 2 3 4 5; do curl -s -o /dev/null "$url"; done
  end=$(date +%s.%N)
  curlrate=$(python3 -c "print('%.1f' % (5 * 50 / ($end - $start)))")
  echo "round $round: CvkFile $kit MB/s   curl -o /dev/null $curlrate MB/s"
done
