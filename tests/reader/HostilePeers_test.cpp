// The search against hostile peers on 127.0.0.1: a converter that floods its probe does not hold
// the caller's thread past its time limit nor make the process grow, an empty discovery datagram
// hides no converter behind it, and one sender naming many ports opens a bounded number of
// probes.
#include "Search.h"
#include "Messages.h"
#include "ProcessMemory.h"
#include "SimControl.h"
#include "SimReaderScope.h"
#include "Watchdog.h"

#include <winsock2.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using simctl::CSimReaderScope;
using simctl::JsonFields;

const SIZE_T MB = 1024 * 1024;

// The converter answers each connection's first request with 'A's without end.
void FloodOnRequest(simctl::CSimControl& sim, int id)
{
    sim.Call("flood", JsonFields().Add("id", id).Add("on", "request"));
}

int64_t FloodBytes(simctl::CSimControl& sim, int id)
{
    return sim.Call("flood", JsonFields().Add("id", id))["bytes"].AsInt();
}

// A discovery responder on 127.0.0.1 answering with the given datagrams (texts), in order.
class RawDiscovery
{
public:
    RawDiscovery(simctl::CSimControl& sim, const std::vector<std::string>& replies) : m_sim(sim)
    {
        std::string list;
        for (const std::string& reply : replies)
            list += (list.empty() ? "[" : ",") + std::string("{\"reply\":") + JsonFields::Quote(reply) + "}";
        simctl::JsonValue info = sim.Call("discovery", JsonFields().AddRaw("converters", list + "]"));
        m_id = static_cast<int>(info["id"].AsInt());
        m_port = static_cast<uint16_t>(info["udp_port"].AsInt());
    }
    ~RawDiscovery()
    {
        try {
            m_sim.StopDiscovery(m_id);
        } catch (...) {
        }
    }
    RawDiscovery(const RawDiscovery&) = delete;
    RawDiscovery& operator=(const RawDiscovery&) = delete;

    uint16_t Port() const { return m_port; }

private:
    simctl::CSimControl& m_sim;
    int m_id = 0;
    uint16_t m_port = 0;
};

std::string SeekReply(int tcpPort)
{
    return "QuorIP v2 TcpPort=" + std::to_string(tcpPort) + " TcpPrt2=0 IpAddr1=0.0.0.0 IpAddr2=0.0.0.0";
}

// TCP listeners on 127.0.0.1 that count the connections made to them without answering.
class Listeners
{
public:
    explicit Listeners(size_t count)
    {
        WSADATA data{};
        m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
        for (size_t i = 0; i < count && m_started; ++i) {
            SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            int length = sizeof(address);
            u_long nonBlocking = 1;
            if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
                listen(s, 4) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
                ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
                if (s != INVALID_SOCKET)
                    closesocket(s);
                continue;
            }
            m_sockets.push_back(s);
            m_ports.push_back(ntohs(address.sin_port));
        }
    }
    ~Listeners()
    {
        for (SOCKET s : m_sockets)
            closesocket(s);
        for (SOCKET s : m_accepted)
            closesocket(s);
        if (m_started)
            WSACleanup();
    }
    Listeners(const Listeners&) = delete;
    Listeners& operator=(const Listeners&) = delete;

    const std::vector<int>& Ports() const { return m_ports; }
    // Listeners that were connected to (and the connections taken), so far.
    size_t Connected()
    {
        for (size_t i = 0; i < m_sockets.size(); ++i) {
            SOCKET s = accept(m_sockets[i], nullptr, nullptr);
            if (s == INVALID_SOCKET)
                continue;
            m_accepted.push_back(s);
            m_hit.resize(m_sockets.size());
            m_hit[i] = true;
        }
        size_t n = 0;
        for (bool hit : m_hit)
            n += hit ? 1 : 0;
        return n;
    }

private:
    bool m_started = false;
    std::vector<SOCKET> m_sockets;
    std::vector<SOCKET> m_accepted;
    std::vector<int> m_ports;
    std::vector<bool> m_hit;
};

} // namespace

