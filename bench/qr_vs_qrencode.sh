#!/usr/bin/env bash
# The QR encoder against libqrencode, in one run: qr_vs_qrencode encodes the
# same 20- and 2,000-character texts at level M on both sides in alternating
# rounds (ROUNDS, default 7) and prints each side's symbols per processor
# second and their ratio. Installs Debian libqrencode-dev when it is missing
# and builds the program in the release preset.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
rounds="${ROUNDS:-7}"
if [ ! -e /usr/include/qrencode.h ]; then
  echo "installing libqrencode-dev" >&2
  apt-get install -y libqrencode-dev >/dev/null 2>&1 || sudo apt-get install -y libqrencode-dev >/dev/null
fi
cd "$root"
[ -d "$bin" ] || cmake --preset release >/dev/null
cmake "$bin" >/dev/null   # finds the newly installed library
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
cmake --build "$bin" --target qr_vs_qrencode >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
"$bin/bench/qr_vs_qrencode" "$rounds"
