#!/bin/sh
# Builds the program and opens it under Wine, in the sandbox: the same
# program on a simulated machine, reset first to the scenario named by
# VANTRELL_SCENARIO (default: sandbox/scenarios/default.ini). The arguments
# go to the program: none opens the account manager, /brenwick the repair
# tool (its wizard, or its fix run inside the temporary account). Without a
# display it runs under Xvfb, saves a screenshot once whichever window the
# program opens has painted, prints the PNG's path and exits.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows vantrell-sandbox sandbox-tool wineprefix
PROGRAM="$BUILD/vantrell-sandbox.exe"
reset_machine() {
    "$BUILD/wine-launcher" "$BUILD/sandbox-tool.exe" reset "${VANTRELL_SCENARIO:-default}" </dev/null >/dev/null
}

if [ -n "${DISPLAY:-}" ]; then
    reset_machine
    exec "$BUILD/wine-launcher" "$PROGRAM" "$@"
fi

start_display 1280x1024x24
export WINEPREFIX="$BUILD/wineprefix"
find_wineserver
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

reset_machine
"$BUILD/wine-launcher" "$PROGRAM" "$@" </dev/null >/dev/null 2>&1 &
LAUNCHED=$!

# Wait for a window of the program to be mapped (the account manager's
# "Vantrell", the repair tool's "Brenwick..." wizard or fix run), then give
# it time to paint. A program that ends first has nothing to show.
WINDOWS='"(Vantrell|Brenwick)[^"]*"'
shown=""
for _ in $(seq 1 600); do
    if xwininfo -root -tree 2>/dev/null | grep -Eq "$WINDOWS"; then
        shown=yes
        break
    fi
    if ! kill -0 "$LAUNCHED" 2>/dev/null; then
        status=0
        wait "$LAUNCHED" || status=$?
        echo "The program ended (exit code $status) without opening a window." >&2
        exit 1
    fi
    sleep 0.1
done
if [ -z "$shown" ]; then
    echo "The program did not open a window within a minute." >&2
    exit 1
fi
sleep 2
SHOT="$BUILD/screenshot.png"
import -window root "$SHOT"
echo "$SHOT"
