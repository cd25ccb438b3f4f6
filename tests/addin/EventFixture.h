// A component for tests of what reader threads make it do: events, sounds and the log. It is made
// as the platform makes it, in a scratch registry with temporary folders, but connected to the
// thread-safe recording host of EventHost.h and with its sounds going to the recorder. Tests call
// the component's C++ interface directly (methods by number through CallAsFunc).
#pragma once
#include "Component.h"
#include "EventHost.h"
#include "ScratchRegistry.h"
#include "SlotHost.h"
#include "TestFolder.h"
#include <gtest/gtest.h>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

class EventTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        eventhost::CRecorder::Instance().Clear();
        Create();
    }
    void TearDown() override { Destroy(); }

    // windowHost: 0 console host (no window), 1 GUI host. init false: Init without a connection.
    void Create(int windowHost = 0, bool connected = true)
    {
        ASSERT_TRUE(registry.Ok()) << "the scratch registry key could not stand in for HKCU";
        object = new CParvel(L"ParvelExtension");
        ComponentPlacement placement;
        placement.ModuleFolder = moduleFolder.Path();
        placement.AppDataFolder = appData.Path();
        placement.WindowHost = windowHost;
        object->SetPlacement(placement);
        object->SetSoundFunctions(eventhost::RecordingSounds());
        ASSERT_TRUE(object->setMemManager(&memory));
        ASSERT_TRUE(object->Init(connected ? &host : nullptr));
        host.ProbeLockOf(object);
    }

    void Destroy()
    {
        if (object) {
            object->Done();
            host.JoinProbes();
            host.ProbeLockOf(nullptr);
            delete object;
            object = nullptr;
        }
    }

    // Method number n with the given arguments; the call must succeed.
    tVariant Call(long n, std::vector<tVariant> args)
    {
        tVariant result = slothost::Empty();
        EXPECT_TRUE(object->CallAsFunc(n, &result, args.empty() ? nullptr : args.data(), static_cast<long>(args.size())))
            << "method " << n;
        return result;
    }
    // Method number n; the out parameters come back in args.
    tVariant CallOut(long n, std::vector<tVariant>& args)
    {
        tVariant result = slothost::Empty();
        EXPECT_TRUE(object->CallAsFunc(n, &result, args.empty() ? nullptr : args.data(), static_cast<long>(args.size())))
            << "method " << n;
        return result;
    }

    void SetProp(long number, tVariant value) { ASSERT_TRUE(object->SetPropVal(number, &value)) << "property " << number; }

    // Replaces the format list by one format.
    void OnlyFormat(const wchar_t* templ, const wchar_t* params, uint32_t keyTypes = 0, uint32_t keySize = 0)
    {
        using namespace slothost;
        Call(20, {});
        tVariant r = Call(18, {I4(0), Str(L"Only"), Str(templ), Str(params), UI4(keyTypes), UI4(keySize), Null()});
        ASSERT_TRUE(r.bVal);
    }

    std::wstring LogPath() const { return appData.Path() + L"\\Corvane\\Parvel\\Parvel.log"; }

    // The log file's text (ANSI, widened by byte: the tests write ASCII only), empty when missing,
    // once the log's writer has written the lines handed to it so far.
    std::string LogText() const
    {
        if (object) {
            EXPECT_TRUE(object->FlushLog(5000)) << "the log's writer did not write its lines in time";
        }
        std::ifstream in(LogPath().c_str(), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::vector<eventhost::Entry> Events() { return eventhost::CRecorder::Instance().Entries(L"event"); }
    std::vector<eventhost::Entry> Sounds()
    {
        std::vector<eventhost::Entry> out;
        for (const auto& e : eventhost::CRecorder::Instance().Entries())
            if (e.Kind != L"event")
                out.push_back(e);
        return out;
    }

    ScratchRegistry registry{HKEY_CURRENT_USER};
    TestFolder moduleFolder;
    TestFolder appData;
    eventhost::CEventHost host;
    slothost::FakeMemory memory;
    CParvel* object = nullptr;
};

// Method numbers used by these tests.
enum EventTestMethod : long
{
    MethodOpen = 5,
    MethodClose = 6,
    MethodDeviceTest = 7,
    MethodGetStatus = 10,
    MethodReconnect = 11,
    MethodGetReaderInfo = 12,
    MethodClearFormats = 20,
    MethodInsertFormat = 18,
    MethodClearLog = 23,
    MethodFindNext = 24,
    MethodFindClose = 25,
};

// Property numbers used by these tests.
enum EventTestProp : long
{
    PropPort = 1,
    PropConnectTimeout = 4,
    PropConnectPeriod = 5,
    PropRxPeriod = 6,
    PropReqTimeout = 7,
    PropReqTries = 8,
    PropLog = 14,
    PropLogFlags = 15,
    PropSearchFlags = 16,
    PropFindIpTimeout = 17,
    PropFindIpTries = 18,
    PropLastKeyType = 20,
    PropLastKeyNum = 21,
    PropSoundEnabled = 22,
    PropSoundFirst = 23,
};
