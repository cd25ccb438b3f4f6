// The TCP port's host names: a resolution that the name service keeps waiting does not hold a stop
// request or the open's time-out, and every address a name resolves to is tried in turn. The name
// service is stood in for by resolvers of the test's own.
#include "PortTestUtil.h"
#include "TcpPort.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace porttest;

namespace {

// A name service that answers only when the test lets it.
HANDLE g_answer = nullptr;
int SilentResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    WaitForSingleObject(g_answer, INFINITE);
    return ResolveNumeric(L"127.0.0.1", service, out) ? 0 : WSAHOST_NOT_FOUND;
}

// A name that resolves first to an address nobody listens on, then to the converter.
unsigned short g_closedPort = 0;
int TwoAddressResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    std::vector<TcpAddress> dead;
    if (!ResolveNumeric(L"127.0.0.1", std::to_wstring(g_closedPort), dead) ||
        !ResolveNumeric(L"127.0.0.1", service, out))
        return WSAHOST_NOT_FOUND;
    out.insert(out.begin(), dead.front());
    return 0;
}

// A name service that only counts its calls.
std::atomic<int> g_resolverCalls{0};
int CountingResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    ++g_resolverCalls;
    return ResolveNumeric(L"127.0.0.1", service, out) ? 0 : WSAHOST_NOT_FOUND;
}

// Puts the system's resolver back at the end of the scope.
class ResolverScope
{
public:
    explicit ResolverScope(TcpResolver resolver) { CZTcpPort::SetResolver(resolver); }
    ~ResolverScope() { CZTcpPort::SetResolver(nullptr); }
};

unsigned short ClosedPort()
{
    LoopbackPeer gone(nullptr);
    return gone.Port();
}

} // namespace

class TcpResolveTest : public testing::Test
{
protected:
    void SetUp() override { g_answer = answer.Get(); }
    void TearDown() override
    {
        // Lets the helpers still waiting in the silent name service end.
        SetEvent(answer.Get());
        Sleep(50);
    }

    WinsockScope winsock;
    PortEvents events;
    CHandle answer = NewEvent();
};

