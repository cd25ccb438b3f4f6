"""The control channel of the simulator hub: one JSON object per line in, one
JSON line out, for any number of clients at once.

A request that cannot be carried out is answered {"ok": false, "error": ...}
and changes nothing; no request, however malformed, may end the hub. Requests
of one client are answered in order; a client that waits (wait_received, or
"wait": true) delays only its own later requests.
"""

import asyncio
import json
import re
import sys
import traceback

import simdiscovery
import simflood
import simframed
import simreader
import simtransport
from simargs import Args
from simvocab import SimError

_UNIT_FIELDS = {"model", "serial", "device_code", "version", "build", "ident_lines", "powered"}
_READER_FIELDS = {"speed", "pace", "reply_delay_ms", "silent", "drop_when_closed", "stored_keys",
                  "telnet_escape", "converter", "frame_noise_hex"}
_CARD_FIELDS = {"type", "key", "line", "number", "memory", "locked_pages", "pages", "key_a", "key_b",
                "add",
                "mifare_form", "atqa", "sak"}

_TELNET_CMDS = {"will": 0xFB, "wont": 0xFC, "do": 0xFD, "dont": 0xFE}
IAC, SB, SE = 0xFF, 0xFA, 0xF0

MAX_LINE = 16 * 1024 * 1024


