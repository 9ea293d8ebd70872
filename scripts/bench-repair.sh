#!/bin/sh
# Builds and runs the repair benchmark under the build's Wine: the whole
# repair of the broken-profile account grown by 5,000 files, then by 50,000
# (to show how its cost grows; other counts may be given, and the runs of
# each in VANTRELL_BENCH_RUNS), against deleting and creating the account
# alone, and 200 safe journal writes against the same text written in
# place. On the simulated machine, in the build's own Wine prefix.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_repair_bench

start_bench_session 1024x768x24
for files in ${*:-5000 50000}; do
    "$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_repair_bench.exe" "$files" "${VANTRELL_BENCH_RUNS:-3}"
done
