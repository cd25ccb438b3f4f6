#!/bin/sh
# Runs a GoogleTest program (through any wrappers: wine-run, with-readersim.sh, gui-run.sh) and
# passes only when it ends with exit code 0, printed GoogleTest's own "[  PASSED  ]" summary and
# printed no "[  FAILED  ]" line. Under Wine a program that dies after (or instead of) its summary
# does not reliably end with a failing code, so the exit code alone is not the verdict.
#   tools/gtest-verdict.sh COMMAND [ARGS...]
# The output goes to a file, not a pipe: a process the program leaves behind (a Wine service) must
# not keep the verdict waiting for the pipe's end.
set -u
out=$(mktemp)
trap 'rm -f "$out"' EXIT INT TERM
"$@" >"$out" 2>&1
rc=$?
cat "$out"
verdict=0
if [ $rc -ne 0 ]; then
    echo "gtest-verdict: the program ended with exit code $rc"
    verdict=1
fi
if ! grep -q '^\[  PASSED  \] ' "$out"; then
    echo "gtest-verdict: no GoogleTest summary \"[  PASSED  ]\" (the program died, hung or was not a test run)"
    verdict=1
fi
if grep -q '^\[  FAILED  \]' "$out"; then
    echo "gtest-verdict: GoogleTest reported failed tests"
    verdict=1
fi
exit $verdict
