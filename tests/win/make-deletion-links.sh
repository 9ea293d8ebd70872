#!/bin/sh
# A profile folder that is a link, for the deletion tests: Wine presents a
# Unix symbolic link to a folder as a directory reparse point but cannot make
# one itself. The link lies in the profiles directory and points outside it.
# Usage: make-deletion-links.sh <the prefix's C: drive>
set -eu
drive="$1"
rm -rf "$drive/vantrell-link-target"
mkdir -p "$drive/vantrell-link-target/inner" "$drive/users"
printf 'keep' >"$drive/vantrell-link-target/keep.txt"
printf 'keep' >"$drive/vantrell-link-target/inner/keep.txt"
rm -f "$drive/users/vantrell-linked-profile"
ln -s ../vantrell-link-target "$drive/users/vantrell-linked-profile"
