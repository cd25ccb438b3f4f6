#!/usr/bin/env python3
"""End to end: cards on simulated readers become the add-in's external events in the console host.

The real Parvel.dll runs in parvelhost under Wine with a script (load, set properties, Open, wait for
events, Close); this driver reads the host's output as it comes and plays the reader's side through
the simulator hub: it presents a card once "DeviceConnect" has arrived and takes it away once the
card's "TracksData" has arrived. Cases:

  serial   a reader on a pty mapped as COM60: DeviceConnect, TracksData "123,12345" (Em-Marine key
           39 30 7B 00 00 through the default format), NoCard with the same text, DeviceDisconnect
  russian  the same on COM61 with the host in the ru_RU.UTF-8 locale: the Russian event names
  tcp      the same through a simulated network converter on 127.0.0.1
  auto     Open with the port "Auto" finds the reader on COM62 through the search (the port is
           listed in the prefix's SERIALCOMM for the time of the case); after Close, FindNext lists
           it, the next FindNext answers 0x80040231 ("No more readers.") and FindClose ends it

Usage, beside a simulator hub (tools/with-readersim.sh PREFIX sets READERSIM_CONTROL_PORT):
  e2e_cards.py --wine-run BUILD/wine-run --host parvelhost.exe --dll Parvel.dll [--case NAME]...
  e2e_cards.py ... --demo      the README's demo: several cards on one reader, events printed
  e2e_cards.py ... --verbose   also print each host's script and output when a case passes
Exit code 0 when every case passed; 1 otherwise, after printing what went wrong (the host's whole
output and the bytes the simulated reader received and sent).
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from hostdriver import DriverError, HostRun, SerialCommList, SimClient, quote  # noqa: E402

EVENT_NAMES = {
    "en": {"connect": "DeviceConnect", "tracks": "TracksData", "nocard": "NoCard",
           "disconnect": "DeviceDisconnect"},
    "ru": {"connect": "УстройствоПодключено", "tracks": "ДанныеКарты", "nocard": "НетКарты",
           "disconnect": "УстройствоОтключено"},
}

# "No more readers." as the I4 that GetLastError returns.
NO_MORE_READERS = 0x80040231 - (1 << 32)

# The host's waits; the driver waits a little longer, so that a missing event is reported by the
# host itself (its FAILED line) rather than cut short here.
CONNECT_WAIT = 20.0     # the first Wine start of a run may take a while
EVENT_WAIT = 10.0
GRACE = 5.0


def em_marine(facility, number, k3=0, k4=0):
    """An Em-Marine key record (bytes 0-1 the number, low byte first, byte 2 the facility code)
    and the text that the default format "%.3u,%.5u" over "b2 w01" makes of it."""
    key = bytes([number & 0xFF, number >> 8, facility, k3, k4])
    return key.hex(" ").upper(), "%03u,%05u" % (facility, number)


class CaseFailure(Exception):
    pass


class Session:
    """One host run against one simulated reader: Open, the cards, Close, and whatever the case adds
    before and after. `report(kind, text)` is told of every step (the demo prints them)."""

    def __init__(self, args, sim, reader, port, device, cards, names, locale=None,
                 setup=(), after=(), report=None):
        self.args, self.sim, self.reader = args, sim, reader
        self.port, self.device, self.cards, self.names = port, device, cards, names
        self.locale, self.setup, self.after = locale, list(setup), list(after)
        self.report = report or (lambda kind, text: None)
        self.host = None

    def script(self):
        n = self.names
        lines = ["load"] + self.setup + [
            "set Port %s" % quote(self.port),
            "call Open empty",
            "expect-result true",
            "expect-param 1 %s" % quote(self.device),
            "expect-event %s %d" % (n["connect"], CONNECT_WAIT * 1000),
        ]
        for _, text in self.cards:
            lines.append("expect-event %s %d %s" % (n["tracks"], EVENT_WAIT * 1000, quote(text)))
            lines.append("expect-event %s %d %s" % (n["nocard"], EVENT_WAIT * 1000, quote(text)))
        lines += ["call Close %s" % quote(self.device), "expect-result true",
                  "expect-event %s %d" % (n["disconnect"], EVENT_WAIT * 1000)]
        return lines + self.after + ["unload"]

    def expected_events(self):
        n = self.names
        out = [(n["connect"], "")]
        for _, text in self.cards:
            out += [(n["tracks"], text), (n["nocard"], text)]
        return out + [(n["disconnect"], "")]

    def run(self):
        n = self.names
        self.host = HostRun(self.args.wine_run, self.args.host, self.args.dll, self.script(), self.locale)
        try:
            self.report("event", self.host.wait_event(n["connect"], CONNECT_WAIT + GRACE))
            for i, (key, text) in enumerate(self.cards, 1):
                line = self.sim.call("present", id=self.reader, type="EM", key=key, wait=True)["line"]
                self.report("action", "card %d presented: Em-Marine key %s (the reader prints %r)" % (i, key, line))
                got = self.host.wait_event(n["tracks"], EVENT_WAIT + GRACE)
                self.report("event", got)
                self.check(got, n["tracks"], text)
                self.sim.call("remove", id=self.reader, wait=True)
                self.report("action", "card %d removed" % i)
                got = self.host.wait_event(n["nocard"], EVENT_WAIT + GRACE)
                self.report("event", got)
                self.check(got, n["nocard"], text)
            self.report("event", self.host.wait_event(n["disconnect"], EVENT_WAIT + GRACE))
            rc = self.host.finish(60.0)
        except DriverError as exc:
            self.host.kill()
            raise CaseFailure(str(exc) + self.host_verdict())
        except CaseFailure:
            self.host.kill()
            raise
        if rc != 0:
            raise CaseFailure("the host ended with exit code %d%s" % (rc, self.host_verdict()))
        got = [(e.name, e.data) for e in self.host.entries()]
        if got != self.expected_events():
            raise CaseFailure("events %s, expected %s" % (got, self.expected_events()))
        others = [e for e in self.host.entries() if e.source != self.device]
        if others:
            raise CaseFailure("events from a source other than %s: %s" % (self.device, others))

    def host_verdict(self):
        """The host's own account of a failure, when it gave one."""
        for line in reversed(self.host.transcript().splitlines()):
            if line.startswith(("FAILED:", "SCRIPT ERROR:")):
                return "; the host says: " + line
        return ""

    def check(self, entry, name, data):
        if entry.source != self.device or entry.data != data:
            raise CaseFailure("%s from %r with data %r, expected from %r with data %r"
                              % (name, entry.source, entry.data, self.device, data))

    def diagnostics(self):
        out = []
        if self.host:
            out.append("--- host script ---\n" + "\n".join(self.host.script))
            out.append("--- host output ---\n" + self.host.transcript())
        out.append("--- simulator ---\n" + self.sim.traffic(self.reader))
        return "\n".join(out)


