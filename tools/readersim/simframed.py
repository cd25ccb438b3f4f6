"""Directly connected readers that speak frames besides text lines.

- The Mifare readers (models 3, 4, 5 and 8) speak the text protocol until the
  mode command (0x2F) switches them into the framed binary mode, and back. In
  binary mode they answer only frames and print nothing by themselves; the
  engine scans the cards in the field (up to any number of them), selects one,
  authenticates on Mifare Classic sectors (keys A/B, or keys stored in the
  reader), reads and writes blocks and Ultralight pages, and plays signal codes.
  The mode command may also change the line speed, after its reply has left.
  In text mode only the mode command is heard among frames.
- The Pelto (protocol "pelto", model 9) answers "i" with its identification
  and otherwise only its own frames: reading the Em-Marine and Temic keys in
  its field (0x61) and switching its indication (0x02).

Every other directly connected reader behaves exactly as the text reader. The
frames heard are kept (`frames`) with the time they came, for tests that check
what the engine sent; overrides that match "frame:<hex of command and data>"
answer a frame instead (raw bytes, or a status with an answer).
"""

import time

import simcards
import simreader
from simargs import Args
from simreader import BusReader, Override, TextReader
from simvocab import SimError, parse_hex

MIFARE_MODELS = (3, 4, 5, 8)
PELTO = 9
LINTRA_NET = 4
BAUD_OF_CODE = (9600, 19200, 38400, 57600, 115200, 230400)
DEFAULT_STORED_KEYS = (0xFFFFFFFFFFFF, simcards.DEFAULT_KEY)
_MAX_FRAMES = 2000
_STALE_FRAME = 0.25     # seconds after which a frame still incomplete is line noise
_FRAME_MATCH = "frame:"

# Binary statuses.
OK = 0x55
NO_CARD = 9
NO_KEY_AUTH = 5          # authentication without a selected card
NO_KEY_ACCESS = 6        # block or page access without a selected card
AUTH_FAILED = 8
REFUSED = 4              # not authenticated, block 0, locked page, out of range
BAD_REQUEST = 2          # wrong data length
UNKNOWN = 1

PELTO_OK = 0xAA
PELTO_FAIL = 0x01
PELTO_READ_KEYS = b"\x0b\x64\x03"   # the only data the key read (0x61) is documented with

# Binary requests whose data is fixed: anything else is refused (status 2).
SCAN_START_DATA = b"\x00\x0a\x00"


def binary_frame(seq, cmd, payload):
    body = bytes([0x02, seq & 0xFF, len(payload) + 6, cmd]) + bytes(payload)
    total = sum(body) & 0xFFFF
    return body + bytes([total & 0xFF, total >> 8])


def pelto_escape(data):
    out = bytearray()
    for b in data:
        if b == 0xC0:
            out += b"\xdb\x01"
        elif b == 0xDB:
            out += b"\xdb\xdd"
        else:
            out.append(b)
    return bytes(out)


def pelto_unescape(data):
    out, i = bytearray(), 0
    while i < len(data):
        b = data[i]
        if b != 0xDB:
            out.append(b)
        elif i + 1 < len(data):
            i += 1
            if data[i] == 0x01:
                out.append(0xC0)
            elif data[i] == 0xDD:
                out.append(0xDB)
        i += 1
    return bytes(out)


def pelto_frame(cmd, payload):
    """A request as the engine builds it: command, payload and a check byte that
    makes their sum 0 (mod 256), escaped and closed by 0xC0."""
    body = bytes([cmd]) + bytes(payload)
    check = (-sum(body)) & 0xFF
    return pelto_escape(body + bytes([check])) + b"\xc0"


def pelto_reply_frame(cmd, payload):
    """A reply as the reader sends it: the check byte makes the sum of the bytes
    as they travel (escaped) 0 (mod 256). A check byte that must itself be escaped
    breaks that sum; the reader sends it so all the same."""
    body = pelto_escape(bytes([cmd]) + bytes(payload))
    check = (-sum(body)) & 0xFF
    return body + pelto_escape(bytes([check])) + b"\xc0"


class FrameOverride(Override):
    """An override for a frame: raw bytes, silence, or a status with an answer
    (binary replies then carry the request's sequence number plus seq_delta)."""

    def __init__(self, match, reply, times, status, answer, seq_delta, also_answer):
        super().__init__(match, reply, times)
        self.status = status
        self.answer = answer
        self.seq_delta = seq_delta
        self.also_answer = also_answer
        self.reply_command = None   # binary: the command byte of the reply; None = the request's

    def info(self):
        d = super().info()
        d.update({"status": self.status, "answer_hex": self.answer.hex().upper(),
                  "seq_delta": self.seq_delta, "also_answer": self.also_answer,
                  "reply_command": self.reply_command})
        return d


