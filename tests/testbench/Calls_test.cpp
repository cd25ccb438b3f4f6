// Calls by name and the wrappers of the add-in's methods, against the stand-in add-in: the texts of
// failed calls, the exact arguments each wrapper sends, the open-device list, and the memory that
// crosses the boundary.
#include "HostFixture.h"
#include "VariantHelpers.h"

namespace {

class HostCalls : public ::testing::Test
{
protected:
    void SetUp() override
    {
        host.SetLibraryPath(FakeAddinPath());
        host.SetHostLanguage(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        host.Create();
        host.AddListener(ListenDevices, &devicesChanged, ListenerCount::Callback);
        host.AddListener(ListenComponent, &componentChanged, ListenerCount::Callback);
        record.Clear();
    }
    void TearDown() override
    {
        host.RemoveListeners(&devicesChanged);
        host.RemoveListeners(&componentChanged);
        host.Unload();
        EXPECT_EQ(host.Live(), 0u) << "blocks of the memory manager never freed";
        EXPECT_EQ(host.ForeignFrees(), 0) << "blocks freed twice or not from the memory manager";
    }

    std::wstring LastCall() const
    {
        std::vector<std::wstring> lines = record.Lines();
        return lines.empty() ? std::wstring() : lines.back();
    }

    void SetPortText(const wchar_t* port)
    {
        CVariantArray value(1, &host);
        value.SetWStr(0, port);
        host.SetPort(&value[0]);
    }

    // The text of the exception a call raises; empty when it raises none.
    template <typename Call>
    std::string FailureText(Call call)
    {
        try {
            call();
        } catch (const CTestParvelException& e) {
            return e.what();
        }
        return std::string();
    }

    MessageLanguage english{MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT)};
    CallRecord record;
    CountingHost host;
    ListenerCount devicesChanged;
    ListenerCount componentChanged;
};

} // namespace

TEST_F(HostCalls, FailedCallsCarryTheirTextsAndTheAddInsOwn)
{
    CVariantArray args(2, &host);
    EXPECT_EQ(FailureText([&]() { host.CallAsFunc(L"Nope", &args[0], &args[1], 1); }), "\"Nope\" method not found.");
    EXPECT_EQ(FailureText([&]() { host.CallAsProc(L"Nope", &args[1], 1); }), "\"Nope\" method not found.");
    EXPECT_EQ(FailureText([&]() { host.SetProperty(L"Nope", &args[1]); }), "\"Nope\" property not found.");

    // A failed call with an error of code 1004 during it ends with that error's description.
    args.SetI4(1, 1004);
    EXPECT_EQ(FailureText([&]() { host.CallAsFunc(L"Fail", &args[0], &args[1], 1); }),
              "Failed to execute method \"Fail\". Fake failure.");
    // Another code is delivered but is no last error: the earlier one does not leak into this call.
    args.SetI4(1, 1005);
    EXPECT_EQ(FailureText([&]() { host.CallAsFunc(L"Fail", &args[0], &args[1], 1); }),
              "Failed to execute method \"Fail\".");
    args.SetI4(1, 1004);
    EXPECT_EQ(FailureText([&]() { host.CallAsProc(L"Fail", &args[1], 1); }),
              "Failed to execute method \"Fail\". Fake failure.");

    // Property texts: the value as the add-in got it, then the add-in's own text when it gave one.
    struct Row { int type; const wchar_t* value; const char* text; };
    const Row rows[] = {
        {VTYPE_PWSTR, L"BAD", "Failed to set property \"Port\" components =???. Port refused."},
        {VTYPE_I4, L"5", "Failed to set property \"Port\" components =5."},
        {VTYPE_UI4, L"4294967295", "Failed to set property \"Port\" components =-1."},
        {VTYPE_BOOL, L"1", "Failed to set property \"Port\" components =true."},
        {VTYPE_BOOL, L"0", "Failed to set property \"Port\" components =false."},
        {VTYPE_NULL, L"", "Failed to set property \"Port\" components =???."},
    };
    for (const Row& row : rows) {
        CVariantArray value(1, &host);
        value.Parse(0, row.type, row.value);
        EXPECT_EQ(FailureText([&]() { host.SetPort(&value[0]); }), row.text);
    }
    EXPECT_EQ(FailureText([&]() { SetPortText(L"COM4"); }), "");
    host.PumpQueues();
}

TEST_F(HostCalls, WithoutAComponentNothingIsFound)
{
    host.Unload();
    CVariantArray args(2, &host);
    EXPECT_EQ(FailureText([&]() { host.CallAsFunc(L"Open", &args[0], &args[1], 1); }), "\"Open\" method not found.");
    EXPECT_EQ(FailureText([&]() { host.SetPort(&args[1]); }), "\"Port\" property not found.");
    EXPECT_FALSE(host.IsConnected());
    std::wstring name = L"old";
    host.GetMethodName(name, 0, 0);
    EXPECT_EQ(name, L"");
}

