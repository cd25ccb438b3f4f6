#!/usr/bin/env python3
"""Reader simulator hub: plays proximity-card readers on pseudo-terminals that a
Wine prefix sees as COM ports, and behind TCP listeners that play network
converters, answers converter discovery on UDP ports of 127.0.0.1, all scripted
through a JSON-lines control channel on 127.0.0.1.

    python3 readersim.py --wineprefix PREFIX [--control-port 0] [--port-file FILE]

Prints "control-port N" once it listens and serves until SIGTERM or SIGINT,
then removes every dosdevices link it made, closes its ptys and sockets, and
deletes the port file. The control protocol is described in README.md.
"""

import argparse
import asyncio
import os
import signal
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import simhub  # noqa: E402


async def run(args):
    prefix = args.wineprefix or os.environ.get("WINEPREFIX")
    hub = simhub.Hub(os.path.abspath(prefix) if prefix else None)
    server = await asyncio.start_server(hub.serve_client, "127.0.0.1", args.control_port,
                                        limit=simhub.MAX_LINE)
    port = server.sockets[0].getsockname()[1]
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("control-port %d" % port, flush=True)

    stop = asyncio.Event()
    loop = asyncio.get_running_loop()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    try:
        await stop.wait()
    finally:
        server.close()
        await hub.close_all()
        if args.port_file:
            try:
                os.unlink(args.port_file)
            except OSError:
                pass


def main():
    p = argparse.ArgumentParser(description="Reader simulator hub")
    p.add_argument("--wineprefix", help="Wine prefix whose dosdevices get the COM links "
                   "(default: $WINEPREFIX)")
    p.add_argument("--control-port", type=int, default=0,
                   help="control port on 127.0.0.1 (0 = any free port)")
    p.add_argument("--port-file", help="file that receives the control port number")
    args = p.parse_args()
    try:
        asyncio.run(run(args))
    except OSError as exc:
        print("readersim: %s" % exc, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
