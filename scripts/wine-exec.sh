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
# The program's standard error goes to a file and is passed on when the program has ended. The first
# program that needs a window (the SAX reader's URL moniker makes one) has Wine start its desktop
# process, explorer.exe /desktop, which inherits that program's standard error and keeps it open until
# the desktop closes: one second after the desktop's last user ends. Were it CTest's pipe, CTest would
# wait that long for the case, for as long as any other case running beside it uses the desktop.
errors="$(mktemp)"
trap 'cat "$errors" >&2; rm -f "$errors"' EXIT
timeout "${WINE_EXEC_TIMEOUT:-600}" "$WINELOADER" "$@" 2>"$errors"
