"""The two lines a simulated reader sits on: a pseudo-terminal that Wine opens as
a COM port, and a TCP listener that plays a network converter.

Both keep, in order, everything the engine sent (`received`) and everything that
reached the engine (`sent`), and push all output through one queue so that
replies, unsolicited lines, raw injections and connection drops leave in the
order they were asked for. Everything runs on the hub's asyncio loop.

Rule: never write to the pty master or the client socket except from the
output queue's writer task; ordering guarantees rest on it.
"""

import asyncio
import errno
import os
import socket
import struct
import termios
import time
import tty

import simline
import simtelnet
from simvocab import SimError


class _Item:
    __slots__ = ("kind", "data", "delay", "done", "abort")

    def __init__(self, kind, data=b"", delay=0.0, abort=False):
        self.kind = kind        # "data" (reader output), "raw", "close" or "call"
        self.data = data
        self.delay = delay
        self.abort = abort
        self.done = asyncio.get_running_loop().create_future()


class Transport:
    """Output queue, traffic records and the wait for received bytes."""

    mode = "?"

    def __init__(self):
        self.received = bytearray()
        self.sent = bytearray()
        self.dropped = 0           # reader output lost because nobody listened
        self.speed = 9600          # the reader's own line speed
        self.pace = True           # send reader output at roughly line speed
        self.on_data = None        # callback(bytes heard by the reader)
        self._rx_event = asyncio.Event()
        self._queue = asyncio.Queue()
        self._writer = None        # started with the first output

    # --- output -----------------------------------------------------------

    def enqueue(self, data, delay=0.0, raw=False):
        """Queues output; the returned future gives, once the data has left, the
        time.monotonic_ns() of the write of its last byte (None when nothing was
        written), so that a client can time what the engine makes of it."""
        return self._put(_Item("raw" if raw else "data", bytes(data), delay))

    def enqueue_close(self, abort=False, delay=0.0):
        return self._put(_Item("close", delay=delay, abort=abort))

    def enqueue_call(self, fn):
        """Run fn() once everything queued before it has left (a rate change after a reply)."""
        return self._put(_Item("call", data=fn))

    def _put(self, item):
        if self._writer is None:
            self._writer = asyncio.get_running_loop().create_task(self._write_loop())
        self._queue.put_nowait(item)
        return item.done

    async def _write_loop(self):
        while True:
            item = await self._queue.get()
            try:
                if item.delay > 0:
                    await asyncio.sleep(item.delay)
                written_ns = None
                if item.kind == "close":
                    await self._drop_peer(item.abort)
                elif item.kind == "call":
                    item.data()
                elif item.data:
                    data = self._line_out(item.data, item.kind == "raw")
                    if data:
                        written_ns = await self._send(data, pace=self.pace and item.kind == "data")
                if not item.done.done():
                    item.done.set_result(written_ns)
            except asyncio.CancelledError:
                if not item.done.done():
                    item.done.cancel()
                raise
            except Exception as exc:     # a dead peer must not stop the queue
                if not item.done.done():
                    item.done.set_exception(exc)

    async def _send(self, data, pace):
        """Writes data; returns the monotonic time (ns) taken just before the
        last successful write, None when nothing could be written. Taken before
        rather than after: the engine may read the bytes, and a client time its
        answer, before this process runs again, and a time taken after the write
        could then lie after the answer."""
        if not pace:
            started = time.monotonic_ns()
            if await self._write(data):
                self.sent += data
                return started
            return None
        written_ns = None
        step = max(1, self.speed // 1000)     # about 10 ms of characters
        for i in range(0, len(data), step):
            chunk = data[i:i + step]
            started = time.monotonic_ns()
            if not await self._write(chunk):
                return written_ns
            written_ns = started
            self.sent += chunk
            await asyncio.sleep(simline.char_time(len(chunk), self.speed))
        return written_ns

    # --- input ------------------------------------------------------------

    def _got(self, raw, heard):
        self.received += raw
        self._rx_event.set()
        self._rx_event = asyncio.Event()
        if heard and self.on_data:
            self.on_data(heard)

    async def wait_received(self, finder, timeout):
        """Wait until finder(received) returns a result other than None."""
        loop = asyncio.get_running_loop()
        deadline = loop.time() + timeout
        while True:
            found = finder(self.received)
            if found is not None:
                return found
            left = deadline - loop.time()
            if left <= 0:
                return None
            try:
                await asyncio.wait_for(self._rx_event.wait(), left)
            except asyncio.TimeoutError:
                pass

    async def close(self):
        if self._writer is not None:
            self._writer.cancel()
            await asyncio.wait([self._writer])
        while not self._queue.empty():
            item = self._queue.get_nowait()
            if not item.done.done():
                item.done.cancel()

    # --- per line ---------------------------------------------------------

    def _line_out(self, data, raw):
        return data

    async def _write(self, data):
        raise NotImplementedError

    async def _drop_peer(self, abort):
        raise NotImplementedError

    def info(self):
        return {"received_bytes": len(self.received), "sent_bytes": len(self.sent),
                "dropped_bytes": self.dropped}


def _pts_open_elsewhere(path, own):
    """True when a descriptor other than `own` (pid, fd) refers to path."""
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit():
            continue
        pid = int(entry.name)
        try:
            fds = os.scandir("/proc/%d/fd" % pid)
        except OSError:
            continue
        with fds:
            for fd in fds:
                try:
                    if (pid, int(fd.name)) != own and os.readlink(fd.path) == path:
                        return True
                except (OSError, ValueError):
                    continue
    return False


class SerialTransport(Transport):
    """A pty linked into a Wine prefix as COMn.

    The hub keeps its own descriptor of the pty's slave side open, so the
    settings that Wine makes with tcsetattr survive the Windows side closing the
    port, and the master never sees a hang-up. The port speed is read from the
    slave's termios whenever a byte moves. Bytes the reader sends while no other
    process holds the slave are dropped, as a real line drops them while the
    port is closed; otherwise they would wait in the pty and reach the next
    opener as stale input."""

    mode = "serial"

    def __init__(self, prefix, com, speed):
        super().__init__()
        self.com = com
        self.speed = speed
        self.drop_when_closed = True
        self.link = os.path.join(prefix, "dosdevices", "com%d" % com)
        if not os.path.isdir(os.path.dirname(self.link)):
            raise SimError("no dosdevices folder in the Wine prefix %s" % prefix)
        self._old_target = None
        self.master = self.slave = -1
        self.pts = None
        self._check_link_free()
        self._plug()

    def _check_link_free(self):
        if os.path.islink(self.link):
            target = os.readlink(self.link)
            if target.startswith("/dev/pts/") and os.path.exists(target):
                raise SimError("COM%d is already linked to %s" % (self.com, target))
            self._old_target = target
        elif os.path.exists(self.link):
            raise SimError("%s exists and is not a symbolic link" % self.link)

    def _plug(self):
        master, slave = os.openpty()
        try:
            tty.setraw(slave)
            attrs = termios.tcgetattr(slave)
            attrs[4] = attrs[5] = simline.CONSTANT_OF_BAUD.get(self.speed, termios.B9600)
            termios.tcsetattr(slave, termios.TCSANOW, attrs)
            os.set_blocking(master, False)
            pts = os.ttyname(slave)
            tmp = self.link + ".readersim-%d" % os.getpid()
            if os.path.lexists(tmp):
                os.unlink(tmp)
            os.symlink(pts, tmp)
            os.replace(tmp, self.link)
        except OSError as exc:
            os.close(master)
            os.close(slave)
            raise SimError("cannot set up COM%d: %s" % (self.com, exc))
        self.master, self.slave, self.pts = master, slave, pts
        asyncio.get_running_loop().add_reader(master, self._on_readable)

    def _unplug(self):
        if self.master < 0:
            return
        asyncio.get_running_loop().remove_reader(self.master)
        os.close(self.master)
        os.close(self.slave)
        self.master = self.slave = -1
        try:
            if os.path.islink(self.link) and os.readlink(self.link) == self.pts:
                os.unlink(self.link)
        except OSError:
            pass

    def plug(self):
        if self.master >= 0:
            raise SimError("COM%d is plugged in already" % self.com)
        self._check_link_free()
        self._plug()

    @property
    def plugged(self):
        return self.master >= 0

    def port_baud(self):
        if self.slave < 0:
            return 0
        try:
            return simline.termios_baud(termios.tcgetattr(self.slave))
        except termios.error:
            return 0

    def peer_open(self):
        return self.pts is not None and self.master >= 0 and \
            _pts_open_elsewhere(self.pts, (os.getpid(), self.slave))

    def _on_readable(self):
        try:
            raw = os.read(self.master, 4096)
        except BlockingIOError:
            return
        except OSError as exc:
            if exc.errno == errno.EIO:
                return
            raise
        if not raw:
            return
        baud = self.port_baud()
        heard = raw if baud == self.speed else simline.resample(raw, baud, self.speed)
        self._got(raw, heard)

    def _line_out(self, data, raw):
        if self.master < 0 or (self.drop_when_closed and not self.peer_open()):
            self.dropped += len(data)
            return b""
        if raw:
            return data
        baud = self.port_baud()
        return data if baud == self.speed else simline.resample(data, self.speed, baud)

    async def _write(self, data):
        view = memoryview(data)
        loop = asyncio.get_running_loop()
        while view:
            if self.master < 0:
                return False
            try:
                n = os.write(self.master, view)
                view = view[n:]
            except BlockingIOError:
                ready = loop.create_future()
                fd = self.master
                loop.add_writer(fd, lambda: ready.done() or ready.set_result(None))
                try:
                    await ready
                finally:
                    loop.remove_writer(fd)
            except OSError:
                return False
        return True

    async def _drop_peer(self, abort):
        self._unplug()

    async def close(self):
        await super().close()
        self._unplug()
        if self._old_target is not None and not os.path.lexists(self.link):
            try:
                os.symlink(self._old_target, self.link)
            except OSError:
                pass

    def info(self):
        d = super().info()
        d.update({"port": "COM%d" % self.com, "pty": self.pts if self.plugged else None,
                  "plugged": self.plugged, "port_baud": self.port_baud(),
                  "peer_open": self.peer_open(), "drop_when_closed": self.drop_when_closed})
        return d


class TcpTransport(Transport):
    """A network converter's TCP server on 127.0.0.1.

    It serves one connection at a time and accepts the next only after the
    current one has closed; a client that connects meanwhile waits in the
    listen backlog with whatever it already sent, as with a converter that
    allows one client. What it does to the bytes is its `converter` kind
    (simtelnet): raw, or Telnet with 0xFF doubled both ways, negotiating first
    or not. Raw output is sent as it stands whatever the kind."""

    mode = "tcp"

    def __init__(self, port, speed):
        super().__init__()
        self.speed = speed
        self.converter = "telnet_doubling"
        self.telnet_in = simtelnet.TelnetInput()
        self.connections = 0
        self._lsock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            self._lsock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            self._lsock.bind(("127.0.0.1", port))
            self._lsock.listen(4)
            self._lsock.setblocking(False)
        except OSError as exc:
            self._lsock.close()
            raise SimError("cannot listen on 127.0.0.1:%d: %s" % (port, exc))
        self.port = self._lsock.getsockname()[1]
        self._conn = None
        self._conn_task = None
        self._accepter = asyncio.get_running_loop().create_task(self._accept_loop())

    @property
    def telnet_escape(self):
        """The older name of the choice between raw and Telnet (doubling only)."""
        return simtelnet.speaks_telnet(self.converter)

    @telnet_escape.setter
    def telnet_escape(self, on):
        self.converter = "telnet_doubling" if on else "raw"

    async def _accept_loop(self):
        loop = asyncio.get_running_loop()
        while True:
            conn, _ = await loop.sock_accept(self._lsock)
            conn.setblocking(False)
            self.connections += 1
            self.telnet_in.reset()
            # The greeting goes first, before the connection is open to the output queue, so
            # nothing queued for it can overtake it.
            hello = simtelnet.greeting(self.converter)
            if hello:
                try:
                    await loop.sock_sendall(conn, hello)
                    self.sent += hello
                except OSError:
                    pass
            self._conn = conn
            self._conn_task = loop.create_task(self._serve(conn))
            await asyncio.wait([self._conn_task])
            self._conn = None
            self._conn_task = None

    async def _serve(self, conn):
        loop = asyncio.get_running_loop()
        try:
            while True:
                try:
                    raw = await loop.sock_recv(conn, 4096)
                except OSError:
                    return
                if not raw:
                    return
                heard = self.telnet_in.feed(raw) if simtelnet.speaks_telnet(self.converter) else raw
                self._got(raw, heard)
        finally:
            conn.close()

    @property
    def connected(self):
        return self._conn is not None

    def _line_out(self, data, raw):
        if self._conn is None:
            self.dropped += len(data)
            return b""
        if not raw and simtelnet.speaks_telnet(self.converter):
            data = simtelnet.escape(data)
        return data

    async def _write(self, data):
        conn = self._conn
        if conn is None:
            return False
        try:
            await asyncio.get_running_loop().sock_sendall(conn, data)
            return True
        except OSError:
            return False

    async def _drop_peer(self, abort):
        conn, task = self._conn, self._conn_task
        if conn is None:
            return
        if abort:
            conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self._conn = None
        task.cancel()
        await asyncio.wait([task])

    async def close(self):
        await super().close()
        self._accepter.cancel()
        await asyncio.wait([self._accepter])
        if self._conn_task:
            self._conn_task.cancel()
            await asyncio.wait([self._conn_task])
        self._lsock.close()

    def info(self):
        d = super().info()
        d.update({"port": "127.0.0.1:%d" % self.port, "tcp_port": self.port,
                  "connected": self.connected, "connections": self.connections,
                  "converter": self.converter, "telnet_escape": self.telnet_escape,
                  "telnet_commands": self.telnet_in.commands, "telnet_bad": self.telnet_in.bad})
        return d
