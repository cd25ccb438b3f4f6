// Parsers of reader output: identification text, key lines, binary reply frames, converter
// discovery replies, and the log texts of traffic. Ends with a fuzz pass over malformed input.
#include "CodePage.h"
#include "Messages.h"
#include "Models.h"
#include "ReplyParse.h"
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> KeyBytes(const KeyData& k)
{
    return std::vector<uint8_t>(k.Bytes, k.Bytes + k.ByteCount());
}

// An identification reply as a Kora USB MF sends it, without its last line.
const wchar_t INFO_HEAD[] = L"Kora USB MF proximity reader\r\n"
                            L"(c) Corvane\r\n"
                            L"\r\n"
                            L"S/N: 123456 [0811]\r\n"
                            L"Software version: 1.8\r\n";

std::wstring Info(const std::wstring& code, const std::wstring& versionLine, const std::wstring& buildLine)
{
    std::wstring t = L"Kora reader\r\nline two\r\nline three\r\nS/N: 4242 [" + code + L"]\r\n";
    if (!versionLine.empty())
        t += versionLine + L"\r\n";
    t += L"another line\r\n";
    if (!buildLine.empty())
        t += buildLine + L"\r\n";
    return t;
}

std::vector<uint8_t> Frame(uint8_t seq, uint8_t cmd, std::vector<uint8_t> payload)
{
    std::vector<uint8_t> f = {0x02, seq, (uint8_t)(payload.size() + 6), cmd};
    for (uint8_t b : payload)
        f.push_back(b);
    uint32_t sum = 0;
    for (uint8_t b : f)
        sum += b;
    f.push_back((uint8_t)sum);
    f.push_back((uint8_t)(sum >> 8));
    return f;
}

} // namespace

TEST(ReplyParse, ReaderInfoNeedsFiveLines)
{
    uint16_t code = 1;
    uint32_t serial = 1, version = 1, more = 7;
    // Four counted lines: the empty CR LF line does not count.
    EXPECT_FALSE(ParseReaderInfo(INFO_HEAD, code, serial, version, &more));
    EXPECT_EQ(1u, more);

    std::wstring full = std::wstring(INFO_HEAD) + L"Build Jan 05 2012 10:11:12\r\n";
    EXPECT_TRUE(ParseReaderInfo(full, code, serial, version, &more));
    EXPECT_EQ(0u, more);
    EXPECT_EQ(0x0811, code);
    EXPECT_EQ(123456u, serial);
    EXPECT_EQ(0x0801u, version);
    EXPECT_EQ(MODEL_KORA_USB_MF, ModelFromCode(code));

    // The fifth line without its line feed is not a line yet; no line feed at all is nothing.
    EXPECT_FALSE(ParseReaderInfo(std::wstring(INFO_HEAD) + L"Build Jan 05", code, serial, version, &more));
    EXPECT_EQ(1u, more);
    EXPECT_FALSE(ParseReaderInfo(L"S/N: 1 [0811] Software version: 1.8", code, serial, version, &more));
    EXPECT_EQ(1u, more);
    EXPECT_FALSE(ParseReaderInfo(L"", code, serial, version));
    // Lines of one character before the line feed do not count either.
    EXPECT_FALSE(ParseReaderInfo(L"a\nb\nc\nd\ne\nS/N: 1 [0811]\n", code, serial, version, &more));
    EXPECT_EQ(1u, more);
    EXPECT_TRUE(ParseReaderInfo(L"ab\nbc\ncd\nde\nS/N: 1 [0811]\n", code, serial, version));
}

TEST(ReplyParse, ReaderInfoRefusals)
{
    struct Case
    {
        const wchar_t* text;
    } cases[] = {
        {L"a1\na2\na3\na4\nno serial [0811]\n"},
        {L"a1\na2\na3\na4\nS/N: 55 0811\n"},          // no bracket after the serial
        {L"a1\na2\n[0811]\na4\nS/N: 55\n"},           // bracket only before it
        {L"a1\na2\na3\na4\nS/N: 55 [0811\n"},         // no closing bracket
    };
    for (const auto& c : cases)
    {
        uint16_t code;
        uint32_t serial, version, more = 7;
        EXPECT_FALSE(ParseReaderInfo(c.text, code, serial, version, &more)) << c.text;
        EXPECT_EQ(0u, more) << "complete but not an identification: " << c.text;
    }
}

