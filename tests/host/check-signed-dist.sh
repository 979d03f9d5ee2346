#!/usr/bin/env bash
# Packs the shipped exe as `make dist` does, signed with a throwaway certificate, and checks what the
# archive holds: its files in their order, a signature that verifies against that certificate, a
# signed exe that still passes the shipped exe check, and SHA256SUMS matching the files.
# Usage: check-signed-dist.sh <build dir> <source dir>
set -euo pipefail
build="$1"
source_dir="$2"
if ! command -v osslsigncode >/dev/null; then
    echo "osslsigncode is not installed (scripts/bootstrap.sh installs it)"
    exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=hardenor test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
SIGN_CERT="$work/cert.pem" SIGN_KEY="$work/key.pem" "$source_dir/scripts/dist.sh" "$build" "$work/dist"
archive=("$work"/dist/hardenor-*-x86.zip)
listed="$(unzip -Z1 "${archive[@]}" | tr '\n' ' ')"
[ "$listed" = "hardenor.exe PathweaveLocalPolicy.xsd README.txt SHA256SUMS " ] || { echo "FAIL: holds $listed"; exit 1; }
unzip -q "${archive[@]}" -d "$work/unpacked"
cd "$work/unpacked"
osslsigncode verify -CAfile "$work/cert.pem" -in hardenor.exe
"$source_dir/tests/host/check-shipped-exe.sh" hardenor.exe "$source_dir" "$build"
sha256sum -c SHA256SUMS
if grep -qv $'\r$' README.txt; then echo "FAIL: README.txt has lines without CR LF"; exit 1; fi
