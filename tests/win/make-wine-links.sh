#!/bin/sh
# Wine presents a Unix symbolic link to a folder as a directory reparse
# point, but cannot make one itself: the file tests' links are made here.
# Usage: make-wine-links.sh <folder on the prefix's C: drive>
set -eu
root="$1"
rm -rf "$root"
mkdir -p "$root/loop/sub" "$root/tree/sub" "$root/target"
printf 'abcd' >"$root/loop/a.bin"
printf '123456' >"$root/loop/sub/b.bin"
ln -s .. "$root/loop/sub/up"
printf 'keep' >"$root/target/keep.txt"
printf 'gone' >"$root/tree/sub/file.txt"
ln -s ../target "$root/tree/link"
# The move tests' own: a folder and a room holding a link to it.
mkdir -p "$root/movetarget" "$root/moveroom"
printf 'keep' >"$root/movetarget/keep.txt"
ln -s ../movetarget "$root/moveroom/link"
ln -s target "$root/tool-link"
mkdir -p "$root/tool-tree/sub"
printf 'stays' >"$root/tool-tree/sub/file.txt"
ln -s ../target "$root/tool-tree/link"
