#!/bin/sh
# Builds and runs the health-check benchmark under the build's Wine: the
# check of the computer, without the profiles' sizes, on the thousand
# accounts and on the office scenarios, against the floor of what it must
# read (one bare walk of the account database and one of the profile list)
# in the same run, with the time of each of its steps. Leaves the simulated machine on the
# last scenario.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${1:-7}"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_health_bench

start_bench_session 1024x768x24
for scenario in thousand-accounts health; do
    "$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_health_bench.exe" "$scenario" "$RUNS"
done