TEST(ReplyParse, ReaderInfoVersionAndBuildDate)
{
    struct Case
    {
        std::wstring text;
        uint16_t code;
        uint32_t version;
    } cases[] = {
        {Info(L"0811", L"Software version: 3.10", L""), 0x0811, 0x0A03},
        {Info(L"0811", L"Software version:3.10", L""), 0x0811, 0x0A03},
        {Info(L"0903", L"Software version: 1.2.3.4.5", L""), 0x0903, 0x04030201},
        {Info(L"0903", L"Software version: 2.", L""), 0x0903, 2},
        {Info(L"0301", L"Software version: 106", L""), 0x0301, 106},
        {Info(L"0302", L"Software version: 409.2", L""), 0x0302, 0x199FF},
        {Info(L"0302", L"Software version: 2.300", L""), 0x0302, 0x2C02},
        {Info(L"0302", L"Software version: abc", L""), 0x0302, 0},
        // Lintra Plus without a version line: its build date decides.
        {Info(L"0802", L"", L"Build Nov 16 2010 12:00:00"), 0x0802, 0x6309},
        {Info(L"FFFF", L"", L"Build nov 16 2010 01:02:03"), 0xFFFF, 0x6309},
        {Info(L"0802", L"", L"Build NOV  16  2010 1:2:3"), 0x0802, 0x6309},
        {Info(L"0802", L"", L"Build Nov 17 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build Dec 16 2010 12:00:00"), 0x0802, 1},
        // A month is its name in full or cut after three letters or more; a fragment of the
        // month table or a longer word is no month at all.
        {Info(L"0802", L"", L"Build November 16 2010 12:00:00"), 0x0802, 0x6309},
        {Info(L"0802", L"", L"Build Novem 16 2010 12:00:00"), 0x0802, 0x6309},
        {Info(L"0802", L"", L"Build ov 16 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build vdec 16 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build Novx 16 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build Novembers 16 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build No 16 2010 12:00:00"), 0x0802, 1},
        {Info(L"0802", L"", L"Build Nov 16 2010"), 0x0802, 0},               // no time: no date
        {Info(L"0802", L"", L"Build Nov 16 2010 12-00-00"), 0x0802, 0},
        {Info(L"0802", L"", L"Build September 16 2010 12:00:00"), 0x0802, 1}, // a date, not the one
        {Info(L"0802", L"", L""), 0x0802, 0},
        {Info(L"0802", L"Software version: 4.1", L"Build Nov 16 2010 12:00:00"), 0x0802, 0x0104},
        // Other models keep version 0 whatever the date.
        {Info(L"0811", L"", L"Build Nov 16 2010 12:00:00"), 0x0811, 0},
        // The device code is the hexadecimal number after the bracket, cut to 16 bits.
        {Info(L"0f11", L"", L""), 0x0F11, 0},
        {Info(L"10821", L"", L""), 0x0821, 0},
    };
    for (const auto& c : cases)
    {
        uint16_t code;
        uint32_t serial, version;
        ASSERT_TRUE(ParseReaderInfo(c.text, code, serial, version)) << c.text;
        EXPECT_EQ(c.code, code) << c.text;
        EXPECT_EQ(4242u, serial) << c.text;
        EXPECT_EQ(c.version, version) << c.text;
    }
}

