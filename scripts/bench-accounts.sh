#!/bin/sh
# Builds and runs the account benchmark under the build's Wine, on the
# simulated machine in the build's own Wine prefix, and prints one table:
#   delete  an account with a profile of 10,000 files against deleting the
#           same tree alone;
#   create  an account by the profile service against by one sign-in;
#   clean   "profiles clean" of 100 unused profiles of 1,000 files each
#           against deleting the same trees alone.
# Each row gives the minimum and the median of the runs, for both sides, and
# their ratios: on a loaded machine the minimum is the figure to trust.
#
# Usage: scripts/bench-accounts.sh [--runs N] [delete] [create] [clean]
#   (all three when none is named; 5 runs each, 3 for clean, unless --runs)
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell_account_bench

start_bench_session 1024x768x24
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)   processors: $(nproc)"
"$BUILD/wine-launcher" "$BUILD/tests/bench/vantrell_account_bench.exe" "$@"
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
