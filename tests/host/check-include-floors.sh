#!/usr/bin/env bash
# Fails when a file of vpn/ includes a header of a higher floor. The floors, lowest first:
#   0 vpn/Common/Platform (and the generated vpn/Common/ProductVersion.h)
#   1 vpn/Common/Logging
#   2 vpn/Common/Utility, vpn/Common/Utility/Win, vpn/Common/Privilege
#   3 vpn/Common/Xml
#   4 vpn/tools/hardenor
# A file may include from its own floor or below.
# Usage: check-include-floors.sh <source root>
set -uo pipefail
cd "$1" || exit 2

floor() {
    case "$1" in
        vpn/Common/Platform/* | vpn/Common/ProductVersion.h*) echo 0 ;;
        vpn/Common/Logging/*) echo 1 ;;
        vpn/Common/Utility/* | vpn/Common/Privilege.*) echo 2 ;;
        vpn/Common/Xml/*) echo 3 ;;
        vpn/tools/*) echo 4 ;;
        *) echo unknown ;;
    esac
}

failed=0
while IFS= read -r source; do
    own="$(floor "$source")"
    if [ "$own" = unknown ]; then
        echo "include floors: $source lies on no floor" >&2
        failed=1
        continue
    fi
    while IFS= read -r header; do
        theirs="$(floor "$header")"
        if [ "$theirs" = unknown ] || [ "$theirs" -gt "$own" ]; then
            echo "include floors: $source (floor $own) includes $header (floor $theirs)" >&2
            failed=1
        fi
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\(vpn\/[^"]*\)".*/\1/p' "$source")
done < <(git ls-files 'vpn/*.h' 'vpn/*.cpp' 'vpn/*.in' 2>/dev/null || find vpn -name '*.h' -o -name '*.cpp')

[ "$failed" -eq 0 ] && echo "include floors: every include points to its own floor or below"
exit "$failed"
