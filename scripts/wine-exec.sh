#!/usr/bin/env bash
# Runs one Windows program in the Wine prefix of its build tree (CTest's cross-compiling emulator).
# Usage: wine-exec.sh <build dir of one architecture> <program.exe> [arguments...]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
shift
for argument in "$@"; do
    if [ "$argument" = "--gtest_list_tests" ]; then
        # The test list is read by CTest's test discovery, which expects Unix line ends; the
        # program's text-mode output has CR LF.
        set -o pipefail
        timeout "${WINE_EXEC_TIMEOUT:-600}" "$WINELOADER" "$@" | tr -d '\r'
        exit $?
    fi
done
exec timeout "${WINE_EXEC_TIMEOUT:-600}" "$WINELOADER" "$@"
