"""Simulated readers: a directly connected text-protocol reader, and a bus line
with several addressed readers.

A reader hears what its line delivers (noise at a wrong speed), answers the
requests of its protocol, and prints a key line by itself when a card arrives
and "No card" when it leaves (directly connected readers only: bus readers
speak only when asked). Scripted behaviour (silence, power, replies overridden
for a request) is kept here; the bytes themselves leave through the transport.
"""

import asyncio
import re

import simtelnet
import simvocab as V
from simargs import Args
from simvocab import SimError

_CRLF = "\r\n"
_GET = re.compile(r"get ([0-9A-Fa-f]{1,2})$")
_PUT = re.compile(r"put ([0-9A-Fa-f]{1,2})((?: [0-9A-Fa-f]{1,2}){4})$")
_BUS = re.compile(r"#(\d{5}) ([A-Za-z])$")
_MAX_LINE = 512


def _b(text, what="text"):
    """The 8-bit bytes a reader prints for a text."""
    try:
        return text.encode("latin-1")
    except UnicodeEncodeError:
        raise SimError("%s has characters above U+00FF, which no reader line carries" % what)


class Card:
    """A card in a reader's field."""

    def __init__(self, key_type, key, line=None, memory=None, locked=(), pages=16,
                 mifare=(None, None, None)):
        self.key_type = key_type
        self.key = bytes(key)
        self.line = line            # exact line to print, when given
        self.mifare = mifare        # (form, ATQA, SAK) choices for a Mifare line
        self.memory = memory        # Ultralight pages (bytearray) or None
        self.locked = set(locked)
        self.pages = pages

    def info(self):
        d = {"type": self.key_type, "type_name": V.KEY_TYPE_NAMES[self.key_type],
             "key": self.key.hex().upper()}
        if self.line is not None:
            d["line"] = self.line
        if self.memory is not None:
            d["memory"] = self.memory.hex().upper()
            d["locked_pages"] = sorted(self.locked)
        return d


