#!/usr/bin/env bash
# Stops the project's wineserver (and the services running under it).
# Usage: wine-down.sh <build dir>
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
wineserver -k >/dev/null 2>&1 </dev/null || true
