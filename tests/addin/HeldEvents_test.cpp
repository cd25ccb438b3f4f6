// Platforms that hold the add-in's event calls: one whose ExternalEvent returns only once its busy
// main thread is free (the thread that is closing the device, so the call ends after Close, Done or
// DestroyObject, or at the platform's own 12 s), and one that runs the event handler inside the
// call, where the handler closes the device whose event it handles. Close, Done and DestroyObject
// return within 2 s whatever the call does; nothing reaches the platform after them but the call
// already inside it, and the component is freed only once that call has returned into it.
//
// The devices are ports whose driver refuses every open at once, so each raises "DriverError" in
// its reader's first pass.
#include "EventFixture.h"
#include "Reader.h"
#include "SlowOpenComCalls.h"
#include "WaitUntil.h"

#include <cstdio>
#include <atomic>
#include <functional>
#include <thread>

using namespace slothost;

extern "C" long DestroyObject(IComponentBase** component);

namespace {

const DWORD WaitMs = 5000;

DWORD Timed(const std::function<void()>& call)
{
    const DWORD start = GetTickCount();
    call();
    return GetTickCount() - start;
}

} // namespace

class HeldEventTest : public EventTest
{
protected:
    void SetUp() override
    {
        EventTest::SetUp();
        // The lock probe would call into a component that the tests destroy under a held event.
        host.ProbeLockOf(nullptr);
    }
    void TearDown() override
    {
        host.ReleaseEvents();
        EventTest::TearDown();
    }

    // Opens the device on `port` through the Port property.
    bool Open(const wchar_t* port)
    {
        SetProp(PropPort, Str(port));
        std::vector<tVariant> out{Empty()};
        return CallOut(MethodOpen, out).bVal;
    }
    bool Close(const wchar_t* device) { return Call(MethodClose, {Str(device)}).bVal; }
    // Opens the devices and waits until each one's first event is held inside the host.
    void OpenHeld(std::initializer_list<const wchar_t*> ports)
    {
        host.HoldEvents();
        for (const wchar_t* port : ports)
            ASSERT_TRUE(Open(port)) << port;
        ASSERT_TRUE(WaitUntil([&] { return host.Inside() == static_cast<int>(ports.size()); }, WaitMs));
    }
    // The readers left to end alone have ended (each deletes itself and lets go of its port).
    void WaitReadersEnded(std::initializer_list<const wchar_t*> ports)
    {
        for (const wchar_t* port : ports)
            EXPECT_TRUE(WaitUntil([port] { return !CReader::PortHeldByRetired(port); }, WaitMs)) << port;
    }
    // Opens the device on `port`, holds its event, and destroys the component (after Done, or
    // without it) as the platform does.
    void DestroyWhileHeld(const wchar_t* port, bool done)
    {
        ASSERT_NO_FATAL_FAILURE(OpenHeld({port}));
        if (done) {
            const DWORD doneTook = Timed([&] { object->Done(); });
            EXPECT_LE(doneTook, 2000u);
        }
        IComponentBase* slot = object;
        CParvel* const destroyed = object;
        object = nullptr;
        long result = -1;
        const DWORD took = Timed([&] { result = DestroyObject(&slot); });
        std::printf("DestroyObject (%s) while the platform holds the device's event: %lu ms\n",
                    done ? "after Done" : "without Done", static_cast<unsigned long>(took));
        EXPECT_EQ(result, 0);
        EXPECT_EQ(slot, nullptr);
        EXPECT_LE(took, 2000u);

        host.MarkFreed();
        Sleep(200);
        EXPECT_EQ(CParvel::Current(), destroyed) << "freed while the platform still held its call";
        host.ReleaseEvents();
        EXPECT_TRUE(WaitUntil([] { return CParvel::Current() == nullptr; }, WaitMs))
            << "not freed once the held call had returned";
        WaitReadersEnded({port});
        EXPECT_EQ(host.LateCalls(), 0) << "the connection was called after DestroyObject";
    }
    // The device closed while its first event was in the platform raised nothing more once its
    // reader had ended, and the component goes on: a device opened on `next` reports as ever.
    void ExpectClosedForGood(const wchar_t* closed, const wchar_t* next)
    {
        WaitReadersEnded({closed});
        EXPECT_EQ(EventsOf(closed), 1u) << "an event of the closed device came after Close";
        ASSERT_TRUE(Open(next));
        EXPECT_TRUE(WaitUntil([&] { return EventsOf(next) >= 1; }, WaitMs));
    }
    size_t EventsOf(const wchar_t* source)
    {
        size_t n = 0;
        for (const auto& e : Events())
            n += e.Source == source ? 1 : 0;
        return n;
    }

