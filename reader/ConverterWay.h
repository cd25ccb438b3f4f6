// How a port's line passes the byte 0xFF. A serial line passes every byte as it is. A network
// converter either does the same (a raw TCP server) or speaks Telnet (RFC 854), where 0xFF (IAC)
// starts a command and a data byte 0xFF travels doubled, both ways; which of the two a converter
// is, only its own bytes show (see TelnetDecoder.h).
#pragma once
#include <cstdint>

enum class ConverterWay : uint8_t
{
    None,     // no converter: a serial line
    Unknown,  // a converter that has not shown yet whether it speaks Telnet
    Telnet,   // it speaks Telnet: 0xFF is doubled both ways and its commands are removed
    Raw,      // it passes every byte as it is
};
