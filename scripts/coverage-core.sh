#!/bin/sh
# Measures how much of the platform-independent core its native tests run:
# builds the core with coverage counters in build/core-coverage, runs its
# tests and prints gcovr's summary (the per-file table goes to
# build/core-coverage/coverage.txt).
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
"$ROOT/scripts/install-deps.sh"
BUILD="$ROOT/build/core-coverage"

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_CORE_ONLY=ON \
      -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$BUILD" -j "$(nproc)"
# Counts of an earlier run would add up with this one's.
find "$BUILD" -name '*.gcda' -delete
(cd "$BUILD" && ctest --output-on-failure)
cd "$ROOT"
gcovr -r "$ROOT" "$BUILD" --exclude 'tests/' --exclude 'build/' \
      --print-summary -o "$BUILD/coverage.txt"
