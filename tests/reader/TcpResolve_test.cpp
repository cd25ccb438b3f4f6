// The TCP port's host names: a resolution that the name service keeps waiting does not hold a stop
// request or the open's time-out, and every address a name resolves to is tried in turn. The name
// service is stood in for by resolvers of the test's own.
#include "PortTestUtil.h"
#include "TcpPort.h"

#include <gtest/gtest.h>

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
