"""Tests of the reader simulator: its key lines and identification texts decode
the way the engine decodes them, and the hub, driven over its control channel,
behaves on a pty and on TCP as a reader on a real line would.

Run from the repository root:
    python3 -m unittest discover -s tests/tools -p 'test_*.py'
"""

import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIM_DIR = os.path.join(ROOT, "tools", "readersim")
sys.path.insert(0, SIM_DIR)

import simline  # noqa: E402
import simvocab as V  # noqa: E402


# --- the engine's decoding, restated independently for the round trips -------

def parse_key_text(line):
    """Key type and key bytes of a text key line, as the engine decodes it
    (generic layout, without the per-model corrections)."""
    i = line.find("[")
    names = ["em-marine", "hid", "mifare", "icode", "cod433 fix", "cod433", "came433", "dallas"]
    if i < 0 or line[:i][:15].lower() not in names:
        return 0, b""
    branch = names.index(line[:i][:15].lower())
    j = line.find("]", i)
    if j < 0:
        return 0, b""
    digits = line[i + 1:j]
    buf, k = [], len(digits)
    while k >= 2 and len(buf) < 15:
        buf.append(int(digits[k - 2:k], 16))
        k -= 2
    count = len(buf)
    first = second = atqa = sak = sub = None
    for item in line[j + 1:].split():
        if item.startswith("(") and atqa is None:
            m = re.match(r"\(([0-9A-Fa-f]+).([0-9A-Fa-f]+)", item)
            atqa, sak = int(m.group(1), 16), int(m.group(2), 16)
        elif item.lower() in ("ul", "1k", "4k", "df", "px"):
            sub = item.lower()      # a subtype word, though it may start with a digit
            break
        elif item[0].isdigit() and first is None:
            m = re.match(r"(\d+)(?:[^\d\s](\d+))?", item)
            first = int(m.group(1))
            second = int(m.group(2)) if m.group(2) else None
        else:
            sub = item.lower()[:15]
            break
    le16 = lambda v: [v & 0xFF, (v >> 8) & 0xFF]  # noqa: E731
    if branch == 0:
        if first is None or second is None:
            return 0, b""
        return 1, bytes(le16(second) + [first & 0xFF] + (buf[:min(count, 2)] + [0, 0])[:2])
    if branch == 1:
        if first is None:
            return 0, b""
        return 2, bytes((le16(first) + buf[:min(count, 4)] + [0] * 4)[:6])
    if branch == 2:
        words = {"ul": 4, "1k": 5, "4k": 6, "df": 7, "px": 8}
        if sub is not None:
            kt = words.get(sub, 0)
        elif sak is not None:
            kt = sak_type(sak, atqa)
        else:
            kt = 0
        text = list(reversed(buf))
        return kt, bytes(text[4:] + text[:4] if count > 4 else text)
    if branch == 3:
        if first is None or second is None:
            return 0, b""
        return 3, bytes(le16(second) + [first & 0xFF] + (buf[3:count][:12] if count > 3 else []))
    if branch in (4, 5):
        kt = 9 if branch == 4 else 10
        if count == 4:
            return kt, bytes(reversed(buf))
        return kt, bytes(le16(second or 0) + [(first or 0) & 0xFF, buf[0] if buf else 0])
    if branch == 6:
        if first is None or second is None:
            return 0, b""
        return 12, bytes(le16(second) + [first & 0xFF])
    return 11, bytes(buf[:count] if count < 3 else buf[1:count - 1])


def sak_type(sak, atqa):
    if sak & 0x02:
        return 0
    if sak & 0x08:
        return 6 if sak & 0x10 else 17 if sak & 0x01 else 5
    if sak & 0x10:
        return 16 if sak & 0x01 else 15
    if not sak & 0x20:
        return 4
    return {0x0002: 16, 0x0042: 16, 0x0004: 15, 0x0044: 15, 0x0344: 7}.get(atqa, 13)


