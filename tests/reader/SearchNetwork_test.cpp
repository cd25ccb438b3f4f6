// The network search on a LAN of fake converters on 127.0.0.0/8, each with an address of its own:
// many converters are all probed, one sender cannot hide the others, a converter that answers and
// closes at once is listed, a converter port has no speed steps, and a host whose name cannot be
// had still searches. Discovery replies are played through the discovery socket's calls, so each
// comes from the converter's own address; nothing is sent beyond the machine.
#include "Search.h"
#include "DiscoveryCalls.h"
#include "Messages.h"
#include "PortTestUtil.h"
#include "SimControl.h"
#include "SimReaderScope.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

using namespace porttest;

namespace {

std::string Identification(uint32_t serial)
{
    return "Lintra Net S/N: " + std::to_string(serial) +
           "\r\nDevice code: [0903]\r\nPort speed: 9600\r\nMode: text\r\nSoftware version: 3.1\r\n";
}

// A converter at 127.0.0.x: answers every "i" with its identification (once `gate` is set, when
// one is given), counts its connections and those open over all converters; with
// closeAfterReply it closes right after its answer.
class FakeConverter
{
public:
    FakeConverter(const std::string& host, uint32_t serial, bool closeAfterReply,
                  std::atomic<int>* open = nullptr, HANDLE gate = nullptr)
        : m_host(host), m_open(open)
    {
        m_listener.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, host.c_str(), &address.sin_addr);
        m_bound = bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
        int length = sizeof(address);
        getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_listener.Get(), 8);
        const std::string reply = Identification(serial);
        m_thread = std::thread([this, reply, closeAfterReply, gate] {
            for (;;) {
                SOCKET client = accept(m_listener.Get(), nullptr, nullptr);
                if (client == INVALID_SOCKET || m_stopping)
                    break;
                CSocket owner(client);
                ++m_connections;
                if (m_open)
                    ++*m_open;
                char request[16];
                DWORD deadline = GetTickCount() + 5000;
                while (GetTickCount() < deadline) {
                    int n = recv(client, request, sizeof(request), 0);
                    if (n <= 0)
                        break;
                    if (std::find(request, request + n, 'i') == request + n)
                        continue;
                    if (gate)
                        WaitForSingleObject(gate, 5000);
                    SendAll(client, reply);
                    if (closeAfterReply)
                        break;
                }
                if (m_open)
                    --*m_open;
            }
        });
    }
    ~FakeConverter()
    {
        m_stopping = true;
        CSocket wake(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        inet_pton(AF_INET, m_host.c_str(), &address.sin_addr);
        address.sin_port = htons(m_port);
        connect(wake.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        m_listener.Close();
        m_thread.join();
    }
    FakeConverter(const FakeConverter&) = delete;
    FakeConverter& operator=(const FakeConverter&) = delete;

    bool Bound() const { return m_bound; }
    unsigned short Port() const { return m_port; }
    std::wstring Name() const { return std::wstring(m_host.begin(), m_host.end()) + L":" + std::to_wstring(m_port); }
    int Connections() const { return m_connections; }

private:
    std::string m_host;
    CSocket m_listener;
    bool m_bound = false;
    unsigned short m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_connections{0};
    std::atomic<int>* m_open;
    std::thread m_thread;
};

// Discovery replies as a segment gives them: each datagram from its own sender, all available
// at the first receive, or those marked late only from `lateMs` after it.
class PlayedDiscovery : public CDiscoveryCalls
{
public:
    struct Reply
    {
        std::string sender;   // a.b.c.d
        int tcpPort;
        bool late = false;
    };
    explicit PlayedDiscovery(std::vector<Reply> replies, DWORD lateMs = 0) : m_replies(std::move(replies)), m_lateMs(lateMs) {}

    int RecvFrom(SOCKET s, WSABUF* buffers, DWORD count, DWORD* got, DWORD* flags, sockaddr* from,
                 int* fromLength) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_firstReceive == 0)
            m_firstReceive = GetTickCount() | 1;
        const bool lateDue = GetTickCount() - m_firstReceive >= m_lateMs;
        for (size_t i = 0; i < m_replies.size(); ++i) {
            if (m_replies[i].late && !lateDue)
                continue;
            const Reply reply = m_replies[i];
            m_replies.erase(m_replies.begin() + static_cast<ptrdiff_t>(i));
            const std::string datagram = "QuorIP v2 TcpPort=" + std::to_string(reply.tcpPort) +
                                         " TcpPrt2=0 IpAddr1=0.0.0.0 IpAddr2=0.0.0.0";
            memcpy(buffers[0].buf, datagram.data(), datagram.size());
            *got = static_cast<DWORD>(datagram.size());
            sockaddr_in sender{};
            sender.sin_family = AF_INET;
            inet_pton(AF_INET, reply.sender.c_str(), &sender.sin_addr);
            sender.sin_port = htons(9000);
            memcpy(from, &sender, sizeof(sender));
            *fromLength = sizeof(sender);
            return 0;
        }
        WSASetLastError(WSAEWOULDBLOCK);
        return SOCKET_ERROR;
    }

