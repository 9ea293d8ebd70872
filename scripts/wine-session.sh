# Sourced by the scripts: the Windows build, a display and the Wine server
# for a session.

# Configures the Windows build in $BUILD and builds the given targets.
build_windows() {
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$BUILD" -j "$(nproc)" --target "$@"
}

# Starts Xvfb on a free display number and exports DISPLAY; sets XVFB_PID.
start_display() {
    for n in $(seq 90 140); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
    done
    Xvfb ":$n" -screen 0 "$1" -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
}

# Sets WINESERVER to the server that belongs to the Wine the build uses.
find_wineserver() {
    WINESERVER="$(dirname "$(readlink -f "$(command -v wine64 || echo /usr/lib/wine/wine64)")")/wineserver"
    [ -x "$WINESERVER" ] || WINESERVER=wineserver
}

# The test slots of the Windows build in $1: its prefix (slot 0) and the
# copies "<prefix>-<n>". Gives each slot a display (slot 0 the current one)
# exported as VANTRELL_SLOT_DISPLAY_<n> for the launcher, and starts each
# prefix's Wine server and services on its slot's display.
start_test_slots() {
    run_display="$DISPLAY"
    run_display_pid="${XVFB_PID:-}"
    SLOT_DISPLAY_PIDS=""
    find_wineserver
    for prefix in "$1/wineprefix" "$1"/wineprefix-*; do
        [ -d "$prefix" ] || continue
        slot=0
        if [ "$prefix" != "$1/wineprefix" ]; then
            slot="${prefix##*-}"
            start_display 1280x1024x24
            SLOT_DISPLAY_PIDS="$SLOT_DISPLAY_PIDS $XVFB_PID"
        fi
        export "VANTRELL_SLOT_DISPLAY_$slot=$DISPLAY"
        WINEPREFIX="$prefix" "$WINESERVER" -p 60 </dev/null >/dev/null 2>&1 || true
        VANTRELL_SLOT=$slot "$1/wine-launcher" cmd /c exit </dev/null >/dev/null 2>&1 || true
        export DISPLAY="$run_display"
    done
    XVFB_PID="$run_display_pid"   # the caller's display stays the caller's to end
}

# Ends the Wine servers of every slot and the displays start_test_slots started.
stop_test_slots() {
    for prefix in "$1/wineprefix" "$1"/wineprefix-*; do
        [ -d "$prefix" ] && WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1
    done
    [ -z "$SLOT_DISPLAY_PIDS" ] || kill $SLOT_DISPLAY_PIDS 2>/dev/null
    return 0
}

# The session of a benchmark in the build's own prefix ($BUILD): its Wine
# server, and a display of the given size when there is none; both end with
# the script.
start_bench_session() {
    export WINEPREFIX="$BUILD/wineprefix"
    find_wineserver
    trap end_bench_session EXIT INT TERM
    if [ -z "${DISPLAY:-}" ]; then
        start_display "$1"
    fi
}

end_bench_session() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    [ -n "${XVFB_PID:-}" ] && kill "$XVFB_PID" 2>/dev/null || true
}
