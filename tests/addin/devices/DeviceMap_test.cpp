// Devices of the component against simulated readers: one reader per port shared by its bus
// addresses, Close stopping the reader with its last device, Done stopping every reader at once,
// the automatic port found through the search, and the device test that gives an open device its
// reader thread back.
#include "DeviceFixture.h"

using namespace devicetest;
using namespace slothost;

namespace {

const uint32_t RegistryPortsOnly = 0x01;

} // namespace

TEST_F(DeviceTest, BusAddressesShareTheReaderOfTheirPort)
{
    SimReader bus(sim, 40, Bus({1, 2}));
    auto first = Open(L"COM40\\1");
    auto second = Open(L"COM40\\2");
    ASSERT_TRUE(first.first);
    ASSERT_TRUE(second.first);
    EXPECT_EQ(first.second, L"COM40\\1");
    EXPECT_EQ(second.second, L"COM40\\2");
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_EQ(object->OpenDeviceCount(), 2u);
    EXPECT_TRUE(WaitStatus(L"COM40\\1", READER_STATE_CONNECTED));
    EXPECT_TRUE(WaitStatus(L"COM40\\2", READER_STATE_CONNECTED));
    // Each address announces itself under its own source.
    EXPECT_TRUE(WaitEvent(L"DeviceConnect", L"COM40\\1"));
    EXPECT_TRUE(WaitEvent(L"DeviceConnect", L"COM40\\2"));

    // The port itself cannot be opened beside its bus addresses.
    EXPECT_FALSE(Open(L"COM40").first);
    EXPECT_EQ(LastError(), PortBusy);

    EXPECT_TRUE(Close(L"COM40\\1"));
    EXPECT_EQ(object->OpenPortCount(), 1u) << "the reader stays for the second address";
    EXPECT_EQ(Status(L"COM40\\1"), READER_STATE_UNKNOWN);
    EXPECT_EQ(Status(L"COM40\\2"), READER_STATE_CONNECTED);
    EXPECT_TRUE(bus.WaitPeerOpen(true, 0));

    EXPECT_TRUE(Close(L"COM40\\2"));
    EXPECT_EQ(object->OpenPortCount(), 0u);
    EXPECT_EQ(object->OpenDeviceCount(), 0u);
    EXPECT_TRUE(bus.WaitPeerOpen(false)) << "the port is closed with the last device";
    EXPECT_FALSE(Close(L"COM40\\2"));
    EXPECT_EQ(LastError(), NotOpened);
}

TEST_F(DeviceTest, OpeningAnOpenDeviceKeepsItsReader)
{
    SimReader text(sim, 41, Text());
    auto first = Open(L"COM41");
    ASSERT_TRUE(first.first);
    EXPECT_EQ(first.second, L"COM41");
    ASSERT_TRUE(WaitStatus(L"COM41", READER_STATE_CONNECTED));
    auto again = Open(L"COM41");
    EXPECT_TRUE(again.first);
    EXPECT_EQ(again.second, L"COM41");
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_EQ(object->OpenDeviceCount(), 1u);
    // A bus address cannot join a port opened without one.
    EXPECT_FALSE(Open(L"COM41\\1").first);
    EXPECT_EQ(LastError(), PortBusy);

    // GetReaderInfo tells what the identification found.
    std::vector<tVariant> info{Str(L"COM41"), Empty(), Empty(), Empty(), Empty()};
    ASSERT_TRUE(CallOut(MethodGetReaderInfo, info).bVal);
    EXPECT_EQ(info[1].i32Val, 1);
    EXPECT_EQ(info[2].i32Val, 100000 + text.Id());
    EXPECT_NE(Text(info[4]).find(L"S/N"), std::wstring::npos) << Text(info[4]);

    // Reconnect drops the connection and makes it again.
    const size_t connects = CountEvents(L"DeviceConnect", L"COM41");
    EXPECT_TRUE(Call(MethodReconnect, {Str(L"COM41")}).bVal);
    EXPECT_TRUE(WaitEvent(L"DeviceConnect", L"COM41", connects + 1));
    EXPECT_TRUE(Close(L"COM41"));
    EXPECT_TRUE(text.WaitPeerOpen(false));
}

