#!/usr/bin/env bash
# The attribute reader against pugixml, in one run: attribute_vs_pugixml
# generates a menu document of MEGABYTES (default 20) as our text and as
# XML, and in ROUNDS alternating rounds (default 7) times parse, parse with a
# typed walk, and destruction on both sides (median processor times).
# Installs Debian libpugixml-dev when it is missing and builds the program in
# the release preset.
. "$(dirname "$0")/lib/common.sh"
bench_install libpugixml-dev /usr/include/pugixml.hpp
bench_build attribute_vs_pugixml
"$bin/bench/attribute_vs_pugixml" "${MEGABYTES:-20}" "$rounds"
