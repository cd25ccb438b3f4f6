// Telnet command removal from a converter's byte stream, fed in pieces as TCP delivers it.
#include "TelnetDecoder.h"

#include <gtest/gtest.h>

namespace {

std::string Decode(CTelnetDecoder& decoder, const std::string& bytes)
{
    std::string data;
    decoder.Feed(bytes.data(), bytes.size(), data);
    return data;
}

const std::string IacSb = "\xFF\xFA";
const std::string IacSe = "\xFF\xF0";

} // namespace

TEST(TelnetDecoder, CommandsAreRemovedWhetherWholeOrSplit)
{
    struct Case { std::vector<std::string> pieces; std::string data; };
    const Case cases[] = {
        {{"abc"}, "abc"},
        {{"a\xFF\xFF" "b"}, "a\xFF" "b"},
        {{"a\xFF\xFD\x2C" "b"}, "ab"},                       // IAC DO option
        {{"a\xFF", "\xFD", "\x2C" "b"}, "ab"},               // split inside the command
        {{"a\xFF\xF1" "b"}, "ab"},                           // IAC NOP
        {{"a" + IacSb + "\x18\x01\xFF\xFFzz" + IacSe + "b"}, "ab"},
        {{"a" + IacSb + "\x18", "\x01\xFF", "\xF0" "b"}, "ab"},
    };
    for (const Case& c : cases) {
        CTelnetDecoder decoder;
        std::string data;
        for (const std::string& piece : c.pieces)
            data += Decode(decoder, piece);
        EXPECT_EQ(c.data, data);
        EXPECT_EQ(0u, decoder.Held());
    }
}

// A sub-negotiation is a few bytes. IAC SB followed by more without IAC SE is no sub-negotiation:
// only those two bytes are lost, the rest is data, and nothing is held for long, however TCP
// splits the stream.
TEST(TelnetDecoder, AnOverlongSubnegotiationIsData)
{
    const std::string line = "Em-Marine[0102] 003,00456\r\n";
    CTelnetDecoder decoder;
    EXPECT_EQ("ab", Decode(decoder, "ab" + IacSb + "\x18"));
    EXPECT_EQ(3u, decoder.Held()) << "a short one is held until its end comes";
    EXPECT_EQ("\x18" + line, Decode(decoder, line)) << "the card line comes at once";
    EXPECT_EQ(0u, decoder.Held());
    EXPECT_EQ(line, Decode(decoder, IacSe + line)) << "a late IAC SE is a command of its own";

    const size_t most = CTelnetDecoder::MaxSubnegotiation;
    struct Case { std::string stream; std::string data; };
    const Case cases[] = {
        {"a" + IacSb + std::string(most, 'x') + IacSe + "b", "ab"},
        {"a" + IacSb + std::string(most + 1, 'x') + IacSe + "b", "a" + std::string(most + 1, 'x') + "b"},
        {"a" + IacSb + std::string(most - 1, 'x') + "\xFF\xFF" + IacSe + "b", "a" + std::string(most - 1, 'x') + "\xFF" "b"},
        {IacSb + std::string(5000, 'y'), std::string(5000, 'y')},
        {IacSb + IacSb + line, line},
    };
    for (const Case& c : cases) {
        CTelnetDecoder whole;
        EXPECT_EQ(c.data, Decode(whole, c.stream));
        EXPECT_EQ(0u, whole.Held());
        CTelnetDecoder split;
        std::string data;
        for (char byte : c.stream) {
            data += Decode(split, std::string(1, byte));
            EXPECT_LE(split.Held(), most + 3);
        }
        EXPECT_EQ(c.data, data);
    }

    decoder.Reset();
    EXPECT_EQ("", Decode(decoder, IacSb + "\x18"));
    decoder.Reset();
    EXPECT_EQ("fresh", Decode(decoder, "fresh")) << "a reset forgets what was held";
}
