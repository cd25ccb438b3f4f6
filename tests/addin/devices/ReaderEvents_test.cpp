// External events from running readers: a presented card becomes "TracksData" with the text of
// the default format and "NoCard" when it leaves, connection changes and driver errors become
// their events, each with the device's source, in English or Russian, raised outside the
// component lock; the key transfer is logged.
#include "DeviceFixture.h"
#include "ModuleState.h"

using namespace devicetest;
using namespace slothost;

TEST_F(DeviceTest, ACardBecomesTracksDataAndNoCard)
{
    SetProp(PropLog, Bool(true));
    SimReader text(sim, 48, Text());
    ASSERT_TRUE(Open(L"COM48").first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM48"));
    sim.PresentKey(text.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    ASSERT_TRUE(WaitEvent(L"TracksData", L"COM48"));
    sim.Remove(text.Id());
    ASSERT_TRUE(WaitEvent(L"NoCard", L"COM48"));
    ASSERT_TRUE(Close(L"COM48"));
    ASSERT_TRUE(WaitEvent(L"DeviceDisconnect", L"COM48"));

    std::vector<std::wstring> sequence;
    for (const auto& e : Events()) {
        sequence.push_back(e.Name + L" " + e.Source + L" " + e.Data);
        EXPECT_TRUE(e.LockFree) << "raised under the component lock: " << testing::PrintToString(e.Name);
        EXPECT_NE(e.Thread, GetCurrentThreadId()) << "events come from the reader's thread";
    }
    const std::vector<std::wstring> expected = {
        L"DeviceConnect COM48 ", L"TracksData COM48 123,12345", L"NoCard COM48 123,12345", L"DeviceDisconnect COM48 "};
    EXPECT_EQ(sequence, expected);
    EXPECT_EQ(object->RefusedEvents(), 0u);

    const std::string log = LogText();
    EXPECT_NE(log.find("[I00160 COM48] Transferred to key \"123,12345\"."), std::string::npos) << log;
    EXPECT_NE(log.find("[I00150 COM48] Connected reader"), std::string::npos) << log;
}

TEST_F(DeviceTest, EventsOfABusCarryTheAddressInTheirSourceAndRussianNames)
{
    const LCID thread = GetThreadLocale();
    const LCID messages = MessageLcid;
    SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
    object->SetLocale(L"ru_RU");

    SimReader bus(sim, 49, Bus({3}));
    ASSERT_TRUE(Open(L"COM49\\3").first);
    EXPECT_TRUE(WaitEvent(L"УстройствоПодключено", L"COM49\\3"));
    sim.PresentKey(bus.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00}, 3);
    EXPECT_TRUE(WaitEvent(L"ДанныеКарты", L"COM49\\3"));
    for (const auto& e : Events()) {
        if (e.Name == L"ДанныеКарты") {
            EXPECT_EQ(e.Data, L"123,12345");
        }
    }
    EXPECT_TRUE(Close(L"COM49\\3"));

    SetThreadLocale(thread);
    MessageLcid = messages;
    object->SetLocale(nullptr);
}

TEST_F(DeviceTest, AReaderThatDoesNotAnswerRaisesDriverErrors)
{
    simctl::SimReaderConfig mute = Text();
    SimReader silent(sim, 50, mute);
    sim.Silent(silent.Id(), true);
    ASSERT_TRUE(Open(L"COM50").first);
    ASSERT_TRUE(WaitEvent(L"DriverError", L"COM50"));
    EXPECT_EQ(Status(L"COM50") == READER_STATE_CONNECTED, false);
    // Once it answers, the reader connects at its next attempt.
    sim.Silent(silent.Id(), false);
    EXPECT_TRUE(WaitEvent(L"DeviceConnect", L"COM50"));
    for (const auto& e : Events()) {
        if (e.Name == L"DriverError") {
            EXPECT_FALSE(e.Data.empty());
        }
    }
    EXPECT_TRUE(Close(L"COM50"));
}

TEST_F(DeviceTest, EventsRefusedByAFullPlatformAreCounted)
{
    SetProp(PropLog, Bool(true));
    SimReader text(sim, 51, Text());
    host.SetRefuse(true);
    ASSERT_TRUE(Open(L"COM51").first);
    ASSERT_TRUE(WaitEvent(L"DeviceConnect", L"COM51"));
    sim.PresentKey(text.Id(), "EM", {0x39, 0x30, 0x7B, 0x00, 0x00});
    ASSERT_TRUE(WaitEvent(L"TracksData", L"COM51"));
    EXPECT_TRUE(Close(L"COM51"));
    EXPECT_EQ(object->RefusedEvents(), static_cast<uint32_t>(Events().size()));
    const std::string log = LogText();
    EXPECT_NE(log.find("[W00131 COM51] The platform refused the event \"TracksData\" with the data \"123,12345\"."),
              std::string::npos)
        << log;
}
