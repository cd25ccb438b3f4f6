"""Driving the add-in from outside: the console host (parvelhost) runs Parvel.dll under Wine with
a script, and this module reads the host's output line by line as it comes, so that a driver can
script the reader simulator in answer to the add-in's events (present a card once the device has
connected, take it away once the card has been reported, ...).

Shared by the end-to-end tests, the README's demo and the card latency benchmark. Python 3 stdlib
only. The simulator hub is found through READERSIM_CONTROL_PORT (tools/with-readersim.sh sets it).

Rules for users: every host run is ended (finish() or kill()) before the driver exits; a run's
script must end with its own waits (expect-event), the host does not read stdin.
"""

import json
import os
import re
import socket
import subprocess
import tempfile
import threading
import time

# One event or error line of the host: "HH:MM:SS.mmm [L source] message | data", where the three
# texts escape \ | ] and line breaks with a backslash (the test log's line format).
_ENTRY = re.compile(r"^(\d\d:\d\d:\d\d\.\d{3}) \[([?IWE]) ((?:\\.|[^\]\\])*)\] ((?:\\.|[^|\\])*) \| (.*)$")
_ESCAPES = {"n": "\n", "r": "\r"}

SERIALCOMM = r"HKLM\HARDWARE\DEVICEMAP\SERIALCOMM"


class DriverError(Exception):
    """Something the driver could not do or an expectation that was not met."""


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            i += 1
            c = _ESCAPES.get(text[i], text[i])
        out.append(c)
        i += 1
    return "".join(out)


def quote(text):
    """A text literal of the host's script language."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


class Entry:
    """An event (level I) or an error (level E) printed by the host, with the driver's arrival time."""

    def __init__(self, match, arrived_ns, line):
        self.level = match.group(2)
        self.source = unescape(match.group(3))
        self.name = unescape(match.group(4))
        self.data = unescape(match.group(5))
        self.arrived_ns = arrived_ns
        self.line = line

    def __repr__(self):
        return "%s[%s] %s | %s" % (self.level, self.source, self.name, self.data)


class SimClient:
    """The simulator hub's JSON-lines control channel; a refused request raises DriverError."""

    def __init__(self, port=None):
        port = port or os.environ.get("READERSIM_CONTROL_PORT")
        if not port:
            raise DriverError("READERSIM_CONTROL_PORT is not set: run under tools/with-readersim.sh")
        self.sock = socket.create_connection(("127.0.0.1", int(port)), timeout=60)
        self.file = self.sock.makefile("rwb")

    def call(self, cmd, **fields):
        fields["cmd"] = cmd
        self.file.write(json.dumps(fields).encode() + b"\n")
        self.file.flush()
        line = self.file.readline()
        if not line:
            raise DriverError("the simulator hub closed its control channel (request %s)" % cmd)
        reply = json.loads(line)
        if not reply.get("ok"):
            raise DriverError("simulator refused %s %s: %s" % (cmd, fields, reply.get("error")))
        return reply

    def traffic(self, rid):
        """What the program sent to the reader and what reached the program, for failure reports."""
        try:
            got = self.call("received", id=rid)["text"]
            sent = self.call("sent", id=rid)["text"]
            return "simulator reader %d received: %r\nsimulator reader %d sent: %r" % (rid, got, rid, sent)
        except (DriverError, OSError) as exc:
            return "simulator reader %d: traffic unavailable (%s)" % (rid, exc)

    def close(self):
        self.file.close()
        self.sock.close()


def host_environment(locale=None):
    """The host's environment: no display (the host needs none), optionally another locale (Wine
    takes its locale identifier from the Unix locale, so ru_RU.UTF-8 gives 1049)."""
    env = dict(os.environ)
    for name in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(name, None)
    if locale:
        env["LANG"] = locale
        env["LC_ALL"] = locale
    return env


