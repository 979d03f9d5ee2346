#!/usr/bin/env bash
# Builds both architectures and runs the whole suite under Wine on each architecture that this
# machine can run: the 64-bit twin always, the shipped 32-bit build where 32-bit programs run. The
# shipped exe is checked as a file either way. Ends with CTest's summary line.
# Usage: test.sh <build dir> [architectures]   (architectures: "i686 x86_64", the default, or one)
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
mkdir -p "$1"
build="$(cd "$1" && pwd)"
forced="${2:-}"
source "$here/arches.sh"

if [ -n "$forced" ]; then
    wanted=" $(tr ',' ' ' <<<"$forced") "
    for a in $wanted; do
        case "$a" in
            i686 | x86_64) ;;
            *) echo "make test: unknown architecture '$a' (i686 or x86_64)" >&2; exit 2 ;;
        esac
    done
else
    wanted=" i686 x86_64 "
fi

ran=()
skipped=""
for a in i686 x86_64; do
    case "$wanted" in *" $a "*) ;; *) continue ;; esac
    if [ "$a" = i686 ] && [ -n "$i686_reason" ]; then
        skipped="i686 could not run: $i686_reason"
        continue
    fi
    ran+=("$a")
done

if [ ${#ran[@]} -eq 0 ]; then
    echo "make test: no architecture could run here; $skipped" >&2
    exit 1
fi

# One CTest tree for the run: the architectures that run, plus the shipped exe's host checks when
# its architecture does not run here.
{
    echo "# Written by scripts/test.sh: the architectures that this run tests."
    for a in "${ran[@]}"; do
        echo "subdirs(\"$a\")"
    done
    if [[ " ${ran[*]} " != *" i686 "* ]]; then
        echo "subdirs(\"i686/tests/host\")"
    fi
} >"$build/CTestTestfile.cmake"

line="make test: running the suite on ${ran[*]}"
[ -n "$skipped" ] && line="$line; $skipped"
[[ " ${ran[*]} " != *" i686 "* ]] && line="$line (the shipped exe is still checked as a file)"
echo "$line"

for a in "${ran[@]}"; do
    "$here/wine-up.sh" "$build/$a" || exit 1
done
# A case that fails is run once more before it counts: under load, Wine now and then fails a case
# that has nothing to do with it (its Linux loader asserting at process exit, a service start
# refused). A case that fails twice fails the run.
cd "$build" && ctest --output-on-failure -j "${JOBS:-$(nproc)}" --repeat until-pass:2
rc=$?
for a in "${ran[@]}"; do
    "$here/wine-down.sh" "$build/$a"
done
exit $rc
