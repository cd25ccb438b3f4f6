// The event and error queues: the depth rule, delivery in order on the host's thread through the
// hidden window, many posting threads, and listeners that fail.
#include "HostFixture.h"
#include <atomic>
#include <map>
#include <thread>

namespace {

struct Delivered
{
    std::vector<HostEvent> events;
    std::vector<HostError> errors;
    std::vector<char> order; // 'e' or 'r' in delivery order
    static void OnEvent(void* c, CTestParvel* host)
    {
        auto self = static_cast<Delivered*>(c);
        self->events.push_back(host->CurrentEvent());
        self->order.push_back('e');
    }
    static void OnError(void* c, CTestParvel* host)
    {
        auto self = static_cast<Delivered*>(c);
        self->errors.push_back(host->CurrentError());
        self->order.push_back('r');
    }
    void Register(CTestParvel& host)
    {
        host.AddListener(ListenEvent, this, OnEvent);
        host.AddListener(ListenError, this, OnError);
    }
};

bool PostError(CTestParvel& host, unsigned short code, const wchar_t* description, long scode = 0)
{
    return host.AddError(code, L"Parvel", description, scode);
}

// Runs this thread's messages (the hidden window's deliveries) until `done` or the time is up.
template <typename Done>
bool PumpUntil(Done done, DWORD milliseconds)
{
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
        if (done())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

} // namespace

TEST(HostQueues, DepthIs32UntilTheAddInSetsOneAndAFullQueueRefuses)
{
    CTestParvel host;
    Delivered got;
    got.Register(host);
    EXPECT_EQ(host.GetEventBufferDepth(), 32);
    for (int i = 0; i < 32; ++i)
        EXPECT_TRUE(PostEvent(host, L"COM1", L"TracksData", std::to_wstring(i)));
    EXPECT_FALSE(PostEvent(host, L"COM1", L"TracksData", L"32"));
    host.PumpQueues();
    ASSERT_EQ(got.events.size(), 32u);
    for (int i = 0; i < 32; ++i) {
        EXPECT_EQ(got.events[i].data, std::to_wstring(i));
        EXPECT_EQ(got.events[i].level, 1u);
        EXPECT_EQ(got.events[i].source, L"COM1");
    }
    // Delivery empties the queue, so there is room again.
    EXPECT_TRUE(PostEvent(host, L"COM1", L"TracksData", L"again"));
    host.RemoveListeners(&got);
}

TEST(HostQueues, ErrorsHaveNoLimit)
{
    CTestParvel host;
    Delivered got;
    got.Register(host);
    for (int i = 0; i < 2000; ++i)
        EXPECT_TRUE(PostError(host, 1004, std::to_wstring(i).c_str(), i));
    host.PumpQueues();
    ASSERT_EQ(got.errors.size(), 2000u);
    for (int i = 0; i < 2000; ++i) {
        EXPECT_EQ(got.errors[i].description, std::to_wstring(i));
        EXPECT_EQ(got.errors[i].scode, i);
    }
    host.RemoveListeners(&got);
}

TEST(HostQueues, DepthChangesCutTheQueueKeepingTheOldest)
{
    CTestParvel host;
    Delivered got;
    got.Register(host);
    for (int i = 0; i < 5; ++i)
        PostEvent(host, L"COM1", L"E", std::to_wstring(i));
    EXPECT_TRUE(host.SetEventBufferDepth(2));
    EXPECT_FALSE(PostEvent(host, L"COM1", L"E", L"5"));
    host.PumpQueues();
    ASSERT_EQ(got.events.size(), 2u);
    EXPECT_EQ(got.events[0].data, L"0");
    EXPECT_EQ(got.events[1].data, L"1");

    // A negative depth is kept and refuses everything until a usable one is set.
    EXPECT_FALSE(host.SetEventBufferDepth(-1));
    EXPECT_EQ(host.GetEventBufferDepth(), -1);
    EXPECT_FALSE(PostEvent(host, L"COM1", L"E", L"x"));
    EXPECT_TRUE(host.SetEventBufferDepth(0));
    EXPECT_FALSE(PostEvent(host, L"COM1", L"E", L"x"));
    EXPECT_TRUE(host.SetEventBufferDepth(4096));
    EXPECT_TRUE(PostEvent(host, L"COM1", L"E", L"y"));
    host.RemoveListeners(&got);
}

TEST(HostQueues, CleanEventBufferKeepsErrorsAndEventsComeBeforeErrors)
{
    CTestParvel host;
    Delivered got;
    got.Register(host);
    PostEvent(host, L"COM1", L"E", L"dropped");
    PostError(host, 1004, L"kept");
    host.CleanEventBuffer();
    PostError(host, 1004, L"second");
    PostEvent(host, L"COM1", L"E", L"after");
    host.PumpQueues();
    ASSERT_EQ(got.events.size(), 1u);
    EXPECT_EQ(got.events[0].data, L"after");
    ASSERT_EQ(got.errors.size(), 2u);
    EXPECT_EQ(got.errors[0].description, L"kept");
    EXPECT_EQ(got.order, (std::vector<char>{'e', 'r', 'r'}));
    host.RemoveListeners(&got);
}

TEST(HostQueues, OnlyCode1004BecomesTheLastError)
{
    CTestParvel host;
    EXPECT_EQ(host.LastErrorCode(), 0);
    EXPECT_TRUE(host.AddError(1004, L"Parvel", L"Port refused.", static_cast<long>(0x80040203)));
    EXPECT_EQ(host.LastErrorCode(), static_cast<int32_t>(0x80040203));
    EXPECT_EQ(host.LastErrorDescription(), L"Port refused.");
    EXPECT_EQ(host.LastErrorSource(), L"Parvel");
    EXPECT_TRUE(host.AddError(1005, L"Other", L"Not this one.", 5));
    EXPECT_EQ(host.LastErrorCode(), static_cast<int32_t>(0x80040203));
    EXPECT_EQ(host.LastErrorDescription(), L"Port refused.");
    // Null texts are taken as empty.
    EXPECT_TRUE(host.AddError(1004, nullptr, nullptr, 1));
    EXPECT_EQ(host.LastErrorDescription(), L"");
}

TEST(HostQueues, HiddenWindowDeliversPostsFromManyThreadsOnceAndInOrder)
{
    const int Threads = 8;
    const int PerThread = 500;
    CTestParvel host;
    host.CreateHostWindow();
    ASSERT_TRUE(host.SetEventBufferDepth(Threads * PerThread));
    Delivered got;
    got.Register(host);

    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&host, &refused, t]() {
            const std::wstring source = L"T" + std::to_wstring(t);
            for (int i = 0; i < PerThread; ++i)
                if (!PostEvent(host, source, L"E", std::to_wstring(i)))
                    ++refused;
        });
    }
    // Delivery runs on this thread while the others post.
    bool all = PumpUntil([&]() { return got.events.size() >= static_cast<size_t>(Threads * PerThread); }, 60000);
    for (std::thread& t : threads)
        t.join();
    PumpUntil([]() { return false; }, 50); // anything posted late
    EXPECT_TRUE(all);
    EXPECT_EQ(refused.load(), 0);
    ASSERT_EQ(got.events.size(), static_cast<size_t>(Threads * PerThread));
    std::map<std::wstring, int> next;
    for (const HostEvent& e : got.events) {
        int expected = next[e.source]++;
        ASSERT_EQ(e.data, std::to_wstring(expected)) << WideToAnsi(e.source);
    }
    EXPECT_EQ(next.size(), static_cast<size_t>(Threads));
    host.RemoveListeners(&got);
}

