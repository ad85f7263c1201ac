#!/usr/bin/env bash
# Builds and runs every test in both configurations: x86-64 (ASan+UBSan) and i386 (under qemu-i386),
# then the install test (the deliverables installed, used by a host program, packaged as a .deb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
status=0
for preset in x86-64 i386; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2
  ctest --preset "$preset" || status=1
done
echo "=== install ==="
bash scripts/install-test.sh || status=1
exit $status
