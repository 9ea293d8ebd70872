#!/bin/sh
# Builds everything and runs every test: the Windows build under Wine, and
# the platform-independent core natively with the sanitizers.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

WINDOWS_BUILD="$ROOT/build/windows"
CORE_BUILD="$ROOT/build/core"
JOBS="$(nproc)"

cmake -S "$ROOT" -B "$CORE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_CORE_ONLY=ON >/dev/null
cmake --build "$CORE_BUILD" -j "$JOBS"
cmake -S "$ROOT" -B "$WINDOWS_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$WINDOWS_BUILD" -j "$JOBS"

# One display and one Wine server for the whole run, instead of one per test.
. "$ROOT/scripts/wine-session.sh"
if [ -z "${DISPLAY:-}" ]; then
    start_display 1280x1024x24
    trap 'kill $XVFB_PID 2>/dev/null || true' EXIT INT TERM
fi
export WINEPREFIX="$WINDOWS_BUILD/wineprefix"
find_wineserver
"$WINESERVER" -p 60 </dev/null >/dev/null 2>&1 || true
"$WINDOWS_BUILD/wine-launcher" cmd /c exit </dev/null >/dev/null 2>&1 || true

status=0
echo "== Native core build (AddressSanitizer, UndefinedBehaviorSanitizer)"
(cd "$CORE_BUILD" && ctest -j "$JOBS" --output-on-failure 2>&1 | tee ctest.log) || status=1
echo "== Windows build (under Wine)"
(cd "$WINDOWS_BUILD" && ctest -j "$JOBS" --output-on-failure 2>&1 | tee ctest.log) || status=1
"$WINESERVER" -k >/dev/null 2>&1 || true

echo
echo "== Summary"
printf 'native core: %s\n' "$(grep -E 'tests passed|tests failed' "$CORE_BUILD/ctest.log" | tail -1)"
printf 'windows:     %s\n' "$(grep -E 'tests passed|tests failed' "$WINDOWS_BUILD/ctest.log" | tail -1)"
exit $status
