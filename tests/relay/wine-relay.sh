#!/usr/bin/env bash
# Runs the tool with Wine's file and relay channels on and checks what it opens and calls: a run opens
# the policy file twice (the writer's look at the old file, then the read-back), /status once, and
# neither binds a URL: nothing is called in urlmon or wininet. (Wine's msxml3 imports both, so they
# are mapped all the same.)
# Usage: wine-relay.sh <build dir>
set -uo pipefail
here="$(cd "$(dirname "$0")/../../scripts" && pwd)"
build="$(cd "$1" && pwd)"
trace="$(mktemp)"
trap 'rm -f "$trace"' EXIT

# The number of opens that the run must make, then the tool's arguments.
check()
{
    local opens="$1" seen calls
    shift
    if ! WINEDEBUG=-all,+file,+relay "$here/wine-exec.sh" "$build" "$build/hardenor.exe" "$@" \
        >/dev/null 2>"$trace" </dev/null; then
        echo "hardenor.exe $* failed"
        return 1
    fi
    seen="$(grep 'trace:file:NtCreateFile' "$trace" | grep -c 'PathweaveLocalPolicy\.xml"')"
    calls="$(grep -cE 'Call (urlmon|wininet)\.' "$trace")"
    echo "hardenor.exe $*: $seen opens of the policy file (want $opens), $calls calls into urlmon or wininet"
    [ "$seen" = "$opens" ] && [ "$calls" = 0 ]
}
check 2 /y && check 1 /status
