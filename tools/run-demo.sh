#!/bin/sh
# Builds only the programs it runs, then runs the main job under Wine: the add-in Parvel.dll, loaded by
# the console host as the platform loads it, opens a simulated card reader (a pty mapped as a COM port)
# and turns a scripted sequence of cards into external events, printed one line per event.
#   tools/run-demo.sh [BUILD-DIR] [-DNAME=VALUE ...]     default: build
# Arguments that begin with -D go to CMake as they are (e.g. -DPARVEL_WERROR=OFF).
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
. "$root/tools/build-args.sh"
build=$(readlink -f "$build" 2>/dev/null || echo "$build")
"$root/tools/setup-host.sh"
# shellcheck disable=SC2086 # each option is one word
cmake -S "$root" -B "$build" -G Ninja $options
# Only what the demo runs; tools/run-tests.sh builds the rest.
ninja -C "$build" demo_programs
prefix=$build/wineprefix
"$root/tools/wine-prefix.sh" init "$prefix"
"$root/tools/with-readersim.sh" "$prefix" python3 "$root/tests/e2e/e2e_cards.py" --demo \
    --wine-run "$build/wine-run" --host "$build/tools/parvelhost/parvelhost.exe" --dll "$build/addin/Parvel.dll"
