#!/bin/sh
# Runs a command with a reader-simulator hub beside it.
#   with-readersim.sh WINEPREFIX COMMAND [ARGS...]
# The hub maps the simulated serial readers into WINEPREFIX's dosdevices; the command finds the
# hub's control channel in READERSIM_CONTROL_PORT. The hub is stopped however the command ends.
set -eu
prefix=$1
shift
here=$(dirname "$(readlink -f "$0")")
portfile=$(mktemp)
trap 'kill $hub 2>/dev/null || true; wait $hub 2>/dev/null || true; rm -f "$portfile"' EXIT INT TERM
python3 "$here/readersim/readersim.py" --wineprefix "$prefix" --control-port 0 --port-file "$portfile" \
    </dev/null >/dev/null 2>&1 &
hub=$!
i=0
while [ ! -s "$portfile" ]; do
    i=$((i + 1))
    if [ $i -gt 100 ] || ! kill -0 $hub 2>/dev/null; then
        echo "with-readersim: the simulator hub did not start" >&2
        exit 1
    fi
    sleep 0.1
done
READERSIM_CONTROL_PORT=$(cat "$portfile")
export READERSIM_CONTROL_PORT
set +e
"$@"
rc=$?
exit $rc