namespace {

struct Thrower
{
    int calls = 0;
    static void Throw(void* c, CTestParvel*)
    {
        ++static_cast<Thrower*>(c)->calls;
        throw std::runtime_error("listener failed");
    }
};

} // namespace

TEST(HostQueues, AThrowingListenerLosesNoOtherRecord)
{
    CTestParvel host;
    Thrower thrower;
    host.AddListener(ListenEvent, &thrower, Thrower::Throw);
    host.AddListener(ListenError, &thrower, Thrower::Throw);
    Delivered got;
    got.Register(host);
    host.AddListener(ListenComponent, &thrower, Thrower::Throw);
    ListenerCount component;
    host.AddListener(ListenComponent, &component, ListenerCount::Callback);

    for (int i = 0; i < 3; ++i)
        PostEvent(host, L"COM1", L"E", std::to_wstring(i));
    PostError(host, 1004, L"a");
    PostError(host, 1004, L"b");
    EXPECT_NO_THROW(host.PumpQueues());
    EXPECT_EQ(got.events.size(), 3u);
    EXPECT_EQ(got.errors.size(), 2u);
    EXPECT_EQ(thrower.calls, 5);

    EXPECT_NO_THROW(host.Notify(ListenComponent));
    EXPECT_EQ(component.calls, 1);
    host.RemoveListeners(&thrower);
    host.RemoveListeners(&got);
    host.RemoveListeners(&component);
}