TEST_F(TcpResolveTest, StopEndsAWaitForTheNameService)
{
    ResolverScope resolver(&SilentResolver);
    PortRef port(MakePort(L"converter.test:4001", events));
    DelayedSet stop(events.stop.Get(), 200);
    DWORD start = GetTickCount();
    EXPECT_EQ(E_ABORT, port->Open(20000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(TcpResolveTest, TheOpenTimeOutCountsTheNameService)
{
    ResolverScope resolver(&SilentResolver);
    PortRef port(MakePort(L"converter.test:4001", events));
    DWORD start = GetTickCount();
    EXPECT_EQ(PE_TCP_CONNECT_TIMEOUT, port->Open(300));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 1000u);

    // Once the name service answers, a new open goes through.
    LoopbackPeer peer([](SOCKET s) {
        char b;
        recv(s, &b, 1, 0);
    });
    PortEvents other;
    PortRef second(MakePort(L"converter.test:" + std::to_wstring(peer.Port()), other));
    SetEvent(answer.Get());
    EXPECT_EQ(S_OK, second->Open(3000));
}

TEST_F(TcpResolveTest, EveryResolvedAddressIsTriedInTurn)
{
    g_closedPort = ClosedPort();
    ResolverScope resolver(&TwoAddressResolver);
    for (DWORD timeout : {3000u, 0u}) {
        SCOPED_TRACE(timeout);
        LoopbackPeer peer([](SOCKET s) {
            SendAll(s, "hello\n");
            char b;
            recv(s, &b, 1, 0);
        });
        PortEvents own;
        PortRef port(MakePort(L"converter.test:" + std::to_wstring(peer.Port()), own));
        ASSERT_EQ(S_OK, port->Open(timeout));
        // Without a time-out the refusal of the first address and the connect to the second come
        // through the comm event.
        DWORD start = GetTickCount();
        while ((port->GetState() & ZPORT_CONNECTING) && GetTickCount() - start < 3000) {
            WaitForSingleObject(own.comm.Get(), 100);
            ResetEvent(own.comm.Get());
            ASSERT_EQ(S_OK, port->OnCommEvent());
        }
        ASSERT_TRUE(port->IsOpen());
        std::string got;
        EXPECT_EQ(S_OK, port->Read(got, 6, 3000));
        EXPECT_EQ("hello\n", got);
    }

    // When no address answers, the open reports the last refusal.
    PortEvents own;
    PortRef port(MakePort(L"converter.test:" + std::to_wstring(g_closedPort), own));
    EXPECT_EQ(HRESULT_FROM_WIN32(WSAECONNREFUSED), port->Open(3000));
    EXPECT_FALSE(port->IsOpen());
}

// A name whose first address never answers (a dead record, a filtered IPv6 route): that address
// takes only its share of the open's time-out, and the converter at the next one is reached.
namespace {
std::wstring g_blackHole;
int BlackHoleFirstResolver(const std::wstring& host, const std::wstring& service, std::vector<TcpAddress>& out)
{
    std::vector<TcpAddress> dead;
    std::wstring deadHost, deadService;
    CZTcpPort::SplitAddress(g_blackHole, deadHost, deadService);
    if (!ResolveNumeric(deadHost, deadService, dead) || !ResolveNumeric(L"127.0.0.1", service, out))
        return WSAHOST_NOT_FOUND;
    out.insert(out.begin(), dead.front());
    return 0;
}
} // namespace

TEST_F(TcpResolveTest, AnAddressThatNeverAnswersTakesOnlyItsShare)
{
    UnansweredListener blackHole;
    g_blackHole = blackHole.Address();
    ResolverScope resolver(&BlackHoleFirstResolver);
    LoopbackPeer peer([](SOCKET s) {
        SendAll(s, "hello\n");
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(L"converter.test:" + std::to_wstring(peer.Port()), events));
    DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, port->Open(2000));
    DWORD took = GetTickCount() - start;
    printf("connected to the second address after %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_GE(took, 800u);
    EXPECT_LT(took, 1800u);
    std::string got;
    EXPECT_EQ(S_OK, port->Read(got, 6, 3000));
    EXPECT_EQ("hello\n", got);
}

// A port number outside 1-65535 is refused before the name service or a connect sees it: taken
// modulo 65536 (as one resolver takes it), the number of a converter's port plus 65536 would
// connect to that converter.
TEST_F(TcpResolveTest, APortNumberOutOfRangeReachesNoResolverAndNoConverter)
{
    std::atomic<bool> accepted{false};
    LoopbackPeer converter([&](SOCKET s) {
        accepted = true;
        char b;
        recv(s, &b, 1, 0);
    });
    ResolverScope resolver(&CountingResolver);
    const std::wstring wrapped = std::to_wstring(converter.Port() + 65536u);
    for (const std::wstring& name : {L"127.0.0.1:" + wrapped, L"converter.test:" + wrapped, std::wstring(L"converter.test:0"),
                                     std::wstring(L"converter.test:telnet")}) {
        PortEvents own;
        PortRef port(MakePort(name, own));
        EXPECT_EQ(E_INVALIDARG, port->Open(2000)) << testing::PrintToString(name);
        EXPECT_FALSE(port->IsOpen());
    }
    Sleep(200);
    EXPECT_EQ(0, g_resolverCalls.load());
    EXPECT_FALSE(accepted.load()) << "the converter was reached through a port number above 65535";

    // The same converter under its own number is reached through the name service.
    PortEvents own;
    PortRef port(MakePort(L"converter.test:" + std::to_wstring(converter.Port()), own));
    EXPECT_EQ(S_OK, port->Open(2000));
    EXPECT_EQ(1, g_resolverCalls.load());
}
