#!/usr/bin/env bash
# The attribute reader against pugixml, in one run: attribute_vs_pugixml
# generates a menu document of MEGABYTES (default 20) as our text and as
# XML, and in ROUNDS alternating rounds (default 7) times parse, parse with a
# typed walk, and destruction on both sides (median processor times).
# Installs Debian libpugixml-dev when it is missing and builds the program in
# the release preset.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
if [ ! -e /usr/include/pugixml.hpp ]; then
  echo "installing libpugixml-dev" >&2
  apt-get install -y libpugixml-dev >/dev/null 2>&1 || sudo apt-get install -y libpugixml-dev >/dev/null
fi
cd "$root"
[ -d "$bin" ] || cmake --preset release >/dev/null
cmake "$bin" >/dev/null   # finds the newly installed library
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
cmake --build "$bin" --target attribute_vs_pugixml >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
"$bin/bench/attribute_vs_pugixml" "${MEGABYTES:-20}" "${ROUNDS:-7}"
