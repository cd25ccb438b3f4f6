#!/bin/sh
# Builds everything and runs every test (under Wine, in the build's private prefix).
#   tools/run-tests.sh [BUILD-DIR]     default: build
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
build=${1:-$root/build}
"$root/tools/setup-host.sh"
cmake -S "$root" -B "$build" -G Ninja
ninja -C "$build"
cd "$build"
ctest --output-on-failure -j4 --timeout 900