class HostilePeerTest : public testing::Test
{
protected:
    simctl::CSimControl sim;
};

// A converter that floods its probe's request: the search's wait ends by the caller's limit, the
// probe gives up once more than any reader says has come, and the process does not grow.
TEST_F(HostilePeerTest, AFloodingConverterNeitherHoldsNorGrowsTheSearch)
{
    CSimReaderScope flood(sim, 0);
    FloodOnRequest(sim, flood.Id());
    simctl::SimReaderConfig mute;
    mute.replyDelayMs = 20000;   // answers too late: the search is still waiting at its limit
    CSimReaderScope late(sim, 0, mute);

    const SIZE_T before = testsupport::CommittedBytes();
    CSearchReaders search;
    std::vector<PortInfo> ports = {{flood.Port(), MODEL_MASK_ANY}, {late.Port(), MODEL_MASK_ANY}};
    search.Start(0, 0, 2000, 100, 20000, 1, 0, 1, &ports);
    SearchResult result;
    DWORD took = 0;
    {
        testsupport::CWatchdog watchdog(30000, "GetNext against a flooding converter");
        const DWORD start = GetTickCount();
        EXPECT_EQ(PE_SEARCH_TIMEOUT, search.GetNext(result, 1500));
        took = GetTickCount() - start;
    }
    const SIZE_T grown = testsupport::CommittedGrowthSince(before);
    const int64_t flooded = FloodBytes(sim, flood.Id());
    printf("GetNext with a 1500 ms limit returned after %lu ms; the converter flooded %lld bytes; "
           "committed memory grew %lu KB\n",
           took, static_cast<long long>(flooded), static_cast<unsigned long>(grown / 1024));
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 2500u);
    EXPECT_LT(grown, 16 * MB);
    // The simulator counts whole 64 KB writes; a loaded machine may give it time for only one
    // before the probe gives up, which is still thirty times what a reader's identification is.
    EXPECT_GE(flooded, 64 * 1024) << "the converter did flood";
    EXPECT_TRUE(flood.WaitPeerOpen(false)) << "the flooding probe gave up and closed its connection";
}

// An empty datagram before a converter's reply hides nothing: the discovery reads until the socket
// would block, not while a count of waiting bytes says so.
TEST_F(HostilePeerTest, AnEmptyDatagramHidesNoConverter)
{
    CSimReaderScope converter(sim, 0);
    RawDiscovery discovery(sim, {"", "", SeekReply(converter.TcpPort())});

    CSearchReaders search;
    ASSERT_TRUE(search.SetDiscoveryTarget(L"127.0.0.1", discovery.Port()));
    std::vector<PortInfo> none;
    search.Start(SEARCH_NETWORK, 0, 2000, 100, 400, 1, 5000, 1, &none);
    SearchResult result;
    const DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, search.GetNext(result, 3000));
    EXPECT_LT(GetTickCount() - start, 2000u) << "found long before the discovery's time-out";
    EXPECT_EQ(converter.Port(), result.portName);
}

// One sender whose replies name more ports than a converter has: only a few of them are probed,
// each holding a socket until it ends (other senders keep their own share).
TEST_F(HostilePeerTest, ADiscoveryBatchOpensABoundedNumberOfProbes)
{
    const size_t named = 100;
    Listeners listeners(named);
    ASSERT_EQ(named, listeners.Ports().size());
    std::vector<std::string> replies;
    for (int port : listeners.Ports())
        replies.push_back(SeekReply(port));
    RawDiscovery discovery(sim, replies);

    CSearchReaders search;
    ASSERT_TRUE(search.SetDiscoveryTarget(L"127.0.0.1", discovery.Port()));
    std::vector<PortInfo> none;
    search.Start(SEARCH_NETWORK, 0, 2000, 100, 300, 1, 600, 1, &none);
    SearchResult result;
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 10000));
    const size_t probed = listeners.Connected();
    printf("%zu ports named, %zu probed\n", named, probed);
    EXPECT_GE(probed, 2u);
    EXPECT_LE(probed, 8u);
}
