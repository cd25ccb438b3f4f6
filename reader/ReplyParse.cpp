// Parsers of reader and converter output. Every scan works on indexes bounded by the text's or
// frame's own size: readers on a noisy line send anything, and none of it may make us read past
// what arrived.
#include "ReplyParse.h"
#include "CodePage.h"
#include "Messages.h"
#include "Models.h"
#include "Numbers.h"
#include <cctype>
#include <cstring>
#include <cwchar>

namespace {

template <class C> bool IsBlank(C c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// scanf's notion of white space, for the build-date match.
bool IsSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

wchar_t LowerAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? (wchar_t)(c - L'A' + L'a') : c;
}

// Decimal digits from pos on (the value wraps modulo 2^32); false when there is none.
template <class S> bool ReadDecimal(const S& s, size_t& pos, uint32_t& value)
{
    value = 0;
    size_t start = pos;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9')
        value = value * 10 + (uint32_t)(s[pos++] - '0');
    return pos > start;
}

// Hexadecimal digits from pos on (the value wraps modulo 2^32); false when there is none.
bool ReadHex(const std::wstring& s, size_t& pos, uint32_t& value)
{
    value = 0;
    size_t start = pos;
    int d;
    while (pos < s.size() && (d = HexDigitValue(s[pos])) >= 0)
    {
        value = (value << 4) | (uint32_t)d;
        pos++;
    }
    return pos > start;
}

// scanf's %d: white space, an optional sign, at least one digit.
bool ScanInt(const std::wstring& s, size_t& pos, int& value)
{
    while (pos < s.size() && IsSpace(s[pos]))
        pos++;
    bool negative = false;
    if (pos < s.size() && (s[pos] == L'+' || s[pos] == L'-'))
        negative = s[pos++] == L'-';
    uint32_t v;
    if (!ReadDecimal(s, pos, v))
        return false;
    value = (int)(negative ? 0u - v : v);
    return true;
}

// The build date "%s %d %d %d:%d:%d" (month name, day, year, hours, minutes, seconds), matched as
// the scanf family would match it. The month is the whole word, however long: cut short, a month
// spelled out in full would leave its tail where the day is expected.
bool MatchBuildDate(const std::wstring& s, size_t pos, std::wstring& month, int& day, int& year)
{
    while (pos < s.size() && IsSpace(s[pos]))
        pos++;
    month.clear();
    while (pos < s.size() && !IsSpace(s[pos]))
        month += s[pos++];
    if (month.empty())
        return false;
    int hours, minutes, seconds;
    if (!ScanInt(s, pos, day) || !ScanInt(s, pos, year) || !ScanInt(s, pos, hours))
        return false;
    if (pos >= s.size() || s[pos++] != L':' || !ScanInt(s, pos, minutes))
        return false;
    if (pos >= s.size() || s[pos++] != L':' || !ScanInt(s, pos, seconds))
        return false;
    return true;
}

// 0-11 for an English month name, in full or cut after at least three letters ("Nov",
// "November", "Sept"); -1 for anything else, a piece of some month's name included.
int MonthIndex(std::wstring name)
{
    static const wchar_t* const months[12] = {
        L"january", L"february", L"march", L"april", L"may", L"june",
        L"july", L"august", L"september", L"october", L"november", L"december",
    };
    if (name.size() < 3)
        return -1;
    for (auto& c : name)
        c = LowerAscii(c);
    // The comparison stops at the end of the month's name, so a longer word never matches.
    for (int i = 0; i < 12; i++)
        if (wcsncmp(months[i], name.c_str(), name.size()) == 0)
            return i;
    return -1;
}

const uint32_t LINTRA_PLUS_CODE = 0x0802;
const uint32_t LINTRA_PLUS_OLD_CODE = 0xFFFF;
// The one early Lintra Plus firmware that reports no version line but is version 9.99.
const uint32_t LINTRA_PLUS_FIRMWARE_2010 = 0x6309;

} // namespace