def parse_reader_info(text):
    """(device code, serial, packed version) or None, as the engine parses it."""
    lines = [ln for ln in text.split("\n")[:-1] if len(ln) >= 2]
    if len(lines) < 5 or "S/N:" not in text:
        return None
    m = re.search(r"S/N: ?(\d+)", text)
    serial = int(m.group(1))
    rest = text[m.end():]
    b = rest.find("[")
    if b < 0 or "]" not in rest[b:]:
        return None
    code = int(re.match(r"[0-9A-Fa-f]+", rest[b + 1:]).group(0), 16)
    after = rest[rest.index("]", b):]
    version = 0
    mv = re.search(r"Software version: ?(\d+)((?:\.\d+)*)", after)
    if mv:
        a = int(mv.group(1))
        if a >= 255:
            version = (a << 8) | 0xFF
        else:
            parts = [a] + [int(x) for x in mv.group(2).split(".")[1:]]
            for i, n in enumerate(parts[:4]):
                version |= (n & 0xFF) << (8 * i)
    return code, serial, version


class KeyLineTest(unittest.TestCase):
    CASES = [  # key type, key record bytes
        (1, "39300C0A00"), (1, "FFFFFF1234"),
        (2, "3930A1B2C3D4"),
        (3, "0102E0"), (3, "0102E0AABBCCDD"),
        (4, "A4A5A6A0A1A2A3"), (5, "04A1B2C3"), (6, "0A0B0C0D0E0F10"),
        (7, "11223344556677"), (8, "DEADBEEF"),
        (13, "01020304"), (15, "0102030405060708"), (16, "05060708"), (17, "0A0B0C0D"),
        (9, "01020304"), (10, "A1B2C3D4"),
        (11, "112233445566"), (11, "AB"),
        (12, "393001"),
    ]

    def test_lines_decode_to_the_key(self):
        for key_type, key in self.CASES:
            with self.subTest(key_type=key_type, key=key):
                line = V.key_line(key_type, bytes.fromhex(key))
                self.assertNotIn(":", line)
                self.assertEqual(parse_key_text(line), (key_type, bytes.fromhex(key)), line)

    def test_mifare_forms(self):
        key = bytes.fromhex("A4A5A6A0A1A2A3")
        for form in ("word", "sak", "both"):
            with self.subTest(form=form):
                line = V.key_line(5, key, form)
                self.assertEqual(parse_key_text(line), (5, key), line)
        # The rotation: the UID in card order is printed, the record starts at U4.
        self.assertTrue(V.key_line(4, key).startswith("Mifare[A0A1A2A3A4A5A6]"))

    def test_impossible_keys_are_refused(self):
        for key_type, key in [(0, "01"), (14, "01020304"), (18, "0102030405"),
                              (1, "01020304"), (2, "0102"), (4, "010203"), (12, "01020304")]:
            with self.subTest(key_type=key_type, key=key):
                with self.assertRaises(V.SimError):
                    V.key_line(key_type, bytes.fromhex(key))

    def test_key_type_names(self):
        self.assertEqual(V.parse_key_type("em"), 1)
        self.assertEqual(V.parse_key_type("M+4K"), 16)
        self.assertEqual(V.parse_key_type("cod433 fix"), 9)
        self.assertEqual(V.parse_key_type(11), 11)
        for bad in ("mifare", 19, -1, True, "x"):
            with self.assertRaises(V.SimError):
                V.parse_key_type(bad)

    def test_identification_parses(self):
        cases = [  # model, version, build, expected packed version
            (1, "3.10", None, 0x0A03), (4, "2.10.1", None, 0x010A02),
            (2, "409", None, 0x199FF), (8, None, "Nov 16 2010 10:00:00", 0),
        ]
        for model, version, build, packed in cases:
            with self.subTest(model=model, version=version):
                lines = V.identification_lines(model, 4242, V.default_device_code(model),
                                               version, build, 9600)
                self.assertIn("S/N:", lines[0])
                self.assertTrue(re.search("Software version:|Build", lines[-1]))
                for ln in lines:
                    self.assertFalse("[" in ln and ":" not in ln, ln)
                text = "".join(ln + "\r\n" for ln in lines)
                self.assertEqual(parse_reader_info(text),
                                 (V.default_device_code(model), 4242, packed))

    def test_kora_base_formats(self):
        card = bytes.fromhex("39300C0A00112233")
        wiegand = V.format_output("Em-Marine[%.2X%.2X] %.3d,%.5d\\r\\n", "b4 b3 b2 w01", card)
        self.assertEqual(wiegand, "Em-Marine[000A] 012,12345\r\n")
        self.assertEqual(parse_key_text(wiegand.rstrip()), (1, card[:5]))
        dallas = V.format_output("DALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n",
                                 "b7 b6 b5 b4 b3 b2 b1 b0", card)
        self.assertEqual(parse_key_text(dallas.rstrip()), (11, card[1:7]))
        self.assertIsNone(V.check_output_format("%s"))
        self.assertFalse(V.check_output_args("b8"))


