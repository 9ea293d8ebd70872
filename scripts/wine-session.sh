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
