#!/usr/bin/env bash
# Measures what a run of hardenor.exe costs against yardsticks, on one warm Wine machine: the
# architecture that `make run` uses (the shipped 32-bit exe where this machine runs 32-bit programs,
# otherwise its 64-bit twin; BENCH_ARCH=i686 or x86_64 forces the choice).
#
# Medians of BENCH_RUNS runs (default 25) each, taken in turns so that a slow moment of the machine
# falls on every case alike, in a new random order each round: in a fixed order each program always
# followed the same one, and what that one left the machine to finish fell on it alone (the tool, which
# always followed the floor, measured 3 to 4 percent dearer than in a shuffled order).
# A ratio is the median of the ratios within each round, not the ratio of two medians: the speed of
# the machines here drifts by half and more within a minute, and two runs of one round, made moments
# apart, see the same machine. In 150 rounds of the tool and the floor, the ratio of medians of 15
# consecutive rounds ranged from 0.84 to 1.21 (5th to 95th percentile over every such window), the
# median of their rounds' ratios from 0.96 to 1.18, and that of 25 rounds from 0.98 to 1.16. The cases:
#   tool, no agent   the whole run with a policy file present, answering "y", no agent installed
#   tool, help       hardenor.exe /?
#   bare             a console program that does nothing
#   ole32 only       a program that only imports ole32
#   floor            the platform work of a run and nothing else (bench/Floor.cpp)
# and then, in rounds of their own with the stand-in agent installed, registered and running:
#   tool, with agent  the same run, which also restarts the agent
#   restart floor     the floor, then the same restart: the stop control, a wait on the service
#                     control manager's notification until it has stopped, the start, and a wait
#                     until it runs (bench/Floor.cpp given the service's name)
#
# The Wine machine's agent registration and installed agent are put back as they were at the end.
# Usage: bench.sh <build dir>
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
runs="${BENCH_RUNS:-25}"
source "$here/arches.sh"

if [ -n "${BENCH_ARCH:-}" ]; then
    arch="$BENCH_ARCH"
    echo "Measuring $arch (forced by BENCH_ARCH)."
elif [ -z "$i686_reason" ]; then
    arch=i686
    echo "Measuring the shipped 32-bit hardenor.exe (i686)."
else
    arch=x86_64
    echo "Measuring the 64-bit twin of hardenor.exe (x86_64): i686 could not run: $i686_reason."
fi
source "$here/wine-env.sh" "$build/$arch" || exit 1
for exe in hardenor pwbench-bare pwbench-ole32 pwbench-floor zirodava; do
    [ -f "$build_dir/$exe.exe" ] || { echo "bench: $build_dir/$exe.exe not found (build first)" >&2; exit 1; }
done

"$here/wine-up.sh" "$build_dir" || exit 1
source "$here/agent-service.sh"
wine_quiet()
{
    timeout 60 "$WINELOADER" "$@" </dev/null >/dev/null 2>&1
}

# The agent as this Wine machine has it now, to be put back at the end.
install="$("$here/install-agent.sh" "$build_dir")" || exit 1
win_folder="$(sed -n 's/^install-agent: agent //p' <<<"$install" | sed 's/\\zirodava\.exe$//')"
folder="$(sed -n 's/^install-agent: folder //p' <<<"$install")"
agent="$folder/zirodava.exe"
restore()
{
    # As install-agent.sh registers it; the tests and the demo take it from there.
    register_agent "\"$win_folder\\zirodava.exe\"" || echo "bench: could not register the agent as it was" >&2
    cp "$build_dir/zirodava.exe" "$agent"
    rm -f "$build_dir/bench-output.txt" "$floor_file"
    "$here/wine-down.sh" "$build_dir"
}
trap restore EXIT

policy="$WINEPREFIX/drive_c/ProgramData/Veskar/Veskar Pathweave Roamguard Client/PathweaveLocalPolicy.xml"
hardenor="$build_dir/hardenor.exe"
floor_file="$WINEPREFIX/drive_c/ProgramData/pwbench-floor.xml"

# One timed run: the program's exit code in $rc and its microseconds in $us. Its output goes to
# /dev/null, a character device as a console is (the C runtime then writes it unbuffered, as it does
# to a console), except where $out_file names a file for it.
out_file=/dev/null
run_timed()
{
    local input="$1"
    shift
    local begin end
    begin=$(date +%s%N)
    timeout 300 "$WINELOADER" "$@" <<<"$input" >"$out_file" 2>/dev/null
    rc=$?
    end=$(date +%s%N)
    us=$(((end - begin) / 1000))
}

# One run whose output is kept in $out, to check what it did.
run_checked()
{
    out_file="$build_dir/bench-output.txt"
    run_case "$@"
    out="$(tr -d '\r' <"$out_file")"
    out_file=/dev/null
}

# Microseconds as milliseconds with one decimal.
ms()
{
    awk -v us="$1" 'BEGIN { printf "%.1f", us / 1000 }'
}

median()
{
    tr ' ' '\n' <<<"$1" | sed '/^$/d' | sort -n | awk '{ v[NR] = $1 } END {
        if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'
}

