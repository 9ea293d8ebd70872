#!/bin/sh
# What weighs in the product: the sizes of the shipped vantrell.exe and
# vantrell.com, and from the link map, the bytes each library and the
# heaviest objects bring into vantrell.exe, by output section.
#   scripts/size-report.sh [BUILD_DIR]   (build/windows by default; it must have been built)
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="${1:-$ROOT/build/windows}"
for file in vantrell.exe vantrell.com; do
    printf '%-14s %9d bytes\n' "$file" "$(stat -c %s "$BUILD/$file")"
done
x86_64-w64-mingw32-size -A "$BUILD/vantrell.exe" | awk 'NR > 2 && $2 > 0 {printf "  %-12s %9d\n", $1, $2}'
[ -f "$BUILD/vantrell.map" ] || { echo "no link map: $BUILD/vantrell.map" >&2; exit 1; }
python3 - "$BUILD/vantrell.map" <<'PY'
import collections, re, sys
# Input sections as the map lists them: " .text  0xADDRESS  0xSIZE  origin", the
# name sometimes alone on the line before.
by_library, by_object = collections.Counter(), collections.Counter()
pending = None
for line in open(sys.argv[1], errors="replace"):
    if re.match(r"^ \.\S+$", line.rstrip()):
        pending = line.strip()
        continue
    m = re.match(r"^ (\.\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line.rstrip())
    if not m or (m.group(1) is None and pending is None):
        pending = None
        continue
    section = m.group(1) or pending
    pending = None
    if section.startswith(".debug") or section.startswith(".stab"):
        continue
    size, origin = int(m.group(2), 16), m.group(3)
    library = re.sub(r"\(.*\)$", "", origin).split("/")[-1]
    if "CMakeFiles" in origin or library.endswith(".obj"):
        library = "product: " + (origin.split("CMakeFiles/")[-1].split(".dir/")[0] if "CMakeFiles/" in origin else library)
    by_library[library] += size
    by_object[origin.split("/")[-1]] += size
print("by library (code, data, unwind and import sections):")
for name, size in by_library.most_common(14):
    print(f"  {size:9d}  {name}")
print("heaviest objects:")
for name, size in by_object.most_common(15):
    print(f"  {size:9d}  {name}")
PY
