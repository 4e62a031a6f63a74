#!/usr/bin/env bash
# Runs a command and compares its standard output byte for byte with a file
# of expected text, and its exit status with the expected one.
#   check_console.sh EXPECTED_FILE lf|crlf EXIT_STATUS COMMAND [ARGS...]
# crlf: the program writes through a Windows text-mode stream, which turns
# every "\n" it prints into "\r\n".
set -uo pipefail
expected=$1 newline=$2 status=$3
shift 3

got=$(mktemp) want=$(mktemp)
trap 'rm -f "$got" "$want"' EXIT
"$@" </dev/null >"$got"
rc=$?
if [ "$newline" = crlf ]; then
    sed 's/$/\r/' "$expected" >"$want"
else
    cp "$expected" "$want"
fi
fail=0
if ! cmp -s "$got" "$want"; then
    echo "console output differs from $expected:"
    diff <(od -c "$want") <(od -c "$got") | head -40
    fail=1
fi
if [ "$rc" != "$status" ]; then
    echo "exit status $rc, expected $status"
    fail=1
fi
exit $fail