TEST_F(HostCalls, WrappersSendTheTypesTheAddInChecks)
{
    std::wstring device;
    EXPECT_TRUE(host.SetParameter(L"Speed", L"9600"));
    EXPECT_EQ(LastCall(), L"CallAsFunc SetParameter PWSTR:Speed,PWSTR:9600");
    EXPECT_TRUE(host.Open(device));
    EXPECT_EQ(LastCall(), L"CallAsFunc Open EMPTY");
    EXPECT_EQ(device, L"COM1");
    EXPECT_TRUE(host.Reconnect(L"COM1"));
    EXPECT_EQ(LastCall(), L"CallAsFunc Reconnect PWSTR:COM1");
    host.LoadSettings();
    EXPECT_EQ(LastCall(), L"CallAsProc LoadSettings UI4:3");
    EXPECT_EQ(componentChanged.calls, 1);

    EXPECT_EQ(host.FindFormat(), -1);
    EXPECT_EQ(LastCall(), L"CallAsFunc FindFormat PWSTR:FormatTemp");
    int32_t index = 5;
    EXPECT_TRUE(host.InsertFormat(index, L"%.3u,%.5u", L"b2 w01", 7, 3));
    EXPECT_EQ(LastCall(), L"CallAsFunc InsertFormat I4:5,PWSTR:FormatTemp,PWSTR:%.3u,%.5u,PWSTR:b2 w01,UI4:7,I4:3,NULL");
    EXPECT_EQ(index, 0); // where the add-in put it
    EXPECT_EQ(host.FindFormat(), 0);
    EXPECT_TRUE(host.SetFormat(0, L"%x", L"w01", 0, 0));
    EXPECT_EQ(LastCall(), L"CallAsFunc SetFormat I4:0,PWSTR:FormatTemp,PWSTR:%x,PWSTR:w01,UI4:0,I4:0,NULL");

    int32_t position = 77;
    EXPECT_FALSE(host.CheckFormat(L"%u?", L"b2", position));
    EXPECT_EQ(LastCall(), L"CallAsFunc CheckFormat PWSTR:%u?,PWSTR:b2,EMPTY");
    EXPECT_EQ(position, 2);
    EXPECT_TRUE(host.CheckFormat(L"%u", L"b2", position));
    EXPECT_EQ(position, -1); // no I4 came back

    EXPECT_TRUE(host.DeleteFormat(0));
    EXPECT_EQ(LastCall(), L"CallAsFunc DeleteFormat I4:0");
    EXPECT_EQ(host.FindFormat(), -1);
}

TEST_F(HostCalls, AnEmptyCommentFailsTheAddInsCheckWhereNullPasses)
{
    // The wrappers send NULL as the comment; this is what an empty variant there would do.
    CVariantArray args(8, &host);
    args.SetI4(1, 0);
    args.SetWStr(2, L"FormatTemp");
    args.SetWStr(3, L"%u");
    args.SetWStr(4, L"b2");
    args.SetUI4(5, 0);
    args.SetI4(6, 0);
    host.CallAsFunc(L"InsertFormat", &args[0], &args[1], 7);
    EXPECT_EQ(args[0].vt, VTYPE_BOOL);
    EXPECT_FALSE(args[0].bVal);
    std::wstring text = L"untouched";
    EXPECT_EQ(host.GetLastError(text), static_cast<int32_t>(0x80040202));
    EXPECT_EQ(LastCall(), L"CallAsFunc GetLastError EMPTY");
    EXPECT_EQ(text, L"Invalid parameter type.");

    args.SetNull(7);
    host.CallAsFunc(L"InsertFormat", &args[0], &args[1], 7);
    EXPECT_TRUE(args[0].bVal);
}

