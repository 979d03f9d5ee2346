#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the test tools (clang-format among them, for the format check)
# and the release tools (zip, Authenticode signing) on a Debian machine (run as root).
# Quick when everything is present: it only asks dpkg.
set -euo pipefail

packages=(wine wine32:i386 wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
          mingw-w64-tools cmake make googletest libxml2-utils file zip unzip osslsigncode openssl
          clang-format)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${packages[@]}" >/dev/null