private:
    std::mutex m_mutex;
    std::vector<Reply> m_replies;
    DWORD m_lateMs;
    DWORD m_firstReceive = 0;
};

// A UDP port on 127.0.0.1 that nobody listens on: the search's request goes there.
uint16_t NowhereUdpPort()
{
    CSocket s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(s.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

std::string Host(int n)
{
    return "127.0." + std::to_string(n / 250) + "." + std::to_string(2 + n % 250);
}

std::vector<SearchResult> Drain(CSearchReaders& search, DWORD limitMs)
{
    std::vector<SearchResult> found;
    const DWORD start = GetTickCount();
    for (;;) {
        SearchResult result;
        DWORD spent = GetTickCount() - start;
        HRESULT hr = search.GetNext(result, spent < limitMs ? limitMs - spent : 0);
        if (hr != S_OK) {
            EXPECT_EQ(PE_NO_MORE_READERS, hr);
            return found;
        }
        found.push_back(result);
    }
}

void StartOnLoopback(CSearchReaders& search, uint32_t connectMs = 2000, uint32_t replyMs = 1000, int32_t tries = 1,
                     uint32_t udpMs = 600)
{
    ASSERT_TRUE(search.SetDiscoveryTarget(L"127.0.0.1", NowhereUdpPort()));
    std::vector<PortInfo> none;
    search.Start(SEARCH_NETWORK, 0, connectMs, 100, replyMs, tries, udpMs, 1, &none);
}

} // namespace

class SearchNetworkTest : public testing::Test
{
protected:
    WinsockScope winsock;
};

// Seventy converters answer one request, each from its own address: every one is probed and
// found, and no more than a bounded number of probes run at once (the converters hold their
// answers for a moment, so that every probe started is still open then).
TEST_F(SearchNetworkTest, SeventyConvertersAreAllProbed)
{
    const int count = 70;
    std::atomic<int> open{0};
    CHandle gate = NewEvent();
    std::vector<std::unique_ptr<FakeConverter>> converters;
    std::vector<PlayedDiscovery::Reply> replies;
    for (int i = 0; i < count; ++i) {
        converters.push_back(std::make_unique<FakeConverter>(Host(i), 1000 + i, false, &open, gate.Get()));
        ASSERT_TRUE(converters.back()->Bound()) << Host(i);
        replies.push_back({Host(i), converters.back()->Port()});
    }
    PlayedDiscovery played(replies);
    CCallSeamScope<CDiscoveryCalls> scope(played);

    CSearchReaders search;
    StartOnLoopback(search, 2000, 3000);
    const DWORD start = GetTickCount();
    SearchResult first;
    EXPECT_EQ(PE_SEARCH_TIMEOUT, search.GetNext(first, 700));
    const int atOnce = open.load();
    SetEvent(gate.Get());
    std::vector<SearchResult> found = Drain(search, 30000);
    printf("%zu of %d converters found in %lu ms, %d probed at once\n", found.size(), count,
           static_cast<unsigned long>(GetTickCount() - start), atOnce);
    EXPECT_EQ(static_cast<size_t>(count), found.size());
    for (const auto& converter : converters)
        EXPECT_EQ(1, converter->Connections()) << converter->Port();
    EXPECT_GE(atOnce, 32);
    EXPECT_LE(atOnce, 64);
}

// One sender that names many ports nobody listens on does not hide a good converter at another
// address whose reply comes a moment later.
TEST_F(SearchNetworkTest, OneSenderNamingManyPortsHidesNoOtherConverter)
{
    FakeConverter good(Host(1), 4242, false);
    ASSERT_TRUE(good.Bound());
    std::vector<PlayedDiscovery::Reply> replies;
    {
        std::vector<std::unique_ptr<LoopbackPeer>> gone;
        for (int i = 0; i < 64; ++i)
            gone.push_back(std::make_unique<LoopbackPeer>(nullptr));
        for (const auto& peer : gone)
            replies.push_back({"127.0.0.1", peer->Port()});
    }   // closed: each refuses its connection
    replies.push_back({Host(1), good.Port(), true});
    PlayedDiscovery played(replies, 50);
    CCallSeamScope<CDiscoveryCalls> scope(played);

    CSearchReaders search;
    StartOnLoopback(search);
    std::vector<SearchResult> found = Drain(search, 10000);
    ASSERT_EQ(1u, found.size()) << "the good converter was hidden";
    EXPECT_EQ(good.Name(), found[0].portName);
    EXPECT_EQ(4242u, found[0].serialNumber);
}

// A converter that sends its identification and closes the connection at once is still listed.
TEST_F(SearchNetworkTest, AConverterThatAnswersAndClosesIsListed)
{
    FakeConverter closing(Host(2), 5151, true);
    ASSERT_TRUE(closing.Bound());
    PlayedDiscovery played({{Host(2), closing.Port()}});
    CCallSeamScope<CDiscoveryCalls> scope(played);
    CSearchReaders search;
    StartOnLoopback(search);
    std::vector<SearchResult> found = Drain(search, 10000);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(5151u, found[0].serialNumber);
}

// A converter's port is asked tries times at one speed: the speed steps mean nothing on TCP.
TEST_F(SearchNetworkTest, AConvertersPortHasNoSpeedSteps)
{
    simctl::CSimControl sim;
    simctl::SimReaderConfig config;
    config.pace = 0;
    simctl::CSimReaderScope silent(sim, 0, config);
    sim.Silent(silent.Id(), true);
    PlayedDiscovery played({{"127.0.0.1", silent.TcpPort()}});
    CCallSeamScope<CDiscoveryCalls> scope(played);
    CSearchReaders search;
    StartOnLoopback(search, 2000, 300, 2, 300);
    const DWORD start = GetTickCount();
    EXPECT_TRUE(Drain(search, 10000).empty());
    const DWORD took = GetTickCount() - start;
    simctl::Bytes heard = sim.Received(silent.Id());
    const auto requests = std::count(heard.begin(), heard.end(), 'i');
    printf("%d requests in %lu ms\n", static_cast<int>(requests), static_cast<unsigned long>(took));
    EXPECT_EQ(2, requests);
    EXPECT_LT(took, 1100u);
}

// A host whose own name cannot be had still searches: the request goes to the broadcast address
// from any address (here caught before it leaves), and the serial ports listed are probed as ever.
TEST_F(SearchNetworkTest, WithoutTheHostNameTheSearchStillRuns)
{
    class NamelessHost : public CDiscoveryCalls
    {
    public:
        int HostName(std::wstring&) override { return WSANO_RECOVERY; }
        int SendTo(SOCKET s, WSABUF* buffers, DWORD count, DWORD* sent, const sockaddr* to, int toLength) override
        {
            std::lock_guard<std::mutex> lock(mutex);
            sockaddr_in local{};
            int length = sizeof(local);
            getsockname(s, reinterpret_cast<sockaddr*>(&local), &length);
            from.push_back(local.sin_addr.s_addr);
            target = *reinterpret_cast<const sockaddr_in*>(to);
            request.assign(buffers[0].buf, buffers[0].len);
            *sent = buffers[0].len;
            return 0;   // never sent: test traffic stays on the machine
        }
        int RecvFrom(SOCKET, WSABUF*, DWORD, DWORD*, DWORD*, sockaddr*, int*) override
        {
            WSASetLastError(WSAEWOULDBLOCK);
            return SOCKET_ERROR;
        }
        std::mutex mutex;
        std::vector<uint32_t> from;
        sockaddr_in target{};
        std::string request;
    } calls;
    CCallSeamScope<CDiscoveryCalls> scope(calls);

    simctl::CSimControl sim;
    simctl::SimReaderConfig config;
    config.pace = 0;
    simctl::CSimReaderScope serial(sim, 88, config);
    std::vector<PortInfo> ports = {{L"COM88", 0x002}};
    CSearchReaders search;
    ASSERT_NO_THROW(search.Start(SEARCH_NETWORK, 0, 2000, 100, 500, 1, 300, 1, &ports));
    std::vector<SearchResult> found = Drain(search, 10000);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(L"COM88", found[0].portName);
    ASSERT_EQ(1u, calls.from.size());
    EXPECT_EQ(htonl(INADDR_ANY), calls.from[0]);
    EXPECT_EQ(0xFFFFFFFFu, calls.target.sin_addr.s_addr);
    EXPECT_EQ(9000, ntohs(calls.target.sin_port));
    EXPECT_EQ("SEEK QuorIP", calls.request);
}
