#!/bin/sh
# Builds and runs the repair benchmark under the build's Wine, on the
# simulated machine in the build's own Wine prefix, with the broken-profile
# account grown by 5,000 files, then by 50,000 (other counts may be given):
# first the rebuild that keeps the account's settings against today's with
# fresh ones, the two taking turns, the least and the middle time of each,
# and what the hand-over of the old hive costs taken apart; then the whole
# repair against deleting and creating the account alone, and 200 safe
# journal writes against the same text written in place.
#   scripts/bench-repair.sh [--settings] [--runs N] [FILES...]
# --settings runs the comparison of keeping the settings alone; the runs of
# each (default 3) may also be given in VANTRELL_BENCH_RUNS.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
part=all
runs="${VANTRELL_BENCH_RUNS:-3}"
while [ $# -gt 0 ]; do
    case "$1" in
    --settings) part=settings; shift ;;
    --runs) runs="$2"; shift 2 ;;
    --*) echo "usage: $0 [--settings] [--runs N] [FILES...]" >&2; exit 2 ;;
    *) break ;;
    esac
done
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_repair_bench

start_bench_session 1024x768x24
for files in ${*:-5000 50000}; do
    "$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_repair_bench.exe" "$files" "$runs" "$part"
done