class Unit:
    """One reader device: identity, power, the card in its field and, for a
    Kora Base, the output format loaded into it."""

    FIELDS = ("model", "serial", "device_code", "version", "build", "ident_lines", "powered")

    def __init__(self, default_serial):
        self.model = 1
        self.serial = default_serial
        self.device_code = None
        self.version = "1.0"
        self.build = None
        self.ident_lines = None
        self.powered = True
        self.card = None
        self.fmt = "Em-Marine[%.2X%.2X] %.3d,%.5d\\r\\n"
        self.fmt_args = "b4 b3 b2 w01"
        self.no_card = "No card\\r\\n"

    def configure(self, a):
        """Apply identity fields of a request (validated before anything changes)."""
        new = {}
        if a.has("model"):
            new["model"] = a.int("model", lo=1, hi=9)
        if a.has("serial"):
            new["serial"] = a.int("serial", lo=0, hi=0xFFFFFFFF)
        if a.has("device_code"):
            new["device_code"] = a.int("device_code", lo=0, hi=0xFFFF)
        if "version" in a.req:      # null is a value here: no version line
            v = a.req["version"]
            if isinstance(v, bool) or not (v is None or isinstance(v, (str, int))):
                raise SimError("field 'version' must be a string, a number or null")
            new["version"] = None if v is None else str(v)
            _b(new["version"] or "", "field 'version'")
        if a.has("build"):
            new["build"] = a.str("build")
            _b(new["build"], "field 'build'")
        if "ident_lines" in a.req:
            lines = a.req["ident_lines"]
            if lines is not None and (not isinstance(lines, list) or
                                      not all(isinstance(x, str) for x in lines)):
                raise SimError("field 'ident_lines' must be a list of strings or null")
            for x in lines or ():
                _b(x, "field 'ident_lines'")
            new["ident_lines"] = lines
        if a.has("powered"):
            new["powered"] = a.bool("powered")
        for k, v in new.items():
            setattr(self, k, v)

    @property
    def code(self):
        return V.default_device_code(self.model) if self.device_code is None else self.device_code

    @property
    def numeric_keys(self):
        return self.version in V.NUMERIC_KEY_FIRMWARE

    def ident_text(self, speed, protocol):
        lines = self.ident_lines
        if lines is None:
            lines = V.identification_lines(self.model, self.serial, self.code,
                                           self.version, self.build, speed, protocol)
        return "".join(line + _CRLF for line in lines)

    def card_text(self):
        """What the reader prints for the card in its field (line end included)."""
        c = self.card
        if c is None:
            return None
        if c.line is not None:
            return c.line + _CRLF
        if self.model == V.KORA_BASE:
            try:
                return V.format_output(self.fmt, self.fmt_args, c.key)
            except (TypeError, ValueError):
                return "ERR: output format" + _CRLF
        return V.key_line(c.key_type, c.key, *c.mifare) + _CRLF

    def no_card_text(self):
        if self.model == V.KORA_BASE:
            return V.expand_escapes(self.no_card)
        return "No card" + _CRLF

    def make_card(self, a):
        """A card from a present request; errors leave the unit unchanged."""
        line = a.str("line", None)
        if line is not None:
            _b(line, "field 'line'")
        if a.has("type"):
            key_type = V.parse_key_type(a.req["type"])
        elif line is not None or self.model == V.KORA_BASE or a.has("number"):
            key_type = 0
        else:
            raise SimError("missing field 'type' (or give 'line')")
        if a.has("number"):
            key = a.int("number", lo=0, hi=0xFFFFFFFF).to_bytes(4, "little") + b"\0"
        else:
            key = a.hex("key", b"" if line is not None else None)
            if key is None:
                raise SimError("missing field 'key' (or give 'line' or 'number')")
        if len(key) > 15:
            raise SimError("a key holds at most 15 bytes")
        memory, locked, pages = None, (), 16
        if key_type == 4:
            pages = a.int("pages", 16, lo=4, hi=256)
            uid = V.mifare_text_uid(key)
            memory = V.ultralight_memory(uid, pages)
            if a.has("memory"):
                data = a.hex("memory")
                if len(data) > pages * 4:
                    raise SimError("memory holds %d bytes at most" % (pages * 4))
                memory[:len(data)] = data
            locked = set(a.list("locked_pages", [0, 1]))
            if not all(isinstance(p, int) and not isinstance(p, bool) for p in locked):
                raise SimError("field 'locked_pages' must be a list of page numbers")
        mifare = (a.str("mifare_form", None, ("word", "sak", "both")),
                  a.int("atqa", None, 0, 0xFFFF), a.int("sak", None, 0, 0xFF))
        return Card(key_type, key, line, memory, locked, pages, mifare)

    def info(self):
        d = {"model": self.model, "model_name": V.model_name(self.model),
             "serial": self.serial, "device_code": self.code, "version": self.version,
             "build": self.build, "powered": self.powered,
             "card": self.card.info() if self.card else None}
        if self.ident_lines is not None:
            d["ident_lines"] = self.ident_lines
        if self.model == V.KORA_BASE:
            d["output_format"] = self.fmt
            d["output_args"] = self.fmt_args
            d["no_card_text"] = self.no_card
        return d


class Override:
    def __init__(self, match, reply, times):
        self.match = match
        self.reply = reply          # bytes, or None for silence
        self.times = times          # -1 = until cleared
        self.used = 0
        self.delay = None           # seconds before the reply; None = the reader's reply delay
        self.drip = None            # (bytes, interval s, count) printed after the reply

    def info(self):
        d = {"match": self.match, "reply_hex": None if self.reply is None else self.reply.hex(),
             "times": self.times, "used": self.used}
        if self.delay is not None:
            d["delay_ms"] = self.delay * 1000.0
        if self.drip is not None:
            d.update({"drip_hex": self.drip[0].hex(), "drip_ms": self.drip[1] * 1000.0,
                      "drip_count": self.drip[2]})
        return d


