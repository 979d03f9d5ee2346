#!/usr/bin/env bash
# Stops the wineserver of one architecture's build tree (and the services running under it).
# Usage: wine-down.sh <build dir of one architecture>
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
"$WINESERVER" -k >/dev/null 2>&1 </dev/null || true
