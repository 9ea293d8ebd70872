#!/bin/sh
# Brings the Windows build up to date, as scripts/test.sh does (a package
# made before the last commit carries another time than the reproducibility
# check's second build), then runs its test suite several times in a row, as
# scripts/test.sh runs it, and says for each run how long it took, how many
# tests failed, how many test programs ended before any test and how many
# programs a test started did not start (the launcher's and the tests'
# records, kept as empty-starts-<n>.log beside the run's log).
#   scripts/suite-runs.sh [RUNS] [CTEST ARGUMENTS ...]
set -u
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="$ROOT/build/windows"
runs="${1:-5}"
[ $# -gt 0 ] && shift
out="$BUILD/suite-runs"
mkdir -p "$out"
EMPTY_STARTS="$BUILD/Testing/Temporary/EmptyStarts.log"
cmake --build "$BUILD" -j "$(nproc)" --target all benchmarks >/dev/null || exit 1

. "$ROOT/scripts/wine-session.sh"
if [ -z "${DISPLAY:-}" ]; then
    start_display 1280x1024x24
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT INT TERM
fi
start_test_slots "$BUILD"
status=0
n=1
while [ "$n" -le "$runs" ]; do
    rm -f "$EMPTY_STARTS"
    started=$(date +%s)
    (cd "$BUILD" && ctest -j "$(nproc)" --timeout 300 --output-on-failure --output-log "$out/run-$n.log" "$@" \
        >/dev/null 2>&1) || status=1
    took=$(($(date +%s) - started))
    summary=$(grep -E 'tests passed|tests failed' "$out/run-$n.log" | tail -1)
    empty=0 unstarted=0
    if [ -f "$EMPTY_STARTS" ]; then
        cp "$EMPTY_STARTS" "$out/empty-starts-$n.log"
        empty=$(grep -c 'ended before any test' "$EMPTY_STARTS")
        unstarted=$(grep -c 'did not start (attempt' "$EMPTY_STARTS")
    fi
    printf 'run %s: %s s, %s, ended before any test: %s, programs that did not start: %s\n' "$n" "$took" \
        "$summary" "$empty" "$unstarted"
    grep -E '^\s*[0-9]+ - .*\((Failed|Timeout|Not Run|Exception)' "$out/run-$n.log" | sed 's/^/    /'
    n=$((n + 1))
done
stop_test_slots "$BUILD"
exit $status
