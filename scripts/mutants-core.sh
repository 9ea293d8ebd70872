#!/bin/sh
# A mutation sample of the native core's rules: small faults put into the
# rule files one at a time, each built and run against the core's tests.
# Same seed, files and count give the same sample, so two runs compare.
#   scripts/mutants-core.sh [COUNT] [SEED]   (the results in build/core/mutants.tsv;
#   MUTANTS names the sampling tool when it is not beside the project)
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"
count="${1:-40}" seed="${2:-1}"
cmake -S . -B build/core -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTRELL_CORE_ONLY=ON >/dev/null
cmake --build build/core -j "$(nproc)" >/dev/null
"${MUTANTS:-$ROOT/../shared/tools/mutants}" --seed "$seed" --count "$count" --timeout 300 \
    --build "cmake --build build/core -j $(nproc)" \
    --test "build/core/tests/core/core_tests --gtest_brief=1" \
    --out build/core/mutants.tsv \
    accounts/*_rules.cpp repair/*_rules.cpp
