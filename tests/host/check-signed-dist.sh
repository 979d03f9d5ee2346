#!/usr/bin/env bash
# Packs the release as `make dist` does, signed with a throwaway certificate, and checks the archive's
# files and order, the signature, the signed exe (as the shipped exe check does) and SHA256SUMS.
# Usage: check-signed-dist.sh <build dir> <source dir>
set -euo pipefail
command -v osslsigncode >/dev/null || { echo "no osslsigncode (scripts/bootstrap.sh installs it)"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=hardenor test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
SIGN_CERT="$work/cert.pem" SIGN_KEY="$work/key.pem" "$2/scripts/dist.sh" "$1" "$work/dist"
archive=("$work"/dist/hardenor-*-x86.zip)
listed="$(unzip -Z1 "${archive[@]}" | tr '\n' ' ')"
[ "$listed" = "hardenor.exe PathweaveLocalPolicy.xsd README.txt SHA256SUMS " ] || { echo "FAIL: holds $listed"; exit 1; }
unzip -q "${archive[@]}" -d "$work/unpacked" && cd "$work/unpacked"
osslsigncode verify -CAfile "$work/cert.pem" -in hardenor.exe
"$2/tests/host/check-shipped-exe.sh" hardenor.exe "$2" "$1"
sha256sum -c SHA256SUMS
if grep -qv $'\r$' README.txt; then echo "FAIL: README.txt has lines without CR LF"; exit 1; fi
