#!/usr/bin/env bash
# The QR encoder against libqrencode, in one run: qr_vs_qrencode encodes the
# same 20- and 2,000-character texts at level M on both sides in alternating
# rounds (ROUNDS, default 7) and prints each side's symbols per processor
# second and their ratio. Installs Debian libqrencode-dev when it is missing
# and builds the program in the release preset.
. "$(dirname "$0")/lib/common.sh"
bench_install libqrencode-dev /usr/include/qrencode.h
bench_build qr_vs_qrencode
"$bin/bench/qr_vs_qrencode" "$rounds"