BOOL ParseReaderInfo(const std::wstring& text, uint16_t& deviceCode, uint32_t& serialNumber,
                     uint32_t& version, uint32_t* moreNeeded)
{
    deviceCode = 0;
    serialNumber = 0;
    version = 0;
    if (moreNeeded)
        *moreNeeded = 1;

    // Only lines with some content count; an empty line ended by CR LF has just the CR.
    int lines = 0;
    size_t lineStart = 0;
    for (size_t i = 0; i < text.size(); i++)
    {
        if (text[i] == L'\n')
        {
            if (i - lineStart >= 2)
                lines++;
            lineStart = i + 1;
        }
    }
    if (lines < 5)
        return FALSE;
    if (moreNeeded)
        *moreNeeded = 0;

    size_t pos = text.find(L"S/N:");
    if (pos == std::wstring::npos)
        return FALSE;
    pos += 4;
    if (pos < text.size() && text[pos] == L' ')
        pos++;
    uint32_t serial;
    ReadDecimal(text, pos, serial);

    size_t open = text.find(L'[', pos);
    if (open == std::wstring::npos)
        return FALSE;
    size_t close = text.find(L']', open + 1);
    if (close == std::wstring::npos)
        return FALSE;
    size_t codePos = open + 1;
    uint32_t code;
    ReadHex(text, codePos, code);

    uint32_t packed = 0;
    size_t buildFrom = close + 1;
    const wchar_t versionLabel[] = L"Software version:";
    size_t at = text.find(versionLabel, close + 1);
    if (at != std::wstring::npos)
    {
        pos = at + wcslen(versionLabel);
        if (pos < text.size() && text[pos] == L' ')
            pos++;
        uint32_t first;
        ReadDecimal(text, pos, first);
        if (first >= 255)
            packed = (first << 8) | 0xFF;
        else
        {
            packed = first;
            for (int component = 1; component < 4; component++)
            {
                if (pos >= text.size() || text[pos] != L'.')
                    break;
                size_t next = pos + 1;
                uint32_t n;
                if (!ReadDecimal(text, next, n))
                    break;
                packed |= (n & 0xFF) << (8 * component);
                pos = next;
            }
        }
        buildFrom = pos;
    }

    deviceCode = (uint16_t)code;
    serialNumber = serial;
    version = packed;

    at = text.find(L"Build", buildFrom);
    if (at == std::wstring::npos)
        return TRUE;
    pos = at + 5;
    if (pos < text.size() && text[pos] == L' ')
        pos++;
    std::wstring month;
    int day, year;
    if (!MatchBuildDate(text, pos, month, day, year))
        return TRUE;
    if (version == 0 && (deviceCode == LINTRA_PLUS_CODE || deviceCode == LINTRA_PLUS_OLD_CODE))
        version = (MonthIndex(month) == 10 && day == 16 && year == 2010) ? LINTRA_PLUS_FIRMWARE_2010 : 1;
    return TRUE;
}

