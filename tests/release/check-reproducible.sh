#!/bin/sh
# Builds vantrell.exe, vantrell.com and the package a second time, from a
# copy of the source in another folder, and compares them byte for byte
# with this build's: no time stamp and no build path may reach them. Only
# what ships is built, with no compiler cache: no object of this build, nor
# of an earlier check, is reused.
#   check-reproducible.sh SOURCE_DIR BUILD_DIR WORK_DIR
set -u
source=$1 first=$2 work=$3
rm -rf "$work"
trap 'rm -rf "$work"' EXIT
# No launcher from the environment, and a cache reached any other way stays shut.
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
export CCACHE_DISABLE=1
SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH

# The same layout below another root: the commit's files and the change under way.
tree="$work/another-folder/src"
mkdir -p "$tree"
(cd "$source" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$tree") || exit 1
second="$tree/${first#"$source"/}"
[ "$second" != "$tree/$first" ] || second="$tree/build/windows"
cmake -S "$tree" -B "$second" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVANTRELL_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$tree/cmake/mingw-w64-x86_64.cmake" >"$work/configure.log" 2>&1 &&
    nice cmake --build "$second" -j "$(nproc)" --target vantrell vantrell-console installer >"$work/build.log" 2>&1 ||
    { cat "$work/configure.log" "$work/build.log"; exit 1; }

status=0
for file in vantrell.exe vantrell.com $(cd "$first" && ls vantrell-*.msi); do
    if cmp "$first/$file" "$second/$file"; then
        echo "same bytes: $file"
    else
        echo "$(cmp -l "$first/$file" "$second/$file" | wc -l) bytes differ; the second build stays in $work"
        # The package carries the last commit's time: one made before it is stale, not unreproducible.
        [ "$(stat -c %Y "$first/$file")" -ge "$SOURCE_DATE_EPOCH" ] ||
            echo "$first/$file was made before the last commit: build again, then check"
        status=1
        trap - EXIT
    fi
done
exit $status
