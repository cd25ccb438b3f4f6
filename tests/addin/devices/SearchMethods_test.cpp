// The search methods against simulated readers: FindNext lists each reader once and then reports
// that no more are left, leaves out ports this component has open, goes on after a time-out, and
// finds converters by discovery on 127.0.0.1; FindClose ends the search so the next starts anew.
#include <winsock2.h>
#include "DeviceFixture.h"
#include "ComOpen.h"
#include "SimDiscoveryScope.h"
#include "SlowOpenComCalls.h"
#include "Socket.h"
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

using namespace devicetest;
using namespace slothost;

namespace {

struct Found
{
    bool Ok = false;
    long Error = 0;
    std::wstring Port;
    int32_t Model = 0;
    int32_t Serial = 0;
    uint32_t Version = 0;
    std::wstring Text;
};

} // namespace

class SearchTest : public DeviceTest
{
protected:
    Found FindNext(uint32_t timeoutMs = 0xFFFFFFFF)
    {
        std::vector<tVariant> args{Empty(), Empty(), Empty(), Empty(), Empty(), UI4(timeoutMs)};
        Found f;
        object->SetLastError(S_OK);
        f.Ok = CallOut(MethodFindNext, args).bVal;
        f.Error = LastError();
        if (f.Ok) {
            EXPECT_EQ(args[0].vt, VTYPE_PWSTR);
            EXPECT_EQ(args[1].vt, VTYPE_I4);
            EXPECT_EQ(args[2].vt, VTYPE_I4);
            EXPECT_EQ(args[3].vt, VTYPE_UI4);
            EXPECT_EQ(args[4].vt, VTYPE_PWSTR);
            f.Port = Text(args[0]);
            f.Model = args[1].i32Val;
            f.Serial = args[2].i32Val;
            f.Version = args[3].ui32Val;
            f.Text = Text(args[4]);
        }
        return f;
    }
    bool FindClose() { return Call(MethodFindClose, {}).bVal; }

    // The component's search asks only for converters, and asks the simulated discovery on
    // 127.0.0.1 with the given time-out.
    void SearchConvertersOf(const simctl::CSimDiscoveryScope& discovery, uint32_t findIpTimeoutMs)
    {
        object->SetDiscoveryTarget(L"127.0.0.1", discovery.Port());
        SetProp(PropSearchFlags, UI4(0x10));
        SetProp(PropFindIpTimeout, UI4(findIpTimeoutMs));
    }
};

TEST_F(SearchTest, FindNextListsEachReaderOnceThenNoMore)
{
    SerialCommMap ports({52, 53});
    ASSERT_TRUE(ports.Ok());
    simctl::SimReaderConfig config = Text();
    config.identity.version = "2.5";
    SimReader text(sim, 53, config);
    SetProp(PropSearchFlags, UI4(0x01));

    Found f = FindNext();
    ASSERT_TRUE(f.Ok) << std::hex << f.Error;
    EXPECT_EQ(f.Port, L"COM53");
    EXPECT_EQ(f.Model, 1);
    EXPECT_EQ(f.Serial, 100000 + text.Id());
    EXPECT_EQ(f.Version, 0x0502u);
    EXPECT_NE(f.Text.find(L"S/N"), std::wstring::npos) << f.Text;
    EXPECT_TRUE(text.WaitPeerOpen(false, 0)) << "the found reader's port is closed again";

    for (int i = 0; i < 2; ++i) { // an exhausted search stays exhausted
        f = FindNext();
        EXPECT_FALSE(f.Ok);
        EXPECT_EQ(f.Error, NoMoreReaders);
    }
    EXPECT_TRUE(FindClose());
    EXPECT_TRUE(FindClose()) << "without a search as well";
    f = FindNext();
    EXPECT_TRUE(f.Ok) << "after FindClose the next FindNext starts anew";
    EXPECT_TRUE(FindClose());
}

TEST_F(SearchTest, OpenPortsAreLeftOutOfTheSearch)
{
    SerialCommMap ports({54});
    ASSERT_TRUE(ports.Ok());
    SimReader text(sim, 54, Text());
    SetProp(PropSearchFlags, UI4(0x01));
    ASSERT_TRUE(Open(L"COM54").first);
    ASSERT_TRUE(WaitStatus(L"COM54", READER_STATE_CONNECTED));
    sim.Received(text.Id(), true);

    Found f = FindNext();
    EXPECT_FALSE(f.Ok);
    EXPECT_EQ(f.Error, NoMoreReaders);
    EXPECT_TRUE(sim.Received(text.Id()).empty()) << "the open port was probed";
    EXPECT_TRUE(FindClose());

    ASSERT_TRUE(Close(L"COM54"));
    f = FindNext();
    EXPECT_TRUE(f.Ok);
    EXPECT_EQ(f.Port, L"COM54");
    EXPECT_TRUE(FindClose());
}

