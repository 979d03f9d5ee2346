#!/usr/bin/env bash
# Installs the cross toolchain, Wine, the test tools (clang-format for the format check, clang for
# the second compiler's tree, clang-tidy with run-clang-tidy and Python for make lint) and the release
# tools (zip, Authenticode signing) on a Debian machine (run as root).
# Quick when everything is present: it only asks dpkg.
# Usage: bootstrap.sh [architectures]   (as for test.sh: "i686 x86_64", the default, or one)
# Without i686 the 32-bit Wine is left out. A registry that cannot supply it (an update suite half
# synced, its i386 packages behind their amd64 twins) gives the 64-bit set alone, and says so.
set -euo pipefail

wanted=" $(tr ',' ' ' <<<"${1:-i686 x86_64}") "
for a in $wanted; do
    case "$a" in
        i686 | x86_64) ;;
        *) echo "bootstrap: unknown architecture '$a' (i686 or x86_64)" >&2; exit 2 ;;
    esac
done
# The 64-bit set, and the 32-bit Wine where i686 is to run.
base=(wine wine64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools cmake make
      googletest libxml2-utils file zip unzip osslsigncode openssl clang-format clang clang-tidy)
wine32=()
[[ "$wanted" == *" i686 "* ]] && wine32=(wine32:i386)
packages=("${wine32[@]}" "${base[@]}")

missing_of()
{
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$' || echo "$p"
    done
}
mapfile -t missing < <(missing_of "${packages[@]}")
[ ${#missing[@]} -eq 0 ] && exit 0

echo "bootstrap: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# apt's first error line, for a message of one line.
first_error()
{
    grep -m1 '^E:' <<<"$1" || head -n1 <<<"${1:-no message}"
}
if [ ${#wine32[@]} -ne 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails the update (apt-get exits with 100); a second try a little
# later often finds it done. Otherwise the lists that did arrive, or the old ones, are used.
if ! err="$($sudo apt-get update -qq 2>&1 >/dev/null)"; then
    sleep 30
    if ! err="$($sudo apt-get update -qq 2>&1 >/dev/null)"; then
        echo "bootstrap: apt-get update failed ($(first_error "$err")); going on with the package lists there are"
    fi
fi

# The whole set in one resolver call, so that the resolver cannot drop one package to make room for
# another. When an update suite holds newer amd64 libraries than their i386 twins (Multi-Arch: same
# packages must match), the release's own suite pinned with -t resolves the set; again all at once.
# --no-remove: a set that could only be had by removing an installed package (wine64 for wine32, say)
# fails instead, and the next try is made; apt never removes anything here.
codename="$(. "${OS_RELEASE:-/etc/os-release}" 2>/dev/null && echo "${VERSION_CODENAME:-}")" || codename=""
install_error=""
# Answers with apt's standard error, its messages; what it writes to standard output is dropped.
apt_install()
{
    $sudo env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends --no-remove "$@" 2>&1 >/dev/null
}
install_set()
{
    local err
    err="$(apt_install "$@")" && return 0
    [ -n "$codename" ] && err="$(apt_install -t "$codename" "$@")" && return 0
    install_error="$(first_error "$err")"
    return 1
}
if ! install_set "${packages[@]}"; then
    if [ ${#wine32[@]} -eq 0 ] || [[ "$wanted" != *" x86_64 "* ]]; then
        echo "bootstrap: could not install ${packages[*]}: $install_error" >&2
        exit 1
    fi
    # The 64-bit set still runs the suite on the twin; the shipped exe is then checked as a file.
    reason="$install_error"
    packages=("${base[@]}")
    if ! install_set "${packages[@]}"; then
        echo "bootstrap: could not install ${packages[*]}: $install_error" >&2
        exit 1
    fi
    echo "bootstrap: the 32-bit Wine could not be installed ($reason); the suite runs on x86_64 only"
fi

# apt's answer alone is not trusted: every package the chosen architectures need is asked for again.
mapfile -t missing < <(missing_of "${packages[@]}")
if [ ${#missing[@]} -ne 0 ]; then
    echo "bootstrap: still missing after the install: ${missing[*]}" >&2
    exit 1
fi
