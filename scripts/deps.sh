#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
packages=(
  cmake ninja-build g++ gcc-multilib g++-multilib qemu-user
  googletest libbenchmark-dev
  libpng-dev libcurl4-openssl-dev
  zbar-tools imagemagick python3 time curl
  dpkg-dev pkgconf
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || echo "apt-get update reported errors; installing from the indexes it has"
  apt-get install -y -qq "${missing[@]}"
fi

# The i386 build's HTTP file protocol needs Debian's i386 libcurl. Its package
# index is not always in step with amd64's; when it cannot be installed the
# i386 build leaves the HTTP protocol out (and its tests report themselves skipped).
if ! dpkg-query -W -f='${Status}' libcurl4-openssl-dev:i386 2>/dev/null | grep -q 'install ok installed'; then
  export DEBIAN_FRONTEND=noninteractive
  dpkg --add-architecture i386
  apt-get update -qq || true
  apt-get install -y -qq --no-remove libcurl4-openssl-dev:i386 \
    || echo "i386 libcurl is not installable now: the i386 build leaves HTTP out"
fi
