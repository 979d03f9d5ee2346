#!/usr/bin/env bash
# Runs one Windows program in the project's Wine prefix (CTest's cross-compiling emulator).
# Usage: wine-exec.sh <build dir> <program.exe> [arguments...]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
shift
exec timeout "${WINE_EXEC_TIMEOUT:-600}" wine "$@"
