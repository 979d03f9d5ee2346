#!/usr/bin/env bash
# Runs hardenor.exe in the project's Wine machine, as an administrator would on a client machine.
# Usage: run-demo.sh <build dir> [hardenor arguments...]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shift
"$here/wine-up.sh" "$build"
source "$here/wine-env.sh" "$build"

timeout 300 wine "$build_dir/hardenor.exe" "$@"
rc=$?
echo "hardenor.exe exit code: $rc (255 is -1)"
"$here/wine-down.sh" "$build"
exit $rc
