#!/bin/sh
# Builds and runs the benchmarks of the platform foundation under the
# build's Wine, with drive S: on /dev/shm so that a move to it must copy.
# "scripts/bench.sh folders" runs only the folder move, "scripts/bench.sh
# walks" only the deletion and the measure of a tree. The move's size comes from
# VANTRELL_BENCH_FILES, _FOLDERS, _BIG, _BIG_MB and _RUNS (defaults 10000,
# 500, 3, 100, 3); VANTRELL_BENCH_NO_PEER leaves out the peer. Two floors
# come with it: the bare file calls any program needs for the same move
# (timed by the benchmark), and mv between the same two Linux folders (here).
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
# VANTRELL_BENCH_EXE runs another build of the benchmark (an earlier
# version, for figures before and after in one sitting).
BENCH="${VANTRELL_BENCH_EXE:-$BUILD/tests/bench/vantrell_bench.exe}"
"$BUILD/wine-launcher" "$BENCH" ${1:-}
[ "${1:-}" = walks ] && exit 0

NATIVE="$WINEPREFIX/drive_c/vantrell-bench-native"
RUNS="${VANTRELL_BENCH_RUNS:-3}"
times=""
for _ in $(seq 1 "$RUNS"); do
    rm -rf "$NATIVE" "$SHM/native"
    mkdir -p "$NATIVE"
    "$BUILD/wine-launcher" "$BENCH" native-tree 'C:\vantrell-bench-native\Documents'
    files=$(find "$NATIVE/Documents" -type f | wc -l)
    bytes=$(find "$NATIVE/Documents" -type f -printf '%s\n' | awk '{s += $1} END {print s}')
    start=$(date +%s.%N)
    mv "$NATIVE/Documents" "$SHM/native"
    end=$(date +%s.%N)
    times="$times $(echo "$end $start" | awk '{printf "%.3f", $1 - $2}')"
done
rm -rf "$NATIVE" "$SHM/native"
median=$(echo $times | tr ' ' '\n' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}')
echo "$median $files $bytes" | awk '{printf "%-34s %8.2f s %10.0f files/s %8.1f MB/s   (native floor, Linux mv)\n", "mv (ext4 to tmpfs)", $1, $2 / $1, $3 / 1048576 / $1}'
