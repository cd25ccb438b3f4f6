#!/bin/sh
# End to end: a converter's link that goes dead without a FIN or RST reaching the add-in is found
# and dropped within 45 s (ReaderDeadLink_test.cpp). The dead link is the loopback interface of a
# network namespace of this script's own, taken down while the reader waits: nothing passes, and
# neither side is told. Wine makes a program's sockets in its wineserver, so a Wine prefix of this
# run, with its wineserver, lives inside the namespace too. Needs root and ip(8); exits 77 (skip)
# without them.
#   dead-link.sh SOURCE_DIR READER_TESTS_EXE
set -u
src=$1
exe=$2
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null 2>&1; then
    echo "dead-link: needs root and ip(8): skipped"
    exit 77
fi
work=$(mktemp -d /tmp/parvel-deadlink.XXXXXX)
ns=parvel-deadlink-$$
hub=
program=
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null
    [ -n "$hub" ] && kill "$hub" 2>/dev/null
    ip netns exec "$ns" wineserver -k 2>/dev/null
    ip netns exec "$ns" wineserver -w 2>/dev/null
    ip netns del "$ns" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
if ! ip netns add "$ns" 2>/dev/null; then
    echo "dead-link: cannot make a network namespace: skipped"
    exit 77
fi
ip netns exec "$ns" ip link set lo up || exit 1
ip netns exec "$ns" "$src/tools/wine-prefix.sh" start "$WINEPREFIX" || exit 1
ip netns exec "$ns" python3 "$src/tools/readersim/readersim.py" --control-port 0 --port-file "$work/port" \
    </dev/null >/dev/null 2>&1 &
hub=$!

# Waits up to $2 tenths of a second for the file $1 while the test program runs.
wait_for() {
    i=0
    while [ ! -s "$1" ]; do
        i=$((i + 1))
        if [ $i -gt "$2" ] || { [ -n "$program" ] && ! kill -0 "$program" 2>/dev/null; }; then
            return 1
        fi
        sleep 0.1
    done
}
wait_for "$work/port" 100 || { echo "dead-link: the simulator hub did not start"; exit 1; }
READERSIM_CONTROL_PORT=$(cat "$work/port")
PARVEL_DEAD_LINK_DIR="Z:$(printf %s "$work" | tr / '\\')"
export READERSIM_CONTROL_PORT PARVEL_DEAD_LINK_DIR
ip netns exec "$ns" "$src/tools/gtest-verdict.sh" wine "$exe" --gtest_filter='ReaderDeadLink.*' \
    >"$work/out" 2>&1 </dev/null &
program=$!
if wait_for "$work/connected" 300; then
    ip netns exec "$ns" ip link set lo down
    date +%s.%N >"$work/dropped"
    wait_for "$work/measured" 800
    ip netns exec "$ns" ip link set lo up
    echo restored >"$work/restored"
fi
wait "$program"
rc=$?
program=
cat "$work/out"
exit $rc
