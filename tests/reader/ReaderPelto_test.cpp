// The Pelto's framed protocol: the frame codec, and the reader object against a simulated Pelto
// over TCP and over a pty mapped as a COM port (connection, Em-Marine and Temic keys, departures,
// the indication, the key types to read).
#include "Messages.h"
#include "FramedTestRig.h"
#include "PeltoFrame.h"

#include <gtest/gtest.h>

using namespace readertest;

namespace {

std::string Raw(std::initializer_list<uint8_t> bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

const std::vector<uint8_t> EmKey = {0x39, 0x30, 45, 0x2B, 0x1A};
const std::vector<uint8_t> EmKeyEscaped = {0xC0, 0xDB, 0x11, 0x22, 0x33};
const std::vector<uint8_t> TemicKey = {1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

TEST(PeltoFrame, RequestsAreEscapedAndClosed)
{
    const uint8_t control[2] = {1, 0};
    EXPECT_EQ(Raw({0x02, 0x01, 0x00, 0xFD, 0xC0}), PeltoBuildFrame(0x02, control, 2));
    const uint8_t special[2] = {0xC0, 0xDB};
    // Sum 0x02 + 0xC0 + 0xDB = 0x19D: the check byte is 0x63.
    EXPECT_EQ(Raw({0x02, 0xDB, 0x01, 0xDB, 0xDD, 0x63, 0xC0}), PeltoBuildFrame(0x02, special, 2));
    std::string out;
    const uint8_t broken[4] = {0x41, 0xDB, 0x02, 0xDB};
    PeltoUnescape(broken, 4, out);
    EXPECT_EQ(Raw({0x41}), out);
}

TEST(PeltoFrame, RepliesAreCheckedAndDecoded)
{
    struct Case
    {
        const char* name;
        std::string frame;
        HRESULT result;
        uint32_t command;
        std::string payload;
    } cases[] = {
        {"status only", Raw({0x02, 0xAA, 0x54, 0xC0}), S_OK, 0x02, Raw({0xAA})},
        {"escaped, summed as received", Raw({0x61, 0x01, 0xDB, 0x01, 0x00, 0xC2, 0xC0}), S_OK, 0x61,
         Raw({0x01, 0xC0, 0x00})},
        {"escaped, summed unescaped", Raw({0x61, 0x01, 0xDB, 0x01, 0xDE, 0xC0}), S_OK, 0x61, Raw({0x01, 0xC0})},
        {"bad sum", Raw({0x02, 0xAA, 0x55, 0xC0}), PE_BAD_REPLY, 0, ""},
        {"no terminator", Raw({0x02, 0xAA, 0x54}), PE_BAD_REPLY, 0, ""},
        {"too short", Raw({0x00, 0xC0}), PE_BAD_REPLY, 0, ""},
        {"escape first", Raw({0xDB, 0x01, 0x3F, 0xC0}), PE_BAD_REPLY, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t command = 99;
        std::string payload = "x";
        EXPECT_EQ(c.result, PeltoCheckFrame(reinterpret_cast<const uint8_t*>(c.frame.data()), c.frame.size(),
                                            command, payload));
        if (c.result == S_OK) {
            EXPECT_EQ(c.command, command);
            EXPECT_EQ(c.payload, payload);
        }
    }
}

class ReaderPelto : public testing::TestWithParam<const char*>
{
protected:
    bool Serial() const { return std::string(GetParam()) == "com"; }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

INSTANTIATE_TEST_SUITE_P(Transport, ReaderPelto, testing::Values("tcp", "com"));

TEST_P(ReaderPelto, ReportsEmMarineAndTemicKeysAndSwitchesTheIndication)
{
    SimReader s(sim, PeltoSim(), Serial() ? 82 : 0);
    sim.Present(s.Id(), Card("EM", EmKey), -1, false); // in the field at connection
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    EXPECT_TRUE(sink.HasLogLine(L"Connected reader Pelto"));
    EXPECT_EQ(1, reader->PresentKeyCount());
    ASSERT_TRUE(WaitHeard(sim, s.Id(), "020200", FramedWaitMs));
    EXPECT_TRUE(Heard(sim, s.Id(), "020C05"));
    EXPECT_TRUE(Heard(sim, s.Id(), "610B6403"));

    sim.Present(s.Id(), Card("Temic", TemicKey, true));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    ReaderEvent temic = sink.Events(EventKind::TracksData)[0];
    EXPECT_EQ(KEY_TYPE_TEMIC, temic.KeyType);
    EXPECT_EQ(TemicKey, Bytes(temic.Key));

    sim.RemoveKey(s.Id(), EmKey);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
    EXPECT_EQ(KEY_TYPE_EM_MARINE, sink.Events(EventKind::NoCard)[0].KeyType);
    EXPECT_EQ(EmKey, Bytes(sink.Events(EventKind::NoCard)[0].Key));

    // A card number holding the frame's special bytes travels escaped.
    sim.Present(s.Id(), Card("EM", EmKeyEscaped, true));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 2, FramedWaitMs));
    ReaderEvent em = sink.Events(EventKind::TracksData)[1];
    EXPECT_EQ(KEY_TYPE_EM_MARINE, em.KeyType);
    EXPECT_EQ(EmKeyEscaped, Bytes(em.Key));

    sim.Remove(s.Id());
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 3, FramedWaitMs));
    ASSERT_TRUE(WaitHeard(sim, s.Id(), "020100", FramedWaitMs));
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
    EXPECT_EQ(0, reader->PresentKeyCount());
}

// A Pelto that stops answering is taken for lost after a connection period of timed-out polls,
// and connected again once it answers.
TEST_P(ReaderPelto, SilentReaderIsLostAndReconnectedWhenItAnswersAgain)
{
    SimReader s(sim, PeltoSim(), Serial() ? 84 : 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    sim.Silent(s.Id(), true);
    DWORD start = GetTickCount();
    ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, FramedWaitMs));
    EXPECT_GE(GetTickCount() - start, 900u);
    EXPECT_TRUE(sink.HasLogLine(L"[155] Disconnected reader: Timeout response data from the port."));
    sim.Silent(s.Id(), false);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, FramedWaitMs));
    sim.PresentKey(s.Id(), "EM", EmKey);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
}