class Hub:
    def __init__(self, prefix):
        self.prefix = prefix
        self.readers = {}
        self.responders = {}       # converter discovery on UDP, by id (ids shared with readers)
        self._next_id = 1
        self._commands = {
            "ping": (set(), self.ping),
            "create": ({"mode", "protocol", "com", "tcp_port", "echo", "addresses"}
                       | _UNIT_FIELDS | _READER_FIELDS, self.create),
            "destroy": ({"id"}, self.destroy),
            "list": (set(), self.list),
            "info": ({"id"}, self.info),
            "set": ({"id", "address", "echo"} | _UNIT_FIELDS | _READER_FIELDS, self.set),
            "present": ({"id", "address", "notify", "wait"} | _CARD_FIELDS, self.present),
            "remove": ({"id", "address", "notify", "wait", "key"}, self.remove),
            "silent": ({"id", "on"}, self.silent),
            "power": ({"id", "address", "on"}, self.power),
            "send": ({"id", "text", "hex", "chunks", "delay_ms", "wait"}, self.send),
            "telnet": ({"id", "items", "split", "delay_ms", "wait"}, self.telnet),
            "disconnect": ({"id", "abort", "delay_ms"}, self.disconnect),
            "plug": ({"id"}, self.plug),
            "received": ({"id", "clear"}, self.received),
            "sent": ({"id", "clear"}, self.sent),
            "wait_received": ({"id", "text", "hex", "regex", "timeout_ms", "count", "consume"},
                              self.wait_received),
            "override": ({"id", "match", "reply", "reply_hex", "silent", "times", "status",
                          "answer_hex", "seq_delta", "also_answer", "reply_command", "delay_ms",
                          "drip", "drip_hex", "drip_ms", "drip_count"}, self.override),
            "frames": ({"id", "clear"}, self.frames),
            "clear_overrides": ({"id"}, self.clear_overrides),
            "discovery": ({"udp_port", "converters", "reply_delay_ms"}, self.discovery),
            "discovery_info": ({"id"}, self.discovery_info),
            "discovery_stop": ({"id"}, self.discovery_stop),
            "flood": ({"id", "on", "text", "hex", "chunk"}, self.flood),
        }

    # --- dispatch ---------------------------------------------------------

    async def handle_line(self, line):
        try:
            req = json.loads(line)
        except ValueError as exc:
            return {"ok": False, "error": "request is not JSON: %s" % exc}
        seq = req.get("seq") if isinstance(req, dict) else None
        try:
            a = Args(req)
            cmd = a.str("cmd")
            if cmd not in self._commands:
                raise SimError("unknown command %r" % cmd)
            allowed, handler = self._commands[cmd]
            extra = set(req) - allowed - {"cmd", "seq"}
            if extra:
                raise SimError("%s does not take %s" % (cmd, ", ".join(sorted(extra))))
            reply = await handler(a)
            reply = dict(ok=True, **(reply or {}))
        except SimError as exc:
            reply = {"ok": False, "error": str(exc)}
        except Exception as exc:      # a fault of the hub must not end it
            traceback.print_exc(file=sys.stderr)
            reply = {"ok": False, "error": "internal error: %s: %s" % (type(exc).__name__, exc)}
        if seq is not None:
            reply["seq"] = seq
        return reply

    async def serve_client(self, reader, writer):
        try:
            while True:
                try:
                    line = await reader.readline()
                except ValueError:
                    writer.write(b'{"ok": false, "error": "request line too long"}\n')
                    break
                if not line:
                    break
                if not line.strip():
                    continue
                reply = await self.handle_line(line)
                writer.write(json.dumps(reply).encode() + b"\n")
                await writer.drain()
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    async def close_all(self):
        for rid in list(self.responders):
            self.responders.pop(rid).close()
        for rid in list(self.readers):
            r = self.readers.pop(rid)
            simflood.stop(r)
            await r.transport.close()

    def _reader(self, a):
        rid = a.int("id")
        if rid not in self.readers:
            raise SimError("no reader %d" % rid)
        return self.readers[rid]

    @staticmethod
    async def _maybe_wait(a, fut):
        if a.bool("wait", False):
            await _settle(fut)

    # --- commands ---------------------------------------------------------

    async def ping(self, a):
        return {"readers": len(self.readers)}

    async def create(self, a):
        mode = a.str("mode", choices=("serial", "tcp"))
        protocol = a.str("protocol", "text")
        if protocol not in simframed.PROTOCOLS:
            raise SimError("unknown protocol %r" % protocol)
        if protocol == "bus":
            bad = (_UNIT_FIELDS & set(k for k in a.req if a.has(k)))
            if bad:
                raise SimError("give %s per address of a bus" % ", ".join(sorted(bad)))
        elif a.has("addresses") or a.has("echo"):
            raise SimError("addresses and echo belong to protocol 'bus'")
        if protocol == "bus" and a.has("stored_keys"):
            raise SimError("stored_keys belong to a directly connected reader")
        model = a.int("model", {"binary": 3, "pelto": 9}.get(protocol, 1), lo=1, hi=9)
        speed = a.int("speed", 115200 if model == 9 and protocol in ("text", "pelto") else 9600,
                      lo=50, hi=4000000)
        rid = self._next_id
        if mode == "serial":
            if a.has("tcp_port"):
                raise SimError("tcp_port belongs to mode 'tcp'")
            com = a.req.get("com")
            if isinstance(com, str) and com.upper().startswith("COM"):
                com = com[3:]
            com = Args({"com": com}).int("com", lo=1, hi=256)
            if not self.prefix:
                raise SimError("the hub was started without a Wine prefix")
            for r in self.readers.values():
                if r.transport.mode == "serial" and r.transport.com == com:
                    raise SimError("COM%d belongs to reader %d" % (com, r.id))
            transport = simtransport.SerialTransport(self.prefix, com, speed)
        else:
            if a.has("com"):
                raise SimError("com belongs to mode 'serial'")
            transport = simtransport.TcpTransport(a.int("tcp_port", 0, lo=0, hi=65535), speed)
        try:
            reader = simframed.PROTOCOLS[protocol](rid, transport, a)
        except BaseException:
            await transport.close()
            raise
        self._next_id += 1
        self.readers[rid] = reader
        info = transport.info()
        reply = {"id": rid, "port": info["port"]}
        if mode == "serial":
            reply["pty"] = info["pty"]
        else:
            reply["tcp_port"] = info["tcp_port"]
        return reply

    async def destroy(self, a):
        r = self._reader(a)
        del self.readers[r.id]
        r.stop_drips()
        simflood.stop(r)
        await r.transport.close()

    async def list(self, a):
        return {"readers": [{"id": r.id, "mode": r.transport.mode, "protocol": r.protocol,
                             "port": r.transport.info()["port"]}
                            for r in self.readers.values()]}

    async def info(self, a):
        return self._reader(a).info()

    async def set(self, a):
        if a.has("stored_keys"):
            self._framed(a, "stored_keys")
        if a.has("frame_noise_hex"):
            self._framed(a, "frame_noise_hex")
        self._reader(a).set(a)

    async def present(self, a):
        r = self._framed(a, "add, key_a and key_b") if any(
            a.has(f) for f in ("add", "key_a", "key_b")) else self._reader(a)
        r.last_output = None
        reply = r.present(a)
        await self._wait_line(a, r, reply)
        return reply

    async def remove(self, a):
        r = self._framed(a, "key") if a.has("key") else self._reader(a)
        r.last_output = None
        reply = r.remove(a)
        await self._wait_line(a, r, reply)
        return reply

    async def _wait_line(self, a, r, reply):
        """With "wait": once the line has left, reply["written_ns"] tells when
        its last byte was written (time.monotonic_ns() of the hub's host, taken
        just before the write)."""
        line = r.last_output
        await self._maybe_wait(a, r.transport.enqueue(b"", raw=True))
        if a.bool("wait", False) and line is not None and line.done() \
                and not line.cancelled() and line.exception() is None \
                and line.result() is not None:
            reply["written_ns"] = line.result()

    async def silent(self, a):
        r = self._reader(a)
        r.silent = a.bool("on", True)

    async def power(self, a):
        r = self._reader(a)
        on = a.bool("on")
        r.unit_for(a).powered = on

    async def send(self, a):
        r = self._reader(a)
        chunks = []
        if a.has("chunks"):
            if a.has("text") or a.has("hex"):
                raise SimError("give either chunks or text/hex")
            for c in a.list("chunks"):
                ca = Args(c)
                chunks.append((ca.bytes(""), ca.num("delay_ms", 0.0, hi=600000) / 1000.0))
        else:
            chunks.append((a.bytes(""), a.num("delay_ms", 0.0, hi=600000) / 1000.0))
        fut = None
        for data, delay in chunks:
            fut = r.transport.enqueue(data, delay=delay, raw=True)
        await self._maybe_wait(a, fut)
        return {"bytes": sum(len(d) for d, _ in chunks)}

    async def telnet(self, a):
        r = self._reader(a)
        if r.transport.mode != "tcp":
            raise SimError("telnet applies to TCP readers")
        data = bytearray()
        for item in a.list("items"):
            data += _telnet_item(Args(item))
        cuts = a.list("split", [])
        if not all(isinstance(c, int) and not isinstance(c, bool) and 0 < c < len(data)
                   for c in cuts) or cuts != sorted(set(cuts)):
            raise SimError("split must list ascending offsets inside the %d bytes" % len(data))
        delay = a.num("delay_ms", 50.0, hi=600000) / 1000.0
        bounds = [0] + cuts + [len(data)]
        fut = None
        for i in range(len(bounds) - 1):
            fut = r.transport.enqueue(bytes(data[bounds[i]:bounds[i + 1]]),
                                      delay=delay if i else 0.0, raw=True)
        await self._maybe_wait(a, fut)
        return {"hex": data.hex().upper()}

    async def disconnect(self, a):
        r = self._reader(a)
        abort = a.bool("abort", False)
        if abort and r.transport.mode != "tcp":
            raise SimError("abort applies to TCP readers")
        await _settle(r.transport.enqueue_close(abort,
                                                a.num("delay_ms", 0.0, hi=600000) / 1000.0))

    async def plug(self, a):
        r = self._reader(a)
        if r.transport.mode != "serial":
            raise SimError("plug applies to serial readers")
        r.transport.plug()
        return {"pty": r.transport.pts}

    async def received(self, a):
        return _take(self._reader(a).transport.received, a.bool("clear", False))

    async def sent(self, a):
        r = self._reader(a)
        # Let queued output leave first, but report what has left after a while.
        await asyncio.wait([r.transport.enqueue(b"", raw=True)], timeout=2.0)
        return _take(r.transport.sent, a.bool("clear", False))

    async def wait_received(self, a):
        t = self._reader(a).transport
        kinds = [k for k in ("text", "hex", "regex") if a.has(k)]
        if len(kinds) != 1:
            raise SimError("give exactly one of text, hex or regex")
        count = a.int("count", 1, lo=1)
        timeout = a.num("timeout_ms", 1000.0, hi=600000) / 1000.0
        consume = a.bool("consume", False)
        if kinds[0] == "regex":
            try:
                rx = re.compile(a.str("regex").encode("latin-1"))
            except (re.error, UnicodeEncodeError) as exc:
                raise SimError("bad regex: %s" % exc)
        else:
            needle = a.bytes("") if kinds[0] == "text" else a.hex("hex")
            if not needle:
                raise SimError("the pattern is empty")
            rx = re.compile(re.escape(needle))

        def finder(buf):
            end, n = None, 0
            for m in rx.finditer(bytes(buf)):
                n += 1
                end = m.end()
                if n == count:
                    return end
            return None

        end = await t.wait_received(finder, timeout)
        reply = {"matched": end is not None, "hex": t.received.hex().upper()}
        if end is not None and consume:
            del t.received[:end]
        return reply

    async def override(self, a):
        return {"overrides": self._reader(a).add_override(a)}

    async def clear_overrides(self, a):
        r = self._reader(a)
        r.overrides.clear()
        r.stop_drips()

    async def frames(self, a):
        r = self._framed(a, "frames")
        return {"frames": r.take_frames(a.bool("clear", False))}

    def _framed(self, a, what):
        r = self._reader(a)
        if not isinstance(r, simframed.FramedReader):
            raise SimError("%s applies to directly connected readers" % what)
        return r

    async def flood(self, a):
        r = self._reader(a)
        flood = simflood.flood_of(r)
        if a.has("on"):
            flood.configure(a.str("on", choices=simflood.MODES), a.bytes("", b"A"),
                            a.int("chunk", 65536, lo=1, hi=1 << 20))
        elif a.has("text") or a.has("hex") or a.has("chunk"):
            raise SimError("the flood's bytes and chunk go with 'on'")
        return flood.info()

    # --- converter discovery ----------------------------------------------

    def _tcp_port_of(self, rid):
        r = self.readers.get(rid)
        if r is None:
            raise SimError("no reader %d" % rid)
        if r.transport.mode != "tcp":
            raise SimError("reader %d is not a TCP reader" % rid)
        return r.transport.port

    def _responder(self, a):
        rid = a.int("id")
        if rid not in self.responders:
            raise SimError("no discovery responder %d" % rid)
        return self.responders[rid]

    async def discovery(self, a):
        replies = []
        for item in a.list("converters"):
            if not isinstance(item, dict):
                raise SimError("a converter must be an object")
            replies.append(simdiscovery.converter_reply(item, self._tcp_port_of))
        responder = simdiscovery.DiscoveryResponder(
            self._next_id, replies, a.num("reply_delay_ms", 0.0, hi=600000) / 1000.0)
        await responder.open(a.int("udp_port", 0, lo=0, hi=65535))
        self._next_id += 1
        self.responders[responder.id] = responder
        return {"id": responder.id, "udp_port": responder.port}

    async def discovery_info(self, a):
        return self._responder(a).info()

    async def discovery_stop(self, a):
        self.responders.pop(self._responder(a).id).close()


