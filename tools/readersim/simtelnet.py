"""What a network converter does to the bytes between its TCP client and its
serial line: the converter kinds a site may put between the engine and a reader.

- "raw": a raw TCP server; every byte passes as it is, both ways.
- "telnet": a Telnet converter (RFC 854) that negotiates its options as soon as
  a client connects and doubles 0xFF both ways.
- "rfc2217": the same, asking for the COM port option (RFC 2217) as well.
- "telnet_doubling": a Telnet converter that never negotiates, only doubles
  0xFF both ways.

A Telnet converter takes out of the client's bytes: IAC IAC as one 0xFF;
negotiations, sub-negotiations and other commands (counted); and IAC followed by
a byte that is no Telnet command, which it takes for a broken command and drops
with that byte (counted as bad, since a client that gets 0xFF right never sends
it). Its state carries over from one chunk of a connection to the next.
"""

IAC, SB, SE = 0xFF, 0xFA, 0xF0
WILL, DONT = 0xFB, 0xFE

KINDS = ("raw", "telnet", "rfc2217", "telnet_doubling")

# What the negotiating kinds send first on every connection: WILL SUPPRESS-GO-AHEAD,
# DO SUPPRESS-GO-AHEAD, WILL ECHO, DONT ECHO, DO BINARY, WILL BINARY; RFC 2217 adds
# DO COM-PORT-OPTION.
_NEGOTIATION = bytes.fromhex("FFFB03FFFD03FFFB01FFFE01FFFD00FFFB00")
_COM_PORT_OPTION = bytes.fromhex("FFFD2C")


def speaks_telnet(kind):
    return kind != "raw"


def greeting(kind):
    """The bytes the converter sends as soon as a client has connected."""
    if kind == "telnet":
        return _NEGOTIATION
    if kind == "rfc2217":
        return _NEGOTIATION + _COM_PORT_OPTION
    return b""


def escape(data):
    """Reader output as a Telnet converter sends it."""
    return data.replace(b"\xff", b"\xff\xff")


class TelnetInput:
    """The client's bytes as a Telnet converter passes them to the serial line."""

    def __init__(self):
        self.commands = 0       # Telnet commands taken out
        self.bad = 0            # IAC followed by a byte that is no Telnet command
        self._state = "data"    # data, iac, option, sb, sb_iac

    def reset(self):
        """A new connection."""
        self._state = "data"

    def feed(self, data):
        out = bytearray()
        for b in data:
            st = self._state
            if st == "data":
                if b == IAC:
                    self._state = "iac"
                else:
                    out.append(b)
            elif st == "iac":
                self._state = "data"
                if b == IAC:
                    out.append(IAC)
                elif b == SB:
                    self.commands += 1
                    self._state = "sb"
                elif WILL <= b <= DONT:
                    self.commands += 1
                    self._state = "option"
                elif b >= SE:
                    self.commands += 1
                else:
                    self.bad += 1
            elif st == "option":
                self._state = "data"
            elif st == "sb":
                if b == IAC:
                    self._state = "sb_iac"
            else:                       # sb_iac
                self._state = "data" if b == SE else "sb"
        return bytes(out)
