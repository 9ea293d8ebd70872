#!/bin/sh
# Installs the package silently into a Wine prefix made fresh for this test
# (a folder given on the command line ignored), runs "vantrell version" and
# "vantrell help" from a new cmd through the system path, installs the next
# version over it (a major upgrade), checks
# that the older one is refused over the newer, uninstalls, and checks that
# nothing of the package is left: no file, no path entry, no registry value.
#   check-package.sh WINE VERSION PROGRAM_DIR SOURCE_DIR WORK_DIR
set -u
# The fresh prefix's set-up shows windows of its own: they go to a display
# of their own, never to the one where a test's keyboard and focus live.
if [ -z "${VANTRELL_PACKAGE_DISPLAY:-}" ]; then
    export VANTRELL_PACKAGE_DISPLAY=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
wine=$1 version=$2 programs=$3 source=$4 work=$5
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver="$(dirname "$(readlink -f "$wine")")/wineserver"
[ -x "$wineserver" ] || wineserver=wineserver
trap '"$wineserver" -k 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The next version: the same programs under a higher number.
next=$(echo "$version" | awk -F. '{printf "%d.%d.%d.%d", $1, $2, $3 + 1, $4}')
"$source/installer/make-package.sh" "$version" "$programs" "$source" "$work/old.msi" || exit 1
"$source/installer/make-package.sh" "$next" "$programs" "$source" "$work/new.msi" || exit 1

"$wine" wineboot --init >/dev/null 2>&1
"$wineserver" -w
drive_c="$WINEPREFIX/drive_c"
folder="$drive_c/Program Files/Vantrell"
# Wine's own files change as it runs; the package's may not stay behind.
tree() { (cd "$drive_c" && find . -path ./windows/Installer -prune -o -path ./users -prune -o -path ./windows/temp -prune \
                               -o -print | LC_ALL=C sort); }
# Wine's msi leaves the separator of an entry it takes away (";;"), and
# Wine's cmd stops its search at an empty entry; Windows does neither. The
# path is therefore read without its empty entries.
machine_path() {
    "$wine" reg query 'HKLM\System\CurrentControlSet\Control\Session Manager\Environment' /v Path 2>/dev/null |
        tr -d '\r' | sed -n 's/.*REG_EXPAND_SZ *//p; s/.*REG_SZ *//p' | sed 's/;;*/;/g; s/^;//; s/;$//'
}
named_in_path() { machine_path | tr ';' '\n' | grep -ciE '^C:\\Program Files\\Vantrell\\?$'; }
# The products registered for removal, read from the registry's file once
# the Wine server has ended and written it: no Wine process is started to
# read them, so no start of one under load can make a count wrong.
export uninstall_section='^\[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\[{]'
registered() { "$wineserver" -w; grep -c "$uninstall_section" "$WINEPREFIX/system.reg"; }
# Each of them as "name version", for a message.
registered_names() {
    "$wineserver" -w
    awk '
        /^\[/ { inside = ($0 ~ ENVIRON["uninstall_section"]) }
        inside && /^"DisplayName"=/ { name = $0; sub(/^"DisplayName"="/, "", name); sub(/"$/, "", name) }
        inside && /^"DisplayVersion"=/ { version = $0; sub(/^"DisplayVersion"="/, "", version); sub(/"$/, "", version) }
        /^$/ && name != "" { printf "%s %s; ", name, version; name = ""; version = "" }
        END { if (name != "") printf "%s %s", name, version }' "$WINEPREFIX/system.reg"
}
msiexec() { "$wine" msiexec "$@" >/dev/null 2>&1; code=$?; "$wineserver" -w; return $code; }
installed_ok() { [ "$1" -eq 0 ] || [ "$1" -eq 3010 ]; }
# A new cmd, as an administrator would open it: it finds "vantrell" through the path.
console() { "$wine" cmd /c "cd /d C:\\ && set PATH=$(machine_path)&& $1" 2>&1 </dev/null | tr -d '\r'; }

files_before=$(tree)
path_before=$(machine_path)
products_before=$(registered)

# A folder given on the command line is not taken: the install stays in
# Program Files, where only administrators write.
msiexec /i "$work/old.msi" /qn 'INSTALLDIR=C:\Tools' 'InstallFolder=C:\Tools'; code=$?
installed_ok $code || fail "silent install exited $code"
[ ! -e "$drive_c/Tools" ] || fail "the install took the folder given on the command line: $(ls "$drive_c/Tools")"
for file in vantrell.exe vantrell.com NOTICES.txt; do
    [ -f "$folder/$file" ] || fail "$file is not in Program Files\\Vantrell"
done
cmp -s "$folder/vantrell.exe" "$programs/vantrell.exe" || fail "the installed vantrell.exe is not the built one"
# (Wine makes the shortcut in the user's Start menu, Windows in the one of all users.)
[ -n "$(find "$drive_c" -name Vantrell.lnk)" ] || fail "no Start menu shortcut"
[ "$(named_in_path)" -eq 1 ] || fail "the system path does not name the folder once: $(machine_path)"
out=$(console "vantrell version")
[ "$out" = "$version" ] || fail "vantrell version from the path printed \"$out\", not $version"
console "vantrell help" | grep -q "^Usage: vantrell COMMAND" || fail "vantrell help from the path printed no usage"
"$wine" cmd /c "set PATH=$(machine_path)&& vantrell version --bogus" >/dev/null 2>&1 </dev/null; code=$?
[ $code -eq 2 ] || fail "a wrong command line through vantrell.com ended with $code, not 2"

msiexec /i "$work/new.msi" /qn; code=$?
installed_ok $code || fail "the upgrade exited $code"
[ "$(registered)" -eq $((products_before + 1)) ] || fail "the upgrade left the older version registered beside it: $(registered_names)"
[ "$(named_in_path)" -eq 1 ] || fail "after the upgrade the path names the folder other than once: $(machine_path)"
out=$(console "vantrell version")
[ "$out" = "$version" ] || fail "after the upgrade vantrell version printed \"$out\""

msiexec /i "$work/old.msi" /qn && fail "the older package installed over the newer"
[ "$(registered)" -eq $((products_before + 1)) ] || fail "the refused downgrade changed what is installed: $(registered_names)"

msiexec /x "$work/new.msi" /qn; code=$?
installed_ok $code || fail "the uninstall exited $code"
printf '%s\n' "$files_before" >"$work/before"
left=$(tree | LC_ALL=C comm -13 "$work/before" -; find "$drive_c/users" -iname 'vantrell*')
[ -z "$left" ] || fail "left after the uninstall: $left"
[ "$(machine_path)" = "$path_before" ] || fail "the path was not restored: $(machine_path)"
[ "$(registered)" -eq "$products_before" ] || fail "the product is still registered after the uninstall: $(registered_names)"
"$wine" reg query 'HKLM\Software\Vantrell' >/dev/null 2>&1 && fail "HKLM\\Software\\Vantrell is left"

[ $failures -eq 0 ] && echo "installed, upgraded, refused the downgrade and uninstalled without a trace"
exit $((failures > 0))