TEST(ReplyParse, KeyLines)
{
    const uint32_t Any = MODEL_KORA_USB_MF;
    struct Case
    {
        const wchar_t* line;
        uint32_t model, version;
        BOOL noCorrection;
        BOOL ok;
        uint32_t type;
        std::vector<uint8_t> bytes;
    } cases[] = {
        // Em-Marine: second number, first number, then the bracketed bytes.
        {L"Em-Marine[0102] 123,45678", Any, 0, FALSE, TRUE, 1, {0x6E, 0xB2, 0x7B, 0x02, 0x01}},
        {L"EM-MARINE[0102] 123,45678", Any, 0, FALSE, TRUE, 1, {0x6E, 0xB2, 0x7B, 0x02, 0x01}},
        {L"Em-Marine[02] 1,2", Any, 0, FALSE, TRUE, 1, {0x02, 0x00, 0x01, 0x02, 0x00}},
        {L"Em-Marine[0102] 1,2 3,4", Any, 0, FALSE, TRUE, 1, {0x02, 0x00, 0x01, 0x02, 0x01}},
        {L"Em-Marine[0102]", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine[0102] ,1", Any, 0, FALSE, FALSE, 0, {}},
        // HID: first number, then up to four bytes; Kora USB firmware 106 writes the number's
        // bytes most significant first over it.
        {L"HID[11223344] 12345", Any, 0, FALSE, TRUE, 2, {0x39, 0x30, 0x44, 0x33, 0x22, 0x11, }},
        {L"HID[AA11223344] 12345,7", Any, 0, FALSE, TRUE, 2, {0x39, 0x30, 0x44, 0x33, 0x22, 0x11}},
        {L"HID[112233445566] 1", MODEL_KORA_USB, 106, FALSE, TRUE, 2, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66}},
        {L"HID[1122] 12345", MODEL_KORA_USB, 106, FALSE, TRUE, 2, {0x11, 0x22, 0, 0, 0, 0}},
        {L"HID[11] 258", MODEL_KORA_USB, 106, FALSE, TRUE, 2, {0x11, 0x01, 0, 0, 0, 0}},
        {L"HID[1122] 12345", MODEL_KORA_USB, 107, FALSE, TRUE, 2, {0x39, 0x30, 0x22, 0x11, 0, 0}},
        {L"HID[1122] 12345", MODEL_KORA_DUO, 106, FALSE, TRUE, 2, {0x39, 0x30, 0x22, 0x11, 0, 0}},
        {L"HID[1122]", Any, 0, FALSE, FALSE, 0, {}},
        // Mifare: subtype word, else SAK/ATQA, else no key.
        {L"Mifare[04A1B2C3]", Any, 0, FALSE, FALSE, 0, {}},
        {L"Mifare[04A1B2C3] 1k", Any, 0, FALSE, TRUE, 5, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] UL", Any, 0, FALSE, TRUE, 4, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] 4k", Any, 0, FALSE, TRUE, 6, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] df", Any, 0, FALSE, TRUE, 7, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] Px", Any, 0, FALSE, TRUE, 8, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04112233445566] ul", Any, 0, FALSE, TRUE, 4, {0x44, 0x55, 0x66, 0x04, 0x11, 0x22, 0x33}},
        {L"Mifare[0011223344] 1k", Any, 0, FALSE, TRUE, 5, {0x44, 0x00, 0x11, 0x22, 0x33}},
        {L"Mifare[104A1B2C3] 1k", Any, 0, FALSE, TRUE, 5, {0x04, 0xA1, 0xB2, 0xC3}}, // lone digit
        {L"Mifare[04A1B2C3] (0004:08)", Any, 0, FALSE, TRUE, 5, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] (0044,20)", Any, 0, FALSE, TRUE, 15, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] (0344 20)", Any, 0, FALSE, TRUE, 7, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] (0004:18) 1k", Any, 0, FALSE, TRUE, 5, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] 12,34 (0004:18)", Any, 0, FALSE, TRUE, 6, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] 12,34 4K", Any, 0, FALSE, TRUE, 6, {0x04, 0xA1, 0xB2, 0xC3}},
        {L"Mifare[04A1B2C3] 1kb", Any, 0, FALSE, FALSE, 0, {}}, // a number with a suffix, no subtype
        {L"Mifare[04A1B2C3] (0004:02)", Any, 0, FALSE, FALSE, 0, {}},
        {L"Mifare[04A1B2C3] zz (0004:08)", Any, 0, FALSE, FALSE, 0, {}}, // unknown word ends the scan
        {L"Mifare[04A1B2C3] (0004", Any, 0, FALSE, FALSE, 0, {}},
        // Fewer than four pairs: text order as it stands; no pair at all is no key.
        {L"Mifare[A1B2C3] 1k", Any, 0, FALSE, TRUE, 5, {0xA1, 0xB2, 0xC3}},
        {L"Mifare[A1] (0000:08)", Any, 0, FALSE, TRUE, 5, {0xA1}},
        {L"Mifare[A] 1k", Any, 0, FALSE, FALSE, 0, {}},
        {L"Mifare[] 1k", Any, 0, FALSE, FALSE, 0, {}},
        // iCode: second, first, then buffer bytes from 3 on.
        {L"iCode[E004010012345678] 1,2", Any, 0, FALSE, TRUE, 3, {0x02, 0x00, 0x01, 0x12, 0x00, 0x01, 0x04, 0xE0}},
        {L"icode[12] 1,2", Any, 0, FALSE, TRUE, 3, {0x02, 0x00, 0x01}},
        {L"icode[12]", Any, 0, FALSE, FALSE, 0, {}},
        // 433 MHz fobs.
        {L"Cod433[11223344]", Any, 0, FALSE, TRUE, 10, {0x11, 0x22, 0x33, 0x44}},
        {L"COD433 FIX[11223344] 5,6", Any, 0, FALSE, TRUE, 9, {0x11, 0x22, 0x33, 0x44}},
        {L"Cod433[AB] 18,4660", Any, 0, FALSE, TRUE, 10, {0x34, 0x12, 0x12, 0xAB}},
        {L"Cod433[AB]", Any, 0, FALSE, TRUE, 10, {0x00, 0x00, 0x00, 0xAB}},
        {L"Cod433[AB] 18,4660", MODEL_KORA_DUO, 201, FALSE, TRUE, 10, {0x34, 0x12, 0xA2, 0xB1}},
        {L"Cod433 fix[AB] 18,4660", MODEL_KORA_DUO, 0x0100C9, FALSE, TRUE, 9, {0x34, 0x12, 0xA2, 0xB1}},
        {L"Cod433[AB] 18,4660", MODEL_KORA_DUO, 201, TRUE, TRUE, 10, {0x34, 0x12, 0x12, 0xAB}},
        {L"Cod433[AB] 18,4660", MODEL_KORA_DUO, 200, FALSE, TRUE, 10, {0x34, 0x12, 0x12, 0xAB}},
        {L"Cod433[AB] 18,4660", MODEL_KORA_USB, 201, FALSE, TRUE, 10, {0x34, 0x12, 0x12, 0xAB}},
        {L"Cod433[11223344] 18,4660", MODEL_KORA_DUO, 201, FALSE, TRUE, 10, {0x11, 0x22, 0x33, 0x44}},
        // CAME.
        {L"Came433[00] 7,300", Any, 0, FALSE, TRUE, 12, {0x2C, 0x01, 0x07}},
        {L"Came433[00]", Any, 0, FALSE, FALSE, 0, {}},
        // Dallas: family code and CRC dropped.
        {L"DALLAS[A2F0DEBC0A000001] 000,00000", Any, 0, FALSE, TRUE, 11, {0x00, 0x00, 0x0A, 0xBC, 0xDE, 0xF0}},
        {L"Dallas[123456]", Any, 0, FALSE, TRUE, 11, {0x34}},
        {L"Dallas[1234]", Any, 0, FALSE, TRUE, 11, {0x34, 0x12}},
        {L"Dallas[]", Any, 0, FALSE, TRUE, 11, {}},
        // Refusals.
        {L"Unknown[0102] 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L" Em-Marine[0102] 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine[0102 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine 0102] 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine]0102[ 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine[01G2] 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"Em-Marine[01 02] 1,2", Any, 0, FALSE, FALSE, 0, {}},
        {L"No card", Any, 0, FALSE, FALSE, 0, {}},
        {L"", Any, 0, FALSE, FALSE, 0, {}},
    };
    for (const auto& c : cases)
    {
        uint32_t type = 77;
        KeyData key;
        key.Assign((const uint8_t*)"garbage", 7);
        EXPECT_EQ(c.ok, ParseKeyText(c.line, type, key, c.model, c.version, c.noCorrection)) << c.line;
        EXPECT_EQ(c.type, type) << c.line;
        EXPECT_EQ(c.bytes, KeyBytes(key)) << c.line;
    }
}

