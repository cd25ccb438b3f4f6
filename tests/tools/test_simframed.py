"""Tests of the simulator's framed readers: the Mifare readers' binary mode
(mode switch, card scan, Classic keys and blocks, Ultralight pages with lock
bits, signals, the speed change) and the Pelto's frames, spoken to directly
over TCP and over a pty.

Run from the repository root:
    python3 -m unittest discover -s tests/tools -p 'test_*.py'
"""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_readersim import HubTestBase, read_for, set_baud  # noqa: E402

import simcards  # noqa: E402  (on the path through test_readersim)
import simframed  # noqa: E402


def frame(seq, cmd, data=b""):
    return simframed.binary_frame(seq, cmd, data)


def reply(sock_or_fd, seconds=1.0):
    """One binary reply frame: (seq, cmd, status, answer)."""
    data = b""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        data += read_for(sock_or_fd, 0.05)
        if len(data) >= 3 and len(data) >= data[2]:
            break
    n = data[2]
    body = data[:n]
    assert sum(body[:n - 2]) & 0xFFFF == body[n - 2] | body[n - 1] << 8, body.hex()
    return body[1], body[3], body[4], body[5:n - 2]


class Binary:
    """A client speaking frames to one reader."""

    def __init__(self, sock):
        self.sock = sock
        self.seq = 0

    def __call__(self, cmd, data=b""):
        self.seq = (self.seq + 1) & 0xFF
        self.sock.sendall(frame(self.seq, cmd, data))
        seq, rcmd, status, answer = reply(self.sock)
        assert (seq, rcmd) == (self.seq, cmd), (seq, rcmd)
        return status, answer


def key6(key):
    return key.to_bytes(6, "little")


