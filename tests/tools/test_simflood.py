"""Tests of the simulator's flood: a converter that answers a request with
bytes without end, per connection, and a serial reader that floods at once,
both stopped on request while the hub stays responsive.

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

from test_readersim import HubTestBase, read_for  # noqa: E402


def drain(sock_or_fd, seconds):
    """How many bytes arrive within the time, and whether a line end was among them."""
    total, line_end = 0, False
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        chunk = read_for(sock_or_fd, min(0.05, end - time.monotonic()))
        total += len(chunk)
        line_end = line_end or b"\n" in chunk
    return total, line_end


class FloodTest(HubTestBase):
    def test_a_converter_answers_each_connection_with_a_flood(self):
        r, s = self.tcp(pace=False)
        self.c.ok("flood", id=r["id"], on="request", text="AB", chunk=4096)
        self.assertFalse(self.c.ok("flood", id=r["id"])["active"], "nothing before a request")
        s.sendall(b"i")
        got, line_end = drain(s, 0.5)
        self.assertGreater(got, 100000)
        self.assertFalse(line_end)
        # The control channel answers meanwhile, and the reader heard nothing.
        info = self.c.ok("flood", id=r["id"])
        self.assertTrue(info["active"])
        self.assertEqual(info["started"], 1)
        self.assertEqual(self.c.ok("info", id=r["id"])["requests"], 0)
        self.assertLess(self.c.ok("info", id=r["id"])["sent_bytes"], 1000, "flood bytes are not kept")

        # The flood ends with its connection; the next connection's request starts another.
        s.close()
        time.sleep(0.2)
        self.assertFalse(self.c.ok("flood", id=r["id"])["active"])
        s2 = socket.create_connection(("127.0.0.1", r["tcp_port"]))
        self.addCleanup(s2.close)
        s2.sendall(b"r\n")
        self.assertEqual(read_for(s2, 1, until=b"ABAB")[:4], b"ABAB")
        self.assertEqual(self.c.ok("flood", id=r["id"])["started"], 2)

        self.c.ok("flood", id=r["id"], on="off")
        drain(s2, 0.2)
        self.assertEqual(drain(s2, 0.3)[0], 0, "switched off, the flood stops")
        s2.sendall(b"r\n")
        self.assertEqual(read_for(s2, 1, until=b"\n"), b"No card\r\n", "the reader answers again")

    def test_a_serial_reader_floods_at_once_and_still_hears(self):
        r, fd = self.serial(60, pace=False)
        self.c.ok("flood", id=r["id"], on="now")
        got, line_end = drain(fd, 0.3)
        self.assertGreater(got, 10000)
        self.assertFalse(line_end)
        os.write(fd, b"i")
        time.sleep(0.2)
        self.assertEqual(self.c.ok("info", id=r["id"])["requests"], 1)
        self.c.ok("flood", id=r["id"], on="off")
        self.assertFalse(self.c.ok("flood", id=r["id"])["active"])

    def test_bad_flood_requests_are_refused(self):
        r, _ = self.tcp()
        for fields in ({"on": "sometimes"}, {"on": "now", "text": ""}, {"chunk": 5},
                       {"on": "now", "chunk": 0}):
            with self.subTest(fields=fields):
                self.assertFalse(self.c("flood", id=r["id"], **fields)["ok"])
        self.assertFalse(self.c.ok("flood", id=r["id"])["active"])


if __name__ == "__main__":
    unittest.main()
