#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, preset "fuzz") and runs one of them.
#   bash scripts/fuzz.sh                 lists the targets
#   bash scripts/fuzz.sh TARGET [SECONDS] runs TARGET for SECONDS (default 120)
# The corpus lives in build/fuzz/corpus/TARGET; crashes are written there too.
# Seed inputs in <folder>/fuzz/seeds/<Name>/ (for the target <folder>_<Name>)
# are copied into the corpus before the run.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq && apt-get install -y -qq clang libclang-rt-14-dev
fi
cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2
if [ $# -eq 0 ]; then
  find build/fuzz -maxdepth 2 -type f -name '*Fuzz' -executable -printf '%f\n' | sort
  exit 0
fi
target=$1; seconds=${2:-120}
exe=$(find build/fuzz -maxdepth 2 -type f -name "$target" -executable | head -1)
[ -n "$exe" ] || { echo "no fuzz target $target" >&2; exit 1; }
mkdir -p "build/fuzz/corpus/$target"
seeds="${target%%_*}/fuzz/seeds/${target#*_}"
if [ -d "$seeds" ]; then
  cp -n "$seeds"/* "build/fuzz/corpus/$target/"
fi
cd "build/fuzz/corpus/$target"
"$OLDPWD/$exe" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix=./ .
