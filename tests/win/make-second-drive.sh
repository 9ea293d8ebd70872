#!/bin/sh
# The personal-folder tests move between C: and a drive on another Linux
# file system, so that a move must copy: drive T: of the prefix is mapped to
# a folder in /dev/shm (tmpfs). Wine links the users' own folders to the
# Linux home folder; a test that moved them would move the home folder, so
# they become ordinary folders of the prefix here. A symbolic link is made
# for the tests that must meet one.
# Usage: make-second-drive.sh <wine prefix>
set -eu
prefix="$1"
key="$(printf '%s' "$prefix" | cksum | cut -d' ' -f1)"
shm="/dev/shm/vantrell-tests-$key"
[ -d /dev/shm ] || shm="${TMPDIR:-/tmp}/vantrell-tests-$key"
rm -rf "$shm"
mkdir -p "$shm"
ln -sfn "$shm" "$prefix/dosdevices/t:"
for user in "$prefix"/drive_c/users/*/; do
    [ "$(basename "$user")" = Public ] && continue
    for folder in Desktop Documents Downloads Music Pictures Videos; do
        if [ -L "$user$folder" ]; then
            rm -f "$user$folder"
        fi
        mkdir -p "$user$folder"
    done
done
links="$prefix/drive_c/vantrell-folder-links"
rm -rf "$links"
mkdir -p "$links/target"
printf 'keep' >"$links/target/keep.txt"
ln -s target "$links/link"
