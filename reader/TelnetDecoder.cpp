// Telnet command removal for the TCP port.
#include "TelnetDecoder.h"

namespace {

const unsigned char IAC = 0xFF;
const unsigned char SB = 0xFA;
const unsigned char SE = 0xF0;
const unsigned char WILL = 0xFB;
const unsigned char DONT = 0xFE;

} // namespace

void CTelnetDecoder::Reset()
{
    m_raw.clear();
    m_inSubnegotiation = false;
}

bool CTelnetDecoder::SkipSubnegotiation(size_t& at) const
{
    // An escaped IAC IAC inside is part of it.
    const size_t size = m_raw.size();
    while (at < size) {
        if (static_cast<unsigned char>(m_raw[at]) != IAC) {
            ++at;
            continue;
        }
        if (at + 1 >= size)
            return false;  // an IAC whose next byte is still on its way
        const unsigned char next = static_cast<unsigned char>(m_raw[at + 1]);
        at += 2;
        if (next == SE)
            return true;
    }
    return false;
}

void CTelnetDecoder::Feed(const char* bytes, size_t length, std::string& data)
{
    m_raw.append(bytes, length);
    size_t i = 0;
    if (m_inSubnegotiation) {
        m_inSubnegotiation = !SkipSubnegotiation(i);
        if (m_inSubnegotiation) {
            m_raw.erase(0, i);
            return;
        }
    }
    const size_t size = m_raw.size();
    while (i < size) {
        size_t iac = m_raw.find(static_cast<char>(IAC), i);
        if (iac == std::string::npos) {
            data.append(m_raw, i, std::string::npos);
            i = size;
            break;
        }
        data.append(m_raw, i, iac - i);
        i = iac;
        if (i + 1 >= size)
            break;  // the command byte has not arrived yet
        const unsigned char command = static_cast<unsigned char>(m_raw[i + 1]);
        if (command == IAC) {
            data.push_back(static_cast<char>(IAC));
            i += 2;
        } else if (command == SB) {
            size_t j = i + 2;
            if (!SkipSubnegotiation(j)) {
                // Its end is still on its way. A short one is held whole; a long one is dropped
                // as it comes, so that a sub-negotiation that never ends holds nothing.
                if (j - i > MaxHeldSubnegotiation) {
                    m_inSubnegotiation = true;
                    i = j;
                }
                break;
            }
            i = j;
        } else if (command >= WILL && command <= DONT) {
            if (i + 2 >= size)
                break;  // the option byte is still on its way
            i += 3;
        } else {
            i += 2;
        }
    }
    m_raw.erase(0, i);
}
