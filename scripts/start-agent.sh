#!/usr/bin/env bash
# Starts the stand-in agent service "zirodava" in the project's Wine machine unless it runs.
# Usage: start-agent.sh <build dir of one architecture>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
"$here/wine-up.sh" "$1"

log="$build_dir/start-agent.log"
timeout 60 "$WINELOADER" sc query zirodava >"$log" 2>&1 </dev/null || { echo "start-agent: zirodava is not registered (run install-agent.sh)" >&2; exit 1; }
if grep -q RUNNING "$log"; then
    echo "start-agent: zirodava is already running"
    exit 0
fi
timeout 60 "$WINELOADER" sc start zirodava >"$log" 2>&1 </dev/null || {
    # 1056: started meanwhile
    grep -q 1056 "$log" || { echo "start-agent: sc start failed, see $log" >&2; exit 1; }
}
for _ in $(seq 1 50); do
    timeout 60 "$WINELOADER" sc query zirodava >"$log" 2>&1 </dev/null || true
    if grep -q RUNNING "$log"; then
        echo "start-agent: zirodava is running"
        exit 0
    fi
    sleep 0.2
done
echo "start-agent: zirodava did not reach RUNNING, see $log" >&2
exit 1