def override_timing(ov, a):
    """The late reply and the drip of a line override (fields delay_ms, drip, drip_ms,
    drip_count); checked before anything changes."""
    if a.has("delay_ms"):
        ov.delay = a.num("delay_ms", hi=600000) / 1000.0
    if a.has("drip") or a.has("drip_hex"):
        if ov.reply is None:
            raise SimError("drip follows a reply; a silent override has none")
        ov.drip = (a.bytes("drip"), a.num("drip_ms", 200.0, lo=1, hi=600000) / 1000.0,
                   a.int("drip_count", 100, lo=1, hi=100000))
    elif a.has("drip_ms") or a.has("drip_count"):
        raise SimError("drip_ms and drip_count need drip")


class Reader:
    """Common part: the line parser, overrides, silence and reply timing."""

    protocol = "?"

    def __init__(self, rid, transport):
        self.id = rid
        self.transport = transport
        self.silent = False
        self.reply_delay = 0.0
        self.overrides = []
        self.requests = 0
        self.last_output = None    # future of the last unsolicited line (present, remove)
        self._drips = []           # timer handles of drips under way
        self._buf = bytearray()
        transport.on_data = self._feed

    # Requests are lines ended by CR or LF; a byte that is not printable ASCII
    # is line noise and throws away the partial line, so that a request sent
    # after noise is still understood.
    def _feed(self, data):
        for b in data:
            if b in (10, 13):
                if self._buf:
                    line = self._buf.decode("latin-1")
                    self._buf.clear()
                    self._request(line)
                continue
            if (b < 0x20 and b != 9) or b >= 0x7F:
                self._buf.clear()
                continue
            if not self._buf and self._immediate(b):
                self._request(chr(b))
                continue
            if len(self._buf) >= _MAX_LINE:
                self._buf.clear()
            self._buf.append(b)

    def _immediate(self, b):
        return False

    def _request(self, req):
        if self.silent:
            return
        self.requests += 1
        for ov in self.overrides:
            if req.startswith(ov.match) and (ov.times < 0 or ov.used < ov.times):
                ov.used += 1
                if ov.reply is not None:
                    self._override_reply(ov)
                return
        self._answer(req)

    def _override_reply(self, ov):
        """An override's reply, after its own delay when it has one, then its drip: lines that
        leave one by one beside the other output, as a reader that would not stop talking."""
        delay = self.reply_delay if ov.delay is None else ov.delay
        self.transport.enqueue(ov.reply, delay=delay)
        if ov.drip is None:
            return
        data, interval, count = ov.drip
        loop = asyncio.get_running_loop()
        self._drips = [h for h in self._drips if not h.cancelled()]
        for k in range(1, count + 1):
            self._drips.append(loop.call_later(delay + k * interval, self._drip_out, data))

    def _drip_out(self, data):
        self.transport.enqueue(data)

    def stop_drips(self):
        for h in self._drips:
            h.cancel()
        self._drips = []

    def reply(self, data):
        if isinstance(data, str):
            data = _b(data)
        self.transport.enqueue(data, delay=self.reply_delay)

    def configure(self, a):
        """Reader-level fields; checked first, then applied."""
        new = {}
        if a.has("speed"):
            new["speed"] = a.int("speed", lo=50, hi=4000000)
        if a.has("pace"):
            new["pace"] = a.bool("pace")
        if a.has("reply_delay_ms"):
            new["reply_delay"] = a.num("reply_delay_ms", hi=600000) / 1000.0
        if a.has("silent"):
            new["silent"] = a.bool("silent")
        t = self.transport
        if a.has("drop_when_closed"):
            if t.mode != "serial":
                raise SimError("drop_when_closed applies to serial readers only")
            new["drop_when_closed"] = a.bool("drop_when_closed")
        if a.has("telnet_escape") and a.has("converter"):
            raise SimError("give either converter or telnet_escape")
        if a.has("telnet_escape"):
            if t.mode != "tcp":
                raise SimError("telnet_escape applies to TCP readers only")
            new["converter"] = "telnet_doubling" if a.bool("telnet_escape") else "raw"
        if a.has("converter"):
            if t.mode != "tcp":
                raise SimError("converter applies to TCP readers only")
            new["converter"] = a.str("converter", choices=simtelnet.KINDS)
        return new

    def _apply(self, new):
        t = self.transport
        for k, v in new.items():
            if k in ("speed", "pace", "drop_when_closed", "converter"):
                setattr(t, k, v)
            else:
                setattr(self, k, v)

    def add_override(self, a):
        match = a.str("match")
        _b(match, "field 'match'")
        silent = a.bool("silent", False)
        reply = None if silent else a.bytes("reply")
        ov = Override(match, reply, a.int("times", -1, lo=-1))
        override_timing(ov, a)
        self.overrides.append(ov)
        return len(self.overrides)

    def info(self):
        d = {"id": self.id, "mode": self.transport.mode, "protocol": self.protocol,
             "speed": self.transport.speed, "pace": self.transport.pace,
             "reply_delay_ms": self.reply_delay * 1000.0, "silent": self.silent,
             "requests": self.requests, "overrides": [o.info() for o in self.overrides]}
        d.update(self.transport.info())
        return d

    def unit_for(self, a):
        raise NotImplementedError


