#!/bin/sh
# Builds and runs the benchmarks of the platform foundation under the
# build's Wine, with drive S: on /dev/shm so that a move to it must copy.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_bench

SHM="/dev/shm/vantrell-bench-$$"
mkdir -p "$SHM"
export WINEPREFIX="$BUILD/wineprefix"
ln -sfn "$SHM" "$WINEPREFIX/dosdevices/s:"
find_wineserver
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    rm -f "$WINEPREFIX/dosdevices/s:"
    rm -rf "$SHM"
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
if [ -z "${DISPLAY:-}" ]; then
    start_display 1024x768x24
fi
"$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_bench.exe"
