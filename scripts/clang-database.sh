# Sourced by clang-check.sh and lint.sh. clang_database <build dir of one architecture> <folder>
# rewrites the build's g++ compile database for clang into the folder, which it empties first (see
# cmake/ClangCompileDatabase.cmake). Each script has a folder of its own, so that both can run at once.
clang_database()
{
    local root
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd -P)"
    if [ ! -f "$1/compile_commands.json" ]; then
        echo "$1/compile_commands.json is missing: configure with -DCMAKE_EXPORT_COMPILE_COMMANDS=ON (make configure does)" >&2
        return 1
    fi
    cmake -DDATABASE="$1/compile_commands.json" -DSOURCE_ROOT="$root" -DOUT="$2" \
        -P "$root/cmake/ClangCompileDatabase.cmake"
}
