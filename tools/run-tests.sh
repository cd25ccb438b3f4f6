#!/bin/sh
# Builds everything and runs every test (under Wine, in the build's private prefix).
#   tools/run-tests.sh [BUILD-DIR] [-DNAME=VALUE ...]     default: build
# Arguments that begin with -D go to CMake as they are (e.g. -DPARVEL_WERROR=OFF).
# The run takes 15-20 minutes on 8 cores; while test entries run, a line every minute names the ones
# still running, since the longest stay silent for up to four minutes.
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/tools/build-args.sh"
"$root/tools/setup-host.sh" --vnc --shots
# shellcheck disable=SC2086 # each option is one word
cmake -S "$root" -B "$build" -G Ninja $options
ninja -C "$build"
cd "$build"
total=$(ctest -N | sed -n 's/^Total Tests: //p')
out=$build/Testing/run-tests.out
status=$build/Testing/run-tests.status
mkdir -p "$build/Testing"
: >"$out"
started=$(date +%s)
(
    while sleep "${PARVEL_PROGRESS_SECONDS:-60}"; do
        [ -f "$out" ] || exit 0
        awk -v total="$total" -v minutes=$(( ($(date +%s) - started) / 60 )) '
            /^ *Start +[0-9]+: / { sub(/^ *Start +[0-9]+: /, ""); running[$0] = 1 }
            / Test +#[0-9]+: / { line = $0; sub(/^.* Test +#[0-9]+: /, "", line); sub(/ .*$/, "", line)
                                 delete running[line]; done++ }
            END { names = ""; for (n in running) names = names " " n
                  printf "-- %d min: %d of %d test entries done; running:%s\n", minutes, done, total, names }
        ' "$out"
    done
) &
ticker=$!
trap 'kill $ticker 2>/dev/null || true' EXIT INT TERM
{ rc=0; ctest --output-on-failure -j4 --timeout 900 || rc=$?; echo $rc >"$status"; } 2>&1 | tee "$out"
exit "$(cat "$status")"