def serial_reader(sim, com):
    return sim.call("create", mode="serial", com=com)


def case_serial(args, sim, names="en", locale=None, com=60):
    r = serial_reader(sim, com)
    return Session(args, sim, r["id"], r["port"], r["port"], [em_marine(123, 12345)],
                   EVENT_NAMES[names], locale=locale)


def case_russian(args, sim):
    return case_serial(args, sim, names="ru", locale="ru_RU.UTF-8", com=61)


def case_tcp(args, sim):
    r = sim.call("create", mode="tcp")
    return Session(args, sim, r["id"], r["port"], r["port"], [em_marine(123, 12345)], EVENT_NAMES["en"])


class AutoSession(Session):
    """The search through the prefix's serial-port list, which holds only this case's port meanwhile."""

    def run(self):
        with SerialCommList(self.args.wine_run, {r"\Device\SerialParvelE2E%s" % self.device[3:]: self.device}):
            super().run()


def case_auto(args, sim):
    r = serial_reader(sim, 62)
    # Registry ports only, and short probes: the search is over as soon as the one port has answered.
    setup = ["set SearchFlags 1u", "set ReqTimeout 1000u", "set ReqTries 1"]
    after = ["call FindNext empty empty empty empty empty 10000u", "expect-result true",
             "expect-param 1 %s" % quote(r["port"]), "expect-param 2 1",
             "call FindNext empty empty empty empty empty 10000u", "expect-result false",
             "call GetLastError empty", "expect-result %d" % NO_MORE_READERS,
             "call FindClose", "expect-result true"]
    return AutoSession(args, sim, r["id"], "Auto", r["port"], [em_marine(123, 12345)],
                       EVENT_NAMES["en"], setup=setup, after=after)


