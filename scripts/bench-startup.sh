#!/bin/sh
# Builds and runs the start-up benchmark under the build's Wine: the time
# from process creation to the first painted main window and to every row's
# picture, on the default scenario, on many accounts and on a thousand, each
# account with a picture; against the same window filled without the account
# database, and filled after one bare NetUserEnum walk over every page.
# Leaves the simulated machine on the last scenario. VANTRELL_BENCH_PROGRAMS
# names a folder laid out as the build (a copy of an earlier build's
# programs) to time instead: a before and an after back to back.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${1:-5}"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_startup_bench

start_bench_session 1280x1024x24
for scenario in default many-accounts thousand-accounts; do
    "$BUILD/wine-launcher" "${VANTRELL_BENCH_PROGRAMS:-$BUILD}/tests/bench/vantrell_startup_bench.exe" "$scenario" "$RUNS"
done
