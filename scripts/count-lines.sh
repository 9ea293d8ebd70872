#!/bin/sh
# Counts the lines of C++ (.cpp and .h) that are neither blank nor only a
# comment: the product (app with its dialogs, accounts repair platform ui), the simulated
# machine (sandbox), the tests (tests/ without the benchmarks) and the share
# of the tests against the product.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
cd "$ROOT"

# Non-blank lines outside comments of the files given on standard input.
count() {
    xargs -r cat | awk '
        {
            line = $0
            out = ""
            while (length(line) > 0) {
                if (inBlock) {
                    end = index(line, "*/")
                    if (end == 0) { line = ""; break }
                    line = substr(line, end + 2)
                    inBlock = 0
                    continue
                }
                open = index(line, "/*")
                slash = index(line, "//")
                if (slash > 0 && (open == 0 || slash < open)) { out = out substr(line, 1, slash - 1); line = ""; break }
                if (open > 0) { out = out substr(line, 1, open - 1); line = substr(line, open + 2); inBlock = 1; continue }
                out = out line
                line = ""
            }
            if (out ~ /[^ \t\r]/) n++
        }
        END { print n + 0 }'
}

files() { find "$@" -path tests/bench -prune -o -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort; }

product=$(files app accounts repair platform ui | count)
sandbox=$(files sandbox | count)
tests=$(files tests | count)
printf 'product  %6d\n' "$product"
printf 'sandbox  %6d\n' "$sandbox"
printf 'tests    %6d\n' "$tests"
awk -v t="$tests" -v p="$product" 'BEGIN { printf "ratio    %6.2f (tests / product)\n", t / p }'
