#!/usr/bin/env bash
# Packs the shipped exe into <output dir>/hardenor-<version>-x86.zip with the policy schema, the
# administrator's part of the README (README.txt, CR LF line ends) and SHA256SUMS. With SIGN_CERT and
# SIGN_KEY (a PEM certificate and its key) the exe is signed with Authenticode before it is hashed.
# The archive depends on its contents only: fixed order, one time for every entry (the last commit's,
# or SOURCE_DATE_EPOCH), no owner or path. The last line printed is the exe's SHA-256.
# Usage: dist.sh <build dir of the shipped exe> <output dir>
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$1"
out="$2"
archive="$out/hardenor-$(cat "$build/pw-version")-x86.zip"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT

if [ -n "${SIGN_CERT:-}" ] && [ -n "${SIGN_KEY:-}" ]; then
    osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -in "$build/hardenor.exe" \
        -out "$stage/hardenor.exe" >/dev/null
    echo "dist: hardenor.exe signed with $SIGN_CERT"
elif [ -n "${SIGN_CERT:-}${SIGN_KEY:-}" ]; then
    echo "dist: give both SIGN_CERT and SIGN_KEY to sign hardenor.exe" >&2
    exit 2
else
    cp "$build/hardenor.exe" "$stage/"
    echo "dist: hardenor.exe is not signed (SIGN_CERT=<certificate> SIGN_KEY=<key> signs it)"
fi
cp "$root/vpn/Common/Xml/PathweaveLocalPolicy.xsd" "$stage/"
awk '/^## /{ skip = /^## For a (newcomer|developer)/ } !skip' "$root/README.md" | sed 's/$/\r/' \
    >"$stage/README.txt"
files=(hardenor.exe PathweaveLocalPolicy.xsd README.txt)
(cd "$stage" && sha256sum "${files[@]}" >SHA256SUMS)
files+=(SHA256SUMS)

time="${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}"
(cd "$stage" && chmod 644 "${files[@]}" && TZ=UTC touch -d "@$time" "${files[@]}" &&
    TZ=UTC zip -q -X -D -9 archive.zip "${files[@]}")
mkdir -p "$out"
mv "$stage/archive.zip" "$archive"
echo "dist: $archive (SHA-256 $(sha256sum "$archive" | cut -d' ' -f1))"
(cd "$stage" && sha256sum hardenor.exe)
