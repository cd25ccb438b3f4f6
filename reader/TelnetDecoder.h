// Removes the Telnet commands (RFC 854) that a network converter's byte stream may carry, leaving
// the reader's data. Bytes of a command that has not arrived whole are held until it has.
//
// Rule: what is held is bounded. A sub-negotiation (IAC SB ... IAC SE) is held while it is short;
// one that grows beyond MaxHeldSubnegotiation without its end is dropped as it comes, and the
// decoder skips on to its end without keeping anything of it.
#pragma once
#include <cstddef>
#include <string>

class CTelnetDecoder
{
public:
    static const size_t MaxHeldSubnegotiation = 1024;

    // Decodes `length` more bytes and appends the data among them to `data`.
    void Feed(const char* bytes, size_t length, std::string& data);
    // Forgets everything held (a new connection, a purge).
    void Reset();
    // Bytes held for a command that has not arrived whole.
    size_t Held() const { return m_raw.size(); }

private:
    // Skips a sub-negotiation's body from `at` through its IAC SE; false when its end has not
    // arrived, with `at` on the first byte not yet judged.
    bool SkipSubnegotiation(size_t& at) const;

    std::string m_raw;              // received, not yet decoded
    bool m_inSubnegotiation = false;  // skipping the body of a sub-negotiation too long to hold
};