TEST_F(DeviceTest, DoneStopsEveryReaderWithinASecond)
{
    SimReader connected(sim, 42, Text());
    simctl::SimReaderConfig mute = Text();
    mute.replyDelayMs = 10000; // a reader in the middle of its identification
    SimReader silent(sim, 43, mute);
    SimReader network(sim, 0, Text());
    SetProp(PropReqTimeout, UI4(5000));
    for (const std::wstring& port : {connected.Port(), silent.Port(), network.Port()})
        ASSERT_TRUE(Open(port).first) << testing::PrintToString(port);
    ASSERT_TRUE(WaitStatus(L"COM42", READER_STATE_CONNECTED));
    ASSERT_TRUE(WaitStatus(network.Port(), READER_STATE_CONNECTED));
    ASSERT_TRUE(sim.WaitReceivedText(silent.Id(), "i", 3000));
    EXPECT_EQ(Status(L"COM43"), READER_STATE_CONNECTING);

    const DWORD start = GetTickCount();
    object->Done();
    const DWORD took = GetTickCount() - start;
    EXPECT_LT(took, 1000u);
    EXPECT_EQ(object->OpenPortCount(), 0u);
    EXPECT_EQ(object->OpenDeviceCount(), 0u);
    EXPECT_TRUE(connected.WaitPeerOpen(false));
    EXPECT_TRUE(silent.WaitPeerOpen(false));
    EXPECT_TRUE(network.WaitPeerOpen(false));
    EXPECT_EQ(CountEvents(L"DeviceDisconnect", L"COM42"), 1u);
}

TEST_F(DeviceTest, TheAutomaticPortIsFoundThroughTheSearch)
{
    SerialCommMap ports({44, 45});
    ASSERT_TRUE(ports.Ok());
    SimReader text(sim, 45, Text());
    SetProp(PropSearchFlags, UI4(RegistryPortsOnly));
    auto opened = Open(L"Auto");
    ASSERT_TRUE(opened.first) << std::hex << LastError();
    EXPECT_EQ(opened.second, L"COM45");
    EXPECT_TRUE(WaitStatus(L"COM45", READER_STATE_CONNECTED));

    // Every port that answers has a reader now: the search finds nothing more, and the port is
    // not probed while its reader runs.
    sim.Received(text.Id(), true);
    std::vector<tVariant> test{Empty(), Empty()};
    EXPECT_FALSE(CallOut(MethodDeviceTest, test).bVal);
    EXPECT_EQ(LastError(), ReaderNotFound);
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_TRUE(sim.Received(text.Id()).empty()) << "the open port was probed";
    EXPECT_TRUE(Close(L"COM45"));
}