class LineTest(unittest.TestCase):
    def test_same_speed_passes_bytes(self):
        data = bytes(range(256))
        self.assertEqual(simline.resample(data, 9600, 9600), data)

    def test_wrong_speed_gives_noise(self):
        text = b"S/N: 12345\r\nSoftware version: 1.0\r\n"
        for tx, rx in [(9600, 115200), (115200, 9600), (9600, 19200), (57600, 9600)]:
            with self.subTest(tx=tx, rx=rx):
                heard = simline.resample(text, tx, rx)
                self.assertNotEqual(heard, text)
                self.assertNotIn(b"S/N", heard)
        # The engine's probe "i" is never heard as "i" at the other common speed.
        self.assertNotIn(b"i", simline.resample(b"i", 9600, 115200))
        self.assertNotIn(b"i", simline.resample(b"i", 115200, 9600))


# --- the hub over its control channel ------------------------------------------

class Hub:
    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="readersim-test-")
        self.prefix = os.path.join(self.tmp.name, "prefix")
        os.makedirs(os.path.join(self.prefix, "dosdevices"))
        self.port_file = os.path.join(self.tmp.name, "port")
        self.proc = subprocess.Popen(
            [sys.executable, os.path.join(SIM_DIR, "readersim.py"), "--wineprefix", self.prefix,
             "--port-file", self.port_file], stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline()
        m = re.match(r"control-port (\d+)", first)
        if not m:
            self.proc.kill()
            raise RuntimeError("hub did not start: %r" % first)
        self.port = int(m.group(1))

    def client(self):
        return Client(self.port)

    def dosdevice(self, name):
        return os.path.join(self.prefix, "dosdevices", name)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        rc = self.proc.wait(10)
        self.proc.stdout.close()
        return rc


class Client:
    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.f = self.sock.makefile("rwb")

    def raw(self, line):
        self.f.write(line + b"\n")
        self.f.flush()
        return json.loads(self.f.readline())

    def __call__(self, cmd, **kw):
        kw["cmd"] = cmd
        return self.raw(json.dumps(kw).encode())

    def ok(self, cmd, **kw):
        reply = self(cmd, **kw)
        if not reply.get("ok"):
            raise AssertionError("%s failed: %s" % (cmd, reply))
        return reply

    def close(self):
        self.f.close()
        self.sock.close()


def read_for(fd_or_sock, seconds, until=None):
    """Bytes arriving within the time (or until the given bytes have come)."""
    out = bytearray()
    end = time.monotonic() + seconds
    is_sock = isinstance(fd_or_sock, socket.socket)
    while True:
        left = end - time.monotonic()
        if left <= 0 or (until is not None and until in out):
            return bytes(out)
        r, _, _ = select.select([fd_or_sock], [], [], left)
        if not r:
            continue
        try:
            chunk = fd_or_sock.recv(4096) if is_sock else os.read(fd_or_sock, 4096)
        except (BlockingIOError, InterruptedError):
            continue
        except OSError:
            return bytes(out)
        if not chunk:
            return bytes(out)
        out += chunk


def open_port(path, baud):
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    tty.setraw(fd)
    set_baud(fd, baud)
    return fd


def set_baud(fd, baud):
    attrs = termios.tcgetattr(fd)
    attrs[4] = attrs[5] = simline.CONSTANT_OF_BAUD[baud]
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


class HubTestBase(unittest.TestCase):
    hub = None

    @classmethod
    def setUpClass(cls):
        cls.hub = Hub()

    @classmethod
    def tearDownClass(cls):
        cls.hub.stop()
        cls.hub.tmp.cleanup()

    def setUp(self):
        self.c = self.hub.client()
        self.addCleanup(self.c.close)

    def create(self, **kw):
        r = self.c.ok("create", **kw)
        self.addCleanup(self.c, "destroy", id=r["id"])
        return r

    def serial(self, com, baud=9600, **kw):
        r = self.create(mode="serial", com=com, **kw)
        fd = open_port(r["pty"], baud)
        self.addCleanup(os.close, fd)
        return r, fd

    def tcp(self, **kw):
        r = self.create(mode="tcp", **kw)
        s = socket.create_connection(("127.0.0.1", r["tcp_port"]))
        self.addCleanup(s.close)
        return r, s


class SerialTest(HubTestBase):
    def test_identification_only_at_the_readers_speed(self):
        r, fd = self.serial(3, model=3, version="1.8", serial=777, speed=115200)
        self.assertEqual(os.readlink(self.hub.dosdevice("com3")), r["pty"])
        os.write(fd, b"i")
        self.assertEqual(read_for(fd, 0.4), b"", "a 9600 Bd probe must get no answer")
        set_baud(fd, 115200)
        os.write(fd, b"i")
        reply = read_for(fd, 2, until=b"Software version: 1.8\r\n").decode("latin-1")
        self.assertEqual(parse_reader_info(reply), (0x0811, 777, 0x0801))
        self.assertEqual(self.c.ok("info", id=r["id"])["port_baud"], 115200)

    def test_card_lines_unsolicited_and_polled(self):
        r, fd = self.serial(4)
        self.c.ok("present", id=r["id"], type="EM", key="39300C0A00", wait=True)
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Em-Marine[000A] 012,12345\r\n")
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Em-Marine[000A] 012,12345\r\n")
        self.assertEqual(self.c.ok("remove", id=r["id"], wait=True)["was_present"], True)
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"No card\r\n")
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"No card\r\n")
        # A second departure has nothing to report.
        self.assertEqual(self.c.ok("remove", id=r["id"], wait=True)["was_present"], False)
        self.assertEqual(read_for(fd, 0.2), b"")

    def test_present_and_remove_tell_when_the_line_left(self):
        r, fd = self.serial(7)
        before = time.monotonic_ns()
        reply = self.c.ok("present", id=r["id"], type="EM", key="39300C0A00", wait=True)
        after = time.monotonic_ns()
        # The whole line is in the pty by then; the time is that of its last write: the
        # 27 bytes leave paced in three 9-byte writes about 9.4 ms apart at 9600 Bd.
        self.assertEqual(read_for(fd, 0.2, until=b"\n"), b"Em-Marine[000A] 012,12345\r\n")
        self.assertTrue(before + 15_000_000 <= reply["written_ns"] <= after, (before, reply, after))
        reply = self.c.ok("remove", id=r["id"], wait=True)
        self.assertTrue(after < reply["written_ns"] <= time.monotonic_ns())
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"No card\r\n")
        # No time without wait, nor when nothing was written: no line, or the port closed.
        self.assertNotIn("written_ns", self.c.ok("present", id=r["id"], type="EM", key="39300C0A00"))
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Em-Marine[000A] 012,12345\r\n")
        self.assertNotIn("written_ns", self.c.ok("present", id=r["id"], line="x", notify=False, wait=True))
        self.c.ok("remove", id=r["id"], notify=False)
        self.assertNotIn("written_ns", self.c.ok("remove", id=r["id"], wait=True))
        closed = self.create(mode="serial", com=8)
        self.assertNotIn("written_ns", self.c.ok("present", id=closed["id"], type="DS",
                                                 key="112233445566", wait=True))

    def test_wrong_speed_output_is_noise(self):
        r, fd = self.serial(5, baud=115200)
        self.c.ok("present", id=r["id"], type="EM", key="39300C0A00", wait=True)
        noise = read_for(fd, 0.5)
        self.assertTrue(noise)
        self.assertNotIn(b"Em-Marine", noise)
        # Noise in front of a request does not keep the reader from hearing it.
        set_baud(fd, 9600)
        os.write(fd, b"\x00\xf0r\n")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Em-Marine[000A] 012,12345\r\n")

    def test_output_while_port_closed_is_lost(self):
        r = self.create(mode="serial", com=6)
        self.c.ok("present", id=r["id"], type="DS", key="112233445566", wait=True)
        self.assertGreater(self.c.ok("info", id=r["id"])["dropped_bytes"], 0)
        fd = open_port(r["pty"], 9600)
        self.addCleanup(os.close, fd)
        self.assertEqual(read_for(fd, 0.3), b"", "stale bytes reached the next opener")
        os.write(fd, b"r\n")
        line = read_for(fd, 1, until=b"\n").decode()
        self.assertEqual(parse_key_text(line.strip()), (11, bytes.fromhex("112233445566")))

    def test_ultralight_pages(self):
        r, fd = self.serial(7, pace=False)
        os.write(fd, b"get 04\r")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Error: no card\r\n")
        self.c.ok("present", id=r["id"], type="UL", key="A4A5A6A0A1A2A3", notify=False)
        os.write(fd, b"get 00\r")
        uid_page = "00: A0 A1 A2 %02X\r\n01: A3 A4 A5 A6\r\n" % (0x88 ^ 0xA0 ^ 0xA1 ^ 0xA2)
        self.assertTrue(read_for(fd, 1, until=b"OK\r\n").startswith(uid_page.encode()))
        memory = self.c.ok("info", id=r["id"])["unit"]["card"]["memory"][:32]
        self.c.ok("present", id=r["id"], type="UL", key="A4A5A6A0A1A2A3", notify=False,
                  memory=memory + "01020304")
        os.write(fd, b"get 04\r")
        self.assertEqual(read_for(fd, 1, until=b"OK\r\n"),
                         b"04: 01 02 03 04\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n"
                         b"07: 1C 1D 1E 1F\r\nOK\r\n")
        os.write(fd, b"put 05 aa bb cc dd\r")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"OK\r\n")
        os.write(fd, b"put 01 00 00 00 00\r")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"ERR: page lock\r\n")
        os.write(fd, b"get 0f\r")
        self.assertEqual(read_for(fd, 1, until=b"OK\r\n").split(b"\r\n")[1][:3], b"00:")
        card = self.c.ok("info", id=r["id"])["unit"]["card"]
        self.assertEqual(card["memory"][40:48], "AABBCCDD")

    def test_kora_base_setup(self):
        r, fd = self.serial(8, model=7, pace=False)
        for req, answer in [(b"tFMTDALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n\r\n", b"OK"),
                            (b"tARGb7 b6 b5 b4 b3 b2 b1 b0\r\n", b"OK"),
                            (b"tARGb9\r\n", b"ERR"),
                            (b"tNOCNo card\\r\\n\r\n", b"OK")]:
            os.write(fd, req)
            self.assertEqual(read_for(fd, 1, until=b"\n"), answer + b"\r\n", req)
        self.c.ok("present", id=r["id"], key="0011223344556677", wait=True)
        line = read_for(fd, 1, until=b"\n").decode()
        self.assertEqual(line, "DALLAS[7766554433221100] 000,00000\r\n")
        self.assertEqual(parse_key_text(line.strip()), (11, bytes.fromhex("112233445566")))

    def test_traffic_records_and_waits(self):
        r, fd = self.serial(9)
        os.write(fd, b"i")
        os.write(fd, b"r\n")
        w = self.c.ok("wait_received", id=r["id"], text="r\n", timeout_ms=1000, consume=True)
        self.assertTrue(w["matched"])
        self.assertEqual(w["hex"], "69720A")
        self.assertEqual(self.c.ok("received", id=r["id"])["hex"], "")
        w = self.c.ok("wait_received", id=r["id"], hex="69", timeout_ms=150)
        self.assertFalse(w["matched"])
        read_for(fd, 1, until=b"No card\r\n")
        sent = self.c.ok("sent", id=r["id"], clear=True)
        self.assertTrue(sent["text"].endswith("No card\r\n"))
        self.assertEqual(self.c.ok("sent", id=r["id"])["length"], 0)
        os.write(fd, b"r\nr\n")
        self.assertTrue(self.c.ok("wait_received", id=r["id"], regex="r\\n", count=2,
                                  timeout_ms=1000)["matched"])

    def test_overrides_and_silence(self):
        r, fd = self.serial(10, pace=False)
        self.c.ok("override", id=r["id"], match="r", reply="Garbled line\r\n", times=1)
        self.c.ok("override", id=r["id"], match="i", silent=True)
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Garbled line\r\n")
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"No card\r\n")
        os.write(fd, b"i")
        self.assertEqual(read_for(fd, 0.3), b"")
        self.c.ok("clear_overrides", id=r["id"])
        self.c.ok("silent", id=r["id"], on=True)
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 0.3), b"")
        self.c.ok("silent", id=r["id"], on=False)
        os.write(fd, b"i")
        self.assertIn(b"S/N:", read_for(fd, 1, until=b"version: 1.0\r\n"))

    def test_late_reply_and_drip(self):
        r, fd = self.serial(11, pace=False)
        self.c.ok("override", id=r["id"], match="r", reply="Late\r\n", delay_ms=300, times=1)
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 0.15), b"")
        self.assertEqual(read_for(fd, 1, until=b"\n"), b"Late\r\n")
        # The drip leaves beside other output: an answer is not held back behind it.
        self.c.ok("override", id=r["id"], match="i", reply="S/N: 1\r\n", drip="more\r\n",
                  drip_ms=100, drip_count=5, times=1)
        os.write(fd, b"i")
        self.assertEqual(read_for(fd, 1, until=b"S/N: 1\r\n"), b"S/N: 1\r\n")
        os.write(fd, b"r\n")
        self.assertEqual(read_for(fd, 1, until=b"No card\r\n"), b"No card\r\n")
        got = read_for(fd, 1.0)
        self.assertEqual(got.count(b"more\r\n"), 5)
        # clear_overrides stops a drip under way.
        self.c.ok("override", id=r["id"], match="i", reply="S/N: 1\r\n", drip="more\r\n",
                  drip_ms=50, drip_count=100)
        os.write(fd, b"i")
        read_for(fd, 0.2)
        self.c.ok("clear_overrides", id=r["id"])
        read_for(fd, 0.1)
        self.assertEqual(read_for(fd, 0.3), b"")
        for bad in ({"reply": "x", "drip_ms": 10}, {"silent": True, "drip": "x"},
                    {"reply": "x", "drip": "x", "drip_count": 0}):
            self.assertFalse(self.c("override", id=r["id"], match="r", **bad)["ok"], bad)

    def test_unplug_plug_and_link_cleanup(self):
        com1 = self.hub.dosdevice("com1")
        os.symlink("/dev/ttyS0", com1)
        self.addCleanup(lambda: os.path.lexists(com1) and os.unlink(com1))
        r = self.c.ok("create", mode="serial", com="COM1")
        self.assertEqual(os.readlink(com1), r["pty"])
        clash = self.c("create", mode="serial", com=1)
        self.assertFalse(clash["ok"])
        fd = open_port(r["pty"], 9600)
        self.c.ok("disconnect", id=r["id"])
        self.assertFalse(os.path.lexists(com1))
        self.assertEqual(read_for(fd, 0.3), b"")     # hang-up: EOF or EIO
        os.close(fd)
        pty = self.c.ok("plug", id=r["id"])["pty"]
        self.assertEqual(os.readlink(com1), pty)
        self.c.ok("destroy", id=r["id"])
        self.assertEqual(os.readlink(com1), "/dev/ttyS0", "the earlier link is restored")