TEST(HostQueues, ListenersAreCalledInRegistrationOrderUntilRemoved)
{
    CTestParvel host;
    static std::vector<int> calls;
    calls.clear();
    int a = 1, b = 2;
    auto record = [](void* c, CTestParvel*) { calls.push_back(*static_cast<int*>(c)); };
    host.AddListener(ListenDevices, &a, record);
    host.AddListener(ListenDevices, &b, record);
    host.AddListener(ListenComponent, &a, record);
    host.AddListener(ListenDevices, &a, record); // twice: called twice
    host.Notify(ListenDevices);
    EXPECT_EQ(calls, (std::vector<int>{1, 2, 1}));
    calls.clear();
    host.RemoveListeners(&a); // every kind
    host.Notify(ListenDevices);
    host.Notify(ListenComponent);
    EXPECT_EQ(calls, std::vector<int>{2});
    host.RemoveListeners(&b);
}

TEST(HostQueues, AListenerThatRemovesListenersCostsTheNextOneNothing)
{
    CTestParvel host;
    static std::vector<int> calls;
    static CTestParvel* target;
    calls.clear();
    target = &host;
    int a = 1, b = 2, c = 3;
    // a removes itself and c while it is called: b still hears this delivery, c does not.
    auto removing = [](void* ctx, CTestParvel*) {
        calls.push_back(*static_cast<int*>(ctx));
        target->RemoveListeners(ctx);
    };
    auto record = [](void* ctx, CTestParvel*) { calls.push_back(*static_cast<int*>(ctx)); };
    static int* third;
    third = &c;
    auto removingThird = [](void* ctx, CTestParvel*) {
        calls.push_back(*static_cast<int*>(ctx));
        target->RemoveListeners(third);
    };
    host.AddListener(ListenDevices, &a, removing);
    host.AddListener(ListenDevices, &b, record);
    host.Notify(ListenDevices);
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
    calls.clear();
    host.AddListener(ListenDevices, &a, removingThird);
    host.AddListener(ListenDevices, &c, record);
    host.Notify(ListenDevices);
    EXPECT_EQ(calls, (std::vector<int>{2, 1})) << "the removed third listener was still called";
    host.RemoveListeners(&a);
    host.RemoveListeners(&b);
}

TEST(HostQueues, RecordsOfAnUnloadedComponentAreStillDelivered)
{
    CTestParvel host;
    host.SetLibraryPath(FakeAddinPath());
    host.Create();
    PostEvent(host, L"COM1", L"DeviceDisconnect", L"");
    host.Unload();
    Delivered got;
    got.Register(host);
    host.PumpQueues();
    ASSERT_EQ(got.events.size(), 1u);
    EXPECT_EQ(got.events[0].message, L"DeviceDisconnect");
    host.RemoveListeners(&got);
}
