#!/bin/sh
# Builds everything and runs every test: the Windows build under Wine, and
# the platform-independent core natively with the sanitizers.
#
# Exits non-zero when either build fails, when a test of either build fails,
# and when either build runs no test at all. Both builds are always tried, so
# that one failure does not hide the state of the other.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

WINDOWS_BUILD="$ROOT/build/windows"
CORE_BUILD="$ROOT/build/core"
# The launcher's record of every Windows test program that ended before it
# ran a test (see cmake/wine-launcher.sh.in).
EMPTY_STARTS="$WINDOWS_BUILD/Testing/Temporary/EmptyStarts.log"
started_again=0
not_started=0
JOBS="$(nproc)"
# A test that hangs fails after this many seconds; the tests' own limits
# (set where they are declared) come first.
TEST_TIMEOUT=300

status=0
core_result="not run"
windows_result="not run"
passed=0
failed=0

# Runs CTest in a build folder, its output on the terminal and in ctest.log;
# sets `result` to CTest's summary line. CTest's own status says whether a
# test failed or none ran.
run_ctest() {
    rm -f "$1/ctest.log"
    # No test is ever run again: a test that fails has failed. (The launcher
    # starts a Windows test program once more only when it ended before the
    # test framework said a word, and the summary counts those starts.)
    if (cd "$1" && ctest -j "$JOBS" --output-on-failure --no-tests=error --timeout "$TEST_TIMEOUT" \
                         --output-log ctest.log); then
        ok=0
    else
        ok=1
        status=1
    fi
    result="$(grep -E 'tests passed|tests failed' "$1/ctest.log" 2>/dev/null | tail -1)"
    [ -n "$result" ] || result="no test ran"
    # "100% tests passed, 0 tests failed out of 62"
    total=$(printf '%s\n' "$result" | sed -n 's/.*out of \([0-9][0-9]*\).*/\1/p')
    bad=$(printf '%s\n' "$result" | sed -n 's/.* \([0-9][0-9]*\) tests failed.*/\1/p')
    if [ -n "$total" ] && [ -n "$bad" ]; then
        passed=$((passed + total - bad))
        failed=$((failed + bad))
    elif [ "$ok" -ne 0 ]; then
        failed=$((failed + 1))
    fi
}

# The native core is built beside the Windows build and its tests, at a
# lower priority: its compiling fills the time the Windows side leaves a
# core idle (links, tests waiting on a window) instead of coming first.
# Its tests run once the Windows tests have ended, at full priority, as
# some of them are timed.
CORE_LOG="$ROOT/build/core-build.log"
mkdir -p "$ROOT/build"
(
    # This subshell and all it starts (sh -c's parent is the subshell).
    renice -n 10 -p "$(sh -c 'echo $PPID')" >/dev/null 2>&1 || true
    cmake -S "$ROOT" -B "$CORE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_CORE_ONLY=ON >/dev/null &&
        cmake --build "$CORE_BUILD" -j "$JOBS"
) >"$CORE_LOG" 2>&1 </dev/null &
core_build=$!

echo "== Windows build (under Wine)"
if cmake -S "$ROOT" -B "$WINDOWS_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null &&
   cmake --build "$WINDOWS_BUILD" -j "$JOBS" --target all benchmarks; then
    # A display and a Wine server for each test slot (a prefix and its
    # display; see cmake/GoogleTest.cmake), for the whole run instead of one
    # per test.
    . "$ROOT/scripts/wine-session.sh"
    if [ -z "${DISPLAY:-}" ]; then
        start_display 1280x1024x24
        trap 'kill $XVFB_PID 2>/dev/null || true' EXIT INT TERM
    fi
    start_test_slots "$WINDOWS_BUILD"
    # A first run knows no test's length: the recorded ones let it start the
    # long tests first, so that two at a time keep both cores busy to the end.
    costs="$WINDOWS_BUILD/Testing/Temporary/CTestCostData.txt"
    if [ ! -f "$costs" ]; then
        mkdir -p "$(dirname "$costs")"
        grep -v "^#" "$ROOT/tests/win/test-costs.txt" >"$costs"
    fi
    rm -f "$EMPTY_STARTS"
    run_ctest "$WINDOWS_BUILD"
    windows_result="$result"
    if [ -f "$EMPTY_STARTS" ]; then
        started_again=$(grep -c 'ended before any test (attempt [12])' "$EMPTY_STARTS" || true)
        not_started=$(grep -c 'did not start (attempt [12])' "$EMPTY_STARTS" || true)
    fi
    stop_test_slots "$WINDOWS_BUILD"
else
    windows_result="build failed"
    status=1
    failed=$((failed + 1))
fi

echo "== Native core build (AddressSanitizer, UndefinedBehaviorSanitizer)"
if wait "$core_build"; then
    tail -n 3 "$CORE_LOG"
    run_ctest "$CORE_BUILD"
    core_result="$result"
else
    cat "$CORE_LOG"
    core_result="build failed"
    status=1
    failed=$((failed + 1))
fi

echo
echo "== Summary"
printf 'native core: %s\n' "$core_result"
printf 'windows:     %s\n' "$windows_result"
printf 'started again before any test: %s%s\n' "$started_again" \
       "$([ "$started_again" -eq 0 ] || echo " (why: $EMPTY_STARTS)")"
printf 'programs a test started that did not start, started again: %s%s\n' "$not_started" \
       "$([ "$not_started" -eq 0 ] || echo " (why: $EMPTY_STARTS)")"
printf '%s passed, %s failed\n' "$passed" "$failed"
exit $status
