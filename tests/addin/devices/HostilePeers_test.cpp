// Devices whose peer is hostile or broken: a converter that answers with bytes without end (to a
// text reader or to a reader of frames), a serial reader that floods after it connected, and a
// converter that starts a Telnet sub-negotiation it never ends. The platform's thread gets Close
// and Done back within a second, the process does not grow, and the reader goes on as it does
// with garbage that has line ends: it reports what it could not use, gives up the connection when
// that fails, and connects again. Each test prints the figures it measured.
#include "DeviceFixture.h"
#include "ProcessMemory.h"
#include "Watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace devicetest;
using namespace slothost;

namespace {

const SIZE_T MB = 1024 * 1024;
const int FloodCom = 58;
const int FloodCom2 = 59;
const long PropBinaryMode = 10;

simctl::JsonValue Flood(simctl::CSimControl& sim, int id, const char* on = nullptr)
{
    simctl::JsonFields fields;
    fields.Add("id", id);
    if (on)
        fields.Add("on", on);
    return sim.Call("flood", fields);
}

long long Flooded(simctl::CSimControl& sim, int id)
{
    return static_cast<long long>(Flood(sim, id)["bytes"].AsInt());
}

} // namespace

class HostilePeerTest : public DeviceTest
{
protected:
    // Closes the device and returns how long Close took; a Close that does not return ends the
    // program.
    DWORD TimedClose(const std::wstring& device)
    {
        testsupport::CWatchdog watchdog(20000, "Close during a flood");
        const DWORD start = GetTickCount();
        EXPECT_TRUE(Close(device));
        return GetTickCount() - start;
    }
    // Log lines that tell of a line dropped for its length.
    size_t DroppedLineLogs()
    {
        const std::string log = LogText();
        size_t n = 0;
        for (size_t at = log.find("[W00159 "); at != std::string::npos; at = log.find("[W00159 ", at + 1))
            ++n;
        return n;
    }
    size_t ErrorsContaining(const std::wstring& source, const wchar_t* text)
    {
        size_t n = 0;
        for (const auto& e : Events())
            n += eventhost::IsEvent(e, L"DriverError") && e.Source == source && e.Data.find(text) != std::wstring::npos;
        return n;
    }
};

// A converter that answers the identification request with 'A's at full speed and never a line
// end: the connection fails as with a silent reader, is made again, and Close returns at once.
TEST_F(HostilePeerTest, AFloodingConverterFailsToConnectAndClosesAtOnce)
{
    SimReader converter(sim, 0, Text());
    Flood(sim, converter.Id(), "request");
    const std::wstring port = converter.Port();
    const SIZE_T before = testsupport::CommittedBytes();
    ASSERT_TRUE(Open(port).first);

    // Gives up on it (the request's time-out) and connects again, to be flooded again.
    EXPECT_TRUE(WaitEvent(L"DriverError", port, 1, 5000));
    EXPECT_TRUE(WaitUntil([&] { return Flood(sim, converter.Id())["started"].AsInt() >= 2; }, 5000));
    Sleep(1000);
    const SIZE_T grown = testsupport::CommittedGrowthSince(before);
    const long long flooded = Flooded(sim, converter.Id());
    const DWORD closeMs = TimedClose(port);
    printf("TCP flood: %lld bytes in, committed memory grew %lu KB, %lld connections, Close took %lu ms\n",
           flooded, static_cast<unsigned long>(grown / 1024),
           static_cast<long long>(Flood(sim, converter.Id())["started"].AsInt()), closeMs);

    EXPECT_GT(flooded, 4 * 1024 * 1024) << "the converter did flood";
    EXPECT_LT(grown, 16 * MB);
    EXPECT_LT(closeMs, 1000u);
    EXPECT_EQ(CountEvents(L"DeviceConnect", port), 0u);
    EXPECT_GE(ErrorsContaining(port, L"Unable to connect"), 1u);
    EXPECT_TRUE(converter.WaitPeerOpen(false));
}