def frame_reply_command(ov, a, status):
    """A status reply that names another command than the request's (field reply_command)."""
    if a.has("reply_command"):
        if status is None:
            raise SimError("reply_command needs status")
        ov.reply_command = a.int("reply_command", lo=0, hi=255)
    if any(a.has(f) for f in ("delay_ms", "drip", "drip_hex", "drip_ms", "drip_count")):
        raise SimError("delay_ms and drip are for line overrides")


class FramedReader(TextReader):
    """A directly connected reader; see the module text for what it speaks."""

    def __init__(self, rid, transport, a, protocol):
        self.protocol = protocol
        self.mode = "text"
        self.stored_keys = list(DEFAULT_STORED_KEYS)
        self.more_cards = []          # cards in the field besides unit.card (framed only)
        self.frames = []              # heard frames: {"hex", "ms"}
        self.bad_frames = 0
        self._fbuf = bytearray()
        self._fbuf_since = 0.0
        self._scan = 0
        self._selected = None
        self._auth = None             # sector authenticated on the selected card
        req = dict(a.req)
        if protocol == "binary":
            req.setdefault("model", 3)
        elif protocol == "pelto":
            req.setdefault("model", PELTO)
        a = Args(req)
        model = a.int("model", 1, lo=1, hi=9)
        if protocol == "binary" and model not in MIFARE_MODELS:
            raise SimError("protocol 'binary' needs a Mifare reader (model 3, 4, 5 or 8)")
        if protocol == "pelto" and model != PELTO:
            raise SimError("protocol 'pelto' needs model 9")
        super().__init__(rid, transport, a)

    # --- what speaks now ----------------------------------------------------

    @property
    def binary_capable(self):
        return self.protocol != "pelto" and self.unit.model in MIFARE_MODELS

    @property
    def framed(self):
        """True while the reader answers frames only and prints nothing by itself."""
        return self.protocol == "pelto" or (self.binary_capable and self.mode == "binary")

    def configure(self, a):
        new = super().configure(a)
        if a.has("stored_keys"):
            keys = a.list("stored_keys")
            if len(keys) > 32:
                raise SimError("a reader stores 32 keys at most")
            new["stored_keys"] = [simcards.parse_key(k, "stored key") for k in keys]
        return new

    # Bytes sent before every binary reply (line noise, a converter's stray start byte).
    frame_noise = b""

    def set(self, a):
        super().set(a)
        if a.has("frame_noise_hex"):
            self.frame_noise = a.hex("frame_noise_hex", b"")
        # A reader switched off forgets its binary mode: it starts again in text mode.
        if not self.binary_capable or not self.unit.powered:
            self.mode = "text"
            self._scan, self._selected, self._auth = 0, None, None

    def _log_frame(self, data, seq=None):
        frame = {"hex": bytes(data).hex().upper(), "ms": time.monotonic() * 1000.0}
        if seq is not None:
            frame["seq"] = seq
        self.frames.append(frame)
        del self.frames[:-_MAX_FRAMES]

    def _frame_override(self, key):
        for ov in self.overrides:
            if isinstance(ov, FrameOverride) or ov.match.startswith(_FRAME_MATCH):
                if key.startswith(ov.match) and (ov.times < 0 or ov.used < ov.times):
                    ov.used += 1
                    return ov
        return None

    def add_override(self, a):
        match = a.str("match")
        if not match.startswith(_FRAME_MATCH):
            if any(a.has(f) for f in ("status", "answer_hex", "seq_delta", "also_answer",
                                      "reply_command")):
                raise SimError("status, answer_hex, seq_delta, also_answer and reply_command are for "
                               "frame: matches")
            return super().add_override(a)
        match = _FRAME_MATCH + parse_hex(match[len(_FRAME_MATCH):], "field 'match'").hex().upper()
        silent = a.bool("silent", False)
        status = a.int("status", None, lo=0, hi=255)
        if silent or status is not None:
            reply = None
        else:
            reply = a.bytes("reply")
        ov = FrameOverride(
            match, reply, a.int("times", -1, lo=-1), None if silent else status,
            a.hex("answer_hex", b""), a.int("seq_delta", 0, lo=-255, hi=255),
            a.bool("also_answer", False))
        frame_reply_command(ov, a, status)
        self.overrides.append(ov)
        return len(self.overrides)

    # --- input ---------------------------------------------------------------

    def _feed(self, data):
        if self.protocol == "pelto":
            self._feed_pelto(data)
        elif self.binary_capable:
            self._feed_binary(data)
        else:
            super()._feed(data)

    def _answer(self, req):
        # A card that has no text line (presented in binary mode) is not printed.
        try:
            if self.protocol == "pelto" and req != "i":
                return
            super()._answer(req)
        except SimError:
            pass

    def _write_page(self, page, data):
        # The text request "put" follows the card's lock bits as the frames do.
        card, err = self._ul_card()
        if err:
            return err
        why = simcards.ultralight_write(card, page, data)
        return ("ERR: %s" % why if why else "OK") + "\r\n"

    def _unsolicited(self, text):
        if not self.framed:
            super()._unsolicited(text)

    # --- binary frames -------------------------------------------------------

    def _feed_binary(self, data):
        now = time.monotonic()
        buf = self._fbuf
        if buf and now - self._fbuf_since > _STALE_FRAME:
            del buf[:1]           # an old partial frame: its start byte was noise
        buf += data
        while buf:
            start = buf.find(0x02)
            text = bytes(buf) if start < 0 else bytes(buf[:start])
            if text and self.mode == "text":
                super()._feed(text)
            if start < 0:
                buf.clear()
                break
            del buf[:start]
            if len(buf) < 3:
                break
            length = buf[2]
            if length < 6:
                del buf[:1]
                continue
            if len(buf) < length:
                break
            frame = bytes(buf[:length])
            del buf[:length]
            self._binary_frame(frame)
        self._fbuf_since = now

    def _binary_frame(self, frame):
        n = len(frame)
        if sum(frame[:n - 2]) & 0xFFFF != frame[n - 2] | frame[n - 1] << 8:
            self.bad_frames += 1
            return
        seq, cmd, data = frame[1], frame[3], frame[4:n - 2]
        self._log_frame(frame[3:n - 2], seq)
        if self.silent or not self.unit.powered:
            return
        if self.mode == "text" and cmd != 0x2F:
            return
        self.requests += 1
        ov = self._frame_override(_FRAME_MATCH + frame[3:n - 2].hex().upper())
        if ov is not None:
            if ov.reply is not None:
                self.reply(ov.reply)
            elif ov.status is not None:
                self.reply(binary_frame(seq + ov.seq_delta,
                                        cmd if ov.reply_command is None else ov.reply_command,
                                        bytes([ov.status]) + ov.answer))
            if not ov.also_answer:
                return
        status, answer, after = self._binary(cmd, bytes(data))
        self.reply(self.frame_noise + binary_frame(seq, cmd, bytes([status]) + answer))
        if after:
            self.transport.enqueue_call(after)

    def _cards(self):
        """The cards a binary scan sees, in the order they lie in the field."""
        cards = ([self.unit.card] if self.unit.card else []) + self.more_cards
        return [c for c in cards if self._select_values(c) is not None]

    @staticmethod
    def _select_values(card):
        _, atqa, sak = card.mifare
        if sak is None:
            if card.key_type not in simcards.SELECT_VALUES:
                return None
            atqa_d, sak = simcards.SELECT_VALUES[card.key_type]
            atqa = atqa_d if atqa is None else atqa
        return (0 if atqa is None else atqa), sak

    def _binary(self, cmd, data):
        """(status, answer, call after the reply) for one request."""
        n = len(data)
        if cmd == 0x2F:
            if n != 2 or data[0] > 1 or (data[1] > 5 and data[1] != 0x80):
                return BAD_REQUEST, b"", None
            self.mode = "binary" if data[0] == 1 else "text"
            self._scan, self._selected, self._auth = 0, None, None
            after = None
            if data[1] != 0x80:
                speed = BAUD_OF_CODE[data[1]]
                after = lambda: setattr(self.transport, "speed", speed)  # noqa: E731
            return OK, b"", after
        if cmd == 0x23:
            if data != SCAN_START_DATA:
                return BAD_REQUEST, b"", None
            self._scan, self._selected, self._auth = 0, None, None
            return OK, b"", None
        if cmd == 0x24:
            if data != b"\x00":
                return BAD_REQUEST, b"", None
            self._selected, self._auth = None, None
            return OK, b"", None
        if cmd == 0x45:
            cards = self._cards()
            if n != 1 or data[0] not in (0x00, 0x80):
                return BAD_REQUEST, b"", None
            if self._scan >= len(cards):
                self._selected = self._auth = None
                return NO_CARD, b"", None
            card = cards[self._scan]
            atqa, sak = self._select_values(card)
            self._selected, self._auth = card, None
            return OK, bytes([atqa & 0xFF, atqa >> 8, sak]) + card.key, None
        if cmd == 0x43:
            if n:
                return BAD_REQUEST, b"", None
            self._scan += 1
            if self.unit.model == LINTRA_NET and self._scan >= len(self._cards()):
                return NO_CARD, b"", None
            return OK, b"", None
        if cmd == 0x20:
            if n != 2:
                return BAD_REQUEST, b"", None
            return OK, b"\x00", None
        if cmd == 0x50:
            return self._authenticate(data) + (None,)
        if cmd == 0x51:
            return self._read_block(data) + (None,)
        if cmd == 0x52:
            return self._write_block(data) + (None,)
        if cmd == 0x53:
            return self._write_ul_page(data) + (None,)
        return UNKNOWN, b"", None

    def _classic(self):
        c = self._selected
        return getattr(c, "classic", None) if c is not None else None

    def _authenticate(self, data):
        kind, block = (data[0], data[1]) if len(data) == 8 else (None, None)
        # Kinds 2 and 3 carry a key; kinds 0 and 1 a selector of stored keys and two zero bytes.
        if kind is None or kind > 3 or (kind < 2 and data[6:8] != b"\x00\x00"):
            return BAD_REQUEST, b""
        if self._selected is None:
            return NO_KEY_AUTH, b""
        mem = self._classic()
        if mem is None or block >= mem.count:
            return REFUSED, b""
        sector = simcards.sector_of(block)
        key_b = kind in (1, 3)
        self._auth = None
        if kind >= 2:
            if mem.key(sector, key_b) != int.from_bytes(data[2:8], "little"):
                return AUTH_FAILED, b""
            self._auth = sector
            return OK, b""
        selector = int.from_bytes(data[2:6], "little")
        for i, key in enumerate(self.stored_keys):
            if selector >> i & 1 and mem.key(sector, key_b) == key:
                self._auth = sector
                return OK, bytes([i])
        return AUTH_FAILED, b""

    def _read_block(self, data):
        if len(data) != 1:
            return BAD_REQUEST, b""
        c = self._selected
        if c is None:
            return NO_KEY_ACCESS, b""
        block = data[0]
        if c.memory is not None:                      # Ultralight: no authentication
            pages = simcards.ultralight_read(c, block)
            return (OK, pages) if pages is not None else (REFUSED, b"")
        mem = self._classic()
        if mem is None or block >= mem.count or self._auth != simcards.sector_of(block):
            return REFUSED, b""
        return OK, mem.read(block)

    def _write_block(self, data):
        if len(data) != 17:
            return BAD_REQUEST, b""
        if self._selected is None:
            return NO_KEY_ACCESS, b""
        mem = self._classic()
        block = data[0]
        if mem is None or block >= mem.count or self._auth != simcards.sector_of(block):
            return REFUSED, b""
        return (REFUSED if mem.write(block, data[1:]) else OK), b""

    def _write_ul_page(self, data):
        if len(data) != 5:
            return BAD_REQUEST, b""
        c = self._selected
        if c is None:
            return NO_KEY_ACCESS, b""
        if c.memory is None:
            return REFUSED, b""
        return (REFUSED if simcards.ultralight_write(c, data[0], data[1:]) else OK), b""

    # --- Pelto frames ----------------------------------------------------------

    def _feed_pelto(self, data):
        buf = self._fbuf
        now = time.monotonic()
        if buf and now - self._fbuf_since > _STALE_FRAME:
            buf.clear()           # noise (a request at another rate) ends no frame
        self._fbuf_since = now
        for b in data:
            if not buf and b == 0x69:             # "i": the identification request
                self._request("i")
                continue
            if b == 0xC0:
                frame = bytes(buf)
                buf.clear()
                self._pelto_frame(frame)
                continue
            buf.append(b)
            if len(buf) > 512:
                buf.clear()

    def _pelto_frame(self, raw):
        body = pelto_unescape(raw)
        if len(body) < 2 or sum(body) & 0xFF:
            self.bad_frames += 1
            return
        cmd, data = body[0], body[1:-1]
        self._log_frame(body[:-1])
        if self.silent or not self.unit.powered:
            return
        self.requests += 1
        ov = self._frame_override(_FRAME_MATCH + body[:-1].hex().upper())
        if ov is not None:
            if ov.reply is not None:
                self.reply(ov.reply)
            elif ov.status is not None:
                self.reply(pelto_reply_frame(cmd, bytes([ov.status]) + ov.answer))
            if not ov.also_answer:
                return
        if cmd == 0x61 and data == PELTO_READ_KEYS:
            status, answer = self._pelto_keys()
        elif cmd == 0x02 and len(data) == 2:
            status, answer = PELTO_OK, b""
        else:
            status, answer = PELTO_FAIL, b""
        self.reply(pelto_reply_frame(cmd, bytes([status]) + answer))

    def _pelto_keys(self):
        """Status and answer of a key read: with a Temic key, success, flags, the
        Temic key and then the Em-Marine key when there is one; with an Em-Marine
        key alone, another status, flags 0x20 and the key."""
        cards = ([self.unit.card] if self.unit.card else []) + self.more_cards
        em = next((c.key for c in cards if c.key_type == 1), None)
        temic = next((c.key for c in cards if c.key_type == 18), None)
        if temic is not None:
            return PELTO_OK, bytes([0x10 | (0x20 if em is not None else 0)]) + temic + (em or b"")
        if em is not None:
            return PELTO_FAIL, b"\x20" + em
        return PELTO_FAIL, b"\x00"

    # --- cards in the field ----------------------------------------------------

    def _make_card(self, a):
        card = self.unit.make_card(a)
        if card.key_type in (5, 6, 17):
            atqa, sak = self._select_values(card) or (0, 0)
            card.classic = simcards.ClassicMemory(
                card.key_type, card.key, sak, atqa,
                simcards.parse_key(a.req["key_a"], "field 'key_a'") if a.has("key_a")
                else simcards.DEFAULT_KEY,
                simcards.parse_key(a.req["key_b"], "field 'key_b'") if a.has("key_b")
                else simcards.DEFAULT_KEY,
                a.hex("memory", b""))
        if self.protocol == "pelto":
            if card.key_type not in (1, 18):
                raise SimError("a Pelto reads Em-Marine and Temic keys only")
            size = 5 if card.key_type == 1 else 8
            if len(card.key) != size:
                raise SimError("a Pelto key of this type has %d bytes" % size)
        return card

    def present(self, a):
        add = a.bool("add", False)
        if not self.framed and not add:
            checked = self._make_card(a)      # the Classic fields are checked before anything changes
            reply = super().present(a)
            if hasattr(checked, "classic"):
                self.unit.card.classic = checked.classic
            self.more_cards = []
            self._selected = self._auth = None
            return reply
        card = self._make_card(a)
        if add and self.unit.card is not None:
            self.more_cards.append(card)
        else:
            self.unit.card = card
            self.more_cards = []
        self._selected = self._auth = None
        line = None
        if not self.framed:
            try:
                line = self.unit.card_text()
            except SimError:
                line = None
        return {"line": line[:-2] if line and line.endswith("\r\n") else line}

    def remove(self, a):
        self._selected = self._auth = None
        if not a.has("key"):
            self.more_cards = []
            return super().remove(a)
        key = a.hex("key")
        cards = ([self.unit.card] if self.unit.card else []) + self.more_cards
        gone = next((c for c in cards if c.key == key), None)
        if gone is None:
            return {"was_present": False}
        if gone is self.unit.card:
            if self.more_cards:
                self.unit.card = self.more_cards.pop(0)
            else:
                return super().remove(a)
        else:
            self.more_cards.remove(gone)
        return {"was_present": True}

    def info(self):
        d = super().info()
        d["protocol"] = self.protocol
        if self.binary_capable:
            d["mode"] = self.mode
            d["stored_keys"] = ["%012X" % k for k in self.stored_keys]
        d["bad_frames"] = self.bad_frames
        d["frame_count"] = len(self.frames)
        card = self.unit.card
        if card is not None and getattr(card, "classic", None) is not None:
            d["unit"]["card"]["classic"] = card.classic.info()
        d["more_cards"] = [c.info() for c in self.more_cards]
        return d

    def take_frames(self, clear):
        frames = list(self.frames)
        if clear:
            self.frames.clear()
        return frames


def _framed(protocol):
    return lambda rid, transport, a: FramedReader(rid, transport, a, protocol)


PROTOCOLS = {"text": _framed("text"), "binary": _framed("binary"), "pelto": _framed("pelto"),
             "bus": BusReader}
assert set(simreader.PROTOCOLS) <= set(PROTOCOLS)