TEST_F(SearchTest, ATimedOutFindNextLeavesTheSearchGoingOn)
{
    SerialCommMap ports({55});
    ASSERT_TRUE(ports.Ok());
    simctl::SimReaderConfig slow = Text();
    slow.replyDelayMs = 600;
    SimReader text(sim, 55, slow);
    SetProp(PropSearchFlags, UI4(0x01));
    SetProp(PropReqTimeout, UI4(2000));

    Found f = FindNext(100);
    EXPECT_FALSE(f.Ok);
    EXPECT_EQ(f.Error, SearchTimeout);
    f = FindNext();
    EXPECT_TRUE(f.Ok) << std::hex << f.Error;
    EXPECT_EQ(f.Port, L"COM55");
    EXPECT_TRUE(FindClose());
}

namespace {

// How long `action` took with the listed port COM52 behind a driver that takes `driverMs` to open
// it and then fails, as a Bluetooth serial port whose device does not answer. The driver is let go
// of before this returns, so that the next measurement finds the port free.
template <class Action>
DWORD WithSlowPort(DWORD driverMs, Action action)
{
    CSlowOpenComCalls calls(driverMs, L"COM52");
    CCallSeamScope<CComCalls> scope(calls);
    const DWORD start = GetTickCount();
    action();
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(1, calls.Opens()) << "the port was opened again after its open failed";
    calls.Release();
    EXPECT_TRUE(WaitUntil([&] { return calls.Inside() == 0 && !ComOpenInProgress(L"COM52"); }, 5000));
    return took;
}

} // namespace

// A serial port whose driver takes 8 s, or 30 s, to fail its open, alone in the list, with a
// connect time-out of 3 s: Open("Auto") and FindNext give up on it within the connect time-out,
// having asked the driver once, not at every try and speed step.
TEST_F(SearchTest, ASlowOpeningPortHoldsAutoAndFindNextOnlyForTheConnectTimeOut)
{
    SerialCommMap ports({52});
    ASSERT_TRUE(ports.Ok());
    SetProp(PropSearchFlags, UI4(0x01));
    SetProp(PropConnectTimeout, UI4(3000));
    SetProp(PropReqTries, I4(2));
    for (DWORD driverMs : {8000u, 30000u}) {
        SCOPED_TRACE(driverMs);
        const DWORD autoMs = WithSlowPort(driverMs, [&] {
            const auto opened = Open(L"Auto");
            EXPECT_FALSE(opened.first);
            EXPECT_EQ(LastError(), ReaderNotFound);
        });
        const DWORD findMs = WithSlowPort(driverMs, [&] {
            const Found f = FindNext();
            EXPECT_FALSE(f.Ok);
            EXPECT_EQ(f.Error, NoMoreReaders);
            EXPECT_TRUE(FindClose());
        });
        printf("A port whose driver fails its open after %lu ms: Open(\"Auto\") %lu ms, FindNext %lu ms\n",
               static_cast<unsigned long>(driverMs), static_cast<unsigned long>(autoMs),
               static_cast<unsigned long>(findMs));
        EXPECT_GE(autoMs, 2900u);
        EXPECT_LE(autoMs, 5000u);
        EXPECT_GE(findMs, 2900u);
        EXPECT_LE(findMs, 5000u);
    }
}

