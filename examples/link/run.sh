#!/usr/bin/env bash
# Two processes exchange a command with a file, first over a socket on
# 127.0.0.1 (the application side sends the file ahead of the command, the
# tool side writes it into its folder), then over the local transport (the
# command names the file; the tool prints what it received).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${LUMIVOR_OUT:-$here/out}/link"
rm -rf "$out"
mkdir -p "$out/tool"
# Services of this run live in a private folder of their own (short, as
# socket paths must be).
export XDG_RUNTIME_DIR="$(mktemp -d /tmp/lumivor-link-XXXXXX)"
printf 'menu screen bytes\n' > "$out/test_menu.bin"

cleanup() { kill $(jobs -p) 2>/dev/null || true; rm -rf "$XDG_RUNTIME_DIR"; }
trap cleanup EXIT

# Waits up to 10 s for a line matching $2 in file $1.
wait_for() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for '$2' in $1" >&2
  return 1
}

echo "--- socket link on 127.0.0.1"
timeout 30 lumivor link serve --port 0 --dir "$out/tool" --count 1 > "$out/serve.out" 2> "$out/serve.err" &
serve=$!
wait_for "$out/serve.err" "listening on port"
port=$(sed -n 's/^listening on port \([0-9]*\).*/\1/p' "$out/serve.err" | head -n 1)
timeout 30 lumivor link send --message 3,1200,9,menu.bin,42 --host 127.0.0.1 --port "$port" \
  --file "$out/test_menu.bin" --name menu.bin
wait "$serve"
cat "$out/serve.out"
cmp "$out/test_menu.bin" "$out/tool/menu.bin"
echo "the tool received menu.bin ($(wc -c < "$out/tool/menu.bin") bytes)"

echo "--- local transport"
timeout 30 lumivor link bus-serve --service demo-viewer --count 1 > "$out/bus.out" 2> "$out/bus.err" &
bus=$!
wait_for "$out/bus.err" "serving"
lumivor link services
timeout 30 lumivor link bus-send demo-viewer --message "3,1000,9,$out/test_menu.bin"
wait "$bus"
cat "$out/bus.out"
grep -q "test_menu.bin" "$out/bus.out"
echo "the tool received the command naming $out/test_menu.bin"
