#!/bin/sh
# Builds the release into build/release (or the folder given): vantrell.exe
# and vantrell.com, the installer package vantrell-<version>.msi, the
# notices and SHA256SUMS; every executable and the package signed with
# Authenticode (SHA-256) and every signature verified.
#
#   VANTRELL_SIGN_CERT  the certificate: a PKCS#12 file (.pfx/.p12), or a
#                       PEM or DER certificate with VANTRELL_SIGN_KEY
#   VANTRELL_SIGN_KEY   its private key, when the certificate is not PKCS#12
#   VANTRELL_SIGN_PASSWORD_FILE  a file holding the key's or PKCS#12 password
#   VANTRELL_TIMESTAMP_URL       an RFC 3161 time-stamp server (optional)
#   VANTRELL_SIGN_CA    the CA bundle to verify with (the system's by default)
#   VANTRELL_PROGRAMS   a folder whose vantrell.exe and vantrell.com to take
#                       instead of building them (a build already made)
#
# The unsigned programs and package are the same bytes on every build of a
# commit (time stamps are the commit's, build paths are mapped away).
set -eu
ROOT="$(cd "$(dirname "$0")/.." && pwd)"
OUT="${1:-$ROOT/build/release}"
"$ROOT/scripts/install-deps.sh"

: "${VANTRELL_SIGN_CERT:?names the signing certificate (see the top of scripts/release.sh)}"
CA="${VANTRELL_SIGN_CA:-/etc/ssl/certs/ca-certificates.crt}"
SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 0)}"
export SOURCE_DATE_EPOCH

if [ -n "${VANTRELL_PROGRAMS:-}" ]; then
    programs="$VANTRELL_PROGRAMS"
else
    programs="$ROOT/build/windows"
    cmake -S "$ROOT" -B "$programs" -G Ninja -DCMAKE_BUILD_TYPE=Release \
          -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" >/dev/null
    cmake --build "$programs" -j "$(nproc)" --target vantrell vantrell-console
fi
version=$(sed -n 's/^#define VANTRELL_VERSION_TEXT "\(.*\)"$/\1/p' "$programs/generated/vantrell_version.h")
[ -n "$version" ] || { echo "release.sh: no version in $programs/generated/vantrell_version.h" >&2; exit 1; }

# Signs FILE in place (SHA-256; time-stamped when a server is named) and
# verifies the signature against the CA bundle.
sign() {
    file=$1
    set -- -h sha256 -n Vantrell
    case "$VANTRELL_SIGN_CERT" in
        *.pfx|*.p12) set -- "$@" -pkcs12 "$VANTRELL_SIGN_CERT" ;;
        *) set -- "$@" -certs "$VANTRELL_SIGN_CERT" -key "${VANTRELL_SIGN_KEY:?names the certificate's private key}" ;;
    esac
    [ -z "${VANTRELL_SIGN_PASSWORD_FILE:-}" ] || set -- "$@" -readpass "$VANTRELL_SIGN_PASSWORD_FILE"
    [ -z "${VANTRELL_TIMESTAMP_URL:-}" ] || set -- "$@" -ts "$VANTRELL_TIMESTAMP_URL"
    rm -f "$file.signed"
    osslsigncode sign "$@" -in "$file" -out "$file.signed" >/dev/null
    mv "$file.signed" "$file"
    if ! osslsigncode verify -CAfile "$CA" -TSA-CAfile "$CA" -in "$file" >"$file.verify" 2>&1; then
        cat "$file.verify" >&2
        echo "release.sh: the signature of $file does not verify" >&2
        exit 1
    fi
    rm -f "$file.verify"
    echo "signed and verified: $(basename "$file")"
}

rm -rf "$OUT"
mkdir -p "$OUT"
cp "$programs/vantrell.exe" "$programs/vantrell.com" "$ROOT/resources/NOTICES.txt" "$OUT/"
sign "$OUT/vantrell.exe"
sign "$OUT/vantrell.com"
"$ROOT/installer/make-package.sh" "$version" "$OUT" "$ROOT" "$OUT/vantrell-$version.msi"
sign "$OUT/vantrell-$version.msi"
(cd "$OUT" && sha256sum vantrell.exe vantrell.com "vantrell-$version.msi" NOTICES.txt >SHA256SUMS &&
    sha256sum --quiet -c SHA256SUMS)
echo "release $version in $OUT"
