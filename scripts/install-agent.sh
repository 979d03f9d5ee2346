#!/usr/bin/env bash
# Installs the stand-in agent into the project's Wine machine: copies zirodava.exe into the
# product's program folder and registers the service "zirodava" (start on demand) once.
# Safe to run again. Usage: install-agent.sh <build dir>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
"$here/wine-up.sh" "$1"

exe="$build_dir/zirodava.exe"
[ -f "$exe" ] || { echo "install-agent: $exe not found (build first)" >&2; exit 1; }
folder="$WINEPREFIX/drive_c/Program Files (x86)/Veskar/Veskar Pathweave Roamguard Client"
mkdir -p "$folder"

# A running agent keeps its executable; copying over it is harmless on Linux but would be
# a surprise for the running process, so only a changed file is replaced.
if ! cmp -s "$exe" "$folder/zirodava.exe"; then
    cp "$exe" "$folder/zirodava.exe.new"
    mv -f "$folder/zirodava.exe.new" "$folder/zirodava.exe"
fi

log="$build_dir/install-agent.log"
if timeout 60 wine sc query zirodava >"$log" 2>&1 </dev/null; then
    echo "install-agent: service zirodava already registered"
else
    timeout 60 wine sc create zirodava \
        binPath= "C:\\Program Files (x86)\\Veskar\\Veskar Pathweave Roamguard Client\\zirodava.exe" \
        start= demand >"$log" 2>&1 </dev/null || { echo "install-agent: sc create failed, see $log" >&2; exit 1; }
    echo "install-agent: service zirodava registered"
fi
echo "install-agent: status file: $folder/zirodava-status.txt"