TEST(ReplyParse, KeyLineLongNumbersStopAtFifteenBytes)
{
    uint32_t type;
    KeyData key;
    // 17 digit pairs: the two most significant bytes do not fit.
    std::wstring line = L"Dallas[FFEE0102030405060708090A0B0C0D0E0F]";
    ASSERT_TRUE(ParseKeyText(line, type, key, 0, 0, FALSE));
    EXPECT_EQ(13, key.Length);
    EXPECT_EQ(0x0E, key.Bytes[0]);
    EXPECT_EQ(0x02, key.Bytes[12]);

    line = L"iCode[FFEE0102030405060708090A0B0C0D0E0F] 1,2";
    ASSERT_TRUE(ParseKeyText(line, type, key, 0, 0, FALSE));
    EXPECT_EQ(15, key.Length);
    EXPECT_EQ(0x0C, key.Bytes[3]);
    EXPECT_EQ(0x01, key.Bytes[14]);

    line = L"Mifare[0102030405060708090A0B0C0D0E0F10] 4k";
    ASSERT_TRUE(ParseKeyText(line, type, key, 0, 0, FALSE));
    EXPECT_EQ(15, key.Length);
    // Text pairs T0..T14 are 02..10 (01 does not fit); T4..T14 come first, then T0..T3.
    EXPECT_EQ(0x06, key.Bytes[0]);
    EXPECT_EQ(0x10, key.Bytes[10]);
    EXPECT_EQ(0x02, key.Bytes[11]);
    EXPECT_EQ(0x05, key.Bytes[14]);

    // A card name longer than any known one is refused.
    EXPECT_FALSE(ParseKeyText(L"em-marine-extended-name[01] 1,2", type, key, 0, 0, FALSE));
}

TEST(ReplyParse, KeyLineRoundTripsThroughKeyText)
{
    struct Case
    {
        const wchar_t* line;
        const wchar_t* text;
    } cases[] = {
        {L"Em-Marine[0102] 123,45678", L"[0102] 123,45678"},
        {L"Em-Marine[00FF] 255,00001", L"[00FF] 255,00001"},
        {L"HID[00A1B2C3] 4660", L"[00A1B2C3] 4660"},
        {L"Mifare[04A1B2C3D4E5F6] 1k", L"C3B2A104F6E5D4"},
    };
    for (const auto& c : cases)
    {
        uint32_t type;
        KeyData key;
        ASSERT_TRUE(ParseKeyText(c.line, type, key, MODEL_KORA_USB_MF, 0, FALSE)) << c.line;
        EXPECT_EQ(std::wstring(c.text), KeyToText(key, type)) << c.line;
    }
}

