#!/usr/bin/env bash
# make lint: clang-tidy over the product sources (vpn/) with the checks of the root .clang-tidy (the
# static analyzer and the bug-prone patterns; warnings are errors), on the build's compile database
# rewritten for clang. Fails when any source has a finding; each names the file and line.
# Usage: lint.sh <build dir of one architecture, configured>   (make lint gives BUILD_DIR/x86_64)
# CLANG_TIDY (default clang-tidy) and JOBS (default: the number of processors) may be set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd -P)"
build="$(cd "$1" && pwd)"
tidy="${CLANG_TIDY:-clang-tidy}"
source "$here/clang-database.sh"
command -v "$tidy" >/dev/null || { echo "lint: $tidy is not installed (scripts/bootstrap.sh installs it)" >&2; exit 1; }

out="$build/clang-tidy"
clang_database "$build" "$out"
mapfile -t sources < <(grep -F "$root/vpn/" "$out/sources.txt")
if [ ${#sources[@]} -eq 0 ]; then
    echo "lint: the compile database of $build lists no product source" >&2
    exit 1
fi
logs="$out/lint"
mkdir -p "$logs"
# Each source on its own; a source with findings leaves <n>.failed beside its log.
export LINT_TIDY="$tidy" LINT_DATABASE="$out"
for i in "${!sources[@]}"; do
    printf '%s\0%s\0' "$logs/$i" "${sources[$i]}"
done | xargs -0 -r -n 2 -P "${JOBS:-$(nproc)}" bash -c \
    '"$LINT_TIDY" --quiet -p "$LINT_DATABASE" "$2" >"$1.log" 2>&1 || touch "$1.failed"' _

failed=0
for i in "${!sources[@]}"; do
    [ -e "$logs/$i.failed" ] || continue
    failed=$((failed + 1))
    # clang-tidy's count of what it found ("3 warnings generated.") says nothing the findings do not.
    log="$(grep -Ev '^[0-9]+ (warnings?|errors?)( and [0-9]+ (warnings?|errors?))? generated\.$' "$logs/$i.log" || true)"
    printf '%s\n' "${log//"$root/"/}" >&2
done
version="$("$tidy" --version | sed -n 's/.*LLVM version \([0-9.]*\).*/\1/p')"
if [ "$failed" -ne 0 ]; then
    echo "lint: clang-tidy $version finds problems in $failed of ${#sources[@]} product sources" >&2
    exit 1
fi
echo "lint: clang-tidy $version finds nothing in ${#sources[@]} product sources"
