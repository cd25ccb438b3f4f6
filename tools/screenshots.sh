#!/bin/sh
# Screenshots of ConfigParvel: the main window on each built page and the About box, in English
# and in Russian, as PNG files (for the README, and for looking at the windows without Windows).
#
#   tools/screenshots.sh [-b BUILD-DIR] [-o OUT-DIR] [-l "en ru"] [-p "0:main 1:formats ..."]
#                        [-w WINE-PREFIX] [-d DPI] [-s WIDTHxHEIGHT] [-n NAME-SUFFIX]
#
# Defaults: build/, docs/screenshots/, both languages, the pages that are built (tab index and the
# file name part; add a page here when it is built; INDEX.INNER picks an inner tab of the test page,
# "load" loads the add-in on the test page, "devopen" captures the device dialog, "cards" opens a
# simulated reader on COM3 through that dialog and presents two cards, for the events list;
# "size:WxH" resizes the main window for the pictures after it; "format" captures the key-format
# dialog), the prefix BUILD-DIR/screenshot-prefix (BUILD-DIR/screenshot-prefix-dpiDPI with -d), a
# screen of 96 DPI and a desktop of 1024 x 768. -d gives the screen's DPI (120 for 125 % scaling,
# 144 for 150 %), -s the desktop's size, -n a suffix for the file names. Files:
# OUT-DIR/<language>-<page><suffix>.png and OUT-DIR/<language>-about<suffix>.png.
#
# The program runs under Xvfb inside a Wine virtual desktop (Wine draws window frames only there),
# from a scratch folder in portable mode, so no user's settings are read or written. The capture
# program (parvelshot.exe) runs in the same desktop: it starts ConfigParvel, switches the pages,
# opens the About box and copies each window from the screen into a BMP; Python makes the PNGs.
# The Wine prefix is this tool's own: everything running in it is ended when a language is done.
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
build=$root/build
out=$root/docs/screenshots
languages="en ru"
pages="0:main 1:formats 2:readkeys 3:sound 4:configurator load 5.1:properties 5.2:methods devopen cards 5.0:test
size:1000x740 5.0:resized 2:readkeys-resized"
prefix=
dpi=
desktop=1024x768
suffix=
while getopts b:o:l:p:w:d:s:n: opt; do
    case $opt in
    b) build=$(readlink -f "$OPTARG") ;;
    o) out=$OPTARG ;;
    l) languages=$OPTARG ;;
    p) pages=$OPTARG ;;
    w) prefix=$OPTARG ;;
    d) dpi=$OPTARG ;;
    s) desktop=$OPTARG ;;
    n) suffix=$OPTARG ;;
    *) sed -n '5,6p' "$0" >&2; exit 2 ;;
    esac
done
[ -n "$prefix" ] || prefix=$build/screenshot-prefix${dpi:+-dpi$dpi}

# A screen deep enough for true colours; Xvfb's default has 8 bits. The reader-simulator hub plays
# the reader that "cards" opens (its port mapped into the prefix).
if [ -z "${PARVEL_SHOTS_UNDER_XVFB:-}" ]; then
    screen=1280x1024
    [ "${desktop%x*}" -le 1280 ] && [ "${desktop#*x}" -le 1024 ] || screen=$desktop
    PARVEL_SHOTS_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 ${screen}x24" \
        "$root/tools/with-readersim.sh" "$prefix" "$0" -b "$build" -o "$out" -l "$languages" -p "$pages" -w "$prefix" \
        ${dpi:+-d "$dpi"} -s "$desktop" ${suffix:+-n "$suffix"}
fi

# The build's own outputs: not the prefixes' copies, nor dist/, which holds copies made at its own
# build and is emptied whenever dist is made again (the package tests do, beside this one).
find_exe() { find "$build" -name "$1" -type f -not -path '*prefix*' -not -path "$build/dist/*" | head -n 1; }
program=$(find_exe ConfigParvel.exe)
shot=$(find_exe parvelshot.exe)
addin=$(find_exe Parvel.dll)
shim=$build/tools/libptyshim.so
if [ -z "$program" ] || [ -z "$shot" ] || [ -z "$addin" ] || [ ! -f "$shim" ]; then
    ninja -C "$build" ConfigParvel parvelshot Parvel ptyshim >&2
    program=$(find_exe ConfigParvel.exe)
    shot=$(find_exe parvelshot.exe)
    addin=$(find_exe Parvel.dll)
fi
# The help files beside the program, as a site has them, so that the Help button shows.
help=$(dirname "$program")/Languages
[ -f "$help/Parvel_ENU.chm" ] && [ -f "$help/Parvel_RUS.chm" ] || ninja -C "$build" help_files >&2

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# The simulated reader's pty needs the shim in every wine process (see tools/wine-run.in).
export LD_PRELOAD="$shim${LD_PRELOAD:+:$LD_PRELOAD}"
# The pictures show the times of events and log lines: a clock that stands still at one moment makes
# every run's pictures the same. Only the time of day stands (libfaketime); the monotonic clock that
# Wine's timers and waits use runs on.
faketime_lib=/usr/lib/x86_64-linux-gnu/faketime/libfaketime.so.1
[ -f "$faketime_lib" ] || "$root/tools/setup-host.sh" --shots >&2
export LD_PRELOAD="$LD_PRELOAD:$faketime_lib" FAKETIME="2026-12-01 10:00:00" FAKETIME_DONT_FAKE_MONOTONIC=1
"$root/tools/wine-prefix.sh" init "$WINEPREFIX" $dpi
mkdir -p "$out"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
english=en_US.UTF-8
locale -a 2>/dev/null | grep -qi '^en_US.utf-\?8$' || english=C.UTF-8

status=0
for lang in $languages; do
    case $lang in
    ru) loc=ru_RU.UTF-8 ;;
    *) loc=$english ;;
    esac
    work=$(mktemp -d)
    cp "$program" "$work/ConfigParvel.exe"
    cp "$addin" "$work/Parvel.dll" # the test page loads it
    cp -r "$help" "$work/Languages"
    : >"$work/portable_mode_enabled"
    # Explorer ends with the desktop, which may outlive the capture: the report's last line
    # ("done CODE") says when the capture is over.
    LC_ALL=$loc LANG=$loc wine explorer /desktop=ParvelShots,$desktop "$(winpath "$shot")" \
        "$(winpath "$work/ConfigParvel.exe")" "$(winpath "$work")" "$lang" $pages about \
        </dev/null >/dev/null 2>&1 &
    report=$work/$lang-shots.txt
    waited=0
    until grep -q '^done' "$report" 2>/dev/null; do
        waited=$((waited + 1))
        [ $waited -le 180 ] || break
        sleep 1
    done
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    wait 2>/dev/null || true
    if ! grep -q '^done 0' "$report" 2>/dev/null; then
        echo "screenshots: $lang: the capture failed" >&2
        [ -f "$report" ] && sed 's/^/  /' "$report" >&2
        status=1
    fi
    for bmp in "$work"/"$lang"-*.bmp; do
        [ -f "$bmp" ] || continue
        name=$(basename "$bmp" .bmp)
        python3 "$root/tools/screenshot/bmp2png.py" "$bmp" "$out/$name$suffix.png"
        size=$(grep "^${name#"$lang"-} " "$report" | cut -d' ' -f2,3 | tr ' ' x)
        echo "$out/$name$suffix.png $size"
    done
    rm -rf "$work"
done
exit $status
