#!/usr/bin/env python3
"""Card-to-event latency and idle cost of an open reader (a benchmark, not a test).

How to run: `ninja -C build card_bench` (builds what it needs and runs the line below), or by hand:
    tools/with-readersim.sh build/wineprefix python3 tools/bench/card_bench.py \\
        --wine-run build/wine-run --host build/tools/parvelhost/parvelhost.exe --dll build/addin/Parvel.dll
Options: --cards N (200), --idle S (10), --tcp (a simulated network converter instead of a COM
port), --rx-period MS (set the RxPeriod property; default: the add-in's own, none).

What it measures, with the real Parvel.dll in the console host (parvelhost) under Wine:
- latency: for each of N cards (different Em-Marine numbers, presented one at a time and taken away
  before the next), from the moment the simulator wrote the last byte of the card's line (the hub's
  `written_ns`) to the moment the host's line for that TracksData event arrived here. Both ends read
  the host's CLOCK_MONOTONIC (Python's time.monotonic_ns()), so no clock of Wine's is involved. The
  event has gone through the add-in, the host's event queue and listener and the host's output
  pipe, so the figure is an upper bound of what the host itself sees (the pipe adds microseconds).
- idle: the CPU time of the reader's thread (the first thread that appears in the host process
  after Open and still runs), of every other thread and of the whole host process over S seconds
  with the device open and no card, from the kernel's per-thread run time
  (/proc/PID/task/TID/schedstat, nanoseconds), as percent of one core; also the prefix's wineserver
  over the same window. Under Wine a serial port's pending WaitCommEvent is served by a thread of
  Wine's own that polls the line about once a millisecond; it shows up as a further thread made
  after Open (it does not exist with --tcp).
Goals (reported, not enforced): p95 within the receive period (RxPeriod, when one is set) plus
5 ms; idle below 0.1 % of one core.
"""

import argparse
import os
import re
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from e2e_cards import em_marine  # noqa: E402
from hostdriver import DriverError, HostRun, SimClient, quote  # noqa: E402


def task_times(pid):
    """{thread id: (nanoseconds on a CPU, times it was switched out: wake-ups)} of a process;
    empty when it is gone."""
    out = {}
    try:
        tids = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return out
    for tid in tids:
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                fields = f.read().split()
            out[int(tid)] = (int(fields[0]), int(fields[2]))
        except (OSError, ValueError, IndexError):
            pass
    return out


def cpu_ns(times):
    return sum(ns for ns, _ in times.values())