// A reader on COM53 beside COM52, whose driver takes 8 s to fail an open: Open("Auto") and FindNext
// find the reader as fast as without COM52 in the list.
TEST_F(SearchTest, AReaderBesideASlowOpeningPortIsFoundAsFastAsAlone)
{
    SimReader text(sim, 53, Text());
    SetProp(PropSearchFlags, UI4(0x01));
    SetProp(PropConnectTimeout, UI4(3000));
    SetProp(PropReqTries, I4(2));
    auto openAuto = [&] {
        const auto opened = Open(L"Auto");
        EXPECT_TRUE(opened.first) << std::hex << LastError();
        EXPECT_EQ(opened.second, L"COM53");
    };
    auto findNext = [&] {
        const Found f = FindNext();
        EXPECT_TRUE(f.Ok) << std::hex << f.Error;
        EXPECT_EQ(f.Port, L"COM53");
    };
    DWORD aloneAuto = 0, aloneFind = 0;
    {
        SerialCommMap alone({53});
        ASSERT_TRUE(alone.Ok());
        DWORD start = GetTickCount();
        openAuto();
        aloneAuto = GetTickCount() - start;
        ASSERT_TRUE(Close(L"COM53"));
        ASSERT_TRUE(text.WaitPeerOpen(false, 5000));
        start = GetTickCount();
        findNext();
        aloneFind = GetTickCount() - start;
        EXPECT_TRUE(FindClose());
    }
    SerialCommMap both({52, 53});
    ASSERT_TRUE(both.Ok());
    const DWORD besideAuto = WithSlowPort(8000, openAuto);
    ASSERT_TRUE(Close(L"COM53"));
    ASSERT_TRUE(text.WaitPeerOpen(false, 5000));
    const DWORD besideFind = WithSlowPort(8000, [&] {
        findNext();
        EXPECT_TRUE(FindClose());
    });
    printf("Reader found alone / beside a port that opens in 8 s: Open(\"Auto\") %lu / %lu ms, FindNext %lu / %lu ms\n",
           static_cast<unsigned long>(aloneAuto), static_cast<unsigned long>(besideAuto),
           static_cast<unsigned long>(aloneFind), static_cast<unsigned long>(besideFind));
    EXPECT_LE(besideAuto, aloneAuto + 500);
    EXPECT_LE(besideFind, aloneFind + 500);
}

TEST_F(SearchTest, ConvertersAreFoundByDiscovery)
{
    SimReader converter(sim, 0, Text());
    simctl::SimConverter announced;
    announced.reader = converter.Id();
    const simctl::CSimDiscoveryScope discovery(sim, {announced});
    SearchConvertersOf(discovery, 500);

    Found f = FindNext();
    ASSERT_TRUE(f.Ok) << std::hex << f.Error;
    EXPECT_EQ(f.Port, converter.Port());
    EXPECT_EQ(FindNext().Error, NoMoreReaders);
    EXPECT_TRUE(FindClose());

    // The automatic port finds the converter the same way.
    auto opened = Open(L"Авто");
    ASSERT_TRUE(opened.first) << std::hex << LastError();
    EXPECT_EQ(opened.second, converter.Port());
    EXPECT_TRUE(WaitStatus(converter.Port(), READER_STATE_CONNECTED));
    EXPECT_TRUE(Close(converter.Port()));
}

