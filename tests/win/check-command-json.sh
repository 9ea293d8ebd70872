#!/bin/sh
# Runs commands of the sandbox program with --json under Wine and checks
# every document against the schema kept in the repository, with a real
# JSON Schema validator (Debian's python3-jsonschema).
#   check-command-json.sh LAUNCHER BUILD_DIR SCHEMA
set -u
launcher=$1 build=$2 schema=$3
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
cd "$build" || exit 1
"$launcher" ./sandbox-tool.exe reset default >/dev/null 2>&1 || exit 1
n=0
run() {
    n=$((n + 1))
    "$launcher" ./vantrell-sandbox.exe "$@" --json </dev/null >"$out/$n.json" 2>/dev/null
    echo "$*" >"$out/$n.args"
}
run list
run list --sizes
run show mhartley
run show nobody
run set lchen --full-name "Li \"Chen\"" --dry-run
run set root --type standard
run delete jokafor --dry-run
run delete jokafor
run autologon status
run profile-keys
run profiles --sizes
run profiles clean --unused-for 1 --dry-run
run repair plan jokafor
run repair plan jokafor --keep-settings
run repair status
run help
run version
run create "bad,name"
run create lchen
run delete nobody
run frobnicate
run set lchen --password=x
run repair schedule jokafor --no-restart --yes --dry-run
run export
run groups
run group show S-1-5-32-544
run group add Administrators lchen '#1005' --dry-run
run rename '#1003' lin --dry-run
run group create Staff --description "All staff" --dry-run
run group delete Administrators --yes
run group rename Lab Labs
run group set Labs --description ""
run policy
run policy set --max-age unlimited --lockout-duration forever --lockout-threshold 5
run policy set --min-length 15
"$launcher" ./vantrell-sandbox.exe export </dev/null >"$out/state.json" 2>/dev/null
run apply "Z:$out/state.json" --dry-run
run apply "Z:$out/missing.json"
run doctor
run folders "$(id -un)"
run folders move "$(id -un)" Documents 'C:\vantrell-docs' --dry-run
run folders move "$(id -un)" Documents 'C:\windows\docs' --yes
"$launcher" ./sandbox-tool.exe reset health >/dev/null 2>&1 || exit 1
run doctor
run doctor --fix-safe --dry-run
run group show Users
run doctor --fix orphan-group-member --yes
"$launcher" ./sandbox-tool.exe reset old-profiles >/dev/null 2>&1 || exit 1
run profiles clean --unused-for 30 --yes --dry-run
run profiles delete anna --yes --dry-run
run profiles delete olduser --yes
python3 - "$schema" "$out" "$n" <<'PY'
import json, os, sys, jsonschema
schema = json.load(open(sys.argv[1]))
jsonschema.Draft7Validator.check_schema(schema)
# What export writes is also a desired-state document.
state_schema = json.load(open(os.path.join(os.path.dirname(sys.argv[1]), "desired-state.schema.json")))
jsonschema.Draft7Validator.check_schema(state_schema)
folder, count, bad = sys.argv[2], int(sys.argv[3]), 0
for i in range(1, count + 1):
    args = open(f"{folder}/{i}.args").read().strip()
    text = open(f"{folder}/{i}.json", encoding="utf-8").read()
    try:
        document = json.loads(text)
        jsonschema.validate(document, schema)
        if document["command"] == "export":
            jsonschema.validate(document["state"], state_schema)
    except Exception as error:
        bad += 1
        print(f"{args}: {str(error).splitlines()[0]}\n{text[:400]}")
print(f"{count - bad} of {count} documents valid")
sys.exit(1 if bad else 0)
PY
