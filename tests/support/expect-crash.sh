#!/bin/sh
# Passes when a test program that crashes on purpose is judged a failure by the GoogleTest verdict
# and its crash was named by the test programs' exception filter (so no debugger held it); with
# --no-filter, when it is judged a failure and no debugger ran (winedbg prints a register dump);
# with --no-summary (a program that exits with code 0 before GoogleTest's summary), when it is
# judged a failure for the missing summary alone.
#   expect-crash.sh [--no-filter | --no-summary] VERDICT COMMAND [ARGS...]
set -u
filter=yes
case "${1:-}" in
--no-filter) filter=no; shift ;;
--no-summary) filter=summary; shift ;;
esac
out=$(mktemp)
trap 'rm -f "$out"' EXIT INT TERM
"$@" >"$out" 2>&1
rc=$?
cat "$out"
if [ $rc -eq 0 ]; then
    echo "expect-crash: the crashing program was judged a pass"
    exit 1
fi
if [ $filter = summary ]; then
    if grep -q 'gtest-verdict: the program ended with exit code' "$out"; then
        echo "expect-crash: the program did not end with exit code 0"
        exit 1
    fi
    if ! grep -q 'gtest-verdict: no GoogleTest summary' "$out"; then
        echo "expect-crash: the missing summary was not what failed it"
        exit 1
    fi
elif [ $filter = no ]; then
    if grep -q 'Register dump' "$out"; then
        echo "expect-crash: a debugger was started for the crash"
        exit 1
    fi
elif ! grep -q 'TEST PROGRAM CRASHED: unhandled exception 0xC0000005 (access violation)' "$out"; then
    echo "expect-crash: the crash was not named by the exception filter"
    exit 1
fi
echo "expect-crash: failed as it must (verdict $rc)"