class TcpTest(HubTestBase):
    def test_identification_and_iac_escaping(self):
        r, s = self.tcp(model=4, version="3.10", pace=False)
        s.sendall(b"i")
        reply = read_for(s, 1, until=b"3.10\r\n").decode()
        self.assertEqual(parse_reader_info(reply)[0], 0x0903)
        self.c.ok("override", id=r["id"], match="r", reply_hex="41FF420D0A")
        s.sendall(b"r\n")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"A\xff\xffB\r\n")
        self.c.ok("send", id=r["id"], hex="FF00", wait=True)
        self.assertEqual(read_for(s, 0.3), b"\xff\x00")

    def test_telnet_sequences(self):
        r, s = self.tcp()
        items = [{"cmd": "do", "option": 44}, {"cmd": "will", "option": 1},
                 {"data_hex": "FF"}, {"cmd": "sb", "option": 44, "data_hex": "01FF02"},
                 {"cmd": 0xF1}, {"data": "OK\r\n"}]
        reply = self.c.ok("telnet", id=r["id"], items=items, wait=True)
        expect = "FFFD2CFFFB01FFFFFFFA2C01FFFF02FFF0FFF14F4B0D0A"
        self.assertEqual(reply["hex"], expect)
        self.assertEqual(read_for(s, 1, until=b"OK\r\n").hex().upper(), expect)
        # An IAC split from its command: the first write ends on the IAC.
        self.c.ok("telnet", id=r["id"], items=[{"data": "A"}, {"cmd": "dont", "option": 3}],
                  split=[2], delay_ms=300)
        self.assertEqual(read_for(s, 0.15), b"A\xff")
        self.assertEqual(read_for(s, 1, until=b"\x03"), b"\xfe\x03")
        bad = self.c("telnet", id=r["id"], items=[{"cmd": "maybe"}])
        self.assertFalse(bad["ok"])

    def test_split_line_and_drop_mid_line(self):
        r, s = self.tcp()
        self.c.ok("send", id=r["id"], chunks=[{"text": "Em-Mar"},
                                              {"text": "ine[000A] 012,", "delay_ms": 250}])
        self.assertEqual(read_for(s, 0.12), b"Em-Mar")
        self.assertEqual(read_for(s, 1, until=b","), b"ine[000A] 012,")
        self.c.ok("disconnect", id=r["id"])
        self.assertEqual(read_for(s, 1), b"", "the connection must be closed")
        # The converter takes the next connection.
        s2 = socket.create_connection(("127.0.0.1", r["tcp_port"]))
        self.addCleanup(s2.close)
        s2.sendall(b"r\n")
        self.assertEqual(read_for(s2, 1, until=b"\n"), b"No card\r\n")
        self.c.ok("disconnect", id=r["id"], abort=True)
        with self.assertRaises(ConnectionResetError):
            s2.recv(10)

    def test_set_changes_a_running_reader(self):
        r, s = self.tcp(pace=False)
        self.c.ok("set", id=r["id"], version="4.2", reply_delay_ms=300)
        start = time.monotonic()
        s.sendall(b"i")
        reply = read_for(s, 2, until=b"4.2\r\n")
        self.assertGreaterEqual(time.monotonic() - start, 0.25)
        self.assertIn(b"Software version: 4.2\r\n", reply)
        # A refused change changes nothing, not even its valid fields.
        self.assertFalse(self.c("set", id=r["id"], version="5.0", speed=1)["ok"])
        self.assertFalse(self.c("set", id=r["id"], address=3)["ok"])
        self.assertEqual(self.c.ok("info", id=r["id"])["unit"]["version"], "4.2")

    def test_one_connection_at_a_time(self):
        r, s = self.tcp(pace=False)
        s2 = socket.create_connection(("127.0.0.1", r["tcp_port"]))
        self.addCleanup(s2.close)
        s2.sendall(b"r\n")
        self.assertEqual(read_for(s2, 0.3), b"")
        s.close()
        self.assertEqual(read_for(s2, 1, until=b"\n"), b"No card\r\n")
        self.assertEqual(self.c.ok("info", id=r["id"])["connections"], 2)


