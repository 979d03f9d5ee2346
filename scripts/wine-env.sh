# Sourced by the other scripts: the project's own Wine machine lives under the build tree.
# Usage: source wine-env.sh <build dir>
build_dir="$(cd "$1" && pwd)"
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=C.UTF-8
