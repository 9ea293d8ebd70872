#!/bin/sh
# Creates the build's own Wine prefix from nothing, set to Windows 10.
# Usage: make-wineprefix.sh <wine> <prefix-dir> <stamp-file>
set -eu
WINE="$1"
export WINEPREFIX="$2"
STAMP="$3"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
WINESERVER="$(dirname "$(readlink -f "$WINE")")/wineserver"
[ -x "$WINESERVER" ] || WINESERVER=wineserver

rm -rf "$WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$WINE" wineboot --init >/dev/null 2>&1
"$WINE" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win10 /f >/dev/null 2>&1
# Xvfb has no window manager: Wine draws the window frames itself.
"$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
# The caption buttons are drawn with Marlett, which this Wine does not find
# in its own data folder: give the prefix a copy.
if [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
fi
# Image encoders are found through the MIME type that Windows registers for
# each picture extension; this Wine registers none.
for pair in .bmp=image/bmp .jpg=image/jpeg .jpeg=image/jpeg .png=image/png .gif=image/gif \
            .tif=image/tiff .tiff=image/tiff; do
    "$WINE" reg add "HKCR\\${pair%%=*}" /v "Content Type" /t REG_SZ /d "${pair#*=}" /f >/dev/null 2>&1
done
"$WINESERVER" -w
touch "$STAMP"