# The cases, and the output that shows that a run did what it should.
case_names=("tool, no agent" "tool, help" "bare" "ole32 only" "floor" "tool, with agent" "restart floor")
case_expected=("FIPS Mode has Successfully been Enabled" "Usage: hardenor.exe" "" "" ""
    "The VPN agent has been successfully restarted." "")
run_case()
{
    case "$1" in
        0) run_timed "y" "$hardenor" ;;
        1) run_timed "" "$hardenor" "/?" ;;
        2) run_timed "" "$build_dir/pwbench-bare.exe" ;;
        3) run_timed "" "$build_dir/pwbench-ole32.exe" ;;
        4) run_timed "" "$build_dir/pwbench-floor.exe" ;;
        5) run_timed "y" "$hardenor" ;;
        6) run_timed "" "$build_dir/pwbench-floor.exe" zirodava ;;
    esac
}
check_run()
{
    local i="$1"
    if [ "$rc" -ne 0 ] || ! grep -qF "${case_expected[$i]}" <<<"$out"; then
        echo "bench: ${case_names[$i]}: unexpected result (exit code $rc): $out" >&2
        exit 1
    fi
    if [ "$i" -eq 0 ] && grep -q "Restarting" <<<"$out"; then
        echo "bench: the run without agent restarted an agent" >&2
        exit 1
    fi
}

# Without agent: the service stopped and the agent's executable absent, so the tool restarts nothing.
stop_agent || exit 1
rm -f "$agent"
# The first run writes the policy file, so that every timed run finds one and is asked.
run_timed "y" "$hardenor"
[ -f "$policy" ] || { echo "bench: the tool wrote no policy file (exit code $rc)" >&2; exit 1; }

# The rounds of the cases given, each case once a round.
declare -a times
run_rounds()
{
    local round order i
    for round in $(seq 0 "$runs"); do
        order="$*"
        [ "$round" -gt 0 ] && order="$(shuf -e "$@")"
        for i in $order; do
            # Round 0 warms every program up and checks what it does; it is not counted.
            before="$(starts)"
            if [ "$round" -eq 0 ]; then
                run_checked "$i"
                check_run "$i"
            else
                run_case "$i"
                [ "$rc" -eq 0 ] || { echo "bench: ${case_names[$i]}: exit code $rc" >&2; exit 1; }
                times[$i]="${times[$i]:-} $us"
            fi
            # A run with the agent restarts it once, which counts its starts.
            if [ "$i" -ge 5 ] && [ "$(starts)" != "$((before + 1))" ]; then
                echo "bench: ${case_names[$i]} did not restart the agent" >&2
                exit 1
            fi
        done
    done
}
starts()
{
    sed -n 's/^starts=//p' "$folder/zirodava-status.txt" 2>/dev/null | tr -d '\r'
}
run_rounds 0 1 2 3 4

declare -a medians
echo
echo "Medians of $runs runs ($arch, $(basename "$WINELOADER")):"
print_medians()
{
    local i
    for i in "$@"; do
        medians[$i]="$(median "${times[$i]}")"
        printf '  %-16s %7s ms   (min %s, max %s)\n' "${case_names[$i]}" "$(ms "${medians[$i]}")" \
            "$(ms "$(tr ' ' '\n' <<<"${times[$i]}" | sed '/^$/d' | sort -n | head -1)")" \
            "$(ms "$(tr ' ' '\n' <<<"${times[$i]}" | sed '/^$/d' | sort -n | tail -1)")"
    done
}
print_medians 0 1 2 3 4
# The median over the rounds of one case's time over another's in the same round. The times of a case
# are listed in the order of the rounds, so the n-th of each belongs to the same round.
ratio()
{
    paste <(tr ' ' '\n' <<<"${times[$1]}" | sed '/^$/d') <(tr ' ' '\n' <<<"${times[$2]}" | sed '/^$/d') |
        awk '{ print $1 / $2 }' | sort -g | awk '{ v[NR] = $1 } END {
            printf "%.2fx", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
of_medians()
{
    awk -v a="${medians[$1]}" -v b="${medians[$2]}" 'BEGIN { printf "%.2fx", a / b }'
}
echo "Ratios (median of the rounds' ratios; in brackets, the ratio of the medians):"
echo "  tool, no agent / floor   $(ratio 0 4) ($(of_medians 0 4))   (goal: at most 1.10x)"
echo "  tool, help / bare        $(ratio 1 2) ($(of_medians 1 2))   (goal: at most 1.20x)"
echo "  ole32 only / bare        $(ratio 3 2) ($(of_medians 3 2))"
echo "  floor / bare             $(ratio 4 2) ($(of_medians 4 2))"

# With agent: installed and registered as install-agent.sh does (stopping in 1 to 5 ms and starting
# in 1 to 8 ms), and running.
cp "$build_dir/zirodava.exe" "$agent"
register_agent "\"$win_folder\\zirodava.exe\"" || { echo "bench: could not register the agent" >&2; exit 1; }
"$here/start-agent.sh" "$build_dir" >/dev/null || exit 1
run_rounds 5 6
echo
echo "With the agent, medians of $runs runs:"
print_medians 5 6
echo "  tool, with agent / restart floor   $(ratio 5 6) ($(of_medians 5 6))   (goal: at most 1.10x)"