class BinaryTest(HubTestBase):
    def binary_reader(self, **kw):
        r, s = self.tcp(protocol="binary", pace=False, telnet_escape=False, **kw)
        b = Binary(s)
        self.assertEqual(b(0x2F, b"\x01\x80"), (0x55, b""))
        return r, s, b

    def test_mode_switch_text_and_back(self):
        r, s = self.tcp(protocol="binary", pace=False, telnet_escape=False)
        s.sendall(b"i")
        self.assertIn(b"Kora USB MF S/N:", read_for(s, 1, until=b"version"))
        b = Binary(s)
        # In text mode only the mode command is heard among frames.
        s.sendall(frame(1, 0x23, b"\x00\x0a\x00"))
        self.assertEqual(read_for(s, 0.2), b"")
        self.assertEqual(b(0x2F, b"\x01\x80"), (0x55, b""))
        self.assertEqual(self.c.ok("info", id=r["id"])["mode"], "binary")
        s.sendall(b"i")
        self.assertEqual(read_for(s, 0.2), b"", "binary mode answers no text")
        self.c.ok("present", id=r["id"], type="M1K", key="04A1B2C3")
        self.assertEqual(read_for(s, 0.2), b"", "binary mode prints no key line")
        self.assertEqual(b(0x2F, b"\x00\x80"), (0x55, b""))
        s.sendall(b"r")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"Mifare[04A1B2C3] 1k\r\n")
        heard = [f["hex"] for f in self.c.ok("frames", id=r["id"], clear=True)["frames"]]
        self.assertEqual(heard, ["23000A00", "2F0180", "2F0080"])
        self.assertEqual(self.c.ok("frames", id=r["id"])["frames"], [])
        # Switched off and on again, it starts in text mode.
        self.assertEqual(b(0x2F, b"\x01\x80"), (0x55, b""))
        self.c.ok("set", id=r["id"], powered=False)
        self.c.ok("set", id=r["id"], powered=True)
        self.assertEqual(self.c.ok("info", id=r["id"])["mode"], "text")

    def test_scan_selects_every_card_in_the_field(self):
        r, s, b = self.binary_reader(model=4)
        self.c.ok("present", id=r["id"], type="M1K", key="04A1B2C3")
        self.c.ok("present", id=r["id"], type="UL", key="04112233445566", add=True)
        self.c.ok("present", id=r["id"], type="M4K", key="0A0B0C0D", add=True, sak=0x18, atqa=2)
        self.c.ok("present", id=r["id"], type="EM", key="0102030405", add=True)  # not seen
        self.assertEqual(b(0x23, b"\x00\x0a\x00")[0], 0x55)
        seen = []
        while True:
            status, answer = b(0x45, b"\x00")
            if status == 9:
                break
            seen.append(answer.hex().upper())
            b(0x43)
        self.assertEqual(seen, ["04000804A1B2C3", "44000004112233445566", "0200180A0B0C0D"])
        # A Lintra Net says "no more" on the last next-card request.
        self.assertEqual(b(0x43)[0], 9)
        self.c.ok("remove", id=r["id"], key="04112233445566")
        b(0x23, b"\x00\x0a\x00")
        b(0x43)
        self.assertEqual(b(0x45, b"\x00")[1].hex().upper(), "0200180A0B0C0D")
        self.c.ok("remove", id=r["id"])
        b(0x23, b"\x00\x0a\x00")
        self.assertEqual(b(0x45, b"\x00"), (9, b""))

    def test_classic_keys_and_blocks(self):
        r, s, b = self.binary_reader(stored_keys=["A0A1A2A3A4A5", "112233445566"])
        key_a, key_b = 0x112233445566, 0xB0B1B2B3B4B5
        self.c.ok("present", id=r["id"], type="M1K", key="04A1B2C3",
                  key_a="%012X" % key_a, key_b="%012X" % key_b)
        self.assertEqual(b(0x51, b"\x04"), (6, b""), "no card selected")
        self.assertEqual(b(0x50, b"\x02\x04" + key6(key_a))[0], 5)
        b(0x23, b"\x00\x0a\x00")
        b(0x45, b"\x80")
        self.assertEqual(b(0x51, b"\x04")[0], 4, "not authenticated")
        self.assertEqual(b(0x50, b"\x02\x04" + key6(key_b))[0], 8, "key B is not key A")
        self.assertEqual(b(0x50, b"\x03\x04" + key6(key_b)), (0x55, b""))
        self.assertEqual(b(0x51, b"\x05"), (0x55, bytes((16 * 5 + j) & 0xFF for j in range(16))))
        self.assertEqual(b(0x51, b"\x08")[0], 4, "another sector")
        trailer = b(0x51, b"\x07")[1]
        self.assertEqual(trailer, bytes(6) + simcards.ACCESS_BITS + key6(key_b))
        # Keys stored in the reader: the answer names the one that fitted.
        self.assertEqual(b(0x50, b"\x00\x08\x03\x00\x00\x00\x00\x00"), (0x55, b"\x01"))
        self.assertEqual(b(0x50, b"\x00\x08\x01\x00\x00\x00\x00\x00")[0], 8)
        self.assertEqual(b(0x50, b"\x00\x00\x02\x00\x00\x00\x00\x00"), (0x55, b"\x01"))
        self.assertEqual(b(0x52, b"\x00" + bytes(16))[0], 4, "block 0 is read-only")
        self.assertEqual(b(0x52, b"\x01" + bytes(range(16))), (0x55, b""))
        self.assertEqual(b(0x51, b"\x01"), (0x55, bytes(range(16))))
        # A new trailer gives the sector new keys.
        self.assertEqual(b(0x52, b"\x03" + key6(1) + simcards.ACCESS_BITS + key6(2)), (0x55, b""))
        self.assertEqual(b(0x50, b"\x02\x00" + key6(key_a))[0], 8)
        self.assertEqual(b(0x50, b"\x03\x00" + key6(2))[0], 0x55)
        classic = self.c.ok("info", id=r["id"])["unit"]["card"]["classic"]
        self.assertEqual(classic["keys_a"][:2], ["000000000001", "%012X" % key_a])
        self.assertEqual(len(classic["blocks"]), 64 * 32)

    def test_ultralight_pages_and_lock_bits(self):
        r, s, b = self.binary_reader()
        self.c.ok("present", id=r["id"], type="UL", key="04112233445566")
        b(0x23, b"\x00\x0a\x00")
        b(0x45, b"\x80")
        self.assertEqual(b(0x51, b"\x04"), (0x55, bytes(range(16, 32))))
        self.assertEqual(b(0x53, b"\x05\xaa\xbb\xcc\xdd"), (0x55, b""))
        self.assertEqual(b(0x51, b"\x05")[1][:4], b"\xaa\xbb\xcc\xdd")
        self.assertEqual(b(0x53, b"\x01\x00\x00\x00\x00")[0], 4, "pages 0 and 1 are read-only")
        self.assertEqual(b(0x51, b"\x10")[0], 4, "beyond the card")
        # Lock bits only ever get set; a locked page refuses writes over text as well.
        self.assertEqual(b(0x53, b"\x02\xff\xff\x20\x01"), (0x55, b""))
        self.assertEqual(b(0x53, b"\x05\x00\x00\x00\x00")[0], 4)
        self.assertEqual(b(0x53, b"\x08\x00\x00\x00\x00")[0], 4)
        self.assertEqual(b(0x53, b"\x06\x01\x02\x03\x04")[0], 0x55)
        self.assertEqual(b(0x51, b"\x02")[1][:4][2:], b"\x20\x01")
        self.assertEqual(b(0x53, b"\x02\x00\x00\x00\x00")[0], 0x55)
        self.assertEqual(b(0x51, b"\x02")[1][2:4], b"\x20\x01", "lock bits are not cleared")
        self.assertEqual(b(0x2F, b"\x00\x80")[0], 0x55)
        s.sendall(b"put 05 00 00 00 00\r")
        self.assertEqual(read_for(s, 1, until=b"\n"), b"ERR: page lock\r\n")

    def test_signals_and_overrides(self):
        r, s, b = self.binary_reader()
        self.assertEqual(b(0x20, b"\x5e\x04"), (0x55, b"\x00"))
        self.c.ok("override", id=r["id"], match="frame:20 5E", status=0x55, answer_hex="C0", times=1)
        self.assertEqual(b(0x20, b"\x5e\x04"), (0x55, b"\xc0"))
        # A reply with another sequence number first, then the real one.
        self.c.ok("override", id=r["id"], match="frame:24", status=0x55, seq_delta=-1,
                  also_answer=True, times=1)
        b.seq += 1
        s.sendall(frame(b.seq, 0x24, b"\x00"))
        both = read_for(s, 0.3)
        first, second = both[:both[2]], both[both[2]:]
        self.assertEqual((first[1], second[1]), ((b.seq - 1) & 0xFF, b.seq))
        self.assertEqual(len(second), second[2])
        self.c.ok("override", id=r["id"], match="frame:45", reply_hex="020106", times=1)
        s.sendall(frame(9, 0x45, b"\x00"))
        self.assertEqual(read_for(s, 0.3), b"\x02\x01\x06")
        # A frame with a bad sum is not answered.
        bad = bytearray(frame(3, 0x24, b"\x00"))
        bad[-1] ^= 1
        s.sendall(bytes(bad))
        self.assertEqual(read_for(s, 0.2), b"")
        self.assertEqual(self.c.ok("info", id=r["id"])["bad_frames"], 1)

    def test_reply_naming_another_command(self):
        r, s, b = self.binary_reader()
        self.c.ok("override", id=r["id"], match="frame:52", status=0x55, reply_command=0x51, times=1)
        b.seq += 1
        s.sendall(frame(b.seq, 0x52, bytes(17)))
        got = read_for(s, 0.3)
        self.assertEqual((got[1], got[3], got[4]), (b.seq, 0x51, 0x55))
        for bad in ({"match": "frame:52", "reply_hex": "00", "reply_command": 0x51},
                    {"match": "r", "reply": "x", "reply_command": 0x51},
                    {"match": "frame:52", "status": 0x55, "delay_ms": 10}):
            self.assertFalse(self.c("override", id=r["id"], **bad)["ok"], bad)

    def test_speed_change_after_the_reply(self):
        r, fd = self.serial(41, protocol="binary", model=3, version="1.8", pace=False)
        os.write(fd, frame(1, 0x2F, b"\x01\x04"))
        self.assertEqual(reply(fd)[2], 0x55, "the reply comes at the old rate")
        time.sleep(0.1)
        self.assertEqual(self.c.ok("info", id=r["id"])["speed"], 115200)
        set_baud(fd, 115200)
        os.write(fd, frame(2, 0x2F, b"\x00\x00"))
        self.assertEqual(reply(fd)[:3], (2, 0x2F, 0x55))
        time.sleep(0.1)
        info = self.c.ok("info", id=r["id"])
        self.assertEqual((info["speed"], info["mode"]), (9600, "text"))

    def test_requests_outside_their_documented_data_are_refused(self):
        r, s, b = self.binary_reader()
        self.c.ok("present", id=r["id"], type="M1K", key="04A1B2C3")
        for cmd, data in [(0x23, b""), (0x23, b"\x00\x0a\x01"), (0x23, b"\x00\x0a\x00\x00"),
                          (0x45, b"\x01"), (0x45, b""), (0x43, b"\x00"), (0x24, b""),
                          (0x24, b"\x01"), (0x2F, b"\x02\x80"), (0x2F, b"\x01\x06"),
                          (0x20, b"\x8b"), (0x51, b"\x04\x00"), (0x53, b"\x04\x01\x02\x03"),
                          (0x50, b"\x04\x04" + bytes(6)), (0x50, b"\x00\x04\x03\x00\x00\x00\x01\x00"),
                          (0x50, b"\x02\x04" + bytes(5))]:
            with self.subTest(cmd=hex(cmd), data=data.hex()):
                self.assertEqual(b(cmd, data), (2, b""))
        # Refused requests change nothing: the scan has not begun, so nothing is selected.
        self.assertEqual(b(0x51, b"\x04"), (6, b""))
        self.assertEqual(b(0x23, b"\x00\x0a\x00"), (0x55, b""))
        self.assertEqual(b(0x45, b"\x80")[0], 0x55)
        self.assertEqual(b(0x43), (0x55, b""))
        self.assertEqual(b(0x24, b"\x00"), (0x55, b""))

    def test_refused_settings(self):
        for kw, text in [({"protocol": "binary", "model": 1}, "Mifare reader"),
                         ({"protocol": "pelto", "model": 3}, "model 9"),
                         ({"stored_keys": ["0102"]}, "6 bytes")]:
            with self.subTest(kw=kw):
                reply_ = self.c("create", mode="tcp", **kw)
                self.assertFalse(reply_["ok"])
                self.assertIn(text, reply_["error"])


