"""Network converter discovery: a UDP responder on 127.0.0.1 that answers the
engine's request "SEEK QuorIP" as the converters of one network segment would,
each converter with one datagram naming its TCP ports.

A converter's reply is six blank-separated words: a name, a version, then four
words of an 8-character label and a value:

    QuorIP v2 TcpPort=<port> TcpPrt2=<port> IpAddr1=<address> IpAddr2=<address>

A port of 0 is not in use; an address of 0.0.0.0 means "the converter's own
address", so the engine connects to the sender of the reply at that port.

Rule: the responder binds to 127.0.0.1 and answers only the sender of a
request; it never sends anywhere else.
"""

import asyncio
import socket

from simargs import Args
from simvocab import SimError

REQUEST = b"SEEK QuorIP"
_CONVERTER_FIELDS = {"reader", "tcp_port", "tcp_port2", "address", "address2", "reply", "reply_hex"}


def seek_reply(tcp_port, tcp_port2=0, address="0.0.0.0", address2="0.0.0.0"):
    """The datagram a converter answers with."""
    return ("QuorIP v2 TcpPort=%d TcpPrt2=%d IpAddr1=%s IpAddr2=%s"
            % (tcp_port, tcp_port2, address, address2)).encode("latin-1")


def _address_word(a, name):
    value = a.str(name, "0.0.0.0")
    if not value or any(c.isspace() for c in value):
        raise SimError("field '%s' must be a non-empty word without blanks" % name)
    try:
        value.encode("ascii")
    except UnicodeEncodeError:
        raise SimError("field '%s' must be ASCII" % name)
    return value


def converter_reply(item, tcp_port_of):
    """The reply datagram of one converter entry of a `discovery` request.
    tcp_port_of(reader id) gives the listening port of a TCP reader of the hub."""
    a = Args(item)
    extra = set(item) - _CONVERTER_FIELDS
    if extra:
        raise SimError("a converter does not take %s" % ", ".join(sorted(extra)))
    if a.has("reply") or a.has("reply_hex"):
        if set(k for k in item if a.has(k)) - {"reply", "reply_hex"}:
            raise SimError("a converter with a reply takes no other field")
        return a.bytes("reply")
    if a.has("reader") == a.has("tcp_port"):
        raise SimError("a converter names exactly one of reader or tcp_port")
    port = tcp_port_of(a.int("reader")) if a.has("reader") else a.int("tcp_port", lo=0, hi=65535)
    return seek_reply(port, a.int("tcp_port2", 0, lo=0, hi=65535),
                      _address_word(a, "address"), _address_word(a, "address2"))


class DiscoveryResponder(asyncio.DatagramProtocol):
    """One UDP port on 127.0.0.1 with the converters that answer there."""

    def __init__(self, rid, replies, reply_delay):
        self.id = rid
        self.replies = list(replies)     # one datagram per converter, sent in this order
        self.reply_delay = reply_delay
        self.requests = 0                # datagrams equal to the request, each answered
        self.ignored = 0                 # other datagrams, not answered
        self.sent = 0                    # reply datagrams sent
        self.senders = []                # "address:port" of each request
        self.port = 0
        self._transport = None
        self._sock = None
        self._pending = set()

    async def open(self, port):
        loop = asyncio.get_running_loop()
        # The socket stays at hand: asyncio's transport drops an empty datagram, the socket sends it.
        sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            sock.bind(("127.0.0.1", port))
            sock.setblocking(False)
            await loop.create_datagram_endpoint(lambda: self, sock=sock)
        except OSError as exc:
            sock.close()
            raise SimError("cannot listen on UDP 127.0.0.1:%d: %s" % (port, exc))
        self._sock = sock
        return self

    def connection_made(self, transport):
        self._transport = transport
        self.port = transport.get_extra_info("sockname")[1]

    def datagram_received(self, data, addr):
        if data != REQUEST:
            self.ignored += 1
            return
        self.requests += 1
        self.senders.append("%s:%d" % (addr[0], addr[1]))
        handle = asyncio.get_running_loop().call_later(self.reply_delay, self._answer, addr)
        self._pending.add(handle)

    def error_received(self, exc):
        pass   # an ICMP error for an earlier reply; the requester has gone

    def _answer(self, addr):
        now = asyncio.get_running_loop().time()
        self._pending = set(h for h in self._pending if h.when() > now)
        if self._transport is None:
            return
        for datagram in self.replies:
            if datagram:
                self._transport.sendto(datagram, addr)
            else:
                try:
                    self._sock.sendto(datagram, addr)
                except OSError:
                    pass   # the requester has gone
            self.sent += 1

    def close(self):
        for handle in self._pending:
            handle.cancel()
        self._pending.clear()
        if self._transport is not None:
            self._transport.close()
            self._transport = None

    def info(self):
        return {"id": self.id, "udp_port": self.port, "requests": self.requests,
                "ignored": self.ignored, "replies_sent": self.sent, "senders": list(self.senders),
                "replies": [r.decode("latin-1") for r in self.replies],
                "reply_delay_ms": round(self.reply_delay * 1000)}
