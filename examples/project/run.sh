#!/usr/bin/env bash
# Builds the whole example project with one command, then again to show that
# nothing is rebuilt when nothing changed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="${LUMIVOR_OUT:-/tmp/lumivor-out}/project"
mkdir -p "$out"
# A copy of the project, so that its build folder stays out of the sources.
cp -r "$here/lumivor.atr" "$here/menu" "$here/script" "$here/sounds" "$here/images" "$out/"
lumivor build -C "$out" -j 2
echo "-- again, nothing changed:"
lumivor build -C "$out"
echo "-- outputs:"
(cd "$out/build/out" && find . -type f ! -name '*.d' | sort)
