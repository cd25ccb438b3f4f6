#!/bin/sh
# Creates the build's private Wine prefix and keeps one wineserver alive for a test run.
#   wine-prefix.sh init  PREFIX [DPI]   create the prefix once (no Mono/Gecko prompts)
#   wine-prefix.sh start PREFIX [DPI]   init, then start a persistent wineserver
#   wine-prefix.sh stop  PREFIX         end that wineserver
# DPI (120, 144, ...) sets the screen's dots per inch that every program of the prefix gets (the
# user's LogPixels, as the display settings' scaling of 125 %, 150 % ... writes it).
set -eu
cmd=$1
export WINEPREFIX=$2
dpi=${3:-}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
case $cmd in
init)
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        # Two runs racing here must not both boot the prefix.
        exec 9>"$WINEPREFIX.lock"
        flock 9
        if [ ! -f "$WINEPREFIX/system.reg" ]; then
            wineboot -i </dev/null >/dev/null 2>&1 || true
            wineserver -w
        fi
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: could not create $WINEPREFIX" >&2; exit 1; }
    fi
    # No debugger for a crashing program: Wine's default, winedbg --auto, can hold a crashed test
    # program until it is killed (SetErrorMode does not stop it). An empty Debugger value starts
    # none, and the program ends with its exception code. Also set in a prefix made before this.
    if [ ! -f "$WINEPREFIX/.no-crash-debugger" ]; then
        wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d "" /f \
            </dev/null >/dev/null 2>&1 &&
            wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 1 /f \
                </dev/null >/dev/null 2>&1 &&
            touch "$WINEPREFIX/.no-crash-debugger"
    fi
    if [ -n "$dpi" ] && [ ! -f "$WINEPREFIX/.dpi-$dpi" ]; then
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1 &&
            touch "$WINEPREFIX/.dpi-$dpi"
    fi
    ;;
start)
    "$0" init "$WINEPREFIX" "$dpi"
    # Detach from the caller's pipes: ctest waits for every process that holds them.
    # A server of an earlier run may still be going down: try once more after it has.
    # "wineserver -p" fails while another server runs for the prefix (one left by an earlier run,
    # or one a program started): end that one and start ours.
    tries=0
    until wineserver -p </dev/null >/dev/null 2>&1; do
        tries=$((tries + 1))
        [ $tries -lt 20 ] || { echo "wine-prefix: wineserver does not start" >&2; exit 1; }
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
        sleep 0.2
    done
    # Start the prefix's services now, detached too; otherwise the first test starts them and
    # they keep that test's output pipes open for as long as the server lives.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    ;;
stop)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
*)
    echo "usage: $0 init|start|stop PREFIX" >&2
    exit 2
    ;;
esac
