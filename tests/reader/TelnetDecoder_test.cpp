// Telnet command removal from a converter's byte stream, fed in pieces as TCP delivers it.
#include "PeltoFrame.h"
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

namespace {

// A Pelto reply to a key read as the reader sends it: command, payload and the check byte that
// makes the bytes as they travel sum to 0, then the frame end. `key` holds no 0xC0 or 0xDB: an
// Em-Marine key of 5 bytes, or a Temic one of 8.
std::string PeltoKeyReply(const std::string& key)
{
    std::string frame = (key.size() == 8 ? "\x61\xAA\x10" : "\x61\x01\x20") + key;
    uint8_t sum = 0;
    for (char c : frame)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    frame += static_cast<char>(0x100 - sum);
    return frame + "\xC0";
}

std::string Doubled(const std::string& bytes)
{
    std::string out;
    for (char c : bytes) {
        out += c;
        if (c == '\xFF')
            out += c;
    }
    return out;
}

} // namespace

// Behind a converter that has not shown its way, a framed reader's frame holding 0xFF is read as its
// check and form show it, whatever Telnet sequence the 0xFF and the bytes after it look like: as it came
// from a raw converter, with the doubling taken out from a Telnet one, which settles the way for
// the connection. Nothing of a frame is handed on before its end, and nothing held is handed on
// later as data of another frame.
TEST(TelnetDecoder, AFramedReadersCheckShowsTheWay)
{
    const ConverterFrameCheck& check = PeltoConverterFrameCheck();
    const std::string keys[] = {
        std::string("\xFF\xFD\x04\x01\x02", 5), std::string("\x12\xFF\xFB\x03\x05", 5),
        std::string("\xFF\xFF\x01\x02\x03", 5), std::string("\x01\xFF\xFA\x2C\x09", 5),
        std::string("\x01\x02\xFF\xF1\x09", 5),
        // Negotiations whose bytes sum to 0 mod 256: taken out, they leave the sum as it was.
        std::string("\x01\xFF\xFB\x06\x09", 5), std::string("\xFF\xFE\x03\x01\x02", 5),
        std::string("\x01\x02\x03\xFF\xFD\x04\x07\x08", 8),
    };
    for (const std::string& key : keys) {
        const std::string reply = PeltoKeyReply(key);
        SCOPED_TRACE(testing::PrintToString(reply));
        for (bool split : {false, true}) {
            for (ConverterWay kind : {ConverterWay::Raw, ConverterWay::Telnet}) {
                const std::string stream = kind == ConverterWay::Raw ? reply : Doubled(reply);
                CTelnetDecoder decoder;
                decoder.SetFrameCheck(&check);
                std::string data;
                if (split) {
                    for (size_t i = 0; i + 1 < stream.size(); ++i) {
                        data += Decode(decoder, stream.substr(i, 1));
                        ASSERT_EQ("", data) << "a part of the frame came before its end";
                    }
                    data += Decode(decoder, stream.substr(stream.size() - 1));
                } else {
                    data = Decode(decoder, stream);
                }
                EXPECT_EQ(reply, data);
                EXPECT_EQ(kind, decoder.Way());
                EXPECT_TRUE(decoder.ShownByFrameCheck());
                EXPECT_EQ(stream, decoder.ShownBy());
                EXPECT_EQ(0u, decoder.Held());
                // The next frame, without a key, is read the way found: nothing of the first
                // comes again.
                const std::string none("\x61\x01\x00\x9E\xC0", 5);
                EXPECT_EQ(none, Decode(decoder, none));
            }
        }
    }

    // A frame without 0xFF shows nothing; one that checks neither way (a broken one) shows
    // nothing and is read as Telnet reads it; a Telnet sign that no frame check is needed for
    // still shows the way.
    CTelnetDecoder decoder;
    decoder.SetFrameCheck(&check);
    const std::string none("\x61\x01\x00\x9E\xC0", 5);
    EXPECT_EQ(none, Decode(decoder, none));
    EXPECT_EQ(ConverterWay::Unknown, decoder.Way());
    EXPECT_EQ("\x61\x01\xFF\x12\xC0", Decode(decoder, "\x61\x01\xFF\xFF\x12\xC0"));
    EXPECT_EQ(ConverterWay::Unknown, decoder.Way());
    EXPECT_EQ("\x61\xFF\x07\x01\xC0", Decode(decoder, "\x61\xFF\x07\x01\xC0"));
    EXPECT_EQ(ConverterWay::Raw, decoder.Way());
    EXPECT_FALSE(decoder.ShownByFrameCheck());
    EXPECT_EQ("\xFF\x07", decoder.ShownBy());

    // Bytes that never bring a frame end are not held for ever.
    CTelnetDecoder endless;
    endless.SetFrameCheck(&check);
    std::string data;
    const std::string chunk(100, 'x');
    for (int i = 0; i < 4; ++i)
        data += Decode(endless, chunk);
    EXPECT_LE(endless.Held(), CTelnetDecoder::MaxHeldFrame);
    EXPECT_GE(data.size(), 400u - CTelnetDecoder::MaxHeldFrame);
}