TEST_P(ReaderPelto, KeyTypesToReadDecideWhatIsAskedAndReported)
{
    SimReader s(sim, PeltoSim(), Serial() ? 83 : 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    EXPECT_TRUE(WaitHeard(sim, s.Id(), "020100", FramedWaitMs)); // nothing present

    CurrentReadKeys().KeyTypes = 1u << KEY_TYPE_TEMIC;
    sim.Present(s.Id(), Card("EM", EmKey));
    sim.Present(s.Id(), Card("Temic", TemicKey, true));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    Sleep(500);
    ASSERT_EQ(1u, sink.Count(EventKind::TracksData));
    EXPECT_EQ(KEY_TYPE_TEMIC, sink.Events(EventKind::TracksData)[0].KeyType);

    // Neither Em-Marine nor Temic: no frame at all, and the Temic counts as gone.
    CurrentReadKeys().KeyTypes = 1u << KEY_TYPE_DALLAS;
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, FramedWaitMs));
    Sleep(400);
    HeardFrames(sim, s.Id(), true);
    Sleep(800);
    EXPECT_TRUE(HeardFrames(sim, s.Id()).empty());
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS));
}

// A reply for another command is dropped; a refused indication is the reader's error; neither
// ends the connection.
TEST(ReaderPeltoReplies, WrongCommandAndRefusalsKeepTheConnection)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    SimReader s(sim, PeltoSim(), 0);
    auto reader = StartReader(sink, s.Port());
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
    // The reply to a key read comes as command 0x62 before the real one.
    sim.OverrideFrameRaw(s.Id(), "61", {0x62, 0xAA, 0xF4, 0xC0, 0x61, 0x01, 0x00, 0x9E, 0xC0});
    Sleep(800);
    HRESULT code;
    std::wstring text;
    reader->GetLastError(NO_BUS_ADDRESS, code, text);
    EXPECT_EQ(S_OK, code);
    sim.ClearOverrides(s.Id());

    sim.OverrideFrame(s.Id(), "020C05", 0x01, {});
    sim.Present(s.Id(), Card("EM", EmKey));
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, FramedWaitMs));
    ASSERT_TRUE(WaitUntil([&] {
        reader->GetLastError(NO_BUS_ADDRESS, code, text);
        return code == PE_READER_ERROR;
    }, FramedWaitMs));
    Sleep(400);
    EXPECT_FALSE(Heard(sim, s.Id(), "020200")); // the second step follows only a success
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(NO_BUS_ADDRESS));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));
}
