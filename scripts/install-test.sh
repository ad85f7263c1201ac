#!/usr/bin/env bash
# Installs the deliverables and uses them as a host and a user would:
#  1. builds the deliverables at -O2 (preset "package": no tests, no
#     benchmarks) and installs them into a temporary prefix;
#  2. builds examples/host against the installed tree alone, once with CMake's
#     find_package and once with pkg-config, and runs both;
#  3. compiles every installed header (as C++17, the oldest standard a host
#     may use) with only the installed tree on the include path;
#  4. makes the Debian package (cpack -G DEB), unpacks it into a scratch root
#     and runs lumivor --version and lumivor script from there.
set -euo pipefail
cd "$(dirname "$0")/.."
source=$PWD
build=$source/build/package

cmake --preset package >/dev/null
cmake --build --preset package -j 2

work=$(mktemp -d /tmp/lumivor-install-XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
pcdir=$(dirname "$(find "$prefix" -name lumivor-corvanta.pc)")
libdir=$(dirname "$pcdir")

echo "--- host program with find_package"
cmake -S examples/host -B "$work/host-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host-cmake" >/dev/null
mkdir "$work/out-cmake"
"$work/host-cmake/host" "$work/out-cmake"

echo "--- host program with pkg-config"
packages="lumivor-corvanta lumivor-tbncompiler lumivor-palreduce lumivor-matrixsym"
# shellcheck disable=SC2046
g++ -std=c++17 -O1 examples/host/host.cpp -o "$work/host-pc" \
    $(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs $packages)
mkdir "$work/out-pc"
LD_LIBRARY_PATH=$libdir "$work/host-pc" "$work/out-pc"

echo "--- every installed header, as C++17, with only the installed tree on the include path"
(cd "$prefix/include/lumivor" && find . -name '*.h' | sort | sed 's|^\./\(.*\)|#include "\1"|') > "$work/headers.cpp"
echo "$(wc -l < "$work/headers.cpp") headers"
(cd "$work" && g++ -std=c++17 -fsyntax-only -Wall -Wextra -I"$prefix/include/lumivor" headers.cpp)

echo "--- Debian package"
rm -f "$build"/lumivor_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/lumivor_*.deb)
dpkg-deb --field "$deb" Package Version Depends
dpkg-deb -x "$deb" "$work/root"
root_libdir=$(dirname "$(find "$work/root" -name 'libcorvanta.so.*' | head -n 1)")
export LD_LIBRARY_PATH=$root_libdir
version=$("$work/root/usr/bin/lumivor" --version)
echo "$version"
[ "$version" = "lumivor $(sed -n 's/^project(Lumivor VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" ]
"$work/root/usr/bin/lumivor" script examples/script/menu.drs -I examples/script --fixed 12 -o "$work/menu.bin"
echo "install test passed: $(basename "$deb")"