TEST_F(DeviceTest, DeviceTestGivesAnOpenDeviceItsThreadBack)
{
    SimReader text(sim, 46, Text());
    ASSERT_TRUE(Open(L"COM46").first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM46"));

    std::vector<tVariant> test{Empty(), Empty()};
    ASSERT_TRUE(CallOut(MethodDeviceTest, test).bVal) << std::hex << LastError();
    EXPECT_NE(Text(test[0]).find(L"S/N"), std::wstring::npos) << Text(test[0]);
    EXPECT_EQ(test[1].vt, VTYPE_PWSTR);
    EXPECT_EQ(Text(test[1]), L"");

    // The reader connects again and reports keys as before.
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM46", 2));
    EXPECT_TRUE(WaitStatus(L"COM46", READER_STATE_CONNECTED));
    sim.PresentKey(text.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    EXPECT_TRUE(WaitEvent(L"TracksData", L"COM46"));
    EXPECT_TRUE(Close(L"COM46"));
}

TEST_F(DeviceTest, DeviceTestOfAPortNotOpenLeavesNothingBehind)
{
    SimReader text(sim, 47, Text());
    SetProp(PropPort, Str(L"COM47"));
    std::vector<tVariant> test{Empty(), Empty()};
    ASSERT_TRUE(CallOut(MethodDeviceTest, test).bVal) << std::hex << LastError();
    EXPECT_NE(Text(test[0]).find(L"S/N"), std::wstring::npos);
    EXPECT_EQ(object->OpenPortCount(), 0u);
    EXPECT_TRUE(text.WaitPeerOpen(false)) << "the test's own reader closes its port";

    // A reader that does not answer: false, with the reader's own error and an empty description.
    sim.Silent(text.Id(), true);
    test = {Empty(), Empty()};
    EXPECT_FALSE(CallOut(MethodDeviceTest, test).bVal);
    EXPECT_EQ(LastError(), static_cast<long>(0x80040217));
    EXPECT_EQ(Text(test[0]), L"");
    EXPECT_EQ(object->OpenPortCount(), 0u);
}

TEST_F(DeviceTest, PortNamesThatDifferInCaseNameOneReader)
{
    SimReader text(sim, 56, Text());
    auto lower = Open(L"com56");
    ASSERT_TRUE(lower.first) << std::hex << LastError();
    EXPECT_EQ(lower.second, L"com56");
    ASSERT_TRUE(WaitStatus(L"COM56", READER_STATE_CONNECTED));
    auto upper = Open(L"COM56");
    EXPECT_TRUE(upper.first);
    EXPECT_EQ(upper.second, L"com56") << "the device keeps the identifier it was opened under";
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_EQ(object->OpenDeviceCount(), 1u);
    // The open port is no candidate of the search under either spelling.
    std::vector<tVariant> test{Empty(), Empty()};
    {
        SerialCommMap ports({56});
        ASSERT_TRUE(ports.Ok());
        SetProp(PropSearchFlags, UI4(RegistryPortsOnly));
        SetProp(PropPort, Str(L"Auto"));
        sim.Received(text.Id(), true);
        EXPECT_FALSE(CallOut(MethodDeviceTest, test).bVal);
        EXPECT_EQ(LastError(), ReaderNotFound);
        EXPECT_TRUE(sim.Received(text.Id()).empty()) << "the open port was probed";
    }
    EXPECT_TRUE(Close(L"Com56"));
    EXPECT_EQ(object->OpenPortCount(), 0u);
    EXPECT_TRUE(text.WaitPeerOpen(false));
}

TEST_F(DeviceTest, DestroyingTheComponentStopsTheReadersThatRun)
{
    SimReader serial(sim, 57, Text());
    SimReader network(sim, 0, Text());
    ASSERT_TRUE(Open(serial.Port()).first);
    ASSERT_TRUE(Open(network.Port()).first);
    ASSERT_TRUE(WaitStatus(serial.Port(), READER_STATE_CONNECTED));
    ASSERT_TRUE(WaitStatus(network.Port(), READER_STATE_CONNECTED));
    sim.PresentKey(serial.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    ASSERT_TRUE(WaitEvent(L"TracksData", serial.Port()));
    sim.PresentKey(network.Id(), "EM", {0x39, 0x30, 0x7C, 0x00, 0x00});

    // As DestroyObject deletes it, without Done first, while the readers run.
    host.ProbeLockOf(nullptr);
    host.JoinProbes();
    const DWORD start = GetTickCount();
    object->DestructorSlot(1);
    object = nullptr;
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(CParvel::Current(), nullptr);
    EXPECT_TRUE(serial.WaitPeerOpen(false));
    EXPECT_TRUE(network.WaitPeerOpen(false));
    const size_t events = Events().size();
    sim.PresentKey(serial.Id(), "EM", {0x39, 0x30, 0x7D, 0x00, 0x00});
    Sleep(300);
    EXPECT_EQ(Events().size(), events) << "an event came after the component was gone";
}
