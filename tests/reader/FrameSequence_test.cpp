// The binary protocol's request frames and their numbers, behind a converter whose way with 0xFF
// is known and behind one whose way is not.
#include "FrameSequence.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

struct Request
{
    uint8_t command;
    std::vector<uint8_t> data;
};

// Every request the reader sends with data that holds no 0xFF.
const Request Requests[] = {
    {0x2F, {0x01, 0x80}}, {0x2F, {0x00, 0x00}}, {0x23, {0x00, 0x0A, 0x00}}, {0x45, {0x00}}, {0x45, {0x80}},
    {0x43, {}},           {0x24, {0x00}},       {0x20, {0x8B, 0x01}},       {0x20, {0xAB, 0x00}},
    {0x51, {0x09}},       {0x53, {0x04, 0x01, 0x02, 0x03, 0x04}},
};

std::string Frame(uint8_t sequence, const Request& r)
{
    std::string frame;
    BuildRequestFrame(sequence, r.command, r.data.data(), r.data.size(), frame);
    return frame;
}

} // namespace

TEST(FrameSequence, AFrameIsStartNumberLengthCommandDataAndSum)
{
    std::string frame = "kept";
    const uint8_t data[] = {0x00};
    BuildRequestFrame(0x01, 0x24, data, 1, frame);
    EXPECT_EQ(std::string("kept\x02\x01\x07\x24\x00\x2E\x00", 11), frame);
    frame.clear();
    const uint8_t block[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                               0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    BuildRequestFrame(0x80, 0x52, block, 16, frame);
    EXPECT_EQ(22u, frame.size());
    EXPECT_EQ('\x16', frame[2]);
    EXPECT_EQ(std::string("\xDA\x10", 2), frame.substr(20)) << "0x02 + 0x80 + 0x16 + 0x52 + 16 x 0xFF";
}

TEST(FrameSequence, ANumberCountsUpOnceTheWayIsKnown)
{
    for (int last = 0; last < 256; ++last) {
        const Request& r = Requests[last % (sizeof(Requests) / sizeof(Requests[0]))];
        EXPECT_EQ((last + 1) & 0xFF, NextRequestSequence(static_cast<uint8_t>(last), r.command, r.data.data(),
                                                         r.data.size(), false));
    }
}

// While the way is unknown no request holds 0xFF that its number can keep out, no number follows
// itself, and the switch into binary mode is numbered so that the reader's plain success reply
// holds 0xFF followed by a byte that is no Telnet command.
TEST(FrameSequence, WhileTheWayIsUnknownNoRequestHolds0xFFAndTheReplyShowsTheWay)
{
    for (const Request& r : Requests) {
        SCOPED_TRACE(static_cast<int>(r.command));
        for (int last = 0; last < 256; ++last) {
            const uint8_t next = NextRequestSequence(static_cast<uint8_t>(last), r.command, r.data.data(),
                                                     r.data.size(), true);
            EXPECT_NE(last, next);
            EXPECT_EQ(std::string::npos, Frame(next, r).find('\xFF')) << "after " << last;
        }
    }
    const Request& toBinary = Requests[0];
    const uint8_t next = NextRequestSequence(0, toBinary.command, toBinary.data.data(), toBinary.data.size(), true);
    const std::string reply = Frame(next, {toBinary.command, {0x55}});
    EXPECT_EQ('\xFF', reply[5]);
    EXPECT_LT(static_cast<uint8_t>(reply[6]), 0xF0);

    // Data that holds 0xFF itself: no number helps, and none is skipped for it.
    const uint8_t key[8] = {2, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0x11, NextRequestSequence(0x10, 0x50, key, sizeof(key), true));
}