TEST(ReplyParse, ReplyFrames)
{
    uint32_t seq = 0, cmd = 0;
    std::string payload;

    auto good = Frame(5, 0x45, {0x55, 0x04, 0x00, 0x08, 0xA1});
    EXPECT_EQ(S_OK, CheckReplyFrame(good.data(), (int)good.size(), seq, cmd, payload));
    EXPECT_EQ(5u, seq);
    EXPECT_EQ(0x45u, cmd);
    EXPECT_EQ(std::string("\x55\x04\x00\x08\xA1", 5), payload);

    auto empty = Frame(0xFF, 0x24, {});
    EXPECT_EQ(S_OK, CheckReplyFrame(empty.data(), (int)empty.size(), seq, cmd, payload));
    EXPECT_EQ(0xFFu, seq);
    EXPECT_TRUE(payload.empty());

    // A checksum that runs past 16 bits is compared modulo 65536.
    std::vector<uint8_t> big(200, 0xFF);
    auto large = Frame(1, 0x51, big);
    EXPECT_EQ(S_OK, CheckReplyFrame(large.data(), (int)large.size(), seq, cmd, payload));
    EXPECT_EQ(200u, payload.size());

    struct Bad
    {
        const char* what;
        std::vector<uint8_t> frame;
        int count; // -1 = the frame's size
    } bad[] = {
        {"too short", {0x02, 0x01, 0x05, 0x24, 0x2C}, -1},
        {"wrong start byte", {0x03, 0x01, 0x06, 0x24, 0x2E, 0x00}, -1},
        {"length below the count", {0x02, 0x01, 0x06, 0x24, 0x2D, 0x00, 0x00}, -1},
        {"length beyond the bytes received", {0x02, 0x01, 0x0A, 0x24, 0x31, 0x00}, -1},
        {"length 255 in a short frame", {0x02, 0x01, 0xFF, 0x24, 0x26, 0x01}, -1},
        {"wrong checksum", {0x02, 0x01, 0x06, 0x24, 0x2E, 0x01}, -1},
        {"zero count", {0x02, 0x01, 0x06, 0x24, 0x2D, 0x00}, 0},
        {"negative count", {0x02, 0x01, 0x06, 0x24, 0x2D, 0x00}, -5},
    };
    for (const auto& b : bad)
    {
        payload = "stale";
        int count = b.count == -1 ? (int)b.frame.size() : b.count;
        EXPECT_EQ(PE_BAD_REPLY, CheckReplyFrame(b.frame.data(), count, seq, cmd, payload)) << b.what;
        EXPECT_TRUE(payload.empty()) << b.what;
    }
    EXPECT_EQ(PE_BAD_REPLY, CheckReplyFrame(nullptr, 6, seq, cmd, payload));

    // The reply to "#" is taken whatever its checksum says; no other command is.
    auto hash = Frame(9, 0x23, {0x55});
    hash[hash.size() - 1] ^= 0x5A;
    EXPECT_EQ(S_OK, CheckReplyFrame(hash.data(), (int)hash.size(), seq, cmd, payload));
    EXPECT_EQ(0x23u, cmd);
    EXPECT_EQ(std::string("\x55"), payload);
    auto other = Frame(9, 0x24, {0x55});
    other[other.size() - 1] ^= 0x5A;
    EXPECT_EQ(PE_BAD_REPLY, CheckReplyFrame(other.data(), (int)other.size(), seq, cmd, payload));
}

// The frame hunt takes a reply only for the request's sequence number and command; everything
// else on the line is dropped on the way, and a partial frame waits for its rest.
TEST(ReplyParse, FrameHuntTakesOnlyTheReplyToTheRequest)
{
    auto bytes = [](std::initializer_list<std::vector<uint8_t>> parts) {
        std::string s;
        for (const auto& p : parts)
            s.append(p.begin(), p.end());
        return s;
    };
    const auto reply = Frame(7, 0x52, {0x55});
    std::string payload;

    // Frames of the same number with another command (a read reply, a key event), frames of
    // another number, a broken frame and noise: all go, the reply is taken.
    std::string rx = bytes({{0x11, 0x02, 0x01}, Frame(7, 0x51, {0x55, 1, 2, 3}), Frame(7, 0x45, {0x55}),
                            Frame(6, 0x52, {0x55}), {0x02, 0x07, 0x06, 0x52, 0x00, 0x00}, reply,
                            Frame(7, 0x52, {0x09})});
    ASSERT_TRUE(TakeReplyFrame(rx, 7, 0x52, payload));
    EXPECT_EQ(std::string("\x55"), payload);
    EXPECT_EQ(bytes({Frame(7, 0x52, {0x09})}), rx); // what follows stays

    // Only foreign frames: none taken, nothing left.
    rx = bytes({Frame(7, 0x20, {0x55, 0x00}), Frame(8, 0x52, {0x55})});
    EXPECT_FALSE(TakeReplyFrame(rx, 7, 0x52, payload));
    EXPECT_TRUE(payload.empty());
    EXPECT_TRUE(rx.empty());

    // A partial frame waits; with its rest it is taken.
    rx = bytes({{0x00}, std::vector<uint8_t>(reply.begin(), reply.begin() + 4)});
    EXPECT_FALSE(TakeReplyFrame(rx, 7, 0x52, payload));
    EXPECT_EQ(4u, rx.size());
    rx += bytes({std::vector<uint8_t>(reply.begin() + 4, reply.end())});
    EXPECT_TRUE(TakeReplyFrame(rx, 7, 0x52, payload));
    EXPECT_TRUE(rx.empty());

    // A false header does not hide the frame inside what it claims: one claiming more bytes than
    // have come, and a stray start byte whose claimed frame fails its check.
    rx = bytes({{0x02, 0x07, 0xFF}, reply});
    EXPECT_TRUE(TakeReplyFrame(rx, 7, 0x52, payload));
    EXPECT_TRUE(rx.empty());
    for (uint8_t seq : {7, 2, 200}) {
        SCOPED_TRACE(seq);
        const auto own = Frame(seq, 0x52, {0x55, 0x01});
        rx = bytes({{0x02}, own});
        ASSERT_TRUE(TakeReplyFrame(rx, seq, 0x52, payload));
        EXPECT_EQ(std::string("\x55\x01", 2), payload);
    }
    // A partial frame behind noise still waits for its rest.
    rx = bytes({{0x02, 0x02}, std::vector<uint8_t>(reply.begin(), reply.begin() + 3)});
    EXPECT_FALSE(TakeReplyFrame(rx, 7, 0x52, payload));
    rx += bytes({std::vector<uint8_t>(reply.begin() + 3, reply.end())});
    EXPECT_TRUE(TakeReplyFrame(rx, 7, 0x52, payload));
}

