#!/bin/sh
# Screenshots of every window of the program at one display scale, each
# from a fresh start of the sandbox build, reached as the operator would
# (clicks and keys through XTEST):
#   scripts/gallery.sh OUTPUT_FOLDER [LOGPIXELS] [SCENARIO]
# LOGPIXELS is Wine's DPI (96, 144, 192; default 96), set for the run and
# given back as 96 at the end; SCENARIO the simulated machine (default
# "default"; "high-contrast" has the operator's high-contrast theme on).
# VANTRELL_SHOTS, when set, names the shots to take (space-separated), for
# a quick look at a few windows. The screen is 1280 x 1024, as the tests
# have it, at 96 DPI, and 2560 x 1600 above, where the main window alone
# outgrows the smaller one; VANTRELL_SCREEN (e.g. 1920x1200x24) sets it.
# Needs the build to exist (scripts/run.sh builds it).
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="$(mkdir -p "$1" && cd "$1" && pwd)"
DPI="${2:-96}"
SCENARIO="${3:-default}"
BUILD="$ROOT/build/windows"
. "$ROOT/scripts/wine-session.sh"
LAUNCH="$BUILD/wine-launcher"
PROGRAM="$BUILD/vantrell-sandbox.exe"
OPERATE="python3 $ROOT/scripts/operator.py"

if [ "$DPI" -gt 96 ]; then SCREEN=2560x1600x24; else SCREEN=1280x1024x24; fi
start_display "${VANTRELL_SCREEN:-$SCREEN}"
# VANTRELL_SLOT (1) shoots in the build's copy of the prefix, on this
# display: two scales at once, each with its own LogPixels.
export WINEPREFIX="$BUILD/wineprefix"
if [ -n "${VANTRELL_SLOT:-}" ] && [ "$VANTRELL_SLOT" != 0 ]; then
    export WINEPREFIX="$WINEPREFIX-$VANTRELL_SLOT" "VANTRELL_SLOT_DISPLAY_$VANTRELL_SLOT=$DISPLAY"
fi
find_wineserver
set_scale() {
    for key in 'HKCU\Control Panel\Desktop' \
               'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        "$LAUNCH" reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1
    done
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
}
cleanup() {
    "$WINESERVER" -k >/dev/null 2>&1 || true
    set_scale 96 || true
    kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT INT TERM
set_scale "$DPI"
S=$((DPI))

# A point of the main window's client area given in 96-DPI units.
at() { echo $((WX + $1 * S / 96)) $((WY + $2 * S / 96)); }

# shot NAME [ARGUMENTS] -- ACTIONS...: starts the program, waits for its
# window, plays the actions (each "click X Y" in the window's 96-DPI units,
# or "key NAME"), waits and saves the screen.
shot() {
    name="$1"; shift
    case " ${VANTRELL_SHOTS:-$name} " in *" $name "*) ;; *) return 0 ;; esac
    args=""
    while [ "$1" != "--" ]; do args="$args $1"; shift; done
    shift
    "$LAUNCH" "$BUILD/sandbox-tool.exe" reset "$SCENARIO" </dev/null >/dev/null 2>&1
    # shellcheck disable=SC2086
    "$LAUNCH" "$PROGRAM" $args </dev/null >/dev/null 2>&1 &
    for _ in $(seq 1 600); do
        geometry="$(xwininfo -root -tree 2>/dev/null | grep -E '"(Vantrell|Brenwick)[^"]*"' | head -1)" || true
        [ -n "$geometry" ] && break
        sleep 0.1
    done
    sleep 3
    # "... 750x550+265+237  +265+237": the last pair is the absolute origin.
    WX=$(echo "$geometry" | awk '{print $NF}' | cut -d+ -f2)
    WY=$(echo "$geometry" | awk '{print $NF}' | cut -d+ -f3)
    while [ $# -gt 0 ]; do
        case "$1" in
        click) $OPERATE click $(at "$2" "$3"); shift 3 ;;
        key) $OPERATE key "$2"; shift 2 ;;
        wait) sleep "$2"; shift 2 ;;
        losses) plant_losses "$2" "$3"; shift 3 ;;
        esac
    done
    sleep 3
    import -window root "$OUT/$name.png"
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w >/dev/null 2>&1 || true
    echo "$OUT/$name.png"
}

# plant_losses PROFILE SID: what the repair cannot carry, in the profile
# folder below the prefix's drive C: three data-protection keys, so that
# the wizard's warnings run long.
plant_losses() {
    protect="$WINEPREFIX/drive_c/$1/AppData/Roaming/Microsoft/Protect/$2"
    mkdir -p "$protect"
    for n in 1 2 3; do echo key >"$protect/1b2c3d4e-0000-4000-8000-00000000000$n"; done
}

ROW="click 100 125"          # Administrator
STAFF="click 56 300"         # James Okafor, whom the operator may delete
# The high-contrast machine has three accounts, James Okafor the third.
[ "$SCENARIO" = high-contrast ] && STAFF="click 241 138"
OWN="click 147 213"          # Office Manager, the console user
shot main_window --
shot about_box -- click 660 69
shot health_check -- key F6 wait 4
shot create_account -- click 650 523
shot password -- $ROW click 475 493
shot picture -- $ROW click 650 463
shot message_box -- $ROW click 650 493
shot delete_account -- $STAFF click 475 523
shot personal_folders -- $OWN click 562 433 wait 2
# Another account's folders, read from its hive loaded for the while.
shot personal_folders_other -- $STAFF wait 1 click 562 433 wait 4
shot member_of -- $STAFF
shot details -- $ROW
shot groups -- $STAFF click 692 197 wait 2
shot local_groups -- $STAFF click 692 197 wait 2 key Alt_L+l wait 2
shot profiles -- key F7 wait 3
shot profiles_sizes -- key F7 wait 3 click 270 459 wait 3
shot repair_wizard /brenwick --
# The first page with an account selected: what its examination found.
shot repair_wizard_examined /brenwick -- click 149 120 wait 2
shot repair_wizard_examined_second /brenwick -- click 149 176 wait 2
shot repair_wizard_page2 /brenwick -- click 149 120 click 525 356 wait 3
# The same with every warning the count can give Maria Hartley.
shot repair_wizard_page2_warnings /brenwick -- losses users/mhartley S-1-5-21-0-0-0-1001 click 149 120 wait 2 click 525 356 wait 3
# Alt shows the access keys' underlines.
shot access_keys -- $ROW key Alt_L+v
shot access_keys_header -- key Alt_L
shot access_keys_dialog -- click 650 523 key Alt_L+t
