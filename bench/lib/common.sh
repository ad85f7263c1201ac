# What the timed bench scripts share. A script sources it first:
#   . "$(dirname "$0")/lib/common.sh"
# and then has root (the source tree), bin (the release build, or
# LUMIVOR_BIN) and rounds (ROUNDS, or the default the script set in
# default_rounds before sourcing; 7 otherwise).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bin="${LUMIVOR_BIN:-$root/build/release}"
rounds="${ROUNDS:-${default_rounds:-7}}"

# bench_install PACKAGE NEEDED: installs the Debian package when NEEDED is
# missing: a file when it is an absolute path, else a command.
bench_install() {
  local package="$1" needed="$2"
  case "$needed" in
    /*) [ -e "$needed" ] && return 0 ;;
    *) command -v "$needed" >/dev/null 2>&1 && return 0 ;;
  esac
  echo "installing $package" >&2
  apt-get install -y "$package" >/dev/null 2>&1 || sudo apt-get install -y "$package" >/dev/null
}

# bench_build TARGET...: from the source tree, configures the release build
# when it is missing (and again, so that it finds libraries installed just
# now), then builds the targets, printing the log only when that fails.
bench_build() {
  cd "$root"
  [ -d "$bin" ] || cmake --preset release >/dev/null
  cmake "$bin" >/dev/null
  local log
  log="$(mktemp)"
  if ! cmake --build "$bin" --target "$@" >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 1
  fi
  rm -f "$log"
}