class TextReader(Reader):
    """A directly connected reader speaking the text protocol."""

    protocol = "text"

    def __init__(self, rid, transport, a):
        super().__init__(rid, transport)
        self.unit = Unit(100000 + rid)
        self.unit.configure(a)
        new = self.configure(a)
        if "speed" not in new:
            new["speed"] = 115200 if self.unit.model == V.PELTO else 9600
        self._apply(new)

    def set(self, a):
        if a.has("address"):
            raise SimError("reader %d is not a bus" % self.id)
        new = self.configure(a)
        self.unit.configure(a)        # checks all its fields before it changes any
        self._apply(new)

    def unit_for(self, a):
        if a.has("address"):
            raise SimError("reader %d is not a bus; drop 'address'" % self.id)
        return self.unit

    def _immediate(self, b):
        return b in (0x69, 0x72)     # "i" and "r" act without a line end

    def _answer(self, req):
        u = self.unit
        if not u.powered:
            return
        if req == "i":
            self.reply(u.ident_text(self.transport.speed, self.protocol))
        elif req == "r":
            self.reply(u.card_text() or u.no_card_text())
        elif _GET.match(req):
            self.reply(self._read_pages(int(_GET.match(req).group(1), 16)))
        elif _PUT.match(req):
            m = _PUT.match(req)
            self.reply(self._write_page(int(m.group(1), 16),
                                        bytes(int(x, 16) for x in m.group(2).split())))
        elif u.model == V.KORA_BASE and req[:4] in ("tFMT", "tARG", "tNOC"):
            self.reply(self._setup(req[:4], req[4:]))
        # Anything else is not understood and gets no answer.

    def _ul_card(self):
        c = self.unit.card
        if c is None:
            return None, "Error: no card" + _CRLF
        if c.memory is None:
            return None, "ERR: not an Ultralight card" + _CRLF
        return c, None

    def _read_pages(self, page):
        c, err = self._ul_card()
        if err:
            return err
        if page >= c.pages:
            return "ERR: bad page" + _CRLF
        out = []
        for i in range(4):
            p = (page + i) % c.pages
            d = c.memory[p * 4:p * 4 + 4]
            out.append("%02X: %02X %02X %02X %02X" % (p, d[0], d[1], d[2], d[3]) + _CRLF)
        return "".join(out) + "OK" + _CRLF

    def _write_page(self, page, data):
        c, err = self._ul_card()
        if err:
            return err
        if page >= c.pages:
            return "ERR: bad page" + _CRLF
        if page in c.locked:
            return "ERR: page lock" + _CRLF
        c.memory[page * 4:page * 4 + 4] = data
        return "OK" + _CRLF

    def _setup(self, what, arg):
        u = self.unit
        if what == "tFMT":
            if V.check_output_format(arg) is None:
                return "ERR" + _CRLF
            u.fmt = arg
        elif what == "tARG":
            if not V.check_output_args(arg):
                return "ERR" + _CRLF
            u.fmt_args = arg
        else:
            u.no_card = arg
        return "OK" + _CRLF

    def _unsolicited(self, text):
        if text and not self.silent and self.unit.powered:
            self.last_output = self.transport.enqueue(_b(text))

    def present(self, a):
        card = self.unit.make_card(a)
        old = self.unit.card
        self.unit.card = card
        try:
            text = self.unit.card_text()
        except SimError:
            self.unit.card = old
            raise
        if a.bool("notify", True):
            self._unsolicited(text)
        return {"line": text[:-2] if text.endswith(_CRLF) else text}

    def remove(self, a):
        u = self.unit
        was = u.card is not None
        u.card = None
        text = u.no_card_text()
        if was and a.bool("notify", True):
            self._unsolicited(text)
        return {"was_present": was}

    def info(self):
        d = super().info()
        d["unit"] = self.unit.info()
        return d


