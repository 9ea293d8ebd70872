#!/bin/sh
# A folder holding a Unix link that leads out of wherever the folder is moved
# (an absolute link, which Wine presents as a directory reparse point), and
# the place it leads to. Wine cannot make such a link itself.
# The hive room is a stand-in for a profile's "AppData\Local\Microsoft": its
# "Windows" leads to a folder holding a "UsrClass.dat" of its own.
# Usage: make-profile-links.sh <folder on the prefix's C: drive>
set -eu
root="$1"
rm -rf "$root"
mkdir -p "$root/holder" "$root/target" "$root/hiveroom" "$root/hivetarget"
printf 'keep' >"$root/target/keep.txt"
ln -s "$root/target" "$root/holder/escape"
printf 'keep' >"$root/hivetarget/UsrClass.dat"
ln -s "$root/hivetarget" "$root/hiveroom/Windows"
