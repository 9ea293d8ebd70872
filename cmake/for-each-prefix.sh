#!/bin/sh
# Runs a set-up script once for each Wine prefix the tests use: the prefix
# itself and its copies "<prefix>-1" ... for the other test slots.
# Usage: for-each-prefix.sh <count> <prefix> <script> <path inside the prefix>
set -eu
count="$1"
prefix="$2"
script="$3"
inside="${4:-}"
slot=0
while [ "$slot" -lt "$count" ]; do
    if [ "$slot" -eq 0 ]; then
        "$script" "$prefix$inside"
    else
        "$script" "$prefix-$slot$inside"
    fi
    slot=$((slot + 1))
done
