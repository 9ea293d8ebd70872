#!/bin/sh
# Runs a set-up script once for each Wine prefix the tests use: the prefix
# itself and its copies "<prefix>-1" ... for the other test slots. Each
# prefix is changed under its slot's lock (cmake/wine-launcher.sh.in), so
# that no test running in it sees the set-up half done.
# Usage: for-each-prefix.sh <count> <prefix> <script> <path inside the prefix>
set -eu
count="$1"
prefix="$2"
script="$3"
inside="${4:-}"
slot=0
while [ "$slot" -lt "$count" ]; do
    if [ "$slot" -eq 0 ]; then
        root="$prefix"
    else
        root="$prefix-$slot"
    fi
    flock -o "$root/.test-lock" "$script" "$root$inside"
    slot=$((slot + 1))
done
