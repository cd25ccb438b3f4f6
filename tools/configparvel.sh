#!/bin/sh
# Starts ConfigParvel of this build under Wine, with the add-in and the help files beside it, so that
# its test bench can load Parvel.dll as the platform does.
#   tools/configparvel.sh [--reader] [--russian] [BUILD-DIR] [-DNAME=VALUE ...]     default: build
#
# It builds what it runs (ConfigParvel, Parvel.dll, the help files and the pty shim) in BUILD-DIR, puts
# them together in BUILD-DIR/configparvel and runs the program there, in a Wine prefix of its own
# (BUILD-DIR/wineprefix-user, where its settings stay between runs), apart from the tests'.
# With a display (DISPLAY set) the program shows there, in a 1024 x 768 Wine desktop (Wine draws window
# frames only in one). Without a display it gets an X server of its own (Xvfb) and a VNC server that
# shows that screen on 127.0.0.1 only (x11vnc, installed when missing): look at it with any VNC
# viewer, from another machine through an SSH tunnel (ssh -L 5900:127.0.0.1:5900 THIS-MACHINE).
# --reader: a reader simulator beside it plays a Kora USB reader (text protocol) on COM3; present a
# card with tools/readersim/simctl.py (the line to paste is printed).
# --russian: the Russian interface (the Russian locale for Wine).
# It ends when ConfigParvel is closed (or on Ctrl+C).
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
build=$root/build
options=""
reader=""
loc=""
for arg in "$@"; do
    case $arg in
    --reader) reader=1 ;;
    --russian) loc=ru_RU.UTF-8 ;;
    -D*) options="$options $arg" ;;
    -*) sed -n '4p' "$0" >&2; exit 2 ;;
    *) build=$arg ;;
    esac
done
build=$(readlink -f "$build" 2>/dev/null || echo "$build")

if [ -z "${PARVEL_CONFIGPARVEL_INNER:-}" ]; then
    # (The tests of this script run it in a build that is complete, beside other tests: no build then.)
    if [ -z "${PARVEL_CONFIGPARVEL_BUILT:-}" ]; then
        if [ -z "${DISPLAY:-}" ]; then
            "$root/tools/setup-host.sh" --vnc
        else
            "$root/tools/setup-host.sh"
        fi
        # shellcheck disable=SC2086 # each option is one word
        cmake -S "$root" -B "$build" -G Ninja $options >/dev/null
        ninja -C "$build" ConfigParvel Parvel help_files ptyshim
    fi
    # A folder of its own holds the program as a site has it: ConfigParvel.exe, Parvel.dll beside it
    # and the help files in Languages.
    program=$build/configparvel
    mkdir -p "$program/Languages"
    cp "$build/configurator/ConfigParvel.exe" "$build/addin/Parvel.dll" "$program/"
    cp "$build"/configurator/Languages/*.chm "$program/Languages/"
    export PARVEL_CONFIGPARVEL_INNER=1 PARVEL_PROGRAM_DIR="$program" PARVEL_BUILD="$build"
    export PARVEL_READER="$reader" PARVEL_LOCALE="$loc"
    if [ -n "${DISPLAY:-}" ]; then
        exec "$0"
    fi
    # No display: an X server of our own, and a VNC server on it that shows it.
    echo "There is no display (DISPLAY is not set): ConfigParvel runs on an X server of its own."
    export PARVEL_OWN_X=1
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0"
fi

# Inside: DISPLAY is set (the user's, or our own Xvfb's).
build=$PARVEL_BUILD
export WINEPREFIX=$build/wineprefix-user WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export LD_PRELOAD="$build/tools/libptyshim.so${LD_PRELOAD:+:$LD_PRELOAD}"
if [ -n "$PARVEL_LOCALE" ]; then
    export LANG=$PARVEL_LOCALE LC_ALL=$PARVEL_LOCALE
fi
if [ -n "$PARVEL_READER" ] && [ -z "${READERSIM_CONTROL_PORT:-}" ]; then
    # A simulated reader on COM3, beside the program (the hub maps its pty into the prefix).
    "$root/tools/wine-prefix.sh" init "$WINEPREFIX"
    trap 'rm -f "$build/readersim.port"' EXIT INT TERM
    "$root/tools/with-readersim.sh" "$WINEPREFIX" "$0"
    exit
fi
if [ -n "${PARVEL_OWN_X:-}" ]; then
    vnclog=$(mktemp)
    x11vnc -display "$DISPLAY" -localhost -nopw -forever -shared -autoport 5900 -bg -o "$vnclog" \
        >"$vnclog.out" 2>&1 || { cat "$vnclog" "$vnclog.out" >&2; exit 1; }
    vncport=$(sed -n 's/^PORT=//p' "$vnclog.out" | head -n 1)
    vncport=${vncport:-5900}
    rm -f "$vnclog" "$vnclog.out"
    echo "To see it: a VNC viewer on 127.0.0.1:$vncport (VNC display :$((vncport - 5900))); from another machine,"
    echo "through an SSH tunnel: ssh -L $vncport:127.0.0.1:$vncport THIS-MACHINE, then the viewer on 127.0.0.1:$vncport."
    # The VNC server ends with the X server, when ConfigParvel is closed.
fi
"$root/tools/wine-prefix.sh" init "$WINEPREFIX"
if [ -n "$PARVEL_READER" ]; then
    # simctl.py finds the hub through this file.
    echo "$READERSIM_CONTROL_PORT" >"$build/readersim.port"
    python3 "$root/tools/readersim/simctl.py" create mode=serial com=3 >/dev/null
    echo "A simulated reader is on COM3. On the Test page: Load, then Open..., port COM3, Save and close;"
    echo "then present a card (Em-Marine 123,12345) and take it away, from another terminal:"
    echo "  $root/tools/readersim/simctl.py present id=1 type=EM key=39307B0000"
    echo "  $root/tools/readersim/simctl.py remove id=1"
fi
cd "$PARVEL_PROGRAM_DIR"
echo "ConfigParvel is starting; close its window to end this command."
wine explorer /desktop=ConfigParvel,1024x768 ConfigParvel.exe </dev/null >/dev/null 2>&1 || true