TEST(ReplyParse, PageReplies)
{
    uint8_t data[16];
    ASSERT_TRUE(ParsePageReply("04: 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n"
                               "07: 1C 1D 1E 1F\r\nOK\r\n", 4, data));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(0x10 + i, data[i]);
    // The last pages of a card are followed by page 0; lower-case and blanks are fine.
    EXPECT_TRUE(ParsePageReply("0e: 1 2 3 4\r\n  0f:  5 6 7 8\r\n00: a b c d\r\n01: 0 0 0 0\r\nok\r\n", 0x0E,
                               data));
    EXPECT_EQ(0x0A, data[8]);

    struct Bad
    {
        const char* what;
        const char* text;
    } bad[] = {
        {"another page first", "44: 10 11 12 13\r\n45: 14 15 16 17\r\n46: 18 19 1A 1B\r\n47: 1C 1D 1E 1F\r\nOK\r\n"},
        {"pages out of order", "04: 10 11 12 13\r\n06: 14 15 16 17\r\n05: 18 19 1A 1B\r\n07: 1C 1D 1E 1F\r\nOK\r\n"},
        {"a value over 0xFF", "04: 10 11 12 13\r\n05: 14 115 16 17\r\n06: 18 19 1A 1B\r\n07: 1C 1D 1E 1F\r\nOK\r\n"},
        {"a huge value", "04: 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n07: 1C 1D 1E 1FFFFFFFFFFFF\r\nOK\r\n"},
        {"three values", "04: 10 11 12\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n07: 1C 1D 1E 1F\r\nOK\r\n"},
        {"no OK", "04: 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n07: 1C 1D 1E 1F\r\n"},
        {"three lines", "04: 10 11 12 13\r\n05: 14 15 16 17\r\nOK\r\n"},
        {"no colon", "04 10 11 12 13\r\n05: 14 15 16 17\r\n06: 18 19 1A 1B\r\n07: 1C 1D 1E 1F\r\nOK\r\n"},
    };
    for (const auto& b : bad)
        EXPECT_FALSE(ParsePageReply(b.text, 4, data)) << b.what;
}

TEST(ReplyParse, PageWrittenAndReplyAddress)
{
    EXPECT_TRUE(IsPageWritten("OK\r\n"));
    EXPECT_TRUE(IsPageWritten(" ok "));
    for (const char* other : {"zzz\r\n", "", "OKAY\r\n", "04: 10 11 12 13\r\n", "NOK\r\n", "O K"})
        EXPECT_FALSE(IsPageWritten(other)) << other;

    int32_t address = -1;
    EXPECT_TRUE(ParseReplyAddress("00002 123457\r\n", address));
    EXPECT_EQ(2, address);
    EXPECT_TRUE(ParseReplyAddress("00012\r\n", address));
    EXPECT_EQ(12, address);
    EXPECT_TRUE(ParseReplyAddress("99999", address));
    EXPECT_EQ(99999, address);
    for (const char* other : {"No card\r\n", "", " 00001 5", "0001x 5", "123456 7", "Em-Marine[0102] 1,2"})
        EXPECT_FALSE(ParseReplyAddress(other, address)) << other;
}

