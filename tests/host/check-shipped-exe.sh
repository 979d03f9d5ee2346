#!/usr/bin/env bash
# Checks the shipped hardenor.exe as a file, without running it.
# Usage: check-shipped-exe.sh <hardenor.exe> <source dir> <build dir>
set -uo pipefail
exe="$1"
source_dir="$2"
build_dir="$3"
failures=0

fail()
{
    echo "FAIL: $*"
    failures=$((failures + 1))
}

kind="$(file -b "$exe")"
case "$kind" in
    "PE32 executable (console) Intel 80386"*) echo "ok: $kind" ;;
    *) fail "not a 32-bit i386 console program: $kind" ;;
esac

# Exactly the DLLs that Windows loads from the system folder before the program's own code runs:
# kernel32 is a KnownDLL, and msvcrt comes with it. Any other import (a runtime DLL of the compiler,
# or a system DLL that is not a KnownDLL, such as bcrypt) would be searched for beside the program
# first, before anything could restrict the search. Libraries that only some paths need are loaded
# from the system folder on first use instead.
allowed=" kernel32.dll msvcrt.dll "
imports="$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')"
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
    case "$allowed" in
        *" $dll "*) ;;
        *) fail "imports $dll; only kernel32.dll and msvcrt.dll may be imported" ;;
    esac
done
echo "imports: $(echo $imports)"

# Resource strings are UTF-16; the manifest is UTF-8 text.
wide="$(strings -a -el "$exe")"
grep -qx "VS_VERSION_INFO" <<<"$wide" || fail "no version resource"
# The build's version, as the top CMakeLists.txt sets it.
version="$(cat "$build_dir/pw-version" 2>/dev/null)"
[ -n "$version" ] || fail "no version in $build_dir/pw-version"
grep -qxF "$version" <<<"$wide" || fail "the version resource lacks the file version $version"
narrow="$(strings -a "$exe")"
grep -q 'processorArchitecture="x86"' <<<"$narrow" || fail "no manifest for x86"
grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$narrow" || fail "the manifest lacks the execution level"
# The message table of the tool's event source: the category and both event ids, read back by windres.
ids="$(i686-w64-mingw32-windres -J coff -i "$exe" -O rc 2>/dev/null | sed -n 's/^ *MessageId = //p' | xargs)"
[ "$ids" = "0x1 0x24000001 0x24000002" ] || fail "the message table holds '$ids', not 0x1 0x24000001 0x24000002"

# No build time: the header's time stamp (8 bytes after the PE header, whose offset is at 0x3C) is 0.
header="$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')"
stamp="$(od -An -tx4 -j$((header + 8)) -N4 "$exe" | tr -d ' ')"
[ "$stamp" = "00000000" ] || fail "the header holds a build time stamp (0x$stamp)"

for path in "$source_dir" "$build_dir"; do
    if grep -qF "$path" <<<"$narrow$wide"; then
        fail "the binary holds the build machine path $path"
    fi
done

[ "$failures" -eq 0 ] && echo "shipped exe checked: $exe"
exit $((failures > 0))