CASES = {"serial": case_serial, "russian": case_russian, "tcp": case_tcp, "auto": case_auto}


def run_cases(args, sim):
    failed = []
    for name in args.case or list(CASES):
        started = time.monotonic()
        session = None
        try:
            session = CASES[name](args, sim)
            session.run()
            print("PASS %-8s (%.1f s)" % (name, time.monotonic() - started), flush=True)
            if args.verbose:
                print(session.diagnostics(), flush=True)
        except (CaseFailure, DriverError) as exc:
            failed.append(name)
            print("FAIL %-8s: %s" % (name, exc), flush=True)
            if session:
                print(session.diagnostics(), flush=True)
        finally:
            if session:
                sim.call("destroy", id=session.reader)
    print("%d of %d cases passed" % (len(args.case or CASES) - len(failed), len(args.case or CASES)))
    return 1 if failed else 0


DEMO_CARDS = [em_marine(123, 12345), em_marine(45, 42, 0x1A), em_marine(200, 65535, 0x01, 0x02),
              em_marine(7, 1000), em_marine(0, 1)]


def run_demo(args, sim):
    r = serial_reader(sim, 70)
    counts = {"event": 0}

    def report(kind, item):
        if kind == "event":
            counts["event"] += 1
            print("  %s  %-7s %-18s %s" % (item.line[:12], item.source, item.name, item.data), flush=True)
        else:
            print("  %12s  %s" % ("", item), flush=True)

    session = Session(args, sim, r["id"], r["port"], r["port"], DEMO_CARDS, EVENT_NAMES["en"], report=report)
    print("Parvel demo: Parvel.dll in the console host under Wine; a simulated Kora USB reader on %s.\n"
          "Each card is presented, reported by the add-in as TracksData with its number in the default\n"
          "format (\"%%.3u,%%.5u\" over the facility byte and the 16-bit number: in 1C the event's Data is the\n"
          "text \"123,12345\", the card's facility code in three digits, a comma, its number in five), and\n"
          "taken away (NoCard).\n"
          % r["port"], flush=True)
    try:
        session.run()
    except (CaseFailure, DriverError) as exc:
        print("DEMO FAILED: %s" % exc)
        print(session.diagnostics())
        return 1
    finally:
        sim.call("destroy", id=r["id"])
    print("\nDemo finished: %d cards read, %d events." % (len(DEMO_CARDS), counts["event"]))
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--wine-run", required=True, help="the build's wine-run script")
    p.add_argument("--host", required=True, help="parvelhost.exe")
    p.add_argument("--dll", required=True, help="Parvel.dll")
    p.add_argument("--case", action="append", choices=sorted(CASES), help="run only these cases")
    p.add_argument("--demo", action="store_true", help="run the demo instead of the tests")
    p.add_argument("--verbose", action="store_true", help="print every host's output, also on success")
    args = p.parse_args()
    try:
        sim = SimClient()
    except (DriverError, OSError) as exc:
        print("cannot reach the simulator hub: %s" % exc)
        return 1
    try:
        return run_demo(args, sim) if args.demo else run_cases(args, sim)
    finally:
        sim.close()


if __name__ == "__main__":
    sys.exit(main())