def wineserver_pids(prefix):
    """The wineserver processes that serve this prefix."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open("/proc/%s/environ" % entry, "rb") as f:
                env = f.read().split(b"\0")
        except OSError:
            continue
        if ("WINEPREFIX=" + prefix).encode() in env:
            pids.append(int(entry))
    return pids


def wine_prefix_of(wine_run):
    with open(wine_run) as f:
        m = re.search(r'^export WINEPREFIX="(.*)"$', f.read(), re.M)
    return m.group(1) if m else ""


def percentile(sorted_values, p):
    """Nearest-rank percentile."""
    k = max(0, min(len(sorted_values) - 1, int(-(-p * len(sorted_values) // 100)) - 1))
    return sorted_values[k]


def describe(name, values_ms):
    v = sorted(values_ms)
    return "%-9s n=%d  min %.2f  p50 %.2f  p95 %.2f  max %.2f  mean %.2f ms" % (
        name, len(v), v[0], percentile(v, 50), percentile(v, 95), v[-1], sum(v) / len(v))


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--wine-run", required=True)
    p.add_argument("--host", required=True)
    p.add_argument("--dll", required=True)
    p.add_argument("--cards", type=int, default=200)
    p.add_argument("--idle", type=float, default=10.0)
    p.add_argument("--tcp", action="store_true", help="a simulated network converter instead of a COM port")
    p.add_argument("--com", type=int, default=75, help="COM number of the simulated reader (75)")
    p.add_argument("--rx-period", type=int, help="RxPeriod in ms (default: the add-in's own, none)")
    args = p.parse_args()
    if args.rx_period is not None and args.rx_period < 0:
        p.error("--rx-period takes milliseconds; leave it out for none")

    sim = SimClient()
    reader = sim.call("create", mode="tcp") if args.tcp else sim.call("create", mode="serial", com=args.com)
    rid, port = reader["id"], reader["port"]
    cards = [em_marine(i % 256, (i * 7919 + 1) % 65536) for i in range(args.cards)]
    idle_ms = int(args.idle * 1000)

    script = ["load"]
    if args.rx_period is not None:
        script.append("set RxPeriod %du" % args.rx_period)
    # The pause marks the moment before Open: threads that appear after it belong to the device.
    script += ["set Port %s" % quote(port), "sleep 300", "call Open empty", "expect-result true",
               "expect-event DeviceConnect 20000"]
    for _, text in cards:
        script += ["expect-event TracksData 10000 %s" % quote(text), "expect-event NoCard 10000 %s" % quote(text)]
    script += ["sleep %d" % (idle_ms + 3000), "call Close %s" % quote(port), "expect-result true",
               "expect-event DeviceDisconnect 10000", "unload"]

    host = HostRun(args.wine_run, args.host, args.dll, script)
    present_ms, remove_ms = [], []
    try:
        host.wait_line(lambda t: t.startswith("> sleep 300"), 30, "the pause before Open")
        before_open = set(task_times(host.pid))
        host.wait_event("DeviceConnect", 20)
        device_tids = sorted(set(task_times(host.pid)) - before_open)
        for i, (key, text) in enumerate(cards):
            written = sim.call("present", id=rid, type="EM", key=key, wait=True).get("written_ns")
            event = host.wait_event("TracksData", 10)
            if event.data != text or written is None:
                raise DriverError("card %d: TracksData %r (expected %r), written_ns %r" % (i, event.data, text, written))
            present_ms.append((event.arrived_ns - written) / 1e6)
            written = sim.call("remove", id=rid, wait=True).get("written_ns")
            event = host.wait_event("NoCard", 10)
            if event.data != text:
                raise DriverError("card %d: NoCard %r (expected %r)" % (i, event.data, text))
            if written is not None:
                remove_ms.append((event.arrived_ns - written) / 1e6)

        # Idle: the device open, no card, the host waiting in its message loop.
        host.wait_line(lambda t: t.startswith("> sleep"), 30, "the idle phase")
        servers = wineserver_pids(wine_prefix_of(args.wine_run))
        t0 = time.monotonic_ns()
        threads0 = task_times(host.pid)
        server0 = {s: cpu_ns(task_times(s)) for s in servers}
        time.sleep(args.idle)
        threads1 = task_times(host.pid)
        server1 = {s: cpu_ns(task_times(s)) for s in servers}
        window = time.monotonic_ns() - t0
        host.wait_event("DeviceDisconnect", idle_ms / 1000 + 20)
        rc = host.finish(60)
        if rc != 0:
            raise DriverError("the host ended with exit code %d" % rc)
    except DriverError as exc:
        host.kill()
        print("BENCHMARK FAILED: %s" % exc)
        print("--- host output (last 40 lines) ---\n" + "\n".join(host.transcript().splitlines()[-40:]))
        print(sim.traffic(rid))
        return 1
    finally:
        sim.call("destroy", id=rid)
        sim.close()

    def pct(ns):
        return 100.0 * ns / window

    print("Parvel card benchmark: %s reader on %s, %d cards, RxPeriod %s" % (
        "TCP" if args.tcp else "serial (pty)", port, args.cards,
        "%d ms" % args.rx_period if args.rx_period is not None else "none (add-in default)"))
    print("latency from the line's last byte written by the simulator to the host's event line:")
    print("  " + describe("TracksData", present_ms))
    if remove_ms:
        print("  " + describe("NoCard", remove_ms))
    goal = 5.0 + (args.rx_period or 0)
    p95 = percentile(sorted(present_ms), 95)
    print("  goal p95 <= %.1f ms: %s" % (goal, "met" if p95 <= goal else "NOT met"))

    # The reader's thread is the first thread that Open made and that still runs; later ones are
    # the system's (under Wine, a serial port's WaitCommEvent runs in a thread of its own).
    alive = [t for t in device_tids if t in threads0 and t in threads1]
    reader_tid = alive[0] if alive else None
    seconds = window / 1e9
    print("idle over %.1f s with the device open (percent of one core, wake-ups per second):" % seconds)

    def line(label, tid):
        ns = threads1[tid][0] - threads0.get(tid, (0, 0))[0]
        wakes = threads1[tid][1] - threads0.get(tid, (0, 0))[1]
        print("  %-30s %.4f %%  (%.2f ms, %.0f/s)" % (label, pct(ns), ns / 1e6, wakes / seconds))
        return ns

    reader_ns = line("reader thread %d" % reader_tid, reader_tid) if reader_tid else None
    if reader_tid is None:
        print("  (the reader's thread was not found: no thread of Open's still runs)")
    for tid in sorted(threads1):
        if tid != reader_tid:
            what = "main thread" if tid == host.pid else \
                "thread %d (%s)" % (tid, "made after Open" if tid not in before_open else "host")
            line(what, tid)
    total = sum(threads1[t][0] - threads0.get(t, (0, 0))[0] for t in threads1)
    print("  %-30s %.4f %%  (%.2f ms)" % ("whole host process", pct(total), total / 1e6))
    for srv in servers:
        used = server1.get(srv, 0) - server0.get(srv, 0)
        print("  %-30s %.4f %%  (%.2f ms)" % ("wineserver %d" % srv, pct(used), used / 1e6))
    if reader_ns is not None:
        print("  goal reader thread < 0.1 %%: %s" % ("met" if pct(reader_ns) < 0.1 else "NOT met"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
