"""Tests of the simulator's network converter kinds: a raw TCP server and the
Telnet converters (negotiating at connection, with RFC 2217, or only doubling
0xFF), each between a client and a binary-mode Mifare reader.

Run from the repository root:
    python3 -m unittest discover -s tests/tools -p 'test_*.py'
"""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from test_readersim import HubTestBase, read_for  # noqa: E402

import simframed  # noqa: E402  (on the path through test_readersim)
import simtelnet  # noqa: E402

NEGOTIATION = bytes.fromhex("FFFB03FFFD03FFFB01FFFE01FFFD00FFFB00")
SWITCH_TO_BINARY = (0x2F, b"\x01\x80")


class ConverterTest(HubTestBase):
    def converter(self, kind):
        r, s = self.tcp(protocol="binary", pace=False, converter=kind)
        return r, s

    def test_every_kind_passes_0xff_both_ways_its_own_way(self):
        for kind, greeting in (("raw", b""), ("telnet", NEGOTIATION),
                               ("rfc2217", NEGOTIATION + bytes.fromhex("FFFD2C")),
                               ("telnet_doubling", b"")):
            with self.subTest(kind):
                r, s = self.converter(kind)
                telnet = kind != "raw"
                self.assertEqual(read_for(s, 0.3), greeting, "what comes first on a connection")
                # The request numbered 0xFF, and its reply, hold 0xFF.
                request = simframed.binary_frame(0xFF, *SWITCH_TO_BINARY)
                s.sendall(simtelnet.escape(request) if telnet else request)
                expect = simframed.binary_frame(0xFF, 0x2F, b"\x55")
                wire = read_for(s, 1, until=expect[-2:])
                self.assertEqual(wire, simtelnet.escape(expect) if telnet else expect)
                info = self.c.ok("info", id=r["id"])
                self.assertEqual(info["mode"], "binary")
                self.assertEqual(info["converter"], kind)
                self.assertEqual((info["bad_frames"], info["telnet_bad"]), (0, 0))
                self.assertEqual([f["seq"] for f in self.c.ok("frames", id=r["id"])["frames"]], [0xFF])
                self.assertEqual(self.c.ok("received", id=r["id"])["hex"],
                                 (simtelnet.escape(request) if telnet else request).hex().upper())
                self.c.ok("destroy", id=r["id"])

    def test_a_lone_0xff_breaks_a_request_to_a_telnet_converter_only(self):
        request = simframed.binary_frame(0xFF, *SWITCH_TO_BINARY)
        for kind in ("raw", "telnet_doubling"):
            with self.subTest(kind):
                r, s = self.converter(kind)
                s.sendall(request)                  # 0xFF as it is
                got = read_for(s, 0.5)
                info = self.c.ok("info", id=r["id"])
                if kind == "raw":
                    self.assertEqual(got, simframed.binary_frame(0xFF, 0x2F, b"\x55"))
                    self.assertEqual(info["telnet_bad"], 0)
                else:
                    # FF 08 is taken for a broken command: the reader hears a frame cut short.
                    self.assertEqual(got, b"")
                    self.assertEqual(info["telnet_bad"], 1)
                    self.assertEqual(info["mode"], "text")
                self.c.ok("destroy", id=r["id"])

    def test_telnet_commands_from_the_client_are_taken_out_whole(self):
        r, s = self.converter("telnet")
        read_for(s, 0.2)
        request = simframed.binary_frame(1, *SWITCH_TO_BINARY)
        # Negotiation, a sub-negotiation holding IAC IAC, NOP, split anywhere.
        stream = (bytes.fromhex("FFFD03") + bytes.fromhex("FFFA2C01FFFF02FFF0") + b"\xff\xf1"
                  + request)
        for i in range(0, len(stream), 3):
            s.sendall(stream[i:i + 3])
        expect = simframed.binary_frame(1, 0x2F, b"\x55")
        self.assertEqual(read_for(s, 1, until=expect[-2:]), expect)
        info = self.c.ok("info", id=r["id"])
        self.assertEqual((info["telnet_commands"], info["telnet_bad"]), (3, 0))

    def test_kind_is_chosen_per_reader_and_refused_where_it_does_not_apply(self):
        r = self.create(mode="tcp")
        self.assertEqual(self.c.ok("info", id=r["id"])["converter"], "telnet_doubling")
        self.c.ok("set", id=r["id"], telnet_escape=False)
        self.assertEqual(self.c.ok("info", id=r["id"])["converter"], "raw")
        self.c.ok("set", id=r["id"], converter="rfc2217")
        self.assertTrue(self.c.ok("info", id=r["id"])["telnet_escape"])
        self.assertFalse(self.c("set", id=r["id"], converter="ssh")["ok"])
        self.assertFalse(self.c("set", id=r["id"], converter="raw", telnet_escape=True)["ok"])
        refused = self.c("create", mode="serial", com=7, converter="raw")
        self.assertFalse(refused["ok"])
        self.assertIn("converter", refused["error"])


if __name__ == "__main__":
    unittest.main()
