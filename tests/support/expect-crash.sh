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
# Fails the entry, saying why, when the output has (has) or lacks (lacks) the pattern.
refuse() {
    if { [ "$1" = has ] && grep -q "$2" "$out"; } || { [ "$1" = lacks ] && ! grep -q "$2" "$out"; }; then
        echo "expect-crash: $3"
        exit 1
    fi
}
case $filter in
summary)
    refuse has 'gtest-verdict: the program ended with exit code' "the program did not end with exit code 0"
    refuse lacks 'gtest-verdict: no GoogleTest summary' "the missing summary was not what failed it"
    ;;
no)
    refuse has 'Register dump' "a debugger was started for the crash"
    ;;
*)
    refuse lacks 'TEST PROGRAM CRASHED: unhandled exception 0xC0000005 (access violation)' \
        "the crash was not named by the exception filter"
    ;;
esac
echo "expect-crash: failed as it must (verdict $rc)"
