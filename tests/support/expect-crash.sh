#!/bin/sh
# Passes when a test program that crashes on purpose is judged a failure by the GoogleTest verdict
# and its crash was named by the test programs' exception filter (so no debugger held it).
#   expect-crash.sh VERDICT COMMAND [ARGS...]
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT INT TERM
"$@" >"$out" 2>&1
rc=$?
cat "$out"
if [ $rc -eq 0 ]; then
    echo "expect-crash: the crashing program was judged a pass"
    exit 1
fi
if ! grep -q 'TEST PROGRAM CRASHED: unhandled exception 0xC0000005 (access violation)' "$out"; then
    echo "expect-crash: the crash was not named by the exception filter"
    exit 1
fi
echo "expect-crash: failed as it must (verdict $rc)"