async def _settle(fut, timeout=30.0):
    """Wait for queued output to leave; a reader destroyed meanwhile is an error
    of this request, not a cancellation of the client's session. A port whose
    other side stops reading can hold output back for ever, hence the limit."""
    await asyncio.wait([fut], timeout=timeout)
    if not fut.done():
        raise SimError("output still waiting after %g s (is the port being read?)" % timeout)
    if fut.cancelled():
        raise SimError("the reader was destroyed before the output left")
    if fut.exception() is not None:
        raise SimError("output failed: %s" % fut.exception())


def _take(buf, clear):
    reply = {"hex": buf.hex().upper(), "text": buf.decode("latin-1"), "length": len(buf)}
    if clear:
        del buf[:]
    return reply


def _telnet_item(a):
    """Bytes of one Telnet item: data (0xFF doubled), a command, or raw bytes."""
    kinds = [k for k in ("data", "data_hex", "raw_hex", "cmd") if a.has(k)]
    if a.req.get("cmd") == "sb":
        opt = a.int("option", lo=0, hi=255)
        body = a.bytes("data", b"").replace(b"\xff", b"\xff\xff")
        return bytes([IAC, SB, opt]) + body + bytes([IAC, SE])
    if len(kinds) != 1:
        raise SimError("a telnet item has one of data, data_hex, raw_hex or cmd")
    kind = kinds[0]
    if kind in ("data", "data_hex"):
        return a.bytes("data").replace(b"\xff", b"\xff\xff")
    if kind == "raw_hex":
        return a.hex("raw_hex")
    cmd = a.req["cmd"]
    if isinstance(cmd, str) and cmd in _TELNET_CMDS:
        return bytes([IAC, _TELNET_CMDS[cmd], a.int("option", lo=0, hi=255)])
    if isinstance(cmd, int) and not isinstance(cmd, bool) and 0 <= cmd <= 255:
        return bytes([IAC, cmd])
    raise SimError("telnet cmd must be will, wont, do, dont, sb or a command byte")
