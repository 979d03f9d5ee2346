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

# Only DLLs that every Windows installation has; a runtime DLL of the compiler would mean that the
# program is not linked statically.
system_dlls=" advapi32.dll bcrypt.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll user32.dll "
imports="$(i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z')"
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
    case "$system_dlls" in
        *" $dll "*) ;;
        *) fail "imports $dll, which is not a Windows system DLL" ;;
    esac
done
echo "imports: $(echo $imports)"
# Libraries that only some paths need are loaded when first used: every start, asking for help
# included, would otherwise pay for loading them and what they pull in.
for dll in advapi32.dll ole32.dll oleaut32.dll shell32.dll user32.dll; do
    case " $(echo $imports) " in
        *" $dll "*) fail "imports $dll, which should be loaded on first use" ;;
    esac
done

# Resource strings are UTF-16; the manifest is UTF-8 text.
wide="$(strings -a -el "$exe")"
grep -qx "VS_VERSION_INFO" <<<"$wide" || fail "no version resource"
grep -qx "4.1.06020" <<<"$wide" || fail "the version resource lacks the file version 4.1.06020"
narrow="$(strings -a "$exe")"
grep -q 'processorArchitecture="x86"' <<<"$narrow" || fail "no manifest for x86"
grep -q 'requestedExecutionLevel level="asInvoker"' <<<"$narrow" || fail "the manifest lacks the execution level"

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
