#!/usr/bin/env bash
# make lint: clang-tidy over the product sources (vpn/) with the checks of the root .clang-tidy (the
# static analyzer and the bug-prone patterns; warnings are errors), run by run-clang-tidy on the compile
# database of clang's own build tree. Fails when any source has a finding; each names the file and line.
# Usage: lint.sh <clang build tree, configured>   (make lint gives BUILD_DIR/clang-x86_64)
# RUN_CLANG_TIDY (default run-clang-tidy) and JOBS (default: the number of processors) may be set.
set -euo pipefail
build="$(cd "$1" && pwd)"
tidy="${RUN_CLANG_TIDY:-run-clang-tidy}"
command -v "$tidy" >/dev/null || { echo "lint: $tidy is not installed (scripts/bootstrap.sh installs clang-tidy)" >&2; exit 1; }
if [ ! -f "$build/compile_commands.json" ]; then
    echo "lint: $build has no compile database: configure it (make configure does)" >&2
    exit 1
fi
# The database names each source by the checkout's path as CMake was given it, symbolic links and all.
sources=()
for root in "$(cd "$(dirname "$0")/.." && pwd)" "$(cd "$(dirname "$0")/.." && pwd -P)"; do
    sources+=("^$(sed 's/[][\.*^$+?(){}|]/\\&/g' <<<"$root")/vpn/")
done

# run-clang-tidy prints each command that it runs and clang-tidy's count of what it found ("3 warnings
# generated."), which say nothing that the findings do not.
status=0
out="$("$tidy" -p "$build" -j "${JOBS:-$(nproc)}" -quiet "${sources[@]}" 2>&1)" || status=$?
count="$(grep -c '^[^ ]*clang-tidy[^ ]* ' <<<"$out" || true)"
version="$(clang-tidy --version | sed -n 's/.*LLVM version \([0-9.]*\).*/\1/p')"
if [ "$status" -ne 0 ]; then
    # clang-tidy is run with colours on; a log has no use for them.
    sed 's/\x1b\[[0-9;]*m//g' <<<"$out" |
        grep -Ev '^[^ ]*clang-tidy[^ ]* |^[0-9]+ (warnings?|errors?)( and [0-9]+ (warnings?|errors?))? generated\.$' >&2 ||
        true
    echo "lint: clang-tidy $version finds problems in the product sources (of $count)" >&2
    exit 1
fi
if [ "$count" -eq 0 ]; then
    echo "lint: the compile database of $build lists no product source" >&2
    exit 1
fi
echo "lint: clang-tidy $version finds nothing in $count product sources"
