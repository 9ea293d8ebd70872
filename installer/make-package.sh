#!/bin/sh
# Builds the installer package from the product's two programs:
#   make-package.sh VERSION PROGRAM_DIR SOURCE_DIR OUTPUT.msi
# PROGRAM_DIR holds vantrell.exe and vantrell.com (signed or not), SOURCE_DIR
# is the repository. The same inputs give the same bytes: every time stamp
# is SOURCE_DATE_EPOCH (the commit's time by default) and the product and
# package codes are derived from the version and the files, never drawn at
# random. Each version has its own product code, so that a newer package
# is a major upgrade of an older one.
set -eu
version=$1 programs=$2 source=$3 output=$4

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || echo 0)
fi
export SOURCE_DATE_EPOCH
for tool in wixl msibuild faketime python3; do
    command -v "$tool" >/dev/null || { echo "make-package.sh: $tool is missing" >&2; exit 1; }
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$programs/vantrell.exe" "$programs/vantrell.com" "$stage/"
cp "$source/resources/NOTICES.txt" "$source/resources/vantrell.ico" "$stage/"
# The cabinet keeps each file's time: the commit's, not the copy's.
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

contents=$(cd "$stage" && sha256sum vantrell.exe vantrell.com NOTICES.txt vantrell.ico | sha256sum | cut -c1-64)
codes=$(python3 -c '
import sys, uuid
space = uuid.UUID("3f0c7b7e-5d4a-4f3e-9a51-6c2d8e1b4a70")   # the upgrade code
print(str(uuid.uuid5(space, "product " + sys.argv[1])).upper(),
      str(uuid.uuid5(space, "package " + sys.argv[1] + " " + sys.argv[2])).upper())' "$version" "$contents")
product=${codes% *} package=${codes#* }

# wixl and msibuild write the clock's time into the summary; faketime makes it the commit's.
at="@$(date -u -d "@$SOURCE_DATE_EPOCH" '+%Y-%m-%d %H:%M:%S')"
rm -f "$output"
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
# wixl takes the files' paths relative to where it runs.
(cd "$stage" && TZ=UTC faketime -f "$at" wixl -a x64 -D "Version=$version" -D "ProductCode=$product" -D Files=. \
    -o "$output" "$source/installer/vantrell.wxs")

# wixl knows no Environment element: the system path entry, added on install
# and taken away on uninstall, is written into the tables directly. "=-*"
# sets a system variable and removes it with the component; "[~];" appends
# the folder to what is there.
TZ=UTC faketime -f "$at" msibuild "$output" -q "CREATE TABLE \`Environment\` (\`Environment\` CHAR(72) NOT NULL, \
\`Name\` CHAR(255) NOT NULL LOCALIZABLE, \`Value\` CHAR(255) LOCALIZABLE, \`Component_\` CHAR(72) NOT NULL \
PRIMARY KEY \`Environment\`)" \
    -q "INSERT INTO \`Environment\` (\`Environment\`, \`Name\`, \`Value\`, \`Component_\`) \
VALUES ('SystemPath', '=-*Path', '[~];[InstallFolder]', 'Console')" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('WriteEnvironmentStrings', 5200)" \
    -s "Installation Database" Vantrell "x64;1033" "{$package}"
