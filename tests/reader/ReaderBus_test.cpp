// The reader object on a simulated bus: several addressed readers on one line, each identified,
// polled and reported on its own, with the bus address in every event's source.
#include "Messages.h"
#include "ReaderTestRig.h"
#include "ReaderTestSink.h"
#include "StallingRelay.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace readertest;
using simctl::SimBusAddress;
using simctl::SimReaderConfig;

namespace {

const DWORD WaitMs = 5000;
const std::vector<uint8_t> EmKey = {0x39, 0x30, 45, 0x2B, 0x1A};

SimReaderConfig Bus(const std::vector<SimBusAddress>& addresses, bool echo = false)
{
    SimReaderConfig config = UnpacedSim();
    config.protocol = "bus";
    config.addresses = addresses;
    config.echo = echo;
    return config;
}

SimBusAddress Address(int address, int powered = -1, const std::string& version = "")
{
    SimBusAddress a;
    a.address = address;
    a.identity.powered = powered;
    a.identity.version = version;
    return a;
}

// The last error recorded for an address (S_FALSE when none is).
HRESULT LastErrorCode(CReader& reader, int32_t address)
{
    HRESULT code;
    std::wstring text;
    return reader.GetLastError(address, code, text) ? code : S_FALSE;
}

std::vector<std::wstring> Sources(const std::vector<ReaderEvent>& events)
{
    std::vector<std::wstring> sources;
    for (const auto& e : events)
        sources.push_back(e.Source);
    std::sort(sources.begin(), sources.end());
    return sources;
}

} // namespace

class ReaderBus : public testing::TestWithParam<const char*>
{
protected:
    int Com() const { return std::string(GetParam()) == "com" ? 63 : 0; }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

INSTANTIATE_TEST_SUITE_P(Transport, ReaderBus, testing::Values("tcp", "com"));

TEST_P(ReaderBus, AddressesAreServedOnTheirOwnAndASilentOneStaysDisconnected)
{
    SimReader s(sim, Bus({Address(1), Address(2), Address(7, 0)}), Com());
    Timings t;
    t.ReqTimeout = 200;
    auto reader = StartReader(sink, s.Port(), t, 0, 0, {1, 2, 7});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    const std::wstring port = s.Port();
    EXPECT_EQ((std::vector<std::wstring>{port + L"\\1", port + L"\\2"}),
              Sources(sink.Events(EventKind::Connect)));
    EXPECT_TRUE(sim.WaitReceivedText(s.Id(), "#00007 i\r", 1000));
    // Its identification times out after ReqTimeout.
    EXPECT_TRUE(WaitUntil([&] { return reader->GetState(7) == READER_STATE_DISCONNECTED; }, WaitMs));
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(1));
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(2));
    EXPECT_EQ(PE_READ_TIMEOUT, LastErrorCode(*reader, 7));
    // A silent address raises no event of its own.
    EXPECT_EQ(0u, sink.Count(EventKind::DriverError));

    sim.PresentKey(s.Id(), "EM", EmKey, 2);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    EXPECT_EQ(port + L"\\2", read.Source);
    EXPECT_EQ(KEY_TYPE_EM_MARINE, read.KeyType);
    EXPECT_EQ(EmKey, Bytes(read.Key));
    uint32_t type;
    KeyData key;
    std::wstring text;
    // The address's last key is stored with its text, the sink's answer to the event: once that
    // call has returned, a moment after the event was recorded.
    EXPECT_TRUE(WaitUntil([&] {
        reader->GetLastKey(2, 0, type, key, text);
        return !text.empty();
    }, WaitMs));
    EXPECT_EQ(KEY_TYPE_EM_MARINE, type);
    EXPECT_EQ(read.Text, text);
    Sleep(800); // several polls of the same key
    EXPECT_EQ(1u, sink.Count(EventKind::TracksData));

    sim.Remove(s.Id(), 2);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
    ReaderEvent gone = sink.Events(EventKind::NoCard)[0];
    EXPECT_EQ(port + L"\\2", gone.Source);
    EXPECT_EQ(read.Text, gone.Text);

    // The silent address is tried again only on request.
    sim.Power(s.Id(), 7, true);
    Sleep(500);
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader->GetState(7));
    reader->Reconnect(7);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 3, WaitMs));
    EXPECT_EQ(port + L"\\7", sink.Events(EventKind::Connect)[2].Source);

    // Stopping announces every connected address, and not the port itself.
    reader.reset();
    EXPECT_EQ((std::vector<std::wstring>{port + L"\\1", port + L"\\2", port + L"\\7"}),
              Sources(sink.Events(EventKind::Disconnect)));
}

