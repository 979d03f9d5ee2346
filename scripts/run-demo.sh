#!/usr/bin/env bash
# Runs hardenor.exe in the project's Wine machine as an administrator would on a client machine:
# the stand-in VPN agent is installed and running, the tool writes the policy file, reads it back
# and restarts the agent. Runs the shipped 32-bit exe where this machine runs 32-bit programs,
# otherwise its 64-bit twin.
# Usage: run-demo.sh <build dir> [hardenor arguments...]
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
shift
source "$here/arches.sh"

if [ -z "$i686_reason" ]; then
    arch=i686
    echo "Running the shipped 32-bit hardenor.exe (i686)."
else
    arch=x86_64
    echo "Running the 64-bit twin of hardenor.exe (x86_64): i686 could not run: $i686_reason."
fi
source "$here/wine-env.sh" "$build/$arch"

"$here/wine-up.sh" "$build_dir" || exit 1
trap '"$here/wine-down.sh" "$build_dir"' EXIT
install="$("$here/install-agent.sh" "$build_dir")" || exit 1
"$here/start-agent.sh" "$build_dir" >/dev/null || exit 1
win_agent="$(sed -n 's/^install-agent: agent //p' <<<"$install")"
folder="$(sed -n 's/^install-agent: folder //p' <<<"$install")"
status="$folder/zirodava-status.txt"
value()
{
    sed -n "s/^$1=//p" "$status" 2>/dev/null | tr -d '\r'
}
echo "Agent: $win_agent installed, service zirodava registered and running (process $(value pid)," \
    "found FIPS mode: $(value fips))"

echo "> hardenor.exe $*"
timeout 300 "$WINELOADER" "$build_dir/hardenor.exe" "$@"
rc=$?
[ $rc -eq 255 ] && rc_text="-1" || rc_text="$rc"
echo
echo "Exit code: $rc_text"

policy="$WINEPREFIX/drive_c/ProgramData/Veskar/Veskar Pathweave Roamguard Client/PathweaveLocalPolicy.xml"
echo "Policy file: C:\\ProgramData\\Veskar\\Veskar Pathweave Roamguard Client\\PathweaveLocalPolicy.xml"
echo "  (on this machine: $policy)"
[ -f "$policy" ] && sed 's/^/  | /' "$policy" | tr -d '\r'
echo "The agent found FIPS mode: $(value fips) (its process: $(value pid), start $(value starts))"
exit $rc
