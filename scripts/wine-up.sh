#!/usr/bin/env bash
# Creates the project's Wine prefix on first use and keeps one wineserver alive for it.
# Usage: wine-up.sh <build dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 300 wineboot -i >/dev/null 2>&1 </dev/null
    timeout 60 wineserver -w
fi

# A persistent wineserver for the whole run. Its output and that of Wine's system processes must
# never go to a pipe of ours, or that pipe would never close.
# Fails harmlessly when this prefix already has a persistent wineserver.
wineserver -p >/dev/null 2>&1 </dev/null || true
timeout 60 wine cmd /c exit >/dev/null 2>&1 </dev/null
