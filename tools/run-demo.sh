#!/bin/sh
# Builds the programs and runs the main job under Wine.
#   tools/run-demo.sh [BUILD-DIR]     default: build
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
build=${1:-$root/build}
"$root/tools/setup-host.sh"
cmake -S "$root" -B "$build" -G Ninja
ninja -C "$build"
"$root/tools/wine-prefix.sh" init "$build/wineprefix"
"$build/wine-run" "$build/tools/selfcheck/selfcheck.exe"