    CSlowOpenComCalls calls{0}; // a driver that refuses every open at once
    CCallSeamScope<CComCalls> scope{calls};
};

TEST_F(HeldEventTest, CloseReturnsInTimeWhileThePlatformHoldsTheDevicesEvent)
{
    ASSERT_NO_FATAL_FAILURE(OpenHeld({L"COM221"}));
    bool closed = false;
    const DWORD took = Timed([&] { closed = Close(L"COM221"); });
    std::printf("Close while the platform holds the device's event: %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_TRUE(closed);
    EXPECT_LE(took, 2000u);
    EXPECT_EQ(object->OpenPortCount(), 0u);

    host.ReleaseEvents();
    ExpectClosedForGood(L"COM221", L"COM222");
}

TEST_F(HeldEventTest, DoneReturnsInTimeAndThePlatformHearsNothingMoreButTheHeldCalls)
{
    ASSERT_NO_FATAL_FAILURE(OpenHeld({L"COM223", L"COM224"}));
    const DWORD took = Timed([&] { object->Done(); });
    std::printf("Done while the platform holds two devices' events: %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_LE(took, 2000u);
    EXPECT_EQ(object->OpenPortCount(), 0u);

    host.MarkFreed();
    host.ReleaseEvents();
    WaitReadersEnded({L"COM223", L"COM224"});
    EXPECT_EQ(host.LateCalls(), 0) << "the connection was called after Done";
    EXPECT_EQ(Events().size(), 2u);
}

// DestroyObject, after Done and without it: within its time, and the component's memory is kept
// for the held call, which returns into it, and freed once that call has returned.
TEST_F(HeldEventTest, DestroyObjectAfterDoneFreesTheComponentOnlyAfterTheHeldCallHasReturned)
{
    DestroyWhileHeld(L"COM225", true);
}

TEST_F(HeldEventTest, DestroyObjectWithoutDoneFreesTheComponentOnlyAfterTheHeldCallHasReturned)
{
    DestroyWhileHeld(L"COM226", false);
}

// The platform runs the event handler inside the event call, on the reader's thread, and the
// handler closes the device whose event it handles.
TEST_F(HeldEventTest, TheEventHandlerMayCloseTheDeviceWhoseEventItHandles)
{
    struct Outcome
    {
        std::atomic<int> Closed{-1}; // -1 not yet, else the result of Close
        std::atomic<DWORD> Took{0};
        std::atomic<bool> PortHeld{false};
    } outcome;
    host.SetHandler([&](const eventhost::Entry& e) {
        if (e.Source != L"COM227" || outcome.Closed != -1)
            return;
        std::vector<tVariant> params{Str(e.Source.c_str())};
        tVariant result = Empty();
        const DWORD start = GetTickCount();
        const bool called = object->CallAsFunc(MethodClose, &result, params.data(), 1);
        outcome.Took = GetTickCount() - start;
        // The reader is left to its thread, which is inside this call, not deleted under it.
        outcome.PortHeld = CReader::PortHeldByRetired(e.Source);
        outcome.Closed = called && result.vt == VTYPE_BOOL && result.bVal ? 1 : 0;
    });
    ASSERT_TRUE(Open(L"COM227"));
    ASSERT_TRUE(WaitUntil([&] { return outcome.Closed != -1; }, WaitMs));
    host.SetHandler(nullptr);
    EXPECT_EQ(outcome.Closed, 1);
    EXPECT_LE(outcome.Took.load(), 500u);
    EXPECT_TRUE(outcome.PortHeld);
    EXPECT_EQ(object->OpenPortCount(), 0u);
    ExpectClosedForGood(L"COM227", L"COM228");
}

// ... and the handler may run the device test of that device: the device's thread is inside the
// handler's call and cannot stop for the test, which answers "busy" at once; the device goes on.
TEST_F(HeldEventTest, TheEventHandlerMayTestTheDeviceWhoseEventItHandles)
{
    struct Outcome
    {
        std::atomic<int> Tested{-1}; // -1 not yet, else the result of DeviceTest
        std::atomic<DWORD> Took{0};
    } outcome;
    host.SetHandler([&](const eventhost::Entry& e) {
        if (e.Source != L"COM229" || outcome.Tested != -1)
            return;
        std::vector<tVariant> out{Empty(), Empty()};
        tVariant result = Empty();
        const DWORD start = GetTickCount();
        const bool called = object->CallAsFunc(MethodDeviceTest, &result, out.data(), 2);
        outcome.Took = GetTickCount() - start;
        outcome.Tested = called && result.vt == VTYPE_BOOL && result.bVal ? 1 : 0;
    });
    ASSERT_TRUE(Open(L"COM229"));
    ASSERT_TRUE(WaitUntil([&] { return outcome.Tested != -1; }, WaitMs));
    EXPECT_EQ(outcome.Tested, 0);
    EXPECT_LE(outcome.Took.load(), 500u);
    EXPECT_EQ(object->LastErrorCode(), static_cast<HRESULT>(0x80040212)) << "not \"Port is busy.\"";

    // The same reader tries the port again at its period, and reports it once more.
    EXPECT_TRUE(WaitUntil([&] { return EventsOf(L"COM229") >= 2; }, 2 * WaitMs));
    host.SetHandler(nullptr);
    EXPECT_EQ(object->OpenPortCount(), 1u);
    EXPECT_TRUE(Close(L"COM229"));
}

// A reader's call paused on its way into the platform at one point (PlatformCallHook): the first
// call to get there waits until Resume.
class CPlatformCallPause
{
public:
    explicit CPlatformCallPause(PlatformCallStage stage)
    {
        s_stage = stage;
        s_taken = false;
        ResetEvent(s_paused.Get());
        ResetEvent(s_resume.Get());
        PlatformCallHook = &Hook;
    }
    ~CPlatformCallPause()
    {
        PlatformCallHook = nullptr;
        Resume();
    }
    CPlatformCallPause(const CPlatformCallPause&) = delete;
    CPlatformCallPause& operator=(const CPlatformCallPause&) = delete;

    bool WaitPaused() { return WaitForSingleObject(s_paused.Get(), WaitMs) == WAIT_OBJECT_0; }
    void Resume() { SetEvent(s_resume.Get()); }

private:
    static void Hook(PlatformCallStage stage)
    {
        if (stage != s_stage || s_taken.exchange(true))
            return;
        SetEvent(s_paused.Get());
        WaitForSingleObject(s_resume.Get(), 3 * WaitMs);
    }
    static PlatformCallStage s_stage;
    static std::atomic<bool> s_taken;
    static CHandle s_paused;
    static CHandle s_resume;
};
PlatformCallStage CPlatformCallPause::s_stage = PlatformCallStage::Checking;
std::atomic<bool> CPlatformCallPause::s_taken{false};
CHandle CPlatformCallPause::s_paused{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
CHandle CPlatformCallPause::s_resume{CreateEventW(nullptr, TRUE, FALSE, nullptr)};

// A call that the shut-off let through just before Done, and that had not entered the platform
// when Done came, enters it before Done returns: Done waits for it (it runs only the component's
// own lines), so the platform never sees a call after Done has returned.
TEST_F(HeldEventTest, DoneWaitsForACallLetThroughToThePlatformButNotYetInside)
{
    CPlatformCallPause pause(PlatformCallStage::Entering);
    ASSERT_TRUE(Open(L"COM233"));
    ASSERT_TRUE(pause.WaitPaused());
    std::atomic<bool> doneReturned{false};
    std::thread platform([&] {
        object->Done();
        doneReturned = true;
    });
    // Longer than the readers' share of Done: only the paused call can keep it now.
    Sleep(2500);
    const bool returnedWhilePaused = doneReturned;
    pause.Resume();
    platform.join();
    EXPECT_FALSE(returnedWhilePaused) << "Done returned while a call let through had not entered the platform";
    EXPECT_TRUE(WaitUntil([&] { return EventsOf(L"COM233") == 1; }, WaitMs)) << "the call let through was lost";
    WaitReadersEnded({L"COM233"});
}

// A reader's call that gets to the shut-off only after Done has returned (Done does not wait for
// a call still on its way) raises nothing: the platform may have freed its connection.
TEST_F(HeldEventTest, ACallThatComesToTheShutOffAfterDoneRaisesNothing)
{
    CPlatformCallPause pause(PlatformCallStage::Checking);
    ASSERT_TRUE(Open(L"COM234"));
    ASSERT_TRUE(pause.WaitPaused());
    const DWORD took = Timed([&] { object->Done(); });
    EXPECT_LE(took, 2000u);
    host.MarkFreed();
    pause.Resume();
    WaitReadersEnded({L"COM234"});
    EXPECT_EQ(host.LateCalls(), 0) << "the connection was called after Done";
    EXPECT_EQ(EventsOf(L"COM234"), 0u);
}
