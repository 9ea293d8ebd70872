#!/bin/bash
# What a clean build costs: the CPU time (user + system, of every compiler
# and linker it starts) and the wall time of building everything from an
# empty build folder with two jobs, as CI does. No compiler cache: the point
# is the compile itself. The Wine prefix is made before the clock starts, as
# it costs the same in every build and is no compiling.
#
#   scripts/build-cost.sh [windows|core] [unity batch size, or 0 for none]
#
# e.g. scripts/build-cost.sh windows 16; scripts/build-cost.sh core 0.
# Other work on the machine stretches the wall time: run it when the
# machine is quiet, and compare figures taken at the same time.
set -euo pipefail
kind=${1:-windows}
batch=${2:-16}
root=$(cd "$(dirname "$0")/.." && pwd)
folder=$root/build/cost-$kind-$batch
unity=ON
[ "$batch" = 0 ] && unity=OFF && batch=16

unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
rm -rf "$folder"
case $kind in
  windows)
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
          -DVANTRELL_UNITY_BUILD=$unity -DVANTRELL_UNITY_BATCH_SIZE=$batch >/dev/null
    cmake --build "$folder" --target wineprefix >/dev/null
    targets=(all benchmarks) ;;
  core)
    cmake -S "$root" -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_CORE_ONLY=ON \
          -DVANTRELL_UNITY_BUILD=$unity -DVANTRELL_UNITY_BATCH_SIZE=$batch >/dev/null
    targets=(all) ;;
  *) echo "usage: $0 [windows|core] [batch size, 0 for no unity build]" >&2; exit 2 ;;
esac

times=$(mktemp)
trap 'rm -f "$times"' EXIT
/usr/bin/time -f '%U %S %e' -o "$times" cmake --build "$folder" -j2 --target "${targets[@]}" >/dev/null
read -r user system wall <"$times"
load=$(cut -d' ' -f1-3 /proc/loadavg)
awk -v k="$kind" -v u="$unity" -v b="$batch" -v us="$user" -v sy="$system" -v w="$wall" -v l="$load" 'BEGIN {
  printf "%s unity=%s batch=%s: CPU %.0f s (user %.0f + sys %.0f), wall %.0f s; load after: %s\n",
         k, u, (u == "ON" ? b : "-"), us + sy, us, sy, w, l }'
