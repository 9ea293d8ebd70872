#!/bin/sh
# Times the command mode under the build's Wine, each figure the median of
# RUNS process starts, on the thousand-account scenario (1,000 accounts, each
# with a profile): "list --json" and "profiles" against the bare floor of what
# they report (one walk of the profile list plus one NetUserEnum walk at
# level 3 over every page, in a console program of its own); "apply" of a
# 50-account document that changes nothing (what a fleet engine runs every
# time: those accounts and their group memberships) against the bare
# enumeration alone; "help" against a minimal console program. Leaves the simulated machine on the thousand accounts.
# VANTRELL_BENCH_PROGRAMS: as in bench-startup.sh.
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
RUNS="${1:-7}"
"$ROOT/scripts/install-deps.sh"

BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
build_windows wineprefix vantrell-sandbox sandbox-tool vantrell_command_floors

start_bench_session 1280x1024x24
cd "$BUILD"
./wine-launcher ./sandbox-tool.exe reset thousand-accounts >/dev/null

# Milliseconds of one start to its end, output thrown away.
once() {
    start=$(date +%s%N)
    ./wine-launcher "$@" </dev/null >/dev/null 2>&1
    end=$(date +%s%N)
    echo $(((end - start) / 1000000))
}
median() {
    runs=""
    i=0
    while [ $i -lt "$RUNS" ]; do
        runs="$runs $(once "$@")"
        i=$((i + 1))
    done
    echo $runs | tr ' ' '\n' | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'
}
programs="${VANTRELL_BENCH_PROGRAMS:-.}"
once "$programs/vantrell-sandbox.exe" help >/dev/null   # the first start fills Wine's caches
list=$(median "$programs/vantrell-sandbox.exe" list --json)
profiles=$(median "$programs/vantrell-sandbox.exe" profiles)
profilesFloor=$(median "$programs/tests/bench/vantrell_command_floors.exe" profiles)
# 50 accounts of the machine as they are, spread over the whole list.
state="$(mktemp -d)"
./wine-launcher "$programs/vantrell-sandbox.exe" export </dev/null >"$state/all.json" 2>/dev/null
python3 - "$state/all.json" "$state/fifty.json" <<'PY'
import json, sys
state = json.load(open(sys.argv[1]))
step = max(1, len(state["accounts"]) // 50)
state["accounts"] = state["accounts"][::step][:50]
names = {account["name"].lower() for account in state["accounts"]}
for group in state.get("groups", []):
    group["members"] = [m for m in group.get("members", []) if m.lower() in names]
state["groups"] = [g for g in state.get("groups", []) if g["members"]]
json.dump(state, open(sys.argv[2], "w"))
PY
apply=$(median "$programs/vantrell-sandbox.exe" apply "Z:$state/fifty.json")
rm -rf "$state"
floor=$(median "$programs/tests/bench/vantrell_command_floors.exe" enum)
help=$(median "$programs/vantrell-sandbox.exe" help)
hello=$(median "$programs/tests/bench/vantrell_command_floors.exe" hello)
awk -v l="$list" -v f="$floor" -v h="$help" -v m="$hello" -v r="$RUNS" -v a="$apply" -v p="$profiles" \
    -v q="$profilesFloor" -v load="$(cut -d' ' -f1-3 /proc/loadavg)" 'BEGIN {
    printf "list --json, 1,000 accounts: %d ms   profiles floor:    %d ms   ratio %.2f (target 1.10)\n", l, q, l / q
    printf "apply, 50 unchanged:         %d ms   enumeration floor: %d ms   ratio %.2f (target 1.50)\n", a, f, a / f
    printf "profiles, 1,000 profiles:    %d ms   profiles floor:    %d ms   ratio %.2f (target 1.50)\n", p, q, p / q
    printf "help:                        %d ms   minimal console:   %d ms   ratio %.2f (target 1.30)\n", h, m, h / m
    printf "(medians of %d starts under Wine; load average %s)\n", r, load
}'
