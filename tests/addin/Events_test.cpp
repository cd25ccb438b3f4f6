// What the component makes of a reader's reports: the external events with their names, sources
// and data, the key formatting behind "TracksData", the sounds around the events, events raised
// only outside the component lock, and events the platform refuses. The reports are made here by
// calling the reader-events interface with a reader that is never started.
#include "EventFixture.h"
#include "Messages.h"
#include "ModuleState.h"
#include <functional>

using namespace slothost;

namespace {

const uint8_t EmMarine[] = {0x39, 0x30, 0x7B, 0x00, 0x00};

KeyData Key(const uint8_t* bytes, size_t count)
{
    KeyData key;
    key.Assign(bytes, count);
    return key;
}

} // namespace

class ReaderEventsTest : public EventTest
{
protected:
    void SetUp() override
    {
        EventTest::SetUp();
        reader.Init(object, L"COM3");
    }

    std::wstring Transfer(uint32_t keyType, const KeyData& key, const std::wstring& before = L"untouched")
    {
        std::wstring text = before;
        object->OnTracksData(&reader, keyType, key, text);
        return text;
    }

    CReader reader;
};

TEST_F(ReaderEventsTest, DefaultFormatTurnsTheKeyIntoTracksData)
{
    EXPECT_EQ(Transfer(1, Key(EmMarine, 5)), L"123,12345");
    auto events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].Source, L"COM3");
    EXPECT_EQ(events[0].Name, L"TracksData");
    EXPECT_EQ(events[0].Data, L"123,12345");

    tVariant type = Empty();
    ASSERT_TRUE(object->GetPropVal(PropLastKeyType, &type));
    EXPECT_EQ(type.ui32Val, 1u);
    tVariant number = Empty();
    ASSERT_TRUE(object->GetPropVal(PropLastKeyNum, &number));
    EXPECT_EQ(Bytes(number), std::string("\x39\x30\x7B\x00\x00", 5));
}

TEST_F(ReaderEventsTest, KeysThatGiveNoTextRaiseNoEvent)
{
    // Each row: the only format, the key type, and the reason logged with message 161. The last
    // key is recorded in every case; a key no format takes leaves the reader's text alone.
    struct Row
    {
        const wchar_t* Template;
        const wchar_t* Params;
        uint32_t KeyTypes;
        const char* Reason;
        const wchar_t* TextAfter;
    } rows[] = {
        {L"%u", L"b0", 1u << 2, "format is not specified.", L"untouched"},   // HID only, key is Em-Marine
        {L"", L"b0", 0, "formatting result - empty string.", L""},
        {L"%u", L"b0 +", 0, "", L"untouched"},                               // parameters do not parse
    };
    SetProp(PropLog, Bool(true));
    SetProp(PropSoundEnabled, Bool(true));
    SetProp(PropSoundFirst + 1, Str(L"C:\\s\\error.wav"));
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "template " << testing::PrintToString(std::wstring(row.Template)));
        OnlyFormat(row.Template, row.Params, row.KeyTypes);
        eventhost::CRecorder::Instance().Clear();
        ASSERT_TRUE(Call(MethodClearLog, {}).bVal);
        const uint8_t other[] = {0x01, 0x02, 0x03, 0x04, 0x05};
        EXPECT_EQ(Transfer(1, Key(other, 5)), row.TextAfter);
        EXPECT_TRUE(Events().empty());
        auto sounds = Sounds();
        ASSERT_EQ(sounds.size(), 1u);
        EXPECT_EQ(sounds[0].Name, L"C:\\s\\error.wav");
        const std::string log = LogText();
        EXPECT_NE(log.find("[I00161 COM3] Failed to transer key: "), std::string::npos) << log;
        EXPECT_NE(log.find(row.Reason), std::string::npos) << log;
        tVariant number = Empty();
        ASSERT_TRUE(object->GetPropVal(PropLastKeyNum, &number));
        EXPECT_EQ(Bytes(number), std::string("\x01\x02\x03\x04\x05", 5));
    }
}