TEST(ReplyParse, SeekReplies)
{
    const std::string reply = "QuorIP v2 TcpPort=5000 TcpPrt2=4001 IpAddr1=0.0.0.0 IpAddr2=10.0.0.7";
    uint32_t p1 = 0, p2 = 0;
    std::string a1, a2;
    ASSERT_TRUE(ParseSeekReply(reply, &p1, &p2, &a1, &a2));
    EXPECT_EQ(5000u, p1);
    EXPECT_EQ(4001u, p2);
    EXPECT_EQ("0.0.0.0", a1);
    EXPECT_EQ("10.0.0.7", a2);

    // Repeated blanks, a trailing line end and NUL padding separate words too.
    std::string padded = "QuorIP  v2 TcpPort=1 TcpPrt2=0  IpAddr1=1.2.3.4 IpAddr2=0.0.0.0\r\n";
    padded += std::string(4, '\0');
    ASSERT_TRUE(ParseSeekReply(padded, &p1, &p2, &a1, &a2));
    EXPECT_EQ(1u, p1);
    EXPECT_EQ(0u, p2);
    EXPECT_EQ("1.2.3.4", a1);
    EXPECT_EQ("0.0.0.0", a2);

    // Null outputs are skipped; without the second address the reply ends after word 4.
    const std::string shortReply = "QuorIP v2 TcpPort=5000 TcpPrt2=4001 IpAddr1=0.0.0.0";
    EXPECT_TRUE(ParseSeekReply(shortReply, nullptr, nullptr, nullptr, nullptr));
    EXPECT_TRUE(ParseSeekReply(shortReply, &p1, nullptr, &a1, nullptr));
    EXPECT_EQ(5000u, p1);

    struct Bad
    {
        const char* text;
    } bad[] = {
        {"QuorIP v2 TcpPort=5000 TcpPrt2=4001 IpAddr1=0.0.0.0"},        // second address missing
        {"QuorIP v2 TcpPort=5000 TcpPrt2=4001 IpAddr1= IpAddr2=1.1.1.1"}, // word of 8 characters
        {"QuorIP v2 TcpPort= TcpPrt2=4001 IpAddr1=0.0.0.0 IpAddr2=1.1.1.1"},
        {"QuorIP v2 TcpPort=5000"},
        {""},
    };
    for (const auto& b : bad)
    {
        p1 = 11;
        a2 = "kept";
        EXPECT_FALSE(ParseSeekReply(b.text, &p1, &p2, &a1, &a2)) << b.text;
        EXPECT_EQ(11u, p1) << "outputs are untouched by a refused reply";
        EXPECT_EQ("kept", a2);
    }
}

TEST(ReplyParse, LogEscapes)
{
    struct Case
    {
        const char* text;
        int length;
        const wchar_t* escaped;
    } cases[] = {
        {"OK\r\n", -1, L"OK\\r\\n"},
        {"a\\n", -1, L"a\\n"},          // a backslash stays as it is
        {"\n\n", -1, L"\\n\\n"},
        {"abc\r\nxyz", 4, L"abc\\r"},   // explicit length
        {"", -1, L""},
        {"x", 0, L""},
    };
    for (const auto& c : cases)
    {
        std::wstring out = L"stale";
        EscapeForLog(out, c.text, c.length);
        EXPECT_EQ(std::wstring(c.escaped), out) << c.text;

        std::wstring wide;
        AnsiToWide(wide, c.text, -1);
        out = L"stale";
        EscapeForLogW(out, wide.c_str(), c.length);
        EXPECT_EQ(std::wstring(c.escaped), out) << c.text;
    }
    std::wstring out;
    EscapeForLog(out, "OK\r\n");
    EXPECT_EQ(6u, out.size());
    EscapeForLog(out, nullptr);
    EXPECT_TRUE(out.empty());
    EscapeForLogW(out, nullptr);
    EXPECT_TRUE(out.empty());

    // A byte above 0x7F reads as the ANSI code page's character, not as a sign-extended unit.
    const char high[] = "\xC0\xE9\r";
    std::wstring expected;
    AnsiToWide(expected, high, 2);
    EscapeForLog(out, high);
    EXPECT_EQ(expected + L"\\r", out);
    EXPECT_NE(L'\xFFC0', out[0]);
    EXPECT_NE(L'\xFFE9', out[1]);
    // An embedded NUL is carried when the length is given.
    EscapeForLog(out, "a\0b", 3);
    EXPECT_EQ(std::wstring(L"a\0b", 3), out);
}

TEST(ReplyParse, BytesToHex)
{
    struct Case
    {
        std::vector<uint8_t> bytes;
        const wchar_t* text;
    } cases[] = {
        {{0x01, 0xAB}, L"01 AB"},
        {{0xFF}, L"FF"},
        {{0x00, 0x0A, 0x10}, L"00 0A 10"},
        {{}, L""},
    };
    for (const auto& c : cases)
    {
        std::wstring out = L"stale";
        BytesToHex(out, c.bytes.data(), c.bytes.size());
        EXPECT_EQ(std::wstring(c.text), out);
    }
}

