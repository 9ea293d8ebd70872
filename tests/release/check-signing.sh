#!/bin/sh
# Runs scripts/release.sh on the programs of this build with a throwaway
# certificate made here, as CI does on every change, then checks what it
# made: every signature verifies, SHA256SUMS names every file, and a
# signature no longer verifies once a signed byte changes.
#   check-signing.sh SOURCE_DIR PROGRAM_DIR WORK_DIR
set -u
source=$1 programs=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

openssl req -x509 -newkey rsa:3072 -sha256 -days 2 -nodes -subj "/CN=Vantrell test signing" \
    -addext "extendedKeyUsage=codeSigning" -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1 || exit 1
VANTRELL_SIGN_CERT="$work/cert.pem" VANTRELL_SIGN_KEY="$work/key.pem" VANTRELL_SIGN_CA="$work/cert.pem" \
    VANTRELL_PROGRAMS="$programs" "$source/scripts/release.sh" "$work/release" || exit 1

cd "$work/release" || exit 1
version=$(sed -n 's/^#define VANTRELL_VERSION_TEXT "\(.*\)"$/\1/p' "$programs/generated/vantrell_version.h")
for file in vantrell.exe vantrell.com "vantrell-$version.msi"; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$file" >"$work/verify.log" 2>&1 ||
        fail "$file: $(cat "$work/verify.log")"
    grep -q "Message digest algorithm *: SHA256" "$work/verify.log" || fail "$file is not signed with SHA-256"
    grep -q "  $file\$" SHA256SUMS || fail "SHA256SUMS does not name $file"
done
sha256sum --quiet -c SHA256SUMS || fail "SHA256SUMS does not match the files"
# One byte of the program's code changed after signing: the signature must say so.
cp vantrell.exe "$work/changed.exe"
printf 'X' | dd of="$work/changed.exe" bs=1 seek=1100 conv=notrunc 2>/dev/null
osslsigncode verify -CAfile "$work/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1 &&
    fail "a changed program still verifies"
exit $((failures > 0))