TEST_F(ReaderEventsTest, EveryReportHasItsEventInEitherLanguage)
{
    struct Row
    {
        std::function<void(CParvel&, CReader&)> Report;
        const wchar_t* English;
        const wchar_t* Russian;
        const wchar_t* Data;
    };
    const KeyData key = Key(EmMarine, 5);
    const std::vector<Row> rows = {
        {[&](CParvel& c, CReader& r) { std::wstring t; c.OnTracksData(&r, 1, key, t); }, L"TracksData",
         L"ДанныеКарты", L"123,12345"},
        {[&](CParvel& c, CReader& r) { c.OnNoCard(&r, 1, key, L"123,12345"); }, L"NoCard", L"НетКарты", L"123,12345"},
        {[](CParvel& c, CReader& r) { c.OnDriverError(&r, E_FAIL, L"Port error."); }, L"DriverError",
         L"ОшибкаДрайвера", L"Port error."},
        {[](CParvel& c, CReader& r) { c.OnDeviceConnect(&r); }, L"DeviceConnect", L"УстройствоПодключено", L""},
        {[](CParvel& c, CReader& r) { c.OnDeviceDisconnect(&r); }, L"DeviceDisconnect", L"УстройствоОтключено", L""},
        {[](CParvel& c, CReader& r) { c.OnCommand(&r); }, L"Command", L"Комманда", L""},
    };
    const LCID thread = GetThreadLocale();
    const LCID messages = MessageLcid;
    for (bool russian : {false, true}) {
        if (russian) {
            SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT));
            object->SetLocale(L"ru_RU");
            ASSERT_TRUE(object->RussianEvents());
        }
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << (russian ? "Russian " : "English ") << testing::PrintToString(std::wstring(row.English)));
            eventhost::CRecorder::Instance().Clear();
            row.Report(*object, reader);
            auto events = Events();
            ASSERT_EQ(events.size(), 1u);
            EXPECT_EQ(events[0].Name, russian ? row.Russian : row.English);
            EXPECT_EQ(events[0].Source, L"COM3");
            EXPECT_EQ(events[0].Data, row.Data);
            EXPECT_TRUE(events[0].LockFree) << "the event was raised under the component lock";
        }
    }
    SetThreadLocale(thread);
    MessageLcid = messages;
    object->SetLocale(nullptr);
}

TEST_F(ReaderEventsTest, NoCardWithoutTextRaisesNothing)
{
    object->OnNoCard(&reader, 1, Key(EmMarine, 5), L"");
    EXPECT_TRUE(Events().empty());
}

// Close and Done do not wait for a reader's call that is inside the component: one that gets to
// its event only after Done (it waited for the component lock, say) raises nothing, since the
// platform may have freed the connection by then. Init makes the way out anew.
TEST_F(ReaderEventsTest, AReportThatComesAfterDoneRaisesNothingUntilInitAgain)
{
    object->Done();
    object->OnDriverError(&reader, E_FAIL, L"Port error.");
    object->OnDeviceConnect(&reader);
    object->OnCommand(&reader);
    Transfer(1, Key(EmMarine, 5));
    EXPECT_TRUE(Events().empty());

    ASSERT_TRUE(object->Init(&host));
    object->OnDriverError(&reader, E_FAIL, L"Port error.");
    EXPECT_EQ(Events().size(), 1u);
}

TEST_F(ReaderEventsTest, CommandSetsTheCommandEvent)
{
    ASSERT_NE(object->CommandEvent(), nullptr);
    ResetEvent(object->CommandEvent());
    object->OnCommand(&reader);
    EXPECT_EQ(WaitForSingleObject(object->CommandEvent(), 0), WAIT_OBJECT_0);
}

TEST_F(ReaderEventsTest, SoundsPlayBeforeConnectionEventsAndAfterTheKey)
{
    SetProp(PropSoundEnabled, Bool(true));
    const wchar_t* files[] = {L"C:\\s\\key.wav", L"C:\\s\\error.wav", L"C:\\s\\on.wav", L"C:\\s\\off.wav"};
    for (int slot = 0; slot < 4; ++slot)
        SetProp(PropSoundFirst + slot, Str(files[slot]));
    object->OnDeviceConnect(&reader);
    Transfer(1, Key(EmMarine, 5));
    object->OnDriverError(&reader, E_FAIL, L"Port error.");
    object->OnDeviceDisconnect(&reader);
    std::vector<std::wstring> sequence;
    for (const auto& e : eventhost::CRecorder::Instance().Entries())
        sequence.push_back(e.Kind + L" " + e.Name);
    const std::vector<std::wstring> expected = {
        L"wave C:\\s\\on.wav",  L"event DeviceConnect", L"event TracksData",      L"wave C:\\s\\key.wav",
        L"event DriverError",   L"wave C:\\s\\off.wav", L"event DeviceDisconnect",
    };
    EXPECT_EQ(sequence, expected);
}

TEST_F(ReaderEventsTest, RefusedEventsAreCountedAndLogged)
{
    SetProp(PropLog, Bool(true));
    host.SetRefuse(true);
    Transfer(1, Key(EmMarine, 5));
    object->OnDriverError(&reader, E_FAIL, L"Port error.");
    host.SetRefuse(false);
    object->OnDeviceConnect(&reader);
    EXPECT_EQ(Events().size(), 3u);
    EXPECT_EQ(object->RefusedEvents(), 2u);
    const std::string log = LogText();
    EXPECT_NE(log.find("[W00131 COM3] The platform refused the event \"TracksData\" with the data \"123,12345\"."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("[W00131 COM3] The platform refused the event \"DriverError\" with the data \"Port error.\"."),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("DeviceConnect"), std::string::npos) << "an accepted event is not logged";
}
