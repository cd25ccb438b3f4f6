"""Tests of the simulator's converter discovery: the UDP responder answers the
request "SEEK QuorIP" with one datagram per converter, in the form the engine
parses, only to the requester and only on 127.0.0.1.

Run from the repository root:
    python3 -m unittest discover -s tests/tools -p 'test_*.py'
"""

import os
import socket
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

from test_readersim import SIM_DIR, HubTestBase  # noqa: E402

sys.path.insert(0, SIM_DIR)
import simdiscovery as D  # noqa: E402
from simvocab import SimError  # noqa: E402


def parse_seek_reply(datagram):
    """Ports and addresses of a reply, as the engine reads them: words 2-5 each
    carry an 8-character label before the value. None when refused."""
    words = datagram.replace(b"\0", b" ").split()
    if len(words) < 6 or any(len(w) < 9 for w in words[2:6]):
        return None
    return (int(words[2][8:]), int(words[3][8:]), words[4][8:].decode(), words[5][8:].decode())


def ask(port, request=D.REQUEST, wait=0.5, until=None):
    """Sends one datagram to the responder and collects the answers."""
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.bind(("127.0.0.1", 0))
        s.sendto(request, ("127.0.0.1", port))
        answers = []
        end = time.monotonic() + wait
        while time.monotonic() < end and (until is None or len(answers) < until):
            s.settimeout(max(0.01, end - time.monotonic()))
            try:
                data, sender = s.recvfrom(2048)
            except socket.timeout:
                break
            answers.append((data, sender))
        return answers, s.getsockname()
    finally:
        s.close()


class ReplyFormTest(unittest.TestCase):
    def test_replies_parse_as_the_engine_reads_them(self):
        cases = [
            ({"tcp_port": 5000}, (5000, 0, "0.0.0.0", "0.0.0.0")),
            ({"tcp_port": 4001, "tcp_port2": 4002, "address2": "10.0.0.7"},
             (4001, 4002, "0.0.0.0", "10.0.0.7")),
            ({"reader": 3}, (40123, 0, "0.0.0.0", "0.0.0.0")),
        ]
        for item, expected in cases:
            with self.subTest(item=item):
                reply = D.converter_reply(item, lambda rid: {3: 40123}[rid])
                self.assertEqual(parse_seek_reply(reply), expected)
        raw = D.converter_reply({"reply_hex": "00 FF"}, None)
        self.assertEqual(raw, b"\x00\xff")

    def test_bad_converters_are_refused(self):
        cases = [
            ({}, "exactly one"),
            ({"reader": 1, "tcp_port": 2}, "exactly one"),
            ({"tcp_port": 70000}, "outside"),
            ({"tcp_port": 1, "address": "1.2.3.4 x"}, "without blanks"),
            ({"tcp_port": 1, "address": ""}, "without blanks"),
            ({"reply": "x", "tcp_port": 1}, "no other field"),
            ({"tcp_port": 1, "colour": "red"}, "does not take colour"),
        ]
        for item, text in cases:
            with self.subTest(item=item):
                with self.assertRaises(SimError) as caught:
                    D.converter_reply(item, lambda rid: 1)
                self.assertIn(text, str(caught.exception))


class ResponderTest(HubTestBase):
    def responder(self, **kw):
        r = self.c.ok("discovery", **kw)
        self.addCleanup(self.c, "discovery_stop", id=r["id"])
        return r

    def test_each_converter_answers_the_requester(self):
        reader = self.c.ok("create", mode="tcp")
        self.addCleanup(self.c, "destroy", id=reader["id"])
        r = self.responder(converters=[{"reader": reader["id"]},
                                       {"tcp_port": 5000, "address": "10.0.0.7"}])
        answers, me = ask(r["udp_port"], until=2)
        self.assertEqual([parse_seek_reply(d) for d, _ in answers],
                         [(reader["tcp_port"], 0, "0.0.0.0", "0.0.0.0"),
                          (5000, 0, "10.0.0.7", "0.0.0.0")])
        self.assertTrue(all(sender == ("127.0.0.1", r["udp_port"]) for _, sender in answers))
        info = self.c.ok("discovery_info", id=r["id"])
        self.assertEqual((info["requests"], info["ignored"], info["replies_sent"]), (1, 0, 2))
        self.assertEqual(info["senders"], ["%s:%d" % me])

    def test_other_datagrams_get_no_answer(self):
        r = self.responder(converters=[{"tcp_port": 1234}])
        for request in (b"SEEK QuorIP\r\n", b"seek quorip", b"", b"SEEK"):
            with self.subTest(request=request):
                self.assertEqual(ask(r["udp_port"], request, wait=0.2)[0], [])
        info = self.c.ok("discovery_info", id=r["id"])
        self.assertEqual((info["requests"], info["ignored"], info["replies_sent"]), (0, 4, 0))

    def test_reply_delay_and_raw_replies(self):
        r = self.responder(converters=[{"reply": "junk"}, {"reply": ""}, {"tcp_port": 7}],
                           reply_delay_ms=300)
        start = time.monotonic()
        answers, _ = ask(r["udp_port"], wait=2.0, until=3)
        self.assertGreaterEqual(time.monotonic() - start, 0.25)
        self.assertEqual([d for d, _ in answers], [b"junk", b"", D.seek_reply(7)],
                         "an empty reply is sent as an empty datagram")

    def test_no_converters_and_stop(self):
        r = self.c.ok("discovery", converters=[])
        self.assertEqual(ask(r["udp_port"], wait=0.2)[0], [])
        self.assertEqual(self.c.ok("discovery_info", id=r["id"])["requests"], 1)
        self.c.ok("discovery_stop", id=r["id"])
        self.assertIn("no discovery responder", self.c("discovery_info", id=r["id"])["error"])
        # The port is free again.
        again = self.responder(converters=[], udp_port=r["udp_port"])
        self.assertEqual(again["udp_port"], r["udp_port"])

    def test_bad_requests_change_nothing(self):
        serial = self.c.ok("create", mode="serial", com=9)
        self.addCleanup(self.c, "destroy", id=serial["id"])
        taken = self.responder(converters=[])
        cases = [
            ({}, "'converters'"),
            ({"converters": [{"reader": 999}]}, "no reader 999"),
            ({"converters": [{"reader": serial["id"]}]}, "not a TCP reader"),
            ({"converters": [5]}, "must be an object"),
            ({"converters": [], "udp_port": taken["udp_port"]}, "cannot listen"),
            ({"converters": [], "colour": 1}, "does not take colour"),
        ]
        for fields, text in cases:
            with self.subTest(fields=fields):
                reply = self.c("discovery", **fields)
                self.assertFalse(reply["ok"])
                self.assertIn(text, reply["error"])
        self.assertIn("no discovery responder", self.c("discovery_stop", id=12345)["error"])


if __name__ == "__main__":
    unittest.main()
