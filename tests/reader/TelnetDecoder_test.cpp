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

// A sub-negotiation whose end never comes must not hold all later data in a growing buffer.
TEST(TelnetDecoder, SubnegotiationThatNeverEndsHoldsLittle)
{
    CTelnetDecoder decoder;
    EXPECT_EQ("ab", Decode(decoder, "ab" + IacSb + "\x18"));
    EXPECT_EQ(3u, decoder.Held()) << "a short one is held until its end comes";
    const std::string junk(1000, 'x');
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ("", Decode(decoder, junk));
        EXPECT_LE(decoder.Held(), CTelnetDecoder::MaxHeldSubnegotiation + junk.size());
    }
    EXPECT_LE(decoder.Held(), 1u);
    // An IAC split from its SE at the end of a piece still ends it.
    EXPECT_EQ("", Decode(decoder, junk + "\xFF\xFF" "x\xFF"));
    EXPECT_EQ("data", Decode(decoder, "\xF0" "data"));
    EXPECT_EQ(0u, decoder.Held());

    decoder.Reset();
    EXPECT_EQ("", Decode(decoder, IacSb + std::string(5000, 'y')));
    decoder.Reset();
    EXPECT_EQ("fresh", Decode(decoder, "fresh")) << "a reset forgets the skipping";
}
