# Sourced by the other scripts: the Wine machine of one architecture's build tree.
# Usage: source wine-env.sh <build dir of one architecture>
#
# Each architecture has its own prefix (a 64-bit Windows machine) under its build folder and its own
# wineserver. Wine is always started through the loader of the build's architecture: /usr/bin/wine
# picks the 32-bit loader whenever it is installed, so it cannot start the 64-bit twin.
build_dir="$(cd "$1" && pwd)"
arch="$(cat "$build_dir/pw-arch" 2>/dev/null || echo i686)"
case "$arch" in
    i686) export WINELOADER=/usr/lib/wine/wine ;;
    x86_64) export WINELOADER=/usr/lib/wine/wine64 ;;
    *) echo "wine-env: unknown architecture '$arch' in $build_dir/pw-arch" >&2; return 1 ;;
esac
# The 64-bit server serves a 64-bit prefix for both loaders.
export WINESERVER=/usr/lib/wine/wineserver64
export WINEPREFIX="$build_dir/wineprefix"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=C.UTF-8
