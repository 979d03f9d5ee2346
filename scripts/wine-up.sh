#!/usr/bin/env bash
# Creates the Wine prefix of one architecture's build tree on first use and keeps one wineserver
# alive for it.
# Usage: wine-up.sh <build dir of one architecture>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine ($arch): creating prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    timeout 300 "$WINELOADER" wineboot.exe -i >/dev/null 2>&1 </dev/null
    timeout 60 "$WINESERVER" -w
fi

# A persistent wineserver for the whole run. Its output and that of Wine's system processes must
# never go to a pipe of ours, or that pipe would never close.
# Fails harmlessly when this prefix already has a persistent wineserver.
"$WINESERVER" -p >/dev/null 2>&1 </dev/null || true
timeout 60 "$WINELOADER" cmd /c exit >/dev/null 2>&1 </dev/null
