#!/bin/sh
# Runs the Vantrell command of every example in the README's section on
# running across many computers under Wine's cmd, through the console
# program as the engines start it, on the kiosk scenario, in the README's
# order: each must succeed as the example expects (0, or 3010 for a restart
# left to the caller), and with --json give one document whose exitCode is
# the process's. The README cannot drift from the program.
#   check-readme-examples.sh LAUNCHER BUILD_DIR README
set -u
launcher=$1 build=$2 readme=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$build" || exit 1
"$launcher" ./sandbox-tool.exe reset kiosk >/dev/null 2>&1 || exit 1
# The new password and the current one, for the piped-password example.
printf 'New-Pass-1\r\n\r\n' >"$work/input"

python3 - "$readme" >"$work/lines" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
section = text.split("### Running Vantrell across many computers", 1)[1].split("\n## ", 1)[0]
for line in section.splitlines():
    # The window program does not make PowerShell wait for its exit code.
    if line.startswith("    ") and "vantrell.exe" in line:
        sys.exit("an example calls vantrell.exe: " + line.strip())
    match = re.search(r'vantrell\.com"?\s+(.*)$', line)
    if match and line.startswith("    "):
        # The DSC example's document where the export before it wrote one.
        arguments = match.group(1).replace("C:\\ProgramData\\Vantrell\\accounts.json", "accounts.json")
        print(arguments.split(" |")[0].rstrip(") ").strip())
PY
[ $? -eq 0 ] || exit 1
count=$(wc -l <"$work/lines")
[ "$count" -ge 8 ] || { echo "only $count examples found in the README"; exit 1; }
bad=0
# Every example runs from one batch file, so that one cmd starts, not one
# for each: each line reads the input afresh and records its output and its
# exit code, which cmd reads in full (the Linux process's own status keeps
# only its low eight bits). The redirection comes first: "echo 6>file" is
# cmd's redirection of handle 6, which would lose a failure's code. An
# example that sends its output to a file of its own keeps it there.
# A failing command's code must arrive whole: it comes first, as "failing".
{ echo "show nobody"; cat "$work/lines"; } >"$work/all"
{
    printf '@echo off\r\ncd /d Z:%s\r\n' "$work"
    n=0
    while IFS= read -r arguments; do
        name=$n; [ "$n" -eq 0 ] && name=failing
        case "$arguments" in
            *">"*) out="" ;;
            *) out=" >Z:$work/$name.out 2>Z:$work/$name.err" ;;
        esac
        printf 'Z:%s/vantrell-sandbox.com %s <Z:%s/input%s\r\n>Z:%s/%s.rc echo %%ERRORLEVEL%%\r\n' \
            "$build" "$arguments" "$work" "$out" "$work" "$name"
        n=$((n + 1))
    done <"$work/all"
} >"$work/all.bat"
"$launcher" cmd /c "Z:$work/all.bat" </dev/null >"$work/cmd.out" 2>"$work/cmd.err"
code_of() { code=$(tr -d '\r\n ' <"$work/$1.rc" 2>/dev/null || echo none); }
code_of failing
[ "$code" = 6 ] || { echo "a failing command's exit code was recorded as $code, not 6"; bad=$((bad + 1)); }
n=0
while IFS= read -r arguments; do
    n=$((n + 1))
    code_of "$n"
    if [ "$code" != 0 ] && [ "$code" != 3010 ]; then
        echo "vantrell.com $arguments: exit $code"; head -c 600 "$work/$n.out" "$work/$n.err" 2>/dev/null
        bad=$((bad + 1))
        continue
    fi
    case "$arguments" in *--json*)
        python3 - "$work/$n.out" "$code" "$arguments" <<'PY' || bad=$((bad + 1))
import json, sys
try:
    document = json.loads(open(sys.argv[1], encoding="ascii").read())
except Exception as error:
    sys.exit(f"vantrell.com {sys.argv[3]}: no JSON document ({error})")
if document["exitCode"] != int(sys.argv[2]):
    sys.exit(f"vantrell.com {sys.argv[3]}: exitCode {document['exitCode']}, exit {sys.argv[2]}")
PY
    esac
done <"$work/lines"
echo "$((n - bad)) of $n README examples ran as written"
[ "$bad" -eq 0 ]
