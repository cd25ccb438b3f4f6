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

// The converter's way, from its own bytes however TCP splits them: an IAC followed by a byte that
// is no Telnet command shows a raw converter for good (the bytes are data); Telnet's own sequences
// show a Telnet one until such a byte comes.
TEST(TelnetDecoder, TheConvertersBytesShowItsWay)
{
    struct Case
    {
        const char* what;
        std::string stream;
        std::string data;
        ConverterWay way;
        std::string shownBy;
    };
    const Case cases[] = {
        {"data alone", "Kora USB\r\n", "Kora USB\r\n", ConverterWay::Unknown, ""},
        {"0xFF and a low byte", "\x02\xFF\x07\x23", "\x02\xFF\x07\x23", ConverterWay::Raw, "\xFF\x07"},
        {"0xFF and 0x00", std::string("\x55\xFF\x00", 3), std::string("\x55\xFF\x00", 3), ConverterWay::Raw,
         std::string("\xFF\x00", 2)},
        {"doubled", "a\xFF\xFF" "b", "a\xFF" "b", ConverterWay::Telnet, "\xFF\xFF"},
        {"negotiated", "\xFF\xFB\x03\xFF\xFD\x03" "ok", "ok", ConverterWay::Telnet, "\xFF\xFB\x03"},
        {"a command", "a\xFF\xF1" "b", "ab", ConverterWay::Telnet, "\xFF\xF1"},
        {"a sub-negotiation", "\xFF\xFA\x2C\x01\xFF\xF0" "ok", "ok", ConverterWay::Telnet, "\xFF\xFA\x2C"},
        {"taken for Telnet, then raw", "\xFF\xFF" "a\xFF\x12\xFF\xFF", "\xFF" "a\xFF\x12\xFF\xFF", ConverterWay::Raw,
         "\xFF\x12"},
        {"raw, then what Telnet would send", "\xFF\x12\xFF\xFB\x03\xFF\xFF", "\xFF\x12\xFF\xFB\x03\xFF\xFF",
         ConverterWay::Raw, "\xFF\x12"},
        {"a low byte inside what began as a sub-negotiation", "\xFF\xFA\x2C\xFF\x07z",
         "\xFF\xFA\x2C\xFF\x07z", ConverterWay::Raw, "\xFF\x07"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool split : {false, true}) {
            CTelnetDecoder decoder;
            std::string data;
            if (split) {
                for (char byte : c.stream)
                    data += Decode(decoder, std::string(1, byte));
            } else {
                data = Decode(decoder, c.stream);
            }
            EXPECT_EQ(c.data, data) << (split ? "byte by byte" : "whole");
            EXPECT_EQ(c.way, decoder.Way());
            EXPECT_EQ(c.shownBy, decoder.ShownBy());
            EXPECT_EQ(0u, decoder.Held());
        }
    }
}

// What is sent goes as the converter's way wants it; a purge keeps the way, a new connection
// forgets it.
TEST(TelnetDecoder, SentBytesFollowTheWayThatStaysForTheConnection)
{
    const std::string request("\x02\xFF\x09\x23\x00\x0A\x00\x37\x01", 9);
    auto encode = [&](const CTelnetDecoder& decoder) {
        std::string out = "head";
        decoder.Encode(request.data(), request.size(), out);
        return out;
    };
    CTelnetDecoder decoder;
    EXPECT_EQ("head" + request, encode(decoder)) << "not known yet: as it is";
    Decode(decoder, "\xFF\xFD\x03");
    EXPECT_EQ("head" + std::string("\x02\xFF\xFF\x09\x23\x00\x0A\x00\x37\x01", 10), encode(decoder));
    Decode(decoder, "\xFF");
    EXPECT_EQ(1u, decoder.Held());
    decoder.DropHeld();
    EXPECT_EQ(0u, decoder.Held());
    EXPECT_EQ(ConverterWay::Telnet, decoder.Way()) << "a purge keeps the way";
    Decode(decoder, "\xFF\x42");
    EXPECT_EQ(ConverterWay::Raw, decoder.Way());
    EXPECT_EQ("head" + request, encode(decoder));
    decoder.Reset();
    EXPECT_EQ(ConverterWay::Unknown, decoder.Way()) << "a new connection finds its way anew";
    EXPECT_EQ("", decoder.ShownBy());
}