// A serial reader that connected and then sends 'A's at full speed without a line end: the line
// is dropped and reported as not recognised, as garbage lines are, the reader stays usable once
// the flood ends, and Close returns at once. The reader takes what the port signals, or looks
// every receive period.
TEST_F(HostilePeerTest, ASerialReaderThatFloodsAfterConnectingStaysUsable)
{
    SetProp(PropLog, Bool(true));
    SetProp(PropLogFlags, UI4(2));   // the reader's own lines, not the traffic
    for (uint32_t rxPeriod : {0xFFFFFFFFu, 100u}) {
        SCOPED_TRACE(rxPeriod);
        const size_t droppedBefore = DroppedLineLogs();
        eventhost::CRecorder::Instance().Clear();
        SetProp(PropRxPeriod, UI4(rxPeriod));
        SimReader reader(sim, FloodCom, Text());
        const std::wstring port = reader.Port();
        ASSERT_TRUE(Open(port).first);
        ASSERT_TRUE(WaitEvent(L"DeviceConnect", port));
        const SIZE_T before = testsupport::CommittedBytes();
        Flood(sim, reader.Id(), "now");
        EXPECT_TRUE(WaitUntil([&] { return ErrorsContaining(port, L"not recognized") == 1; }, 3000));
        Sleep(1500);
        const SIZE_T grown = testsupport::CommittedGrowthSince(before);
        const long long flooded = Flooded(sim, reader.Id());
        EXPECT_EQ(Status(port), READER_STATE_CONNECTED);
        EXPECT_EQ(DroppedLineLogs(), droppedBefore + 1) << "one log line for the line dropped";

        // Once the line ends, cards come again.
        Flood(sim, reader.Id(), "off");
        sim.SendText(reader.Id(), "\r\n");
        sim.PresentKey(reader.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
        EXPECT_TRUE(WaitEvent(L"TracksData", port));

        Flood(sim, reader.Id(), "now");
        Sleep(300);
        const DWORD closeMs = TimedClose(port);
        printf("Serial flood (receive period %ld): %lld bytes in, committed memory grew %lu KB, Close took %lu ms\n",
               static_cast<long>(rxPeriod), flooded, static_cast<unsigned long>(grown / 1024), closeMs);
        EXPECT_GT(flooded, 256 * 1024) << "the reader did flood";
        EXPECT_LT(grown, 16 * MB);
        EXPECT_LT(closeMs, 1000u);
        EXPECT_EQ(ErrorsContaining(port, L"not recognized"), 1u) << "reported once, as garbage lines are";
        EXPECT_TRUE(reader.WaitPeerOpen(false));
    }
}

// Done stops readers that are being flooded, one while connecting and one connected, at once.
TEST_F(HostilePeerTest, DoneReturnsAtOnceDuringFloods)
{
    SimReader converter(sim, 0, Text());
    Flood(sim, converter.Id(), "request");
    SimReader reader(sim, FloodCom2, Text());
    ASSERT_TRUE(Open(converter.Port()).first);
    ASSERT_TRUE(Open(reader.Port()).first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", reader.Port()));
    Flood(sim, reader.Id(), "now");
    ASSERT_TRUE(WaitUntil([&] { return Flooded(sim, converter.Id()) > 1024 * 1024; }, 3000));
    ASSERT_TRUE(WaitUntil([&] { return Flooded(sim, reader.Id()) > 1024 * 1024; }, 3000));
    Sleep(300);

    DWORD took = 0;
    {
        testsupport::CWatchdog watchdog(20000, "Done during floods");
        const DWORD start = GetTickCount();
        object->Done();
        took = GetTickCount() - start;
    }
    printf("Done during a TCP and a serial flood took %lu ms\n", took);
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(object->OpenPortCount(), 0u);
    EXPECT_TRUE(converter.WaitPeerOpen(false));
    EXPECT_TRUE(reader.WaitPeerOpen(false));
}

// A converter starts a sub-negotiation (IAC SB) and never ends it: the card lines that follow are
// delivered, every one and at once.
TEST_F(HostilePeerTest, CardsAfterAnUnendedSubnegotiationAreDelivered)
{
    SimReader converter(sim, 0, Text());
    const std::wstring port = converter.Port();
    ASSERT_TRUE(Open(port).first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", port));
    const SIZE_T before = testsupport::CommittedBytes();
    sim.Telnet(converter.Id(), {simctl::SimTelnetItem::Raw({0xFF, 0xFA})});

    const size_t cards = 20;
    DWORD firstMs = 0;
    for (size_t i = 0; i < cards; ++i) {
        sim.PresentKey(converter.Id(), "EM", {static_cast<uint8_t>(i + 1), 0x30, 0x7B, 0x00, 0x00});
        if (i == 0) {
            const DWORD start = GetTickCount();
            WaitEvent(L"TracksData", port, 1, 2000);
            firstMs = GetTickCount() - start;
        }
        Sleep(50);
    }
    WaitEvent(L"TracksData", port, cards, 3000);
    const size_t delivered = CountEvents(L"TracksData", port);
    const SIZE_T grown = testsupport::CommittedGrowthSince(before);
    const DWORD closeMs = TimedClose(port);
    printf("After IAC SB: %zu of %zu cards delivered, the first after %lu ms; committed memory grew %lu KB; "
           "Close took %lu ms\n",
           delivered, cards, firstMs, static_cast<unsigned long>(grown / 1024), closeMs);
    EXPECT_EQ(delivered, cards);
    EXPECT_LT(firstMs, 1000u);
    EXPECT_LT(grown, 16 * MB);
    EXPECT_LT(closeMs, 1000u);
}

// A reader of binary or Pelto frames that no longer answers, behind a converter that floods once
// the reader is connected: its polls end by their time-out as with a silent line, so the reader
// is given up, and Close returns at once.
TEST_F(HostilePeerTest, AFrameReaderFloodedAfterConnectingIsGivenUp)
{
    struct Case { const char* protocol; int model; };
    for (const Case& c : {Case{"binary", 3}, Case{"pelto", 9}}) {
        SCOPED_TRACE(c.protocol);
        eventhost::CRecorder::Instance().Clear();
        simctl::SimReaderConfig config = Text();
        config.protocol = c.protocol;
        config.identity.model = c.model;
        SimReader converter(sim, 0, config);
        const std::wstring port = converter.Port();
        SetProp(PropBinaryMode, Bool(true));
        ASSERT_TRUE(Open(port).first);
        ASSERT_TRUE(WaitStatus(port, READER_STATE_CONNECTED));
        const SIZE_T before = testsupport::CommittedBytes();
        sim.Call("override", simctl::JsonFields().Add("id", converter.Id()).Add("match", "frame:").Add("silent", true)
                                 .Add("times", -1));
        Flood(sim, converter.Id(), "now");
        const DWORD floodStart = GetTickCount();
        EXPECT_TRUE(WaitUntil([&] { return Status(port) != READER_STATE_CONNECTED; }, 5000))
            << "the flooded polls never ended";
        const DWORD lostMs = GetTickCount() - floodStart;
        const SIZE_T grown = testsupport::CommittedGrowthSince(before);
        const long long flooded = Flooded(sim, converter.Id());
        const DWORD closeMs = TimedClose(port);
        printf("%s flood: %lld bytes in, given up after %lu ms, committed memory grew %lu KB, Close took %lu ms\n",
               c.protocol, flooded, lostMs, static_cast<unsigned long>(grown / 1024), closeMs);
        EXPECT_GT(flooded, 1024 * 1024) << "the converter did flood";
        EXPECT_LT(grown, 16 * MB);
        EXPECT_LT(closeMs, 1000u);
    }
}