namespace {

enum CardName
{
    CARD_EM_MARINE,
    CARD_HID,
    CARD_MIFARE,
    CARD_ICODE,
    CARD_COD433_FIX,
    CARD_COD433,
    CARD_CAME433,
    CARD_DALLAS,
    CARD_NAME_COUNT
};

const wchar_t* const CardNames[CARD_NAME_COUNT] = {
    L"em-marine", L"hid", L"mifare", L"icode", L"cod433 fix", L"cod433", L"came433", L"dallas",
};

// Mifare subtype words after the number, in the order of MifareSubtypeTypes.
const wchar_t* const MifareSubtypes[] = {L"ul", L"1k", L"4k", L"df", L"px"};
const uint32_t MifareSubtypeTypes[] = {KEY_TYPE_MIFARE_UL, KEY_TYPE_MIFARE_1K, KEY_TYPE_MIFARE_4K,
                                       KEY_TYPE_DESFIRE, KEY_TYPE_PROX};
const int MIFARE_SUBTYPE_COUNT = sizeof(MifareSubtypes) / sizeof(MifareSubtypes[0]);

// Index in `names` of the text s[from, to) lower-cased, or -1.
int FindLowerName(const std::wstring& s, size_t from, size_t to, const wchar_t* const* names, int count)
{
    std::wstring word = s.substr(from, to - from);
    for (auto& c : word)
        c = LowerAscii(c);
    for (int i = 0; i < count; i++)
        if (word == names[i])
            return i;
    return -1;
}

// What follows the bracketed number of a key line.
struct KeyLineItems
{
    bool haveSak = false;
    uint16_t atqa = 0;
    uint8_t sak = 0;
    bool haveNumbers = false;
    uint32_t first = 0;
    uint32_t second = 0;
    bool haveSubtype = false;
    int subtype = -1; // index into MifareSubtypes; -1 for a word that names none
};

void ScanKeyLineItems(const std::wstring& s, size_t pos, KeyLineItems& items)
{
    bool parenSeen = false;
    while (pos < s.size())
    {
        if (IsBlank(s[pos]))
        {
            pos++;
            continue;
        }
        const wchar_t c = s[pos];
        if (c == L'(')
        {
            // "(ATQA?SAK)": the separator may be any one character, a blank too.
            if (!parenSeen)
            {
                parenSeen = true;
                size_t p = pos + 1;
                uint32_t atqa, sak;
                bool ok = ReadHex(s, p, atqa) && p < s.size();
                if (ok)
                {
                    p++; // the separator
                    ok = ReadHex(s, p, sak);
                }
                if (ok)
                {
                    items.haveSak = true;
                    items.atqa = (uint16_t)atqa;
                    items.sak = (uint8_t)sak;
                }
                pos = p;
            }
        }
        else
        {
            size_t end = pos;
            while (end < s.size() && !IsBlank(s[end]))
                end++;
            // "1k" and "4k" begin with a digit but are subtype words, not numbers.
            const int subtype = FindLowerName(s, pos, end, MifareSubtypes, MIFARE_SUBTYPE_COUNT);
            if (subtype >= 0 || c < L'0' || c > L'9')
            {
                items.haveSubtype = true;
                items.subtype = subtype;
                return;
            }
            if (!items.haveNumbers)
            {
                items.haveNumbers = true;
                ReadDecimal(s, pos, items.first);
                if (pos < s.size() && !IsBlank(s[pos]))
                {
                    pos++;
                    ReadDecimal(s, pos, items.second);
                }
            }
        }
        // The rest of an item (a closing bracket, a repeated kind) is passed over.
        while (pos < s.size() && !IsBlank(s[pos]))
            pos++;
    }
}

void PutU16(KeyData& key, size_t at, uint32_t value)
{
    key.Bytes[at] = (uint8_t)value;
    key.Bytes[at + 1] = (uint8_t)(value >> 8);
}

} // namespace