// A connected address that stops answering is disconnected on its own after a connection period
// of timed-out polls, and identified again every connection period until it answers.
TEST_P(ReaderBus, AddressThatStopsAnsweringIsLostAndFoundAgain)
{
    SimReader s(sim, Bus({Address(1), Address(2)}), Com());
    auto reader = StartReader(sink, s.Port(), Timings(), 0, 0, {1, 2});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    const std::wstring port = s.Port();
    sim.Power(s.Id(), 2, false);
    ASSERT_TRUE(sink.WaitCount(EventKind::Disconnect, 1, WaitMs));
    auto lost = sink.Events(EventKind::Disconnect);
    ASSERT_EQ(1u, lost.size());
    EXPECT_EQ(port + L"\\2", lost[0].Source);
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader->GetState(2));
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(1));
    sim.PresentKey(s.Id(), "EM", EmKey, 1); // the other address is still served
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));

    sim.Power(s.Id(), 2, true);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 3, WaitMs));
    EXPECT_EQ(port + L"\\2", sink.Events(EventKind::Connect)[2].Source);
    EXPECT_EQ(1u, sink.Count(EventKind::Disconnect));
}

TEST_P(ReaderBus, AddressesComeAndGoWithTheAddressList)
{
    SimReader s(sim, Bus({Address(3), Address(4)}, true), Com());
    auto reader = StartReader(sink, s.Port(), Timings(), 0, 0, {3});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    reader->AddAddress(4);
    EXPECT_NE(READER_STATE_UNKNOWN, reader->GetState(4));
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    EXPECT_EQ(s.Port() + L"\\4", sink.Events(EventKind::Connect)[1].Source);
    reader->RemoveAddress(3);
    EXPECT_TRUE(WaitUntil([&] { return reader->GetState(3) == READER_STATE_UNKNOWN; }, WaitMs));
    EXPECT_EQ(READER_STATE_CONNECTED, reader->GetState(4));
}

TEST(ReaderBusFirmware, NumericKeysOfFirmware409)
{
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReader s(sim, Bus({Address(12, -1, "409")}), 0);
    auto reader = StartReader(sink, s.Port(), Timings(), 0, 0, {12});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    EXPECT_TRUE(sim.WaitReceivedText(s.Id(), "#00012 i\r", 1000));
    simctl::SimCard card;
    card.number = 123456;
    sim.Present(s.Id(), card, 12);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    EXPECT_EQ(0u, read.KeyType);
    EXPECT_EQ((std::vector<uint8_t>{0x40, 0xE2, 0x01, 0x00, 0x00}), Bytes(read.Key));
    EXPECT_EQ(s.Port() + L"\\12", read.Source);
    sim.Remove(s.Id(), 12);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
}

// Replies on a bus carry no mark of the request they answer: what is on the line before a request
// belongs to an earlier one, and a reply that names an address is only that address's.
class ReaderBusHostile : public testing::Test
{
protected:
    int Override(simctl::JsonFields fields)
    {
        return static_cast<int>(sim.Call("override", fields)["overrides"].AsInt());
    }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

// An address that answers its identification with its serial line and then goes on printing
// other lines fails its identification in bounded time; the other addresses go on being polled.
TEST_F(ReaderBusHostile, AddressThatKeepsTalkingDoesNotStopThePollingOfTheOthers)
{
    SimReader s(sim, Bus({Address(1), Address(2)}), 0);
    Override(simctl::JsonFields()
                 .Add("id", s.Id())
                 .Add("match", "#00002 i")
                 .Add("reply", "Kora USB S/N: 1234\r\n")
                 .Add("drip", "Port speed: 9600\r\n")
                 .Add("drip_ms", 150)
                 .Add("drip_count", 80));
    auto reader = StartReader(sink, s.Port(), Timings(), 0, 0, {1, 2});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, WaitMs));
    ASSERT_TRUE(sim.WaitReceivedText(s.Id(), "#00002 i\r", 1000));
    // The drip goes on for 12 s; the key is read long before.
    sim.PresentKey(s.Id(), "EM", EmKey, 1);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, 4000));
    EXPECT_EQ(s.Port() + L"\\1", sink.Events(EventKind::TracksData)[0].Source);
    EXPECT_EQ(READER_STATE_DISCONNECTED, reader->GetState(2));
    EXPECT_EQ(PE_READ_TIMEOUT, LastErrorCode(*reader, 2));
    EXPECT_EQ(1u, sink.Count(EventKind::Connect));
}

