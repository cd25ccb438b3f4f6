// The Telnet layer of the TCP port: the converter's way, command removal and 0xFF doubling.
#include "TelnetDecoder.h"

namespace {

const unsigned char IAC = 0xFF;
const unsigned char SB = 0xFA;
const unsigned char SE = 0xF0;      // also the lowest Telnet command
const unsigned char WILL = 0xFB;
const unsigned char DONT = 0xFE;

unsigned char At(const std::string& s, size_t i)
{
    return static_cast<unsigned char>(s[i]);
}

} // namespace

void CTelnetDecoder::Reset()
{
    m_raw.clear();
    m_way = ConverterWay::Unknown;
    m_shownBy.clear();
    m_byFrameCheck = false;
}

void CTelnetDecoder::Show(ConverterWay way, size_t at, size_t count)
{
    // Raw is final: no Telnet converter sends its sign. Telnet may still turn out raw.
    if (m_way == ConverterWay::Raw || m_way == way)
        return;
    m_way = way;
    m_shownBy.assign(m_raw, at, count);
    m_byFrameCheck = false;
}

bool CTelnetDecoder::TakeCheckedFrames(std::string& data)
{
    while (m_way == ConverterWay::Unknown && !m_raw.empty()) {
        const size_t end = m_raw.find(static_cast<char>(m_frameCheck->end));
        if (end == std::string::npos)
            return m_raw.size() > MaxHeldFrame;   // too long for a frame: decoded as it stands
        const size_t count = end + 1;
        if (m_raw.find(static_cast<char>(IAC)) >= count) {
            data.append(m_raw, 0, count);
            m_raw.erase(0, count);
            continue;
        }
        // The frame read the Telnet way, by a decoder of its own that knows nothing of frames.
        CTelnetDecoder telnet;
        std::string read;
        telnet.Feed(m_raw.data(), count, read);
        const int rawFit = m_frameCheck->fit(reinterpret_cast<const uint8_t*>(m_raw.data()), count);
        const int telnetFit = telnet.Held() != 0 ? 0
            : m_frameCheck->fit(reinterpret_cast<const uint8_t*>(read.data()), read.size());
        if (telnet.Way() == ConverterWay::Raw) {
            Show(ConverterWay::Raw, 0, 0);
            m_shownBy = telnet.ShownBy();
        } else if (rawFit != telnetFit) {
            Show(rawFit > telnetFit ? ConverterWay::Raw : ConverterWay::Telnet, 0, count);
            m_byFrameCheck = true;
        }
        if (m_way == ConverterWay::Raw)
            data.append(m_raw, 0, count);
        else
            data += read;
        m_raw.erase(0, count);
    }
    return true;
}

CTelnetDecoder::SubnegotiationEnd CTelnetDecoder::FindSubnegotiationEnd(size_t body, size_t& end) const
{
    const size_t size = m_raw.size();
    size_t at = body;
    while (at < size && at - body <= MaxSubnegotiation) {
        if (At(m_raw, at) != IAC) {
            ++at;
            continue;
        }
        if (at + 1 >= size)
            return SubnegotiationEnd::Pending;  // an IAC whose next byte is still on its way
        const unsigned char next = At(m_raw, at + 1);
        end = at;
        if (next == SE) {
            end = at + 2;
            return SubnegotiationEnd::Found;
        }
        if (next < SE)
            return SubnegotiationEnd::NotTelnet;
        at += 2;
    }
    return at - body > MaxSubnegotiation ? SubnegotiationEnd::TooLong : SubnegotiationEnd::Pending;
}

void CTelnetDecoder::Feed(const char* bytes, size_t length, std::string& data)
{
    m_raw.append(bytes, length);
    if (m_frameCheck && m_way == ConverterWay::Unknown && !TakeCheckedFrames(data))
        return;
    size_t i = 0;
    const size_t size = m_raw.size();
    while (i < size) {
        if (m_way == ConverterWay::Raw) {
            data.append(m_raw, i, std::string::npos);
            i = size;
            break;
        }
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
        const unsigned char command = At(m_raw, i + 1);
        if (command < SE) {
            Show(ConverterWay::Raw, i, 2);   // the loop passes both bytes on as data
        } else if (command == IAC) {
            Show(ConverterWay::Telnet, i, 2);
            data.push_back(static_cast<char>(IAC));
            i += 2;
        } else if (command == SB) {
            size_t end = 0;
            const SubnegotiationEnd found = FindSubnegotiationEnd(i + 2, end);
            if (found == SubnegotiationEnd::Pending)
                break;  // held until its end comes
            if (found == SubnegotiationEnd::NotTelnet) {
                Show(ConverterWay::Raw, end, 2);   // IAC SB and all after it are data
            } else if (found == SubnegotiationEnd::Found) {
                Show(ConverterWay::Telnet, i, 3);
                i = end;
            } else {
                i += 2;
            }
        } else if (command >= WILL && command <= DONT) {
            if (i + 2 >= size)
                break;  // the option byte is still on its way
            Show(ConverterWay::Telnet, i, 3);
            i += 3;
        } else {
            Show(ConverterWay::Telnet, i, 2);
            i += 2;
        }
    }
    m_raw.erase(0, i);
}

void CTelnetDecoder::Encode(const char* bytes, size_t length, std::string& out) const
{
    if (m_way != ConverterWay::Telnet) {
        out.append(bytes, length);
        return;
    }
    out.reserve(out.size() + length);
    for (size_t i = 0; i < length; ++i) {
        out.push_back(bytes[i]);
        if (static_cast<unsigned char>(bytes[i]) == IAC)
            out.push_back(static_cast<char>(IAC));
    }
}