BOOL ParseKeyText(const std::wstring& line, uint32_t& keyType, KeyData& key, uint32_t model,
                  uint32_t version, BOOL noCorrection)
{
    keyType = KEY_TYPE_UNKNOWN;
    key.Clear();

    const size_t open = line.find(L'[');
    if (open == std::wstring::npos)
        return FALSE;
    const int card = FindLowerName(line, 0, open, CardNames, CARD_NAME_COUNT);
    if (card < 0)
        return FALSE;
    const size_t close = line.find(L']', open + 1);
    if (close == std::wstring::npos)
        return FALSE;

    // The bracketed number, least significant byte first. A lone leading digit goes into the next
    // byte without being counted; digits beyond 15 bytes are not kept.
    for (size_t i = open + 1; i < close; i++)
        if (HexDigitValue(line[i]) < 0)
            return FALSE;
    uint8_t buf[KEY_DATA_MAX] = {};
    size_t nibbles = 0;
    for (size_t i = close; i-- > open + 1 && nibbles / 2 < KEY_DATA_MAX; nibbles++)
    {
        const uint8_t d = (uint8_t)HexDigitValue(line[i]);
        buf[nibbles / 2] |= (nibbles & 1) ? (uint8_t)(d << 4) : d;
    }
    const size_t count = nibbles / 2;

    KeyLineItems items;
    ScanKeyLineItems(line, close + 1, items);

    uint32_t type = KEY_TYPE_UNKNOWN;
    switch (card)
    {
    case CARD_EM_MARINE:
        if (!items.haveNumbers)
            return FALSE;
        type = KEY_TYPE_EM_MARINE;
        PutU16(key, 0, items.second);
        key.Bytes[2] = (uint8_t)items.first;
        for (size_t i = 0; i < count && i < 2; i++)
            key.Bytes[3 + i] = buf[i];
        key.Length = 5;
        break;

    case CARD_HID:
        if (!items.haveNumbers)
            return FALSE;
        type = KEY_TYPE_HID;
        PutU16(key, 0, items.first);
        if (model == MODEL_KORA_USB && version == 106)
        {
            // This firmware prints the card number in place of the facility code: the number's
            // bytes, most significant first, from byte 0 on.
            for (size_t i = 0; i < count && i < 6; i++)
                key.Bytes[i] = buf[count - 1 - i];
        }
        else
        {
            for (size_t i = 0; i < count && i < 4; i++)
                key.Bytes[2 + i] = buf[i];
        }
        key.Length = 6;
        break;

    case CARD_MIFARE:
        if (items.haveSubtype)
            type = items.subtype >= 0 ? MifareSubtypeTypes[items.subtype] : KEY_TYPE_UNKNOWN;
        else if (items.haveSak)
            type = MifareTypeFromSak(items.sak, items.atqa);
        if (count == 0)
            type = KEY_TYPE_UNKNOWN; // no UID at all
        {
            // The reader prints a long UID with its first four bytes last; put them back in front.
            // Up to four pairs are taken in text order as they stand.
            const size_t rotate = count > 4 ? count - 4 : 0;
            size_t out = 0;
            for (size_t i = 4; i < 4 + rotate; i++)
                key.Bytes[out++] = buf[count - 1 - i];
            for (size_t i = 0; i < count && i < 4; i++)
                key.Bytes[out++] = buf[count - 1 - i];
            key.Length = (uint8_t)count;
        }
        break;

    case CARD_ICODE:
        if (!items.haveNumbers)
            return FALSE;
        type = KEY_TYPE_ICODE;
        PutU16(key, 0, items.second);
        key.Bytes[2] = (uint8_t)items.first;
        key.Length = 3;
        for (size_t i = 3; i < count && key.Length < KEY_DATA_MAX; i++)
            key.Bytes[key.Length++] = buf[i];
        break;

    case CARD_COD433_FIX:
    case CARD_COD433:
        type = card == CARD_COD433_FIX ? KEY_TYPE_COD433_FIX : KEY_TYPE_COD433;
        if (count == 4)
        {
            for (size_t i = 0; i < 4; i++)
                key.Bytes[i] = buf[3 - i];
        }
        else
        {
            PutU16(key, 0, items.second);
            if (model == MODEL_KORA_DUO && (version & 0xFF) == 201 && !noCorrection)
            {
                // Firmware 201 of the Kora Duo swaps nibbles between these two bytes.
                key.Bytes[2] = (uint8_t)((buf[0] & 0xF0) | (items.first & 0x0F));
                key.Bytes[3] = (uint8_t)(((items.first >> 4) & 0x0F) | ((buf[0] & 0x0F) << 4));
            }
            else
            {
                key.Bytes[2] = (uint8_t)items.first;
                key.Bytes[3] = buf[0];
            }
        }
        key.Length = 4;
        break;

    case CARD_CAME433:
        if (!items.haveNumbers)
            return FALSE;
        type = KEY_TYPE_CAME;
        PutU16(key, 0, items.second);
        key.Bytes[2] = (uint8_t)items.first;
        key.Length = 3;
        break;

    case CARD_DALLAS:
        type = KEY_TYPE_DALLAS;
        if (count < 3)
        {
            for (size_t i = 0; i < count; i++)
                key.Bytes[i] = buf[i];
            key.Length = (uint8_t)count;
        }
        else
        {
            // Family code and CRC are dropped: an 8-byte code gives its middle 6 bytes.
            for (size_t i = 1; i + 1 < count; i++)
                key.Bytes[i - 1] = buf[i];
            key.Length = (uint8_t)(count - 2);
        }
        break;
    }

    if (type == KEY_TYPE_UNKNOWN)
    {
        key.Clear();
        return FALSE;
    }
    keyType = type;
    return TRUE;
}