class HostRun:
    """One run of parvelhost with the add-in and a script; its output is collected as it arrives."""

    def __init__(self, wine_run, host, dll, script, locale=None):
        self.script = list(script)
        fd, self.script_path = tempfile.mkstemp(prefix="parvel-e2e-", suffix=".phs")
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write("\n".join(self.script) + "\n")
        # Wine maps the Unix root to drive Z:.
        args = [wine_run, host, "--dll", "Z:" + os.path.abspath(dll), "-f", "Z:" + self.script_path]
        self.lines = []            # (arrival ns, text), in order
        self._cond = threading.Condition()
        self._cursor = 0           # wait_line scans from here
        self._eof = False
        self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, env=host_environment(locale))
        # A daemon: Wine services started by this run may hold the pipe open after the host ends.
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    @property
    def pid(self):
        return self.proc.pid

    def _read(self):
        fd = self.proc.stdout.fileno()
        pending = b""
        while True:
            try:
                chunk = os.read(fd, 65536)
            except OSError:
                chunk = b""
            now = time.monotonic_ns()
            if not chunk:
                break
            pending += chunk
            *complete, pending = pending.split(b"\n")
            with self._cond:
                for raw in complete:
                    self.lines.append((now, raw.rstrip(b"\r").decode("utf-8", "replace")))
                self._cond.notify_all()
        with self._cond:
            if pending:
                self.lines.append((time.monotonic_ns(), pending.decode("utf-8", "replace")))
            self._eof = True
            self._cond.notify_all()

    def wait_line(self, predicate, timeout, what):
        """The next line (after the last one matched) for which predicate(text) holds: (ns, text).
        Raises DriverError when the time runs out or the host ends first."""
        deadline = time.monotonic() + timeout
        ended = None               # when the host was first seen ended
        with self._cond:
            while True:
                while self._cursor < len(self.lines):
                    ns, text = self.lines[self._cursor]
                    self._cursor += 1
                    if predicate(text):
                        return ns, text
                if ended is None and self.proc.poll() is not None:
                    ended = time.monotonic()
                # Its last lines may still be on their way; the pipe itself may never close.
                if self._eof or ended is not None and time.monotonic() - ended > 1.0:
                    raise DriverError("the host ended (exit code %s) before %s" % (self.proc.poll(), what))
                left = deadline - time.monotonic()
                if left <= 0:
                    raise DriverError("no %s within %g s" % (what, timeout))
                self._cond.wait(min(left, 0.2))

    def wait_event(self, name, timeout=15.0):
        """The next event of that name (skipping other lines)."""
        def match(text):
            m = _ENTRY.match(text)
            return bool(m) and m.group(2) == "I" and unescape(m.group(4)) == name
        ns, text = self.wait_line(match, timeout, "event %s" % name)
        return Entry(_ENTRY.match(text), ns, text)

    def entries(self):
        """Every event and error printed so far."""
        with self._cond:
            lines = list(self.lines)
        out = []
        for ns, text in lines:
            m = _ENTRY.match(text)
            if m:
                out.append(Entry(m, ns, text))
        return out

    def finish(self, timeout=30.0):
        """Waits for the host to end (kills it when it does not) and returns its exit code."""
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.kill()
            raise DriverError("the host did not end within %g s (killed)" % timeout)
        finally:
            self._close()
        return rc

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(10)
        self._close()

    def _close(self):
        # Let the last output arrive; the pipe may stay open in Wine services, so do not wait for EOF.
        self._reader.join(1.0)
        if os.path.exists(self.script_path):
            os.unlink(self.script_path)

    def transcript(self):
        with self._cond:
            return "\n".join(text for _, text in self.lines)


def wine_reg(wine_run, *args, check=True):
    """Runs Wine's reg.exe in the build's prefix; returns its output."""
    done = subprocess.run([wine_run, "reg"] + list(args), stdin=subprocess.DEVNULL, capture_output=True,
                          env=host_environment(), timeout=60)
    out = done.stdout.decode("utf-8", "replace")
    if check and done.returncode != 0:
        raise DriverError("wine reg %s failed (%d): %s %s" % (" ".join(args), done.returncode, out,
                                                              done.stderr.decode("utf-8", "replace")))
    return out


class SerialCommList:
    """Makes the prefix's serial-port list (HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM, where the search
    looks for serial ports) hold only the given simulated ports for the time of a with-block, and
    puts back what was there afterwards. Wine lists its own COM1 (/dev/ttyS0 and so on) there; a
    search would probe the machine's real serial lines. The key is volatile: a new wineserver builds
    it afresh in any case."""

    def __init__(self, wine_run, ports):
        self.wine_run = wine_run
        self.ports = ports                     # {value name: "COMn"}
        self.saved = []                        # (name, type, data)

    def __enter__(self):
        out = wine_reg(self.wine_run, "query", SERIALCOMM, check=False)
        for line in out.splitlines():
            m = re.match(r"^\s+(\S.*?)\s{4}(REG_\w+)\s{4}(.*)$", line)
            if m:
                self.saved.append((m.group(1), m.group(2), m.group(3).strip()))
        try:
            for name, _, _ in self.saved:
                wine_reg(self.wine_run, "delete", SERIALCOMM, "/v", name, "/f")
            for name, port in self.ports.items():
                wine_reg(self.wine_run, "add", SERIALCOMM, "/v", name, "/t", "REG_SZ", "/d", port, "/f")
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def __exit__(self, *exc):
        for name in self.ports:
            wine_reg(self.wine_run, "delete", SERIALCOMM, "/v", name, "/f", check=False)
        for name, kind, data in self.saved:
            wine_reg(self.wine_run, "add", SERIALCOMM, "/v", name, "/t", kind, "/d", data, "/f", check=False)
        return False
