#!/usr/bin/env bash
# Fails when a C++ source of the product, the tests, the fixtures or the bench is not formatted as
# the root .clang-format says.
# Usage: check-format.sh <source root>
set -uo pipefail
cd "$1" || exit 2
if ! command -v clang-format >/dev/null; then
    echo "format: clang-format is not installed" >&2
    exit 1
fi
mapfile -t sources < <(git ls-files '*.h' '*.cpp' 2>/dev/null || find vpn tests fixtures bench -name '*.h' -o -name '*.cpp')
if ! clang-format --dry-run --Werror "${sources[@]}"; then
    echo "format: run clang-format -i on the files above" >&2
    exit 1
fi
echo "format: ${#sources[@]} files as .clang-format says"