HRESULT CheckReplyFrame(const uint8_t* frame, int count, uint32_t& sequence, uint32_t& command,
                        std::string& payload)
{
    payload.clear();
    // The length byte must describe exactly the bytes given: a longer claim would take the payload
    // and checksum from beyond the frame.
    if (!frame || count < 6 || frame[0] != 0x02 || frame[2] != count)
        return PE_BAD_REPLY;
    sequence = frame[1];
    command = frame[3];
    if (command != 0x23) // the reply to "#" carries no valid sum
    {
        uint32_t sum = 0;
        for (int i = 0; i < count - 2; i++)
            sum += frame[i];
        const uint32_t stated = frame[count - 2] | (frame[count - 1] << 8);
        if ((sum & 0xFFFF) != stated)
            return PE_BAD_REPLY;
    }
    payload.assign((const char*)frame + 4, (size_t)count - 6);
    return S_OK;
}

BOOL TakeReplyFrame(std::string& rx, uint8_t sequence, uint8_t command, std::string& payload)
{
    payload.clear();
    // Every start byte may begin a frame. One whose frame fails the check was noise (a stray
    // 0x02, or a byte inside a frame broken on the line): the hunt goes on at the next byte, not
    // past the bytes it claimed, which may hold the real frame. One whose frame has not arrived
    // whole may still be one, unless a whole frame that checks follows inside what it claims.
    size_t at = 0;
    size_t waiting = std::string::npos;   // the first start byte whose frame may still come
    for (;;)
    {
        at = rx.find('\x02', at);
        if (at == std::string::npos)
            break;
        if (rx.size() - at < 3)
        {
            if (waiting == std::string::npos)
                waiting = at;
            break;
        }
        const size_t length = (uint8_t)rx[at + 2];
        if (length < 6)
        {
            ++at; // a start byte that begins no frame
            continue;
        }
        if (rx.size() - at < length)
        {
            if (waiting == std::string::npos)
                waiting = at;
            ++at;
            continue;
        }
        uint32_t frameSequence = 0, frameCommand = 0;
        std::string body;
        if (FAILED(CheckReplyFrame((const uint8_t*)rx.data() + at, (int)length, frameSequence, frameCommand,
                                   body)))
        {
            ++at;
            continue;
        }
        rx.erase(0, at + length);
        at = 0;
        waiting = std::string::npos;
        // A frame of an earlier request, or of another command under the same number (a key
        // event, a stray reply), would pass its answer off as this one's.
        if (frameSequence == sequence && frameCommand == command)
        {
            payload.swap(body);
            return TRUE;
        }
    }
    rx.erase(0, waiting == std::string::npos ? rx.size() : waiting);
    return FALSE;
}

