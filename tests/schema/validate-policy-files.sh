#!/usr/bin/env bash
# Validates local policy files against the policy schema with xmllint.
# Usage: validate-policy-files.sh <schema.xsd> [policy file that must be valid ...]
# Every file under valid/ (and every file named on the command line) must pass validation;
# every file under invalid/ must be well-formed and fail validation.
set -uo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 <schema.xsd> [policy.xml ...]" >&2
    exit 2
fi
schema="$1"
shift
here="$(cd "$(dirname "$0")" && pwd)"

if ! command -v xmllint >/dev/null; then
    echo "xmllint is missing (package libxml2-utils)"
    exit 1
fi

# xmllint's exit status: 0 valid, 1 not well-formed, 3 and 4 invalid, 5 the schema itself is broken.
validate() {
    xmllint --noout --nonet --schema "$schema" "$1" 2>&1
}

failures=0
checked=0

for file in "$here"/valid/*.xml "$@"; do
    checked=$((checked + 1))
    if output="$(validate "$file")"; then
        echo "valid as expected: $file"
    else
        echo "FAILED: $file should be valid:"
        echo "$output"
        failures=$((failures + 1))
    fi
done

for file in "$here"/invalid/*.xml; do
    checked=$((checked + 1))
    output="$(validate "$file")"
    status=$?
    if [ $status -eq 3 ] || [ $status -eq 4 ]; then
        echo "rejected as expected: $file"
    else
        echo "FAILED: $file should be well-formed and fail validation (xmllint status $status):"
        echo "$output"
        failures=$((failures + 1))
    fi
done

echo "$checked files checked, $failures failures"
[ $failures -eq 0 ]
