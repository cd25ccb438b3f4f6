// Removes the Telnet commands (RFC 854) that a network converter's byte stream may carry, leaving
// the reader's data. Bytes of a command that has not arrived whole are held until it has.
//
// Rule: what is held is bounded, and no data is held for long. A converter's sub-negotiations
// (IAC SB ... IAC SE) are a few bytes: one whose end has not come is held while it is short. When
// more than MaxSubnegotiation bytes follow IAC SB without IAC SE, they are no sub-negotiation (the
// two bytes come by chance in a raw reader's binary frames, or from a broken converter): only IAC
// SB is dropped and the bytes after it are decoded as data. The same holds however TCP splits the
// stream.
#pragma once
#include <cstddef>
#include <string>

class CTelnetDecoder
{
public:
    static const size_t MaxSubnegotiation = 16;

    // Decodes `length` more bytes and appends the data among them to `data`.
    void Feed(const char* bytes, size_t length, std::string& data);
    // Forgets everything held (a new connection, a purge).
    void Reset();
    // Bytes held for a command that has not arrived whole.
    size_t Held() const { return m_raw.size(); }

private:
    enum class SubnegotiationEnd { Found, Pending, TooLong };
    // Looks for the IAC SE of the sub-negotiation whose body starts at `body`; when found, `end`
    // is the position after it. An IAC IAC inside belongs to the body.
    SubnegotiationEnd FindSubnegotiationEnd(size_t body, size_t& end) const;

    std::string m_raw;              // received, not yet decoded
};
