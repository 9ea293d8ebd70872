#!/bin/sh
# Times the desired-state reader natively (no Wine): one object of 10,000,
# 20,000 and 40,000 members, one of about the most values it takes, and
# documents at the 16 MB cap `apply` reads (one object of as many members as
# fit, and an array of as many values).
# With a revision (bench-json-keys.sh main) the reader of that revision is
# timed instead, for a before-and-after (an empty one: the working tree); a
# second argument "members" leaves out the documents at the cap (a reader
# that compares every member with every other would take hours over them).
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# The core (no Windows header) of the revision or of the working tree, as
# its own cmake/Sources.cmake lists it: the reader and all it calls.
mkdir -p "$WORK/src"
if [ -n "${1:-}" ]; then
    git -C "$ROOT" archive "$1" app accounts platform repair ui cmake | tar -x -C "$WORK/src"
else
    (cd "$ROOT" && tar -c app accounts platform repair ui cmake) | tar -x -C "$WORK/src"
fi
core=$(sed -n '/^set(VANTRELL_CORE_SOURCES/,/)/p' "$WORK/src/cmake/Sources.cmake" | grep '\.cpp' |
       sed "s|^ *|$WORK/src/|")
reader=app/command_rules.h
[ -f "$WORK/src/app/desired_state_reader.h" ] && reader=app/desired_state_reader.h
cat >"$WORK/bench.cpp" <<'CPP'
#include <chrono>
#include <cstdio>
#include <string>

#include READER

namespace {

double Seconds(const std::string& text, bool& read)
{
    const auto start = std::chrono::steady_clock::now();
    JsonValue value;
    DesiredState state;
    std::wstring error;
    read = ParseJson(text, value, error);
    ReadDesiredState(value, state, error);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string Members(size_t count, size_t cap)
{
    std::string text = "{\"schemaVersion\":1,\"x\":{";
    for (size_t i = 0; i < count && text.size() < cap; ++i)
        text += (i == 0 ? "\"k" : ",\"k") + std::to_string(i) + "\":0";
    return text + "}}";
}

}  // namespace

int main(int argc, char**)
{
    const size_t cap = 16u << 20;
    bool read = false;
    for (size_t keys : {10000u, 20000u, 40000u})
        std::printf("%6zu members in one object: %.3f s\n", keys, Seconds(Members(keys, cap), read)), std::fflush(stdout);
    if (argc > 1)
        return 0;
    const double most = Seconds(Members(199990, cap), read);
    std::printf("199,990 members, about the most values taken: %.3f s (%s)\n", most, read ? "parsed" : "refused");
    std::string zeros = "[0";
    while (zeros.size() < cap - 4)
        zeros += ",0";
    const double members = Seconds(Members(~size_t(0), cap - 16), read);
    std::printf("16 MB of members in one object: %.3f s (%s)\n", members, read ? "read" : "refused");
    const double values = Seconds("{\"schemaVersion\":1,\"x\":" + zeros + "]}", read);
    std::printf("16 MB array of values: %.3f s (%s)\n", values, read ? "read" : "refused");
    return 0;
}
CPP
g++ -std=c++17 -O2 -I"$WORK/src" -DREADER="\"$reader\"" -o "$WORK/bench" "$WORK/bench.cpp" $core 2>&1
if [ "${2:-}" = members ]; then "$WORK/bench" members; else "$WORK/bench"; fi
