#!/usr/bin/env bash
# Runs scripts/bootstrap.sh against stand-ins for apt-get, dpkg, dpkg-query, sleep and id that play a
# package registry, so the machine's packages are never touched. Each case checks the exit code, the
# last line printed and the calls made.
# Usage: check-bootstrap.sh <source root>
set -uo pipefail
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
echo VERSION_CODENAME=bookworm >"$work/os-release"
# The registry: UPDATE_FAILS updates fail; an install whose logged call ("install [-t suite] <the
# Wine packages asked for>") matches REFUSE is refused or, with REMOVES, resolved by removing wine64
# unless --no-remove is given; an accepted install leaves DROP out; ALL: everything is installed.
cat >"$work/bin/stand-in" <<'EOF'
#!/usr/bin/env bash
s="$STATE"
case "${0##*/}:${1:-}" in
    id:*) echo 0 ;;
    sleep:*) echo sleep >>"$s/log" ;;
    dpkg:--print-foreign-architectures) cat "$s/foreign" ;;
    dpkg:--add-architecture) echo "add $2" >>"$s/log"; echo "$2" >>"$s/foreign" ;;
    dpkg-query:*) [ -n "${ALL:-}" ] || grep -qxF -- "${!#}" "$s/installed" || exit 1
        printf 'install ok installed' ;;
    apt-get:update) echo update >>"$s/log"
        if [ "$(grep -c '^update$' "$s/log")" -le "${UPDATE_FAILS:-0}" ]; then
            printf '%s\n' "E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size" \
                "E: Some index files failed to download." >&2
            exit 100
        fi ;;
    apt-get:install) t="" keep="" asked=() wines=()
        for ((i = 2; i <= $#; i++)); do
            case "${!i}" in
                -t) i=$((i + 1)); t=" -t ${!i}" ;;
                --no-remove) keep=1 ;;
                -*) ;;
                *) asked+=("${!i}"); [[ "${!i}" == wine* ]] && wines+=("${!i}") ;;
            esac
        done
        echo "install$t ${wines[*]}" >>"$s/log"
        if [[ "install$t ${wines[*]}" == ${REFUSE:--} ]]; then
            [ -z "${REMOVES:-}" ] && { echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; }
            [ -n "$keep" ] && { echo "E: Packages need to be removed but remove is disabled." >&2; exit 100; }
            DROP=wine64
        fi
        printf '%s\n' "${asked[@]}" | grep -vxF "${DROP:--}" >>"$s/installed" ;;
    *) echo "stand-in: unexpected call ${0##*/} $*" >>"$s/log"; exit 1 ;;
esac
EOF
chmod +x "$work/bin/stand-in"
for tool in id sleep dpkg dpkg-query apt-get sudo; do ln -s stand-in "$work/bin/$tool"; done

all="install wine32:i386 wine wine64;install -t bookworm wine32:i386 wine wine64"
cases=(
    # name | bootstrap argument | registry | exit code | last line printed | calls made
    "everything present||ALL=1|0||"
    "an update that fails once||UPDATE_FAILS=1|0|bootstrap: installing|add i386;update;sleep;update;${all%%;*}"
    "an update that fails twice||UPDATE_FAILS=2|0|apt-get update failed (E: Failed to fetch http://deb.example/Packages.xz  File has unexpected size); going on|add i386;update;sleep;update;${all%%;*}"
    "an install that needs the pin||REFUSE='install w*'|0|bootstrap: installing|add i386;update;$all"
    "no 32-bit Wine||REFUSE='*wine32*'|0|bootstrap: the 32-bit Wine could not be installed (E: Unable to correct problems, you have held broken packages.); the suite runs on x86_64 only|add i386;update;$all;install wine wine64"
    "a resolver that would remove wine64||REFUSE='install w*' REMOVES=1|0|bootstrap: installing|add i386;update;$all"
    "an install that leaves wine64 out||DROP=wine64|1|bootstrap: still missing after the install: wine64|add i386;update;${all%%;*}"
    "the 64-bit set forced|x86_64|REFUSE='*wine32*'|0|bootstrap: installing wine wine64 |update;install wine wine64"
)
failed=0 n=0
for c in "${cases[@]}"; do
    IFS='|' read -r name arg registry rc line calls <<<"$c"
    n=$((n + 1)) && export STATE="$work/$n" && mkdir "$STATE" && touch "$STATE/foreign" "$STATE/installed" "$STATE/log"
    out="$(eval "export STATE $registry"; PATH="$work/bin:$PATH" OS_RELEASE="$work/os-release" \
        bash "$1/scripts/bootstrap.sh" "$arg" 2>&1)"
    got=$?
    made="$(paste -sd ';' "$STATE/log")"
    last="$(tail -n1 <<<"$out")"
    if [ "$got" != "$rc" ] || [ "$made" != "$calls" ] || [[ "$last" != *"$line"* ]] || { [ -z "$line" ] && [ -n "$out" ]; }; then
        printf 'FAIL: %s: exit %s (want %s)\n  calls %s\n  want  %s\n  output %s\n' \
            "$name" "$got" "$rc" "$made" "$calls" "$out"
        failed=1
    fi
done
[ "$failed" -eq 0 ] && echo "bootstrap: ${#cases[@]} cases pass"
exit "$failed"
