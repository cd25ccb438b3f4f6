#!/bin/sh
# Pictures of one help page in each language for the README, taken with headless Chromium from the
# same HTML the help files are compiled from (the help viewer under Wine has no HTML engine).
#
#   tools/help-screenshots.sh [-o OUT-DIR] [-t TOPIC] [-s WIDTH,HEIGHT]
#
# Defaults: docs/screenshots/, page-main.htm, 900,1250. Files: OUT-DIR/<language>-help.png.
set -eu
root=$(dirname "$(dirname "$(readlink -f "$0")")")
out=$root/docs/screenshots
topic=page-main.htm
size=900,1250
while getopts o:t:s: opt; do
    case $opt in
    o) out=$OPTARG ;;
    t) topic=$OPTARG ;;
    s) size=$OPTARG ;;
    *) sed -n '2,8p' "$0"; exit 2 ;;
    esac
done
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed" >&2; exit 1; }
mkdir -p "$out"
for language in en ru; do
    profile=$(mktemp -d)
    # The pages name the shared style sheet as a file of their own folder, as the help file holds it.
    pages=$(mktemp -d)
    cp "$root/docs/help/$language/"* "$root/docs/help/style.css" "$pages/"
    # A private profile and no network: the page is a local file and needs nothing else.
    timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
        --disable-background-networking --disable-component-update --disable-sync \
        --user-data-dir="$profile" --screenshot="$out/$language-help.png" --window-size="$size" \
        "file://$pages/$topic" >/dev/null 2>&1 || { rm -rf "$profile" "$pages"; echo "chromium failed" >&2; exit 1; }
    rm -rf "$profile" "$pages"
    echo "$out/$language-help.png"
done
