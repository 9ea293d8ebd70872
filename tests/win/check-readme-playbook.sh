#!/bin/sh
# Runs the README's Ansible task with the real engine (ansible-core, on this
# host) against the program under Wine, with the README's own command,
# check mode, changed_when and failed_when: check mode changes nothing, the
# first run reports changed, the second ok, and a guard's refusal and a
# program that could not start fail the task by their exit codes.
#   check-readme-playbook.sh LAUNCHER BUILD_DIR README
set -u
launcher=$1 build=$2 readme=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$build" || exit 1
export ANSIBLE_LOCAL_TEMP="$work/tmp" ANSIBLE_REMOTE_TEMP="$work/tmp" \
       ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 HOME="$work"

# The README's task, run here: the program started through the launcher.
python3 - "$readme" "$launcher $build/vantrell-sandbox.com" "$work" <<'PY' || exit 1
import sys
text = open(sys.argv[1], encoding="utf-8").read()
block = text.split("    - name: Hide the kiosk account", 1)[1].split("\n\n", 1)[0]
task = "- name: Hide the kiosk account" + block.replace("\n    ", "\n")
task = task.replace("ansible.windows.win_command:", "ansible.builtin.command:")
task = task.replace('"C:\\Program Files\\Vantrell\\vantrell.com"', sys.argv[2])
play = "- hosts: localhost\n  connection: local\n  gather_facts: false\n  tasks:\n"
indented = "".join("    " + line + "\n" for line in task.splitlines())
open(sys.argv[3] + "/hide.yml", "w").write(play + indented)
refused = indented.replace("set kiosk --hidden yes", "set Administrator --full-name Boss")
open(sys.argv[3] + "/refused.yml", "w").write(play + refused)
# A program that cannot start: no document on standard output at all.
unstarted = indented.replace("vantrell-sandbox.com", "no-such-program.com")
open(sys.argv[3] + "/unstarted.yml", "w").write(play + unstarted)
PY

"$launcher" ./sandbox-tool.exe reset kiosk >/dev/null 2>&1 || exit 1
# The play's changed and failed counts.
play() {
    ansible-playbook -i localhost, -e ansible_python_interpreter=/usr/bin/python3 "$@" >"$work/out" 2>"$work/err"
    # The recap: "localhost : ok=1 changed=1 unreachable=0 failed=0 ..."
    sed -n 's/^localhost *:.* changed=\([0-9]*\) .* failed=\([0-9]*\) .*/\1 \2/p' "$work/out" | grep . || echo "none none"
}
hidden() {
    "$launcher" ./vantrell-sandbox.com show kiosk --json </dev/null 2>/dev/null |
        python3 -c 'import json,sys; print(str(json.load(sys.stdin)["account"]["hidden"]).lower())'
}
bad=0
expect() {
    if [ "$2" != "$3" ]; then
        echo "$1: $2, expected $3"; tail -c 1500 "$work/out" "$work/err"; bad=$((bad + 1))
    fi
}
expect "check mode" "$(play --check "$work/hide.yml")" "1 0"
expect "check mode left the account" "$(hidden)" "false"
expect "first run" "$(play "$work/hide.yml")" "1 0"
expect "the account after it" "$(hidden)" "true"
expect "second run" "$(play "$work/hide.yml")" "0 0"
expect "a refusal" "$(play "$work/refused.yml")" "0 1"
# Failed by its exit code (failed_when), not by reading a document that is not there.
expect "a failed start" "$(play "$work/unstarted.yml")" "0 1"
expect "a failed start's reason" "$(grep -c failed_when_result "$work/out")" "1"
[ "$bad" -eq 0 ] && echo "the README's task: check mode, changed, ok and a refused task as expected"
[ "$bad" -eq 0 ]
