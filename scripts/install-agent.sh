#!/usr/bin/env bash
# Installs the stand-in agent into the Wine machine of one architecture's build tree: copies
# zirodava.exe into the product's program folder and registers the service "zirodava" (start on
# demand) once, and again where it is registered with another command line. Safe to run again.
# Prints the agent's path as Windows and as this machine see it.
# Usage: install-agent.sh <build dir of one architecture>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/wine-env.sh" "$1"
"$here/wine-up.sh" "$1"

exe="$build_dir/zirodava.exe"
[ -f "$exe" ] || { echo "install-agent: $exe not found (build first)" >&2; exit 1; }

# The program files folder depends on the architecture of the process that asks (a 32-bit process is
# given the 32-bit folder), so the agent itself, built for this architecture, says where it belongs.
win_folder="$(timeout 60 "$WINELOADER" "$exe" --install-folder </dev/null 2>/dev/null | tr -d '\r')"
[ -n "$win_folder" ] || { echo "install-agent: zirodava.exe could not name its install folder" >&2; exit 1; }
folder="$(timeout 60 "$WINELOADER" winepath.exe -u "$win_folder" </dev/null 2>/dev/null | tr -d '\r')"
[ -n "$folder" ] || { echo "install-agent: no Unix path for $win_folder" >&2; exit 1; }
mkdir -p "$folder"

# A running agent keeps its executable; copying over it is harmless on Linux but would be
# a surprise for the running process, so only a changed file is replaced.
if ! cmp -s "$exe" "$folder/zirodava.exe"; then
    cp "$exe" "$folder/zirodava.exe.new"
    mv -f "$folder/zirodava.exe.new" "$folder/zirodava.exe"
fi

source "$here/agent-service.sh"
# Quoted, as a path with blanks must be on a service's command line (the tests register it so too).
command_line="\"$win_folder\\zirodava.exe\""
registered="$(agent_command_line)"
if [ "$registered" = "$command_line" ]; then
    echo "install-agent: service zirodava already registered"
else
    # Also where a run of the benchmark was cut short and left its command line with delays.
    [ -n "$registered" ] && echo "install-agent: service zirodava was registered as $registered"
    register_agent "$command_line" && [ "$(agent_command_line)" = "$command_line" ] ||
        { echo "install-agent: could not register service zirodava" >&2; exit 1; }
    echo "install-agent: service zirodava registered"
fi
echo "install-agent: agent $win_folder\\zirodava.exe"
echo "install-agent: folder $folder"