// A reply that comes after its request timed out is discarded (and logged) before the next
// address is asked, not reported as that address's card.
TEST_F(ReaderBusHostile, LateReplyIsNotTakenForTheNextAddresssReply)
{
    SimReader s(sim, Bus({Address(1), Address(2)}), 0);
    auto reader = StartReader(sink, s.Port(), Timings(), 0, 0, {1, 2}); // ReqTimeout 300
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    Override(simctl::JsonFields()
                 .Add("id", s.Id())
                 .Add("match", "#00001 r")
                 .Add("reply", "Em-Marine[2B1A] 045,12345\r\n")
                 .Add("delay_ms", 420));
    EXPECT_TRUE(WaitUntil([&] { return sink.HasLogLine(L"[157]"); }, 2000));
    Sleep(1500);
    for (const auto& e : sink.Events(EventKind::TracksData))
        EXPECT_NE(s.Port() + L"\\2", e.Source);
    EXPECT_TRUE(sink.HasLogLine(L"Em-Marine[2B1A] 045,12345"));
}

// After an identification that timed out, the next exchange on the line is the identification of
// the address asked next, and the late identification of another address that comes first is not
// taken for it: the reader's serial number tells them apart.
TEST_F(ReaderBusHostile, LateIdentificationOfAnotherAddressIsNotTakenForTheOneAsked)
{
    simctl::SimReaderConfig config = Bus({Address(1), Address(2)});
    config.converter = "raw";
    SimReader s(sim, config, 0);
    CStallingRelay relay(s.TcpPort());
    auto reader = StartReader(sink, relay.Address(), Timings(), 0, 0, {1, 2}); // ReqTimeout 300
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    relay.Arm("#00002 i", 450);
    reader->Reconnect(2);
    ASSERT_TRUE(WaitUntil([&] { return relay.HoldEnded() != 0; }, 3000));
    EXPECT_TRUE(WaitUntil([&] { return sink.HasLogLine(L"[157] Discarded input that answers no request: Kora USB S/N: 200002"); },
                          2000));
    sim.PresentKey(s.Id(), "EM", EmKey, 1);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    EXPECT_EQ(relay.Address() + L"\\1", sink.Events(EventKind::TracksData)[0].Source);
    // Address 1's own identification was its sync reply, not a key reply gone wrong.
    for (const auto& line : sink.LogLines())
        EXPECT_EQ(std::wstring::npos, line.find(L"[157] Discarded input that answers no request: Kora USB S/N: 200001"))
            << testing::PrintToString(line);
}

// Firmware 409 and 410 name the address they answer for; another address's reply is discarded.
TEST_F(ReaderBusHostile, ReplyNamingAnotherAddressIsNotThisAddresssKey)
{
    SimReader s(sim, Bus({Address(1, -1, "409"), Address(2, -1, "409")}), 0);
    Timings t;
    t.ConnectPeriod = 10000; // the time-outs below must not lose the address meanwhile
    auto reader = StartReader(sink, s.Port(), t, 0, 0, {1, 2});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    Override(simctl::JsonFields().Add("id", s.Id()).Add("match", "#00001 r").Add("reply", "00002 123457\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return sink.HasLogLine(L"[157] Discarded input that answers no request: 00002 123457"); },
                          2000));
    Sleep(700);
    EXPECT_EQ(0u, sink.Count(EventKind::TracksData));

    sim.ClearOverrides(s.Id());
    simctl::SimCard card;
    card.number = 123456;
    sim.Present(s.Id(), card, 1);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, WaitMs));
    ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    EXPECT_EQ(s.Port() + L"\\1", read.Source);
    EXPECT_EQ((std::vector<uint8_t>{0x40, 0xE2, 0x01, 0x00, 0x00}), Bytes(read.Key));
}