class BusTest(HubTestBase):
    def test_addressed_readers(self):
        r, s = self.tcp(protocol="bus", echo=True, pace=False, addresses=[
            1, {"address": 12, "model": 2, "serial": 5555, "version": "2.1"},
            {"address": 7, "version": "409"}])
        s.sendall(b"#00012 i\r")
        reply = read_for(s, 1, until=b"version: 2.1\r\n").decode()
        self.assertTrue(reply.startswith("00012\r\n"))
        self.assertEqual(parse_reader_info(reply[7:]), (0x0501, 5555, 0x0102))
        for silent_req in (b"#00005 i\r", b"#12 i\r", b"i", b"#00012 x\r"):
            s.sendall(silent_req)
            self.assertEqual(read_for(s, 0.15), b"", silent_req)
        self.c.ok("present", id=r["id"], address=12, type="M1K", key="04A1B2C3")
        self.assertEqual(read_for(s, 0.15), b"", "bus readers never speak unasked")
        s.sendall(b"#00012 r\r#00001 r\r")
        self.assertEqual(read_for(s, 1, until=b"No card\r\n"),
                         b"Mifare[04A1B2C3] 1k\r\nNo card\r\n")
        self.c.ok("present", id=r["id"], address=7, number=123456)
        s.sendall(b"#00007 r\r")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"00007 123456\r\n")
        self.c.ok("remove", id=r["id"], address=7)
        s.sendall(b"#00007 r\r")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"00007 No card\r\n")
        self.c.ok("power", id=r["id"], address=12, on=False)
        s.sendall(b"#00012 r\r")
        self.assertEqual(read_for(s, 0.2), b"")
        self.c.ok("power", id=r["id"], address=12, on=True)
        s.sendall(b"#00012 r\r")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"Mifare[04A1B2C3] 1k\r\n")
        self.assertFalse(self.c("power", id=r["id"], address=99, on=False)["ok"])


