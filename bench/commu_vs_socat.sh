#!/usr/bin/env bash
# The socket link end to end against socat over 127.0.0.1: a 100 MB file sent
# with `lumivor link send --file` to `lumivor link serve` (which writes it to
# disk), and the same bytes piped through socat into a file. Prints MB/s of
# both, and commands per second of `lumivor link send` (one process and one
# connection per command). Uses the release build (cmake --preset release).
set -euo pipefail
cd "$(dirname "$0")/.."
lumivor=${LUMIVOR_BIN:-build/release}/cli/lumivor
[ -x "$lumivor" ] || { echo "build the release preset first ($lumivor missing)" >&2; exit 1; }
command -v socat >/dev/null || { echo "socat is not installed: comparison skipped" >&2; exit 0; }
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
head -c $((100 * 1024 * 1024)) /dev/urandom > "$work/file.bin"
now() { date +%s.%N; }
rate() { awk -v s="$1" -v e="$2" -v mb=100 'BEGIN { printf "%.1f", mb / (e - s) }'; }

"$lumivor" link serve --port 0 --dir "$work/in" --count 1 > /dev/null 2> "$work/serve.err" &
until grep -qs "listening on port" "$work/serve.err"; do sleep 0.05; done
port=$(sed -n 's/listening on port //p' "$work/serve.err")
start=$(now)
"$lumivor" link send --message 0,1000,9 --host 127.0.0.1 --port "$port" --file "$work/file.bin" 2> /dev/null
wait
end=$(now)
cmp -s "$work/file.bin" "$work/in/file.bin" || { echo "file differs" >&2; exit 1; }
echo "lumivor link: 100 MB in $(awk -v s=$start -v e=$end 'BEGIN{printf "%.3f", e-s}') s = $(rate $start $end) MB/s"

sport=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
socat -u TCP-LISTEN:"$sport",reuseaddr,bind=127.0.0.1 OPEN:"$work/socat.bin",creat,trunc &
listener=$!
hexport=$(printf '%04X' "$sport")
until grep -q ":$hexport 00000000:0000 0A" /proc/net/tcp; do sleep 0.05; done
start=$(now)
socat -u OPEN:"$work/file.bin" TCP:127.0.0.1:"$sport"
wait $listener
end=$(now)
cmp -s "$work/file.bin" "$work/socat.bin" || { echo "socat copy differs" >&2; exit 1; }
echo "socat:        100 MB in $(awk -v s=$start -v e=$end 'BEGIN{printf "%.3f", e-s}') s = $(rate $start $end) MB/s"

n=${COMMANDS:-200}
"$lumivor" link serve --port 0 --dir "$work/in" --count "$n" > /dev/null 2> "$work/serve2.err" &
until grep -qs "listening on port" "$work/serve2.err"; do sleep 0.05; done
port=$(sed -n 's/listening on port //p' "$work/serve2.err")
start=$(now)
for _ in $(seq "$n"); do "$lumivor" link send --message 0,7,9 --host 127.0.0.1 --port "$port" 2> /dev/null; done
wait
end=$(now)
echo "lumivor link send: $n commands in $(awk -v s=$start -v e=$end 'BEGIN{printf "%.3f", e-s}') s = $(awk -v s=$start -v e=$end -v n=$n 'BEGIN{printf "%.0f", n/(e-s)}') commands/s (a process each)"
