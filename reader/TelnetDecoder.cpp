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
}

CTelnetDecoder::SubnegotiationEnd CTelnetDecoder::FindSubnegotiationEnd(size_t body, size_t& end) const
{
    const size_t size = m_raw.size();
    size_t at = body;
    while (at < size && at - body <= MaxSubnegotiation) {
        if (static_cast<unsigned char>(m_raw[at]) != IAC) {
            ++at;
            continue;
        }
        if (at + 1 >= size)
            return SubnegotiationEnd::Pending;  // an IAC whose next byte is still on its way
        if (static_cast<unsigned char>(m_raw[at + 1]) == SE) {
            end = at + 2;
            return SubnegotiationEnd::Found;
        }
        at += 2;
    }
    return at - body > MaxSubnegotiation ? SubnegotiationEnd::TooLong : SubnegotiationEnd::Pending;
}

void CTelnetDecoder::Feed(const char* bytes, size_t length, std::string& data)
{
    m_raw.append(bytes, length);
    size_t i = 0;
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
            size_t end = 0;
            const SubnegotiationEnd found = FindSubnegotiationEnd(i + 2, end);
            if (found == SubnegotiationEnd::Pending)
                break;  // held until its end comes
            i = found == SubnegotiationEnd::Found ? end : i + 2;
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