class ControlTest(HubTestBase):
    def test_bad_requests_get_errors(self):
        r = self.create(mode="tcp")
        cases = [
            (b"not json", "not JSON"), (b"[1, 2]", "JSON object"), (b'{"x": 1}', "'cmd'"),
            (b'{"cmd": "fly"}', "unknown command"),
            (b'{"cmd": "info"}', "'id'"), (b'{"cmd": "info", "id": 999}', "no reader"),
            (b'{"cmd": "info", "id": "x"}', "integer"),
            (b'{"cmd": "create", "mode": "tcp", "spedd": 1}', "does not take spedd"),
            (b'{"cmd": "create", "mode": "fax"}', "one of"),
            (b'{"cmd": "create", "mode": "tcp", "protocol": "morse"}', "unknown protocol"),
            (b'{"cmd": "create", "mode": "tcp", "protocol": "bus", "addresses": []}', "at least one"),
            (b'{"cmd": "create", "mode": "tcp", "protocol": "bus", "model": 2, "addresses": [1]}',
             "per address"),
            (b'{"cmd": "create", "mode": "tcp", "model": 10}', "outside"),
            (b'{"cmd": "present", "id": %d, "type": "M+1K", "key": "01020304"}' % r["id"],
             "no text key line"),
            (b'{"cmd": "present", "id": %d, "type": "EM", "key": "0102"}' % r["id"], "bytes"),
            (b'{"cmd": "present", "id": %d, "type": "EM", "key": "0G"}' % r["id"], "hex"),
            (b'{"cmd": "send", "id": %d, "text": "\\u0416"}' % r["id"], "above U+00FF"),
            (b'{"cmd": "wait_received", "id": %d, "regex": "("}' % r["id"], "bad regex"),
            (b'{"cmd": "plug", "id": %d}' % r["id"], "serial"),
        ]
        for line, text in cases:
            with self.subTest(line=line):
                reply = self.c.raw(line)
                self.assertFalse(reply["ok"])
                self.assertIn(text, reply["error"])
        self.assertEqual(self.c.ok("ping", seq=5)["seq"], 5)
        # A refused present left the reader as it was.
        self.assertIsNone(self.c.ok("info", id=r["id"])["unit"]["card"])

    def test_clients_do_not_block_each_other(self):
        r = self.create(mode="tcp")
        other = self.hub.client()
        self.addCleanup(other.close)
        other.f.write(json.dumps({"cmd": "wait_received", "id": r["id"], "text": "xyz",
                                  "timeout_ms": 3000}).encode() + b"\n")
        other.f.flush()
        time.sleep(0.05)
        start = time.monotonic()
        self.assertEqual(len(self.c.ok("list")["readers"]), 1)
        self.assertLess(time.monotonic() - start, 0.5)
        s = socket.create_connection(("127.0.0.1", r["tcp_port"]))
        self.addCleanup(s.close)
        s.sendall(b"..xyz")
        self.assertTrue(json.loads(other.f.readline())["matched"])


class ShutdownTest(unittest.TestCase):
    def test_sigterm_removes_links_and_port_file(self):
        hub = Hub()
        try:
            c = hub.client()
            c.ok("create", mode="serial", com=2)
            c.ok("create", mode="serial", com=3, protocol="bus", addresses=[1])
            self.assertTrue(os.path.islink(hub.dosdevice("com2")))
            self.assertTrue(os.path.exists(hub.port_file))
            c.close()
            self.assertEqual(hub.stop(), 0)
            self.assertEqual(os.listdir(os.path.join(hub.prefix, "dosdevices")), [])
            self.assertFalse(os.path.exists(hub.port_file))
        finally:
            if hub.proc.poll() is None:
                hub.proc.kill()
            hub.tmp.cleanup()


if __name__ == "__main__":
    unittest.main()
