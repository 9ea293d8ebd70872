#!/bin/sh
# Installs what the build, the run and the tests need on a Debian 12 machine,
# and only what is missing, so that a second run costs a few milliseconds.
set -eu

PACKAGES="cmake ninja-build g++ g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
wine wine64 xvfb xauth x11-utils imagemagick fonts-liberation fonts-wine googletest procps python3-jsonschema gcovr \
msitools wixl faketime osslsigncode openssl ansible-core"

missing=""
for package in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $package"
    fi
done

if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages:$missing (run as root to install them)" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
fi