def pelto_request(cmd, data=b""):
    return simframed.pelto_frame(cmd, data)


class PeltoTest(HubTestBase):
    def pelto_reply(self, s):
        raw = read_for(s, 1, until=b"\xc0")
        body = simframed.pelto_unescape(raw[:-1])
        # The reader sums the bytes as they travel, not the unescaped ones as a request does.
        self.assertEqual(sum(raw[:-1]) & 0xFF, 0, raw.hex())
        return raw, body[0], body[1], body[2:-1]

    def test_identification_keys_and_indication(self):
        r, s = self.tcp(protocol="pelto", pace=False)
        s.sendall(b"i")
        self.assertIn(b"Device code: [0821]", read_for(s, 1, until=b"version"))
        s.sendall(pelto_request(0x61, b"\x0b\x64\x03"))
        self.assertEqual(self.pelto_reply(s)[1:], (0x61, 0x01, b"\x00"))
        self.c.ok("present", id=r["id"], type="EM", key="C0DB112233")
        s.sendall(pelto_request(0x61, b"\x0b\x64\x03"))
        raw, cmd, status, answer = self.pelto_reply(s)
        self.assertEqual((cmd, status, answer), (0x61, 0x01, b"\x20\xc0\xdb\x11\x22\x33"))
        self.assertIn(b"\xdb\x01\xdb\xdd", raw, "0xC0 and 0xDB travel escaped")
        self.c.ok("present", id=r["id"], type="Temic", key="0102030405060708", add=True)
        s.sendall(pelto_request(0x61, b"\x0b\x64\x03"))
        self.assertEqual(self.pelto_reply(s)[2:],
                         (0xAA, b"\x30" + bytes(range(1, 9)) + b"\xc0\xdb\x11\x22\x33"))
        s.sendall(pelto_request(0x02, b"\x01\x00"))
        self.assertEqual(self.pelto_reply(s)[1:], (0x02, 0xAA, b""))
        self.assertEqual(pelto_request(0x02, b"\x01\x00"), bytes.fromhex("020100FDC0"))
        heard = [f["hex"] for f in self.c.ok("frames", id=r["id"])["frames"]]
        self.assertEqual(heard, ["610B6403"] * 3 + ["020100"])
        bad = self.c("present", id=r["id"], type="M1K", key="01020304")
        self.assertIn("Em-Marine and Temic", bad["error"])

    def test_requests_are_checked_and_replies_summed_as_they_travel(self):
        r, s = self.tcp(protocol="pelto", pace=False)
        self.c.ok("present", id=r["id"], type="EM", key="0102030405")
        # A key read with other data than documented is refused; one with a bad sum unanswered.
        for data in (b"", b"\x0b\x64", b"\x0b\x64\x04", b"\x0b\x64\x03\x00"):
            with self.subTest(data=data.hex()):
                s.sendall(pelto_request(0x61, data))
                self.assertEqual(self.pelto_reply(s)[1:], (0x61, 0x01, b""))
        s.sendall(bytes.fromhex("610B640300C0"))
        self.assertEqual(read_for(s, 0.3), b"")
        self.assertEqual(self.c.ok("info", id=r["id"])["bad_frames"], 1)
        s.sendall(pelto_request(0x61, b"\x0b\x64\x03"))
        raw = self.pelto_reply(s)[0]
        self.assertEqual(raw, bytes.fromhex("61012001020304056FC0"))
        # Escaped bytes count as they travel: DB DD adds B8 to the sum, where DB alone would add DB.
        self.c.ok("override", id=r["id"], match="frame:02", status=0xAA, answer_hex="DB")
        s.sendall(pelto_request(0x02, b"\x01\x00"))
        raw = self.pelto_reply(s)[0]
        self.assertEqual(raw, bytes.fromhex("02AADBDD9CC0"))
        # A check byte that needs escaping itself breaks the sum; the reader sends it all the same.
        self.c.ok("clear_overrides", id=r["id"])
        self.c.ok("override", id=r["id"], match="frame:02", status=0xAA, answer_hex="94")
        s.sendall(pelto_request(0x02, b"\x01\x00"))
        self.assertEqual(read_for(s, 1, until=b"\xc0"), bytes.fromhex("02AA94DB01C0"))


if __name__ == "__main__":
    unittest.main()
