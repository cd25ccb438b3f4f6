#!/usr/bin/env python3
"""One request to a running reader-simulator hub, from the command line; prints the hub's reply.

  simctl.py [--port N] COMMAND [FIELD=VALUE ...]

The hub's control port comes from --port, else READERSIM_CONTROL_PORT, else the file
build/readersim.port that tools/configparvel.sh --reader writes. A value is taken as JSON when it
reads as JSON (numbers, true, [1,2]) and as text otherwise. Examples (the README's test bench):

  tools/readersim/simctl.py present id=1 type=EM key=39307B0000     a card: Em-Marine 123,12345
  tools/readersim/simctl.py remove id=1                               the card taken away
  tools/readersim/simctl.py list

The commands and their fields are in tools/readersim/README.md ("Control protocol").
Exit code 0 when the hub took the request, 1 when it refused it, 2 when it cannot be reached."""
import argparse
import json
import os
import socket
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PORT_FILE = os.path.join(ROOT, "build", "readersim.port")


def parse_field(text):
    name, sep, value = text.partition("=")
    if not sep or not name:
        raise ValueError("a field is NAME=VALUE, not %r" % text)
    try:
        return name, json.loads(value)
    except ValueError:
        return name, value


def control_port(given):
    if given:
        return given
    if os.environ.get("READERSIM_CONTROL_PORT"):
        return int(os.environ["READERSIM_CONTROL_PORT"])
    try:
        with open(PORT_FILE) as f:
            return int(f.read().strip())
    except (OSError, ValueError):
        return None


def main(argv):
    p = argparse.ArgumentParser(description="Send one request to the reader-simulator hub.")
    p.add_argument("--port", type=int, help="the hub's control port")
    p.add_argument("command")
    p.add_argument("fields", nargs="*", metavar="FIELD=VALUE")
    args = p.parse_args(argv)
    try:
        request = dict(parse_field(f) for f in args.fields)
    except ValueError as exc:
        print("simctl: %s" % exc, file=sys.stderr)
        return 2
    request["cmd"] = args.command
    port = control_port(args.port)
    if not port:
        print("simctl: no simulator hub: start one with tools/configparvel.sh --reader (or give --port)",
              file=sys.stderr)
        return 2
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=35) as sock:
            sock.sendall(json.dumps(request).encode() + b"\n")
            reply = sock.makefile("rb").readline()
    except OSError as exc:
        print("simctl: cannot reach the simulator hub on 127.0.0.1:%d: %s" % (port, exc), file=sys.stderr)
        return 2
    if not reply:
        print("simctl: the simulator hub closed the connection", file=sys.stderr)
        return 2
    print(reply.decode(errors="replace").rstrip())
    return 0 if json.loads(reply).get("ok") else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
