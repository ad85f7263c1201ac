#!/usr/bin/env bash
# The main job on the shipped examples: builds the release configuration and
# runs every examples/*/run.sh with the built programs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j 2
export LUMIVOR_BIN="$PWD/build/release"
export PATH="$LUMIVOR_BIN/cli:$LUMIVOR_BIN/audio:$PATH"
export LUMIVOR_OUT="${LUMIVOR_OUT:-$PWD/build/release/examples-out}"
mkdir -p "$LUMIVOR_OUT"
for run in examples/*/run.sh; do
  [ -e "$run" ] || continue
  echo "=== ${run%/run.sh} ==="
  bash "$run"
done
echo "Outputs are in $LUMIVOR_OUT"