namespace {

// Reads 1 to 8 hexadecimal digits at pos.
bool ReadHexNumber(const std::string& s, size_t& pos, uint32_t& value)
{
    size_t digits = 0;
    value = 0;
    while (pos < s.size() && isxdigit((unsigned char)s[pos]))
    {
        if (++digits > 8)
            return false;
        char c = s[pos++];
        value = value * 16 + (uint32_t)(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
    }
    return digits > 0;
}

void SkipBlanks(const std::string& s, size_t& pos)
{
    while (pos < s.size() && IsBlank(s[pos]))
        pos++;
}

// "PP: B0 B1 B2 B3": the page number and four byte values, each at most 0xFF.
bool ParsePageLine(const std::string& line, uint32_t& page, uint8_t bytes[4])
{
    size_t pos = 0;
    SkipBlanks(line, pos);
    if (!ReadHexNumber(line, pos, page) || pos >= line.size() || line[pos] != ':')
        return false;
    pos++;
    for (int i = 0; i < 4; i++)
    {
        SkipBlanks(line, pos);
        uint32_t value;
        if (!ReadHexNumber(line, pos, value) || value > 0xFF)
            return false;
        bytes[i] = (uint8_t)value;
    }
    return true;
}

} // namespace

BOOL ParsePageReply(const std::string& text, uint32_t page, uint8_t data[16])
{
    std::string lowered(text);
    for (char& c : lowered)
        c = (char)tolower((unsigned char)c);
    if (lowered.find("ok") == std::string::npos)
        return FALSE;
    size_t pos = 0;
    uint32_t expected = page & 0xFF;
    for (int i = 0; i < 4; i++)
    {
        if (pos >= text.size())
            return FALSE;
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        uint32_t number;
        uint8_t bytes[4];
        if (!ParsePageLine(line, number, bytes))
            return FALSE;
        // Four pages from the one asked; a card's last page is followed by page 0.
        if (number != expected && !(i > 0 && number == 0))
            return FALSE;
        expected = number + 1;
        memcpy(data + 4 * i, bytes, 4);
    }
    return TRUE;
}

BOOL IsPageWritten(const std::string& reply)
{
    size_t begin = 0, end = reply.size();
    while (begin < end && IsBlank(reply[begin]))
        begin++;
    while (end > begin && IsBlank(reply[end - 1]))
        end--;
    return end - begin == 2 && (reply[begin] | 0x20) == 'o' && (reply[begin + 1] | 0x20) == 'k';
}

BOOL ParseReplyAddress(const std::string& line, int32_t& address)
{
    size_t pos = 0;
    int64_t value = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9')
    {
        value = value * 10 + (line[pos++] - '0');
        if (value > 99999)
            return FALSE;
    }
    if (pos == 0 || (pos < line.size() && !IsBlank(line[pos])))
        return FALSE;
    address = (int32_t)value;
    return TRUE;
}

BOOL ParseSeekReply(const std::string& reply, uint32_t* firstPort, uint32_t* secondPort,
                    std::string* firstAddress, std::string* secondAddress)
{
    // Words: "<name> <name> <label>port1 <label>port2 <label>address1 <label>address2", each label
    // 8 characters. Datagrams may end in a line end or NUL padding, which separate words as well.
    auto isSeparator = [](char c) { return IsBlank(c) || c == '\0'; };
    std::string words[6];
    size_t wordCount = 0, pos = 0;
    while (wordCount < 6)
    {
        while (pos < reply.size() && isSeparator(reply[pos]))
            pos++;
        if (pos >= reply.size())
            break;
        size_t end = pos;
        while (end < reply.size() && !isSeparator(reply[end]))
            end++;
        words[wordCount++] = reply.substr(pos, end - pos);
        pos = end;
    }

    const size_t LABEL = 8;
    const size_t needed = secondAddress ? 6 : 5;
    if (wordCount < needed)
        return FALSE;
    for (size_t i = 2; i < needed; i++)
        if (words[i].size() < LABEL + 1)
            return FALSE;

    uint32_t port1, port2;
    size_t p = LABEL;
    ReadDecimal(words[2], p, port1);
    p = LABEL;
    ReadDecimal(words[3], p, port2);
    if (firstPort)
        *firstPort = port1;
    if (secondPort)
        *secondPort = port2;
    if (firstAddress)
        *firstAddress = words[4].substr(LABEL);
    if (secondAddress)
        *secondAddress = words[5].substr(LABEL);
    return TRUE;
}

namespace {

template <class C> void AppendEscaped(std::wstring& out, const C* text, size_t length)
{
    for (size_t i = 0; i < length; i++)
    {
        const wchar_t c = (wchar_t)text[i];
        if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else
            out += c;
    }
}

} // namespace

void EscapeForLog(std::wstring& out, const char* text, int length)
{
    out.clear();
    if (!text)
        return;
    const size_t n = length < 0 ? strlen(text) : (size_t)length;
    if (n == 0)
        return;
    // Reader text and our own narrow messages are in the ANSI code page; widened through it they
    // stay readable in the log (which is written back in that code page).
    std::wstring wide;
    if (AnsiToWide(wide, text, (int)n) > 0)
        AppendEscaped(out, wide.data(), wide.size());
    else
        AppendEscaped(out, (const unsigned char*)text, n);
}

void EscapeForLogW(std::wstring& out, const wchar_t* text, int length)
{
    out.clear();
    if (!text)
        return;
    AppendEscaped(out, text, length < 0 ? wcslen(text) : (size_t)length);
}

void BytesToHex(std::wstring& out, const uint8_t* bytes, size_t count)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    out.clear();
    if (!bytes || count == 0)
        return;
    out.reserve(count * 3);
    for (size_t i = 0; i < count; i++)
    {
        if (i)
            out += L' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
}
