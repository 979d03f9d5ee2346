#!/usr/bin/env bash
# Runs hardenor.exe in the project's Wine machine as an administrator would on a client machine:
# the stand-in VPN agent is installed (once) and running, the tool writes the policy file, reads
# it back and restarts the agent.
# Usage: run-demo.sh <build dir> [hardenor arguments...]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shift
source "$here/wine-env.sh" "$build"

"$here/wine-up.sh" "$build" || exit 1
trap '"$here/wine-down.sh" "$build"' EXIT
"$here/install-agent.sh" "$build" >/dev/null || exit 1
"$here/start-agent.sh" "$build" >/dev/null || exit 1

echo "> hardenor.exe $*"
timeout 300 wine "$build_dir/hardenor.exe" "$@"
rc=$?
[ $rc -eq 255 ] && rc_text="-1" || rc_text="$rc"
echo
echo "Exit code: $rc_text"

policy="$WINEPREFIX/drive_c/ProgramData/Veskar/Veskar Pathweave Roamguard Client/PathweaveLocalPolicy.xml"
status="$WINEPREFIX/drive_c/Program Files (x86)/Veskar/Veskar Pathweave Roamguard Client/zirodava-status.txt"
echo "Policy file: C:\\ProgramData\\Veskar\\Veskar Pathweave Roamguard Client\\PathweaveLocalPolicy.xml"
echo "  (on this machine: $policy)"
[ -f "$policy" ] && sed 's/^/  | /' "$policy" | tr -d '\r'
if [ -f "$status" ]; then
    echo "The agent found FIPS mode: $(sed -n 's/^fips=//p' "$status" | tr -d '\r') (its process: $(sed -n 's/^pid=//p' "$status" | tr -d '\r'))"
fi
exit $rc