// A line that never stops bringing replies naming another address (a broken reader, a hostile
// converter) does not hold a read past its time-out: the address asked times out as with a
// silent line, and the discarded input is logged in a few lines, not one for each reply. The
// address asked is switched off, so that only the time-out can end its read: an answer of its own
// would end it too, and how soon the flood lets one through depends on how fast the simulator
// writes, not on the add-in.
TEST_F(ReaderBusHostile, RepliesNamingAnotherAddressWithoutEndDoNotHoldTheRead)
{
    SimReader s(sim, Bus({Address(1, -1, "409"), Address(2, -1, "409")}), 0);
    Timings t;
    t.ConnectPeriod = 60000; // a lost address is not connected again during the test
    auto reader = StartReader(sink, s.Port(), t, 0, 0, {1, 2});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    sim.Power(s.Id(), 1, false);
    sim.Call("flood", simctl::JsonFields().Add("id", s.Id()).Add("on", "now").Add("text", "00002 123457\r\n"));
    EXPECT_TRUE(WaitUntil([&] { return LastErrorCode(*reader, 1) == PE_READ_TIMEOUT; }, 3000))
        << "the read of address 1 never ended";
    size_t discardLogs = 0;
    for (const auto& line : sink.LogLines())
        discardLogs += line.find(L"[157]") != std::wstring::npos;
    printf("%zu discard log lines\n", discardLogs);
    EXPECT_LT(discardLogs, 100u);
    sim.Call("flood", simctl::JsonFields().Add("id", s.Id()).Add("on", "off"));
}

// A link that stalls for longer than the request time-out (a TCP retransmission on a slow link):
// the converter's replies, held from the moment a request to address 1 passed, come all at once
// when the stall ends. None of them is taken for another address's: no card is ever raised at
// address 2, which holds none, and address 1's card is raised there soon after the stall, with the
// time-outs and tries a site has. Then the replies keep to their addresses.
class ReaderBusStall : public testing::TestWithParam<DWORD>
{
protected:
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

INSTANTIATE_TEST_SUITE_P(Stall, ReaderBusStall, testing::Values(3500u, 6000u),
                         [](const testing::TestParamInfo<DWORD>& info) { return std::to_string(info.param) + "ms"; });

TEST_P(ReaderBusStall, RepliesHeldByAStalledLinkAreNotTakenForAnotherAddresss)
{
    const DWORD stallMs = GetParam();
    simctl::SimReaderConfig config = Bus({Address(1), Address(2)});
    config.converter = "raw";
    SimReader s(sim, config, 0);
    CStallingRelay relay(s.TcpPort());
    Timings t;
    t.ReqTimeout = 3000;
    t.ReqTries = 2;
    t.ConnectPeriod = 3000;
    auto reader = StartReader(sink, relay.Address(), t, 0, 0, {1, 2});
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 2, WaitMs));
    const std::wstring one = relay.Address() + L"\\1";
    const std::wstring two = relay.Address() + L"\\2";

    relay.Arm("#00001 ", stallMs);
    sim.PresentKey(s.Id(), "EM", EmKey, 1);
    ASSERT_TRUE(WaitUntil([&] { return relay.HoldEnded() != 0; }, stallMs + 3000)) << "the link never stalled";
    const DWORD stallEnd = relay.HoldEnded();
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 1, 4000));
    const ReaderEvent read = sink.Events(EventKind::TracksData)[0];
    printf("held during the stall: %s; the card came %ld ms after it\n", relay.HeldBytes().c_str(),
           static_cast<long>(read.Tick - stallEnd));
    EXPECT_EQ(one, read.Source);
    EXPECT_EQ(EmKey, Bytes(read.Key));
    EXPECT_LE(static_cast<long>(read.Tick - stallEnd), 3000L);
    if (relay.HeldBytes().find("Em-Marine") != std::string::npos) {
        EXPECT_TRUE(sink.HasLogLine(L"[157] Discarded input that answers no request: Em-Marine"));
    }

    // The replies keep to their addresses: no card at address 2 while only address 1 holds one.
    Sleep(400);
    sim.Remove(s.Id(), 1);
    ASSERT_TRUE(sink.WaitCount(EventKind::NoCard, 1, WaitMs));
    EXPECT_EQ(one, sink.Events(EventKind::NoCard)[0].Source);
    const auto before = sink.Events(EventKind::TracksData);
    ASSERT_EQ(1u, before.size()) << "a card raised twice, or at address 2, which holds none";
    sim.PresentKey(s.Id(), "EM", EmKey, 2);
    ASSERT_TRUE(sink.WaitCount(EventKind::TracksData, 2, WaitMs));
    EXPECT_EQ(two, sink.Events(EventKind::TracksData)[1].Source);
    Sleep(400);
    EXPECT_EQ(2u, sink.Count(EventKind::TracksData));
    EXPECT_EQ(1u, sink.Count(EventKind::NoCard));
}
