#!/bin/sh
# Runs a Windows GUI program of this build under its own X server, once the Wine session can make
# windows there (see tests/support/WindowProbe.cpp), and passes its output and exit code on.
# WINE-RUN must be a prefix where every process has a display (the build's wine-run-gui): a
# display-less process of the session could make the desktop anew, without a display, at any time
# after the probe (see cmake/WineTests.cmake).
#   tools/gui-run.sh WINE-RUN WINDOW-PROBE PROGRAM [ARGS...]
# PARVEL_GUI_SCREEN=WIDTHxHEIGHT gives the X server a screen of that size (xvfb-run's own default
# otherwise).
set -u
wine_run=$1
probe=$2
shift 2
inner='
wine_run=$1; probe=$2; shift 2
tries=0
until "$wine_run" "$probe" >/dev/null 2>&1; do
    tries=$((tries + 1))
    if [ $tries -ge 20 ]; then
        echo "gui-run: the Wine session makes no windows on this display" >&2
        exit 1
    fi
    sleep 3
done
exec "$wine_run" "$@"
'
if [ -n "${PARVEL_GUI_SCREEN:-}" ]; then
    exec xvfb-run -a -s "-screen 0 ${PARVEL_GUI_SCREEN}x24" sh -c "$inner" gui-run "$wine_run" "$probe" "$@"
fi
exec xvfb-run -a sh -c "$inner" gui-run "$wine_run" "$probe" "$@"
