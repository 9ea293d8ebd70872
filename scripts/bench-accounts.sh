#!/bin/sh
# Builds and runs the account benchmark under the build's Wine: deleting an
# account with a profile of 10,000 files against deleting the same tree
# alone, and creating an account by the profile service against by one
# sign-in, and "profiles clean" of 100 unused profiles of 1,000 files each
# against deleting the same trees alone. On the simulated machine, in the
# build's own Wine prefix.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_account_bench

start_bench_session 1024x768x24
"$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_account_bench.exe"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
