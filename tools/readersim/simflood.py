"""A flood: a broken reader or a hostile converter that sends the same bytes
over and over, as fast as the other side takes them, with no line end unless
the bytes hold one.

    on "now"      sends at once, until switched off (a reader that identified
                  and then broke); requests still reach the reader.
    on "request"  answers the first bytes heard, on each connection, with a
                  flood that lasts as long as that connection (serial: until
                  switched off); the reader itself hears nothing meanwhile.
    on "off"      stops.

Flood bytes go straight to the line: they are counted, not kept in the
transport's record of what was sent, which would grow without end.
"""

import asyncio

from simvocab import SimError

MODES = ("now", "request", "off")


class Flood:
    def __init__(self, transport):
        self.transport = transport
        self.mode = "off"
        self.data = b"A" * 65536
        self.bytes = 0             # flood bytes written so far
        self.started = 0           # floods started
        self._task = None
        self._conn = None          # TCP: the connection the running flood answers
        self._inner = transport.on_data
        transport.on_data = self._heard

    @property
    def active(self):
        return self._task is not None and not self._task.done()

    def configure(self, mode, pattern, chunk):
        if not pattern:
            raise SimError("the flood's bytes are empty")
        self.stop()
        self.mode = mode
        self.data = (pattern * (chunk // len(pattern) + 1))[:chunk]
        if mode == "now":
            self._start()

    def stop(self):
        if self._task is not None:
            self._task.cancel()
        self._task = None

    def _heard(self, data):
        if self.mode != "request":
            if self._inner:
                self._inner(data)
            return
        # A write to a connection the other side closed may never end: a new connection's
        # request starts a new flood whatever became of the old one.
        if not self.active or getattr(self.transport, "_conn", None) is not self._conn:
            self.stop()
            self._start()

    def _start(self):
        self.started += 1
        # A TCP flood on request belongs to the connection it answers; "now" outlives connections.
        self._conn = getattr(self.transport, "_conn", None) if self.mode == "request" else None
        self._task = asyncio.get_running_loop().create_task(self._run(self._conn))

    async def _run(self, conn):
        t = self.transport
        while True:
            if t.mode == "tcp" and (t._conn is None or (conn is not None and t._conn is not conn)):
                if conn is not None:
                    return
                await asyncio.sleep(0.01)
                continue
            if not await t._write(self.data):
                if conn is not None or t.mode != "tcp":
                    return
                await asyncio.sleep(0.01)
                continue
            self.bytes += len(self.data)
            await asyncio.sleep(0)      # the control channel must get its turn

    def info(self):
        return {"mode": self.mode, "active": self.active, "bytes": self.bytes,
                "started": self.started}


def flood_of(reader):
    """The reader's flood, made on first use."""
    flood = getattr(reader, "flood", None)
    if flood is None:
        flood = reader.flood = Flood(reader.transport)
    return flood


def stop(reader):
    flood = getattr(reader, "flood", None)
    if flood is not None:
        flood.stop()