// Random and mutated lines, frames and replies: every result must keep the invariants, and
// nothing may read past its input (each input lives in a buffer of exactly its size).
TEST(ReplyParse, FuzzMalformedInput)
{
    std::mt19937 rng(20240611);
    auto pick = [&](size_t n) { return (size_t)(rng() % n); };
    const wchar_t alphabet[] = L"[]()0123456789ABCDEFabcdefxz,:.; \r\n\t-/SN";
    const wchar_t* seeds[] = {
        L"Em-Marine[0102] 123,45678", L"HID[11223344] 12345", L"Mifare[04A1B2C3D4E5F6] (0044:20)",
        L"iCode[E004010012345678] 1,2", L"Cod433 fix[11223344] 5,6", L"Came433[00] 7,300",
        L"Dallas[A2F0DEBC0A000001] 000,00000", L"Mifare[04A1B2C3] 1k",
    };
    const uint32_t models[] = {0, MODEL_KORA_USB, MODEL_KORA_DUO, MODEL_KORA_USB_MF};
    const uint32_t versions[] = {0, 106, 201, 0x0100C9};

    for (int round = 0; round < 20000; round++)
    {
        std::wstring line = seeds[pick(8)];
        const int edits = 1 + (int)pick(6);
        for (int e = 0; e < edits; e++)
        {
            const size_t at = line.empty() ? 0 : pick(line.size() + 1);
            switch (pick(4))
            {
            case 0: line.insert(at, 1, alphabet[pick(wcslen(alphabet))]); break;
            case 1: if (at < line.size()) line.erase(at, 1 + pick(4)); break;
            case 2: if (at < line.size()) line[at] = alphabet[pick(wcslen(alphabet))]; break;
            case 3: line.insert(at, std::wstring(pick(40), L"0123456789ABCDEF"[pick(16)])); break;
            }
        }
        uint32_t type = 0;
        KeyData key;
        BOOL ok = ParseKeyText(line, type, key, models[pick(4)], versions[pick(4)], (BOOL)pick(2));
        ASSERT_LE(key.Length, KEY_DATA_MAX) << line;
        if (ok)
            ASSERT_TRUE(type >= 1 && type < KEY_TYPE_COUNT) << line;
        else
            ASSERT_EQ(0u, type) << line;
        std::wstring text;
        KeyToText(text, key, type);
        ASSERT_LE(text.size(), 40u);

        // Identification texts cut and mutated anywhere.
        std::wstring info = std::wstring(INFO_HEAD) + L"Build Nov 16 2010 12:00:00\r\n";
        info.resize(pick(info.size() + 1));
        for (int e = 0; e < 3; e++)
            if (!info.empty())
                info[pick(info.size())] = alphabet[pick(wcslen(alphabet))];
        uint16_t code;
        uint32_t serial, version, more;
        ParseReaderInfo(info, code, serial, version, &more);
    }

    for (int round = 0; round < 20000; round++)
    {
        // Frames: random bytes, a good frame cut short, or a good frame with a wrong length byte.
        std::vector<uint8_t> frame;
        switch (pick(3))
        {
        case 0:
            frame.resize(pick(20));
            for (auto& b : frame)
                b = (uint8_t)rng();
            if (!frame.empty())
                frame[0] = 0x02;
            break;
        case 1:
        {
            std::vector<uint8_t> payload(pick(30));
            for (auto& b : payload)
                b = (uint8_t)rng();
            frame = Frame((uint8_t)rng(), (uint8_t)rng(), payload);
            frame.resize(pick(frame.size() + 1));
            break;
        }
        default:
            frame = Frame(1, pick(2) ? 0x23 : 0x51, std::vector<uint8_t>(pick(10), 0x55));
            frame[2] = (uint8_t)rng();
            break;
        }
        std::vector<uint8_t> exact(frame); // a buffer of exactly the frame's size
        uint32_t seq, cmd;
        std::string payload;
        HRESULT hr = CheckReplyFrame(exact.empty() ? nullptr : exact.data(), (int)exact.size(), seq, cmd, payload);
        if (hr == S_OK)
        {
            ASSERT_EQ(exact.size(), (size_t)exact[2]);
            ASSERT_EQ(exact.size() - 6, payload.size());
        }
        else
        {
            ASSERT_EQ(PE_BAD_REPLY, hr);
            ASSERT_TRUE(payload.empty());
        }

        // Discovery replies of random words.
        std::string reply;
        const size_t words = pick(8);
        for (size_t w = 0; w < words; w++)
        {
            reply.append(pick(14), (char)('0' + pick(60)));
            reply += pick(5) ? ' ' : '\0';
        }
        uint32_t p1, p2;
        std::string a1, a2;
        ParseSeekReply(reply, &p1, &p2, &a1, &a2);
        std::wstring escaped;
        EscapeForLog(escaped, reply.data(), (int)reply.size());
    }
}
