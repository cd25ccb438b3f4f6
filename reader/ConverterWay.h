// How a port's line passes the byte 0xFF. A serial line passes every byte as it is. A network
// converter either does the same (a raw TCP server) or speaks Telnet (RFC 854), where 0xFF (IAC)
// starts a command and a data byte 0xFF travels doubled, both ways; which of the two a converter
// is, only its own bytes show (see TelnetDecoder.h).
#pragma once
#include <cstddef>
#include <cstdint>

enum class ConverterWay : uint8_t
{
    None,     // no converter: a serial line
    Unknown,  // a converter that has not shown yet whether it speaks Telnet
    Telnet,   // it speaks Telnet: 0xFF is doubled both ways and its commands are removed
    Raw,      // it passes every byte as it is
};

// A framed protocol whose frames end with `end` and carry a check of their own. While a converter
// has not shown its way, a frame holding 0xFF that fits only as it came (raw), or only with the
// Telnet doubling and commands taken out, shows the way. `fit` gets a whole frame, its end
// included, and says how well it fits: 0 it fails its check, 1 it checks, 2 it checks and has the
// form of a reply the protocol expects. The form matters: a Telnet negotiation whose bytes sum to
// 0 mod 256 (FF FD 04) leaves a frame's sum as it was when it is taken out.
struct ConverterFrameCheck
{
    uint8_t end;
    int (*fit)(const uint8_t* frame, size_t count);
};