TEST_F(HostCalls, OpenDeviceList)
{
    std::wstring device;
    ASSERT_TRUE(host.Open(device));
    EXPECT_EQ(host.Devices(), std::vector<std::wstring>{L"COM1"});
    EXPECT_EQ(devicesChanged.calls, 1);
    ASSERT_TRUE(host.Open(device)); // the same identifier again: not listed twice, nobody told
    EXPECT_EQ(host.Devices(), std::vector<std::wstring>{L"COM1"});
    EXPECT_EQ(devicesChanged.calls, 1);
    SetPortText(L"com1"); // identifiers compare case-sensitively
    ASSERT_TRUE(host.Open(device));
    SetPortText(L"COM3\\2");
    ASSERT_TRUE(host.Open(device));
    EXPECT_EQ(host.Devices(), (std::vector<std::wstring>{L"COM1", L"com1", L"COM3\\2"}));
    EXPECT_EQ(devicesChanged.calls, 3);

    // Closing one that is not listed still asks the add-in, and changes nothing here.
    record.Clear();
    EXPECT_TRUE(host.Close(L"COM9"));
    EXPECT_EQ(LastCall(), L"CallAsFunc Close PWSTR:COM9");
    EXPECT_EQ(devicesChanged.calls, 3);
    // A refused close keeps the device listed.
    SetPortText(L"BUSY");
    ASSERT_TRUE(host.Open(device));
    EXPECT_FALSE(host.Close(L"BUSY"));
    EXPECT_EQ(host.Devices().size(), 4u);
    EXPECT_TRUE(host.Close(L"com1"));
    EXPECT_EQ(host.Devices(), (std::vector<std::wstring>{L"COM1", L"COM3\\2", L"BUSY"}));
    const int before = devicesChanged.calls;

    // CloseAll goes from the last to the first, and every device leaves the list.
    record.Clear();
    host.CloseAll();
    EXPECT_EQ(record.Lines(), (std::vector<std::wstring>{L"CallAsFunc Close PWSTR:BUSY", L"CallAsFunc Close PWSTR:COM3\\2",
                                                          L"CallAsFunc Close PWSTR:COM1"}));
    EXPECT_TRUE(host.Devices().empty());
    EXPECT_EQ(devicesChanged.calls, before + 3); // two successful closes, then the end

    // Unload forgets the list without closing (Done closes the devices).
    SetPortText(L"COM5");
    ASSERT_TRUE(host.Open(device));
    record.Clear();
    host.Unload();
    EXPECT_TRUE(host.Devices().empty());
    EXPECT_EQ(record.Lines(), (std::vector<std::wstring>{L"Done", L"DestroyObject"}));
}

TEST_F(HostCalls, IsConnectedOnlyForState3OfTheFirstDevice)
{
    EXPECT_FALSE(host.IsConnected()); // nothing open: the add-in is not asked
    EXPECT_TRUE(record.Lines().empty());
    std::wstring device;
    ASSERT_TRUE(host.Open(device));
    struct Row { int32_t state; bool connected; };
    const Row rows[] = {{3, true}, {2, false}, {1, false}, {0, false}};
    for (const Row& row : rows) {
        CVariantArray state(1, &host);
        state.SetI4(0, row.state);
        host.SetProperty(L"Status", &state[0]);
        EXPECT_EQ(host.IsConnected(), row.connected) << row.state;
        EXPECT_EQ(LastCall(), L"CallAsFunc GetStatus PWSTR:COM1");
    }
}

TEST_F(HostCalls, NamesAreCopiedAndTheirMemoryReturned)
{
    std::wstring name;
    host.GetMethodName(name, 3, 0);
    EXPECT_EQ(name, L"Open");
    host.GetMethodName(name, 3, 1);
    EXPECT_EQ(name, L"RuOpen");
    host.GetPropName(name, 0, 0);
    EXPECT_EQ(name, L"Port");
    host.GetPropName(name, 99, 0);
    EXPECT_EQ(name, L"");
    EXPECT_GE(host.Allocations(), 3);
    EXPECT_EQ(host.Live(), 0u);
}

TEST_F(HostCalls, ValuesTheAddInPutsIntoAnArrayAreFreedWithIt)
{
    {
        CVariantArray args(2, &host);
        args.SetWStr(1, L"abc");
        host.CallAsFunc(L"Echo", &args[0], &args[1], 1);
        EXPECT_EQ(std::wstring(args[0].wstr.ptr, args[0].wstr.len), L"abc");
        EXPECT_EQ(std::wstring(args[1].wstr.ptr, args[1].wstr.len), L"replaced");
        EXPECT_EQ(host.Live(), 2u); // the add-in's two texts; ours was freed by the add-in
    }
    EXPECT_EQ(host.Live(), 0u);
    EXPECT_EQ(host.Allocations(), host.Frees());
}

TEST_F(HostCalls, EventsRaisedDuringACallArriveThroughTheQueue)
{
    struct Got
    {
        std::vector<HostEvent> events;
        static void On(void* c, CTestParvel* h) { static_cast<Got*>(c)->events.push_back(h->CurrentEvent()); }
    } got;
    host.AddListener(ListenEvent, &got, Got::On);
    CVariantArray args(4, &host);
    args.SetWStr(1, L"COM3\\2");
    args.SetWStr(2, L"TracksData");
    args.SetWStr(3, L"123,45678");
    host.CallAsFunc(L"RaiseEvent", &args[0], &args[1], 3);
    EXPECT_TRUE(args[0].bVal);
    EXPECT_TRUE(got.events.empty()); // nothing is delivered inside the call
    host.PumpQueues();
    ASSERT_EQ(got.events.size(), 1u);
    EXPECT_EQ(got.events[0].source, L"COM3\\2");
    EXPECT_EQ(got.events[0].message, L"TracksData");
    EXPECT_EQ(got.events[0].data, L"123,45678");
    host.RemoveListeners(&got);
}
