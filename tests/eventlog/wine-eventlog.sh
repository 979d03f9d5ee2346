#!/usr/bin/env bash
# Runs the real-sink case of the logging tests with Wine's eventlog channel on and checks that the
# entry reached ReportEvent with its exact text. Wine stores nothing, but prints each insertion string.
# Usage: wine-eventlog.sh <build dir>
set -uo pipefail
here="$(cd "$(dirname "$0")/../../scripts" && pwd)"
build="$(cd "$1" && pwd)"
out="$(mktemp)"
trap 'rm -f "$out"' EXIT

WINEDEBUG=-all,+eventlog "$here/wine-exec.sh" "$build" "$build/test_vpn_Common_Logging.exe" \
    --gtest_filter=EventLogRealSink.WritesAShortEntry >/dev/null 2>"$out" </dev/null
expected='ReportEventW L"Function: EventLogRealSink\nFile: EventLogLoggerTest\nLine: 99\nreal entry 7"'
if grep -qF "warn:eventlog:$expected" "$out"; then
    echo "found the entry in Wine's eventlog channel"
    exit 0
fi
echo "entry not found; Wine printed:"
cat "$out"
exit 1
