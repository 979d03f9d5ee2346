#!/usr/bin/env bash
# A second compiler for the same target: clang compiles every product and test source that a mingw
# build compiles (its compile database), for the build's target and against its g++'s C++ library
# headers, with -Wall -Wextra -Wshadow as errors and no object written. clang warns about code that
# g++ lets pass, such as va_start on a parameter that default promotion changes, or a local that
# shadows another. Fails when any source warns; the warnings name the file and line.
# Usage: clang-check.sh <build dir of one architecture, configured>   (make test gives BUILD_DIR/x86_64)
# CLANGXX (default clang++) and JOBS (default: the number of processors) may be set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd -P)"
build="$(cd "$1" && pwd)"
clang="${CLANGXX:-clang++}"
source "$here/clang-database.sh"
command -v "$clang" >/dev/null || { echo "clang check: $clang is not installed (scripts/bootstrap.sh installs it)" >&2; exit 1; }

out="$build/clang-check"
clang_database "$build" "$out"
# Each source on its own; a source that warns leaves <n>.rsp.failed beside its log.
export CLANG_CHECK_CXX="$clang"
find "$out" -name '*.rsp' -print0 | xargs -0 -r -n 1 -P "${JOBS:-$(nproc)}" bash -c \
    '"$CLANG_CHECK_CXX" "@$1" -fsyntax-only -Wall -Wextra -Wshadow -Werror -ferror-limit=0 >"$1.log" 2>&1 \
        || touch "$1.failed"' _

total="$(wc -l <"$out/sources.txt")"
failed=0
for rsp in $(cd "$out" && ls -v -- *.rsp); do
    if [ -e "$out/$rsp.failed" ]; then
        failed=$((failed + 1))
        log="$(<"$out/$rsp.log")"
        printf '%s\n' "${log//"$root/"/}" >&2
    fi
done
version="$("$clang" -dumpversion)"
if [ "$failed" -ne 0 ]; then
    echo "clang check: clang $version warns on $failed of $total sources (-Wall -Wextra -Wshadow)" >&2
    exit 1
fi
echo "clang check: $total sources compile cleanly with clang $version (-Wall -Wextra -Wshadow)"