class BusReader(Reader):
    """Several readers on one line, each answering only its own five-digit
    address; they never speak unasked. An address may echo itself on a line of
    its own before its identification."""

    protocol = "bus"

    def __init__(self, rid, transport, a):
        super().__init__(rid, transport)
        self.echo = a.bool("echo", False)
        self.units = {}
        entries = a.list("addresses")
        if not entries:
            raise SimError("a bus needs at least one address")
        for entry in entries:
            if isinstance(entry, int) and not isinstance(entry, bool):
                entry = {"address": entry}
            ea = Args(entry)
            addr = ea.int("address", lo=0, hi=99999)
            if addr in self.units:
                raise SimError("address %d is listed twice" % addr)
            u = Unit(200000 + addr)
            u.configure(ea)
            self.units[addr] = u
        new = self.configure(a)
        new.setdefault("speed", 9600)
        self._apply(new)

    def set(self, a):
        new = self.configure(a)
        echo = a.bool("echo", self.echo)
        if not a.has("address") and any(a.has(f) for f in Unit.FIELDS):
            raise SimError("reader fields of a bus need 'address'")
        if a.has("address"):
            self.unit_for(a).configure(a)
        self.echo = echo
        self._apply(new)

    def unit_for(self, a):
        addr = a.int("address", lo=0, hi=99999)
        if addr not in self.units:
            raise SimError("bus %d has no address %d" % (self.id, addr))
        return self.units[addr]

    def _answer(self, req):
        m = _BUS.match(req)
        if not m:
            return
        addr = int(m.group(1))
        u = self.units.get(addr)
        if u is None or not u.powered:
            return
        what = m.group(2)
        if what == "i":
            echo = "%05d" % addr + _CRLF if self.echo else ""
            self.reply(echo + u.ident_text(self.transport.speed, self.protocol))
        elif what == "r":
            self.reply(self._key_reply(addr, u))

    @staticmethod
    def _key_reply(addr, u):
        if u.numeric_keys:
            c = u.card
            if c is None:
                return "%05d No card" % addr + _CRLF
            if c.line is not None:
                return c.line + _CRLF
            return "%05d %u" % (addr, V.numeric_key_number(c.key)) + _CRLF
        return u.card_text() or u.no_card_text()

    def present(self, a):
        u = self.unit_for(a)
        card = u.make_card(a)
        old = u.card
        u.card = card
        try:
            text = self._key_reply(a.int("address"), u)
        except SimError:
            u.card = old
            raise
        return {"line": text[:-2]}

    def remove(self, a):
        u = self.unit_for(a)
        was = u.card is not None
        u.card = None
        return {"was_present": was}

    def info(self):
        d = super().info()
        d["echo"] = self.echo
        d["addresses"] = [dict(address=k, **u.info()) for k, u in sorted(self.units.items())]
        return d


# The line readers; simframed.PROTOCOLS adds the framed ones and is what the hub creates from.
PROTOCOLS = {"text": TextReader, "bus": BusReader}