namespace {

// A listening socket on 127.0.0.1 at a free port, with Windows Sockets started for as long as it
// lives.
class LoopbackListener
{
public:
    explicit LoopbackListener(int backlog)
    {
        WSADATA data{};
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = Address(0);
        bind(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        getsockname(m_socket.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_socket.Get(), backlog);
    }
    ~LoopbackListener()
    {
        m_socket.Close();
        if (m_started)
            WSACleanup();
    }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    SOCKET Get() const { return m_socket.Get(); }
    int Port() const { return m_port; }
    void Close() { m_socket.Close(); }
    // A connection to the listener; without waiting, the connect goes on (or not) by itself.
    CSocket Connect(bool wait) const
    {
        CSocket client(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        u_long nonBlocking = wait ? 0 : 1;
        ioctlsocket(client.Get(), FIONBIO, &nonBlocking);
        const sockaddr_in address = Address(m_port);
        connect(client.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
        return client;
    }

private:
    static sockaddr_in Address(int port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<u_short>(port));
        return address;
    }

    bool m_started = false;
    CSocket m_socket;
    int m_port = 0;
};

// A converter on 127.0.0.1 that serves any number of clients at once, each answering "i" with its
// identification, and counts the connections made to it.
class MultiClientConverter
{
public:
    MultiClientConverter()
    {
        m_accepter = std::thread([this] {
            for (;;) {
                SOCKET client = accept(m_listener.Get(), nullptr, nullptr);
                if (client == INVALID_SOCKET || m_stopping)
                    return;
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_connections;
                m_clients.push_back(client);
                m_servers.emplace_back([client] {
                    const std::string reply = "Kora USB S/N: 7001\r\nDevice code: [0301]\r\nPort speed: 9600\r\n"
                                              "Mode: text\r\nSoftware version: 1.0\r\n";
                    char buffer[64];
                    for (;;) {
                        int n = recv(client, buffer, sizeof(buffer), 0);
                        if (n <= 0)
                            return;
                        if (std::find(buffer, buffer + n, 'i') != buffer + n)
                            send(client, reply.data(), static_cast<int>(reply.size()), 0);
                    }
                });
            }
        });
    }
    ~MultiClientConverter()
    {
        m_stopping = true;
        {
            const CSocket wake = m_listener.Connect(true);
            m_accepter.join();
        }
        m_listener.Close();
        for (SOCKET client : m_clients)
            shutdown(client, SD_BOTH);
        for (auto& server : m_servers)
            server.join();
        for (SOCKET client : m_clients)
            closesocket(client);
    }
    MultiClientConverter(const MultiClientConverter&) = delete;
    MultiClientConverter& operator=(const MultiClientConverter&) = delete;

    int Port() const { return m_listener.Port(); }
    std::wstring Name() const { return L"127.0.0.1:" + std::to_wstring(Port()); }
    int Connections()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }

private:
    LoopbackListener m_listener{8};
    std::atomic<bool> m_stopping{false};
    std::mutex m_mutex;
    int m_connections = 0;
    std::vector<SOCKET> m_clients;
    std::vector<std::thread> m_servers;
    std::thread m_accepter;
};

} // namespace

// A converter this component has open is left out of the search as a serial port is, under any
// spelling of its address (by its host name, or written with leading zeros it is the converter
// announced as 127.0.0.1): a second connection could push the reader's own off a converter that
// keeps one client.
TEST_F(SearchTest, OpenConvertersAreLeftOutOfTheSearch)
{
    MultiClientConverter converter;
    simctl::SimConverter announced;
    announced.tcpPort = converter.Port();
    const simctl::CSimDiscoveryScope discovery(sim, {announced});
    SearchConvertersOf(discovery, 500);
    const std::wstring port = std::to_wstring(converter.Port());
    for (const std::wstring& name : {converter.Name(), L"localhost:" + port, L"127.000.000.001:" + port}) {
        SCOPED_TRACE(name);
        const int before = converter.Connections();
        ASSERT_TRUE(Open(name).first);
        ASSERT_TRUE(WaitStatus(name, READER_STATE_CONNECTED));
        const Found f = FindNext();
        EXPECT_FALSE(f.Ok) << "the open converter was listed as " << std::string(f.Port.begin(), f.Port.end());
        EXPECT_EQ(f.Error, NoMoreReaders);
        EXPECT_EQ(before + 1, converter.Connections()) << "the open converter was probed";
        EXPECT_TRUE(FindClose());
        ASSERT_TRUE(Close(name));
    }

    const int before = converter.Connections();
    const Found f = FindNext();
    EXPECT_TRUE(f.Ok);
    EXPECT_EQ(f.Port, converter.Name());
    EXPECT_EQ(before + 1, converter.Connections());
    EXPECT_TRUE(FindClose());
}

namespace {

// A listener on 127.0.0.1 whose accept queue is full: a further connect is never answered.
class HangingListener
{
public:
    HangingListener()
    {
        for (int i = 0; i < 8; ++i)
            m_fill.push_back(m_listener.Connect(false));
        Sleep(200);
    }
    int Port() const { return m_listener.Port(); }

private:
    LoopbackListener m_listener{1};
    std::vector<CSocket> m_fill;
};

} // namespace

// One announced converter port whose connect never completes: Open("Auto") gives up once that
// port's connect time-out has passed, tried once and at one speed, not at every speed and try.
TEST_F(SearchTest, AHangingConverterHoldsAutoOnlyForItsConnectTimeOut)
{
    HangingListener hanging;
    simctl::SimConverter announced;
    announced.tcpPort = hanging.Port();
    const simctl::CSimDiscoveryScope discovery(sim, {announced});
    SearchConvertersOf(discovery, 300);
    SetProp(PropConnectTimeout, UI4(1500));
    SetProp(PropReqTries, I4(2));
    const DWORD start = GetTickCount();
    auto opened = Open(L"Auto");
    const DWORD took = GetTickCount() - start;
    printf("Open(\"Auto\") gave up after %lu ms\n", static_cast<unsigned long>(took));
    EXPECT_FALSE(opened.first);
    EXPECT_EQ(LastError(), ReaderNotFound);
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 2800u) << "held past the port's own connect time-out";
}
