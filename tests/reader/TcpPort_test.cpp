// The TCP port against a Winsock peer on 127.0.0.1 inside this program: connection, Telnet
// decoding, closing peers, time-outs, stop requests and sending under back-pressure.
#include <winsock2.h>
#include <mstcpip.h>
#include "PortTestUtil.h"
#include "TcpCalls.h"
#include "TcpPort.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

using namespace porttest;

namespace {

// Reads until `count` bytes arrived or `timeoutMs` passed.
std::string ReadExactly(CZPort* port, size_t count, DWORD timeoutMs, HRESULT* result = nullptr)
{
    std::string got;
    HRESULT hr = port->Read(got, static_cast<DWORD>(count), timeoutMs);
    if (result)
        *result = hr;
    else
        EXPECT_EQ(S_OK, hr);
    return got;
}

// The peer's side: receives into `wire` until it holds `expected` bytes; false when the
// connection ended first.
bool ReceiveUpTo(SOCKET s, std::string& wire, size_t expected)
{
    char chunk[64];
    while (wire.size() < expected) {
        const int n = recv(s, chunk, sizeof(chunk), 0);
        if (n <= 0)
            return false;
        wire.append(chunk, static_cast<size_t>(n));
    }
    return true;
}

} // namespace

class TcpPortTest : public testing::Test
{
protected:
    WinsockScope winsock;
    PortEvents events;
};

TEST_F(TcpPortTest, NameSplitsAtLastColon)
{
    struct Case { const wchar_t* name; bool ok; const wchar_t* host; const wchar_t* service; };
    const Case cases[] = {
        {L"192.168.0.10:9001", true, L"192.168.0.10", L"9001"},
        {L"::1:4001", true, L"::1", L"4001"},
        {L"converter.local:23", true, L"converter.local", L"23"},
        {L"127.0.0.1", false, L"", L""},
        {L":5000", false, L"", L""},
        {L"127.0.0.1:", false, L"", L""},
        {L"", false, L"", L""},
        {L"127.0.0.1:65535", true, L"127.0.0.1", L"65535"},
        {L"127.0.0.1:1", true, L"127.0.0.1", L"1"},
        {L"127.0.0.1:0", false, L"", L""},
        {L"127.0.0.1:65536", false, L"", L""},
        {L"127.0.0.1:529691", false, L"", L""},
        {L"127.0.0.1:99999999999999999999", false, L"", L""},
        {L"converter.local:telnet", false, L"", L""},
        {L"127.0.0.1:-23", false, L"", L""},
        {L"127.0.0.1:+23", false, L"", L""},
        {L"127.0.0.1:23 ", false, L"", L""},
    };
    for (const Case& c : cases) {
        std::wstring host, service;
        EXPECT_EQ(c.ok, CZTcpPort::SplitAddress(c.name, host, service)) << c.name;
        if (c.ok) {
            EXPECT_EQ(c.host, host);
            EXPECT_EQ(c.service, service);
        }
    }
}

TEST_F(TcpPortTest, AddressWithoutPortIsRefusedBeforeAnyNetworkCall)
{
    for (const wchar_t* name : {L"127.0.0.1", L":5000", L"127.0.0.1:"}) {
        PortRef port(MakePort(name, events));
        DWORD start = GetTickCount();
        EXPECT_EQ(E_INVALIDARG, port->Open(5000)) << name;
        EXPECT_LT(GetTickCount() - start, 100u);
        EXPECT_FALSE(port->IsOpen());
    }
}

TEST_F(TcpPortTest, ReplySplitOverSegmentsArrivesWhole)
{
    LoopbackPeer peer([](SOCKET s) {
        SendAll(s, "Kora USB ");
        Sleep(150);
        SendAll(s, "S/N: 100001\r\n");
        char c;
        recv(s, &c, 1, 0);  // hold the connection until the port closes
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->Open(3000));
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(0u, port->GetState());
    EXPECT_EQ("Kora USB S/N: 100001\r\n", ReadExactly(port.Get(), 22, 3000));
}

TEST_F(TcpPortTest, TelnetCommandsAreRemovedFromTheData)
{
    struct Case { const char* what; std::vector<std::string> segments; std::string data; };
    const Case cases[] = {
        {"IAC IAC is one 0xFF", {std::string("A\xFF\xFF" "B", 4)}, std::string("A\xFF" "B", 3)},
        {"negotiation dropped",
         {std::string("\xFF\xFB\x01" "A\xFF\xFC\x03" "B\xFF\xFD\x2C" "C\xFF\xFE\x18" "D", 16)}, "ABCD"},
        {"other command dropped", {std::string("A\xFF\xF1" "B", 4)}, "AB"},
        {"sub-negotiation skipped",
         {std::string("A\xFF\xFA\x2C\x01\xFF\xFF\x02\xFF\xF0" "B", 11)}, "AB"},
        {"IAC IAC split", {std::string("A\xFF", 2), std::string("\xFF" "B", 2)}, std::string("A\xFF" "B", 3)},
        {"negotiation split before option", {std::string("A\xFF\xFD", 3), std::string("\x2C" "B", 2)}, "AB"},
        {"sub-negotiation split", {std::string("\xFF\xFA\x2C\x01", 4), std::string("\x02\xFF", 2),
                                   std::string("\xF0" "Z", 2)}, "Z"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> segments = c.segments;
        LoopbackPeer peer([segments](SOCKET s) {
            for (const std::string& segment : segments) {
                SendAll(s, segment);
                Sleep(100);
            }
            char b;
            recv(s, &b, 1, 0);
        });
        PortRef port(MakePort(peer.Address(), events));
        ASSERT_EQ(S_OK, port->Open(3000));
        // Read in steps so that each segment is received on its own.
        std::string got;
        DWORD start = GetTickCount();
        while (got.size() < c.data.size() && GetTickCount() - start < 3000)
            ASSERT_EQ(S_OK, port->Read(got, 1, 50));
        EXPECT_EQ(c.data, got);
        std::string more;
        EXPECT_EQ(S_OK, port->Read(more, 1, 300));
        EXPECT_EQ("", more);
    }
}

TEST_F(TcpPortTest, PeerClosingIsPortDisconnected)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "close");
        LoopbackPeer peer([reset](SOCKET s) {
            Sleep(100);
            if (reset) {
                linger hard{1, 0};
                setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
            } else {
                shutdown(s, SD_SEND);
            }
        });
        PortRef port(MakePort(peer.Address(), events));
        ASSERT_EQ(S_OK, port->Open(3000));
        HRESULT hr = S_OK;
        ReadExactly(port.Get(), 10, 3000, &hr);
        EXPECT_EQ(PE_PORT_DISCONNECTED, hr);
    }
}

TEST_F(TcpPortTest, ConnectTimesOut)
{
    UnansweredListener listener;
    PortRef port(MakePort(listener.Address(), events));
    DWORD start = GetTickCount();
    EXPECT_EQ(PE_TCP_CONNECT_TIMEOUT, port->Open(400));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 350u);
    EXPECT_LT(elapsed, 1500u);
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(TcpPortTest, StopEndsAPendingConnect)
{
    UnansweredListener listener;
    PortRef port(MakePort(listener.Address(), events));
    DelayedSet stop(events.stop.Get(), 200);
    DWORD start = GetTickCount();
    EXPECT_EQ(E_ABORT, port->Open(20000));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(port->IsOpen());
}

TEST_F(TcpPortTest, StopEndsAPendingRead)
{
    LoopbackPeer peer([](SOCKET s) {
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    port->waitSlice = INFINITE;
    ASSERT_EQ(S_OK, port->Open(3000));
    DelayedSet stop(events.stop.Get(), 200);
    DWORD start = GetTickCount();
    HRESULT hr = S_OK;
    ReadExactly(port.Get(), 1, 20000, &hr);
    EXPECT_EQ(E_ABORT, hr);
    EXPECT_LT(GetTickCount() - start, 1000u);
}

TEST_F(TcpPortTest, ConnectWithoutWaitingFinishesThroughTheCommEvent)
{
    LoopbackPeer peer([](SOCKET s) {
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->Open(0));
    DWORD start = GetTickCount();
    while ((port->GetState() & ZPORT_CONNECTING) && GetTickCount() - start < 3000) {
        WaitForSingleObject(events.comm.Get(), 100);
        ResetEvent(events.comm.Get());
        ASSERT_EQ(S_OK, port->OnCommEvent());
    }
    EXPECT_EQ(0u, port->GetState());
    EXPECT_EQ(S_OK, port->Write("i", 1, 1000));

    // A refused connection comes back through OnCommEvent as its error.
    unsigned short closedPort;
    {
        LoopbackPeer gone(nullptr);
        closedPort = gone.Port();
    }
    PortEvents other;
    PortRef refused(MakePort(L"127.0.0.1:" + std::to_wstring(closedPort), other));
    HRESULT hr = refused->Open(0);
    if (hr == S_OK) {
        start = GetTickCount();
        while ((refused->GetState() & ZPORT_CONNECTING) && GetTickCount() - start < 3000 && hr == S_OK) {
            WaitForSingleObject(other.comm.Get(), 100);
            ResetEvent(other.comm.Get());
            hr = refused->OnCommEvent();
        }
    }
    EXPECT_EQ(HRESULT_FROM_WIN32(WSAECONNREFUSED), hr);
}

TEST_F(TcpPortTest, EventCharacterWakesTheOwner)
{
    LoopbackPeer peer([](SOCKET s) {
        SendAll(s, "abc");
        Sleep(200);
        SendAll(s, "def\n");
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->SetParams(9600, 0, '\n'));
    ASSERT_EQ(S_OK, port->Open(3000));
    std::string got;
    ASSERT_EQ(S_OK, port->Read(got, 3, 2000));
    EXPECT_EQ("abc", got);
    ResetEvent(events.comm.Get());
    DWORD count = 0;
    DWORD start = GetTickCount();
    while (count < 4 && GetTickCount() - start < 3000) {
        WaitForSingleObject(events.comm.Get(), 100);
        ResetEvent(events.comm.Get());
        ASSERT_EQ(S_OK, port->GetInQueue(&count));
    }
    ASSERT_EQ(4u, count);
    // The line end was seen: the port signalled the comm event for it.
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), 0));
}

// A read that waited for its bytes keeps what came beyond its count; the owner, which learns of
// data only from its events, is still woken for the rest (the network event that brought it was
// the read's own).
TEST_F(TcpPortTest, BytesKeptBeyondAReadStillWakeTheOwner)
{
    LoopbackPeer peer([](SOCKET s) {
        Sleep(200);
        SendAll(s, "first\nsecond\n");
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->Open(3000));
    EXPECT_EQ("first\n", ReadExactly(port.Get(), 6, 3000));

    HANDLE handles[2] = {events.comm.Get(), events.readDone.Get()};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, 1000);
    ASSERT_NE(WAIT_TIMEOUT, r) << "the kept bytes woke nobody";
    ResetEvent(handles[r - WAIT_OBJECT_0]);
    EXPECT_EQ(S_OK, r == WAIT_OBJECT_0 ? port->OnCommEvent() : port->OnReadComplete());
    DWORD queued = 0;
    ASSERT_EQ(S_OK, port->GetInQueue(&queued));
    EXPECT_EQ(7u, queued);
    EXPECT_EQ("second\n", ReadExactly(port.Get(), queued, 0));
}

// A large write meets a peer that does not read yet: the socket takes part of it, and the rest,
// with two small writes queued behind it, must reach the peer whole and in order.
TEST_F(TcpPortTest, ShortSendKeepsTheRestQueued)
{
    const size_t bigSize = 8 * 1024 * 1024;
    std::string big(bigSize, '\0');
    for (size_t i = 0; i < bigSize; ++i)
        big[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    const std::string expected = big + "second" + "third";

    std::atomic<bool> readNow{false};
    std::atomic<bool> peerDone{false};
    std::string received;  // the peer thread's until peerDone
    {
        LoopbackPeer peer(
            [&](SOCKET s) {
                while (!readNow)
                    Sleep(10);
                std::vector<char> chunk(4096);
                for (;;) {
                    int n = recv(s, chunk.data(), static_cast<int>(chunk.size()), 0);
                    if (n <= 0)
                        break;
                    received.append(chunk.data(), static_cast<size_t>(n));
                    if (received.size() >= expected.size())
                        break;
                }
                peerDone = true;
            },
            SOMAXCONN, 2048);
        PortRef port(MakePort(peer.Address(), events));
        ASSERT_EQ(S_OK, port->Open(3000));

        EXPECT_EQ(S_OK, port->Write(big.data(), static_cast<DWORD>(big.size()), 0));
        EXPECT_TRUE(port->GetState() & ZPORT_WRITE_PENDING);
        EXPECT_EQ(S_OK, port->Write("second", 6, 0));
        EXPECT_EQ(S_OK, port->Write("third", 5, 0));
        // Nobody reads: a write that must finish in time cannot.
        EXPECT_EQ(PE_WRITE_TIMEOUT, port->Write(nullptr, 0, 300));

        readNow = true;
        EXPECT_EQ(S_OK, port->Write(nullptr, 0, 30000));
        EXPECT_EQ(0u, port->GetState() & ZPORT_WRITE_PENDING);
        DWORD start = GetTickCount();
        while (!peerDone && GetTickCount() - start < 10000)
            Sleep(20);
    }
    ASSERT_EQ(expected.size(), received.size());
    EXPECT_TRUE(expected == received);
}

TEST_F(TcpPortTest, PurgeDropsReceivedAndQueuedData)
{
    LoopbackPeer peer([](SOCKET s) {
        SendAll(s, "stale");
        char b[16];
        recv(s, b, sizeof(b), 0);
        SendAll(s, "fresh");
        recv(s, b, sizeof(b), 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->Open(3000));
    DWORD count = 0;
    DWORD start = GetTickCount();
    while (count < 5 && GetTickCount() - start < 3000) {
        WaitForSingleObject(events.comm.Get(), 100);
        ResetEvent(events.comm.Get());
        ASSERT_EQ(S_OK, port->GetInQueue(&count));
    }
    ASSERT_EQ(5u, count);
    EXPECT_EQ(S_OK, port->Purge(TRUE, TRUE));
    ASSERT_EQ(S_OK, port->GetInQueue(&count));
    EXPECT_EQ(0u, count);
    ASSERT_EQ(S_OK, port->Write("go", 2, 1000));
    EXPECT_EQ("fresh", ReadExactly(port.Get(), 5, 3000));
}

// A converter that sends its last bytes and closes at once (FIN or reset): the bytes come first,
// whichever call sees the close, and the close is reported after them, with the owner woken for it.
TEST_F(TcpPortTest, BytesBeforeTheConvertersCloseAreDeliveredFirst)
{
    for (int path = 0; path < 2; ++path) {
        SCOPED_TRACE(path == 0 ? "read" : "network event, then the queue");
        LoopbackPeer peer([](SOCKET s) {
            SendAll(s, "[0F3A1B2C]\r\n");
            shutdown(s, SD_SEND);
        });
        PortRef port(MakePort(peer.Address(), events));
        ASSERT_EQ(S_OK, port->Open(3000));
        Sleep(300);  // the line and the close are both in before anything is asked
        std::string got;
        if (path == 0) {
            ASSERT_EQ(S_OK, port->Read(got, 100, 2000));
        } else {
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), 1000));
            ResetEvent(events.comm.Get());
            ASSERT_EQ(S_OK, port->OnCommEvent());
            DWORD queued = 0;
            ASSERT_EQ(S_OK, port->GetInQueue(&queued));
            ASSERT_EQ(12u, queued);
            ASSERT_EQ(S_OK, port->Read(got, queued, 0));
        }
        EXPECT_EQ("[0F3A1B2C]\r\n", got);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), 1000)) << "nobody comes back for the close";
        ResetEvent(events.comm.Get());
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->OnCommEvent());
        std::string more;
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->Read(more, 1, 100));
        EXPECT_EQ("", more);
    }
}

// The two bounds on what a flooding converter costs, each seen on its own: one receive takes
// about 16 KB and wakes the owner for the rest; wake-ups without a Read hold about 64 KB, and
// the rest stays with the system.
TEST_F(TcpPortTest, AFloodIsTakenInBoundedReceivesAndHeldUpToABound)
{
    const size_t flood = 512 * 1024;
    LoopbackPeer peer([flood](SOCKET s) {
        SendAll(s, std::string(flood, 'A'));
        char b;
        recv(s, &b, 1, 0);
    });
    PortRef port(MakePort(peer.Address(), events));
    ASSERT_EQ(S_OK, port->Open(3000));
    Sleep(500);  // far more than one receive's share is waiting
    ResetEvent(events.comm.Get());

    DWORD queued = 0;
    ASSERT_EQ(S_OK, port->GetInQueue(&queued));
    printf("one receive took %lu bytes\n", static_cast<unsigned long>(queued));
    EXPECT_GE(queued, 8u * 1024);
    EXPECT_LE(queued, 17u * 1024) << "one receive is bounded";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(events.comm.Get(), 0)) << "the owner is woken for the rest";

    for (int wake = 0; wake < 40; ++wake) {
        WaitForSingleObject(events.comm.Get(), 20);
        ResetEvent(events.comm.Get());
        ASSERT_EQ(S_OK, port->OnCommEvent());
    }
    ASSERT_EQ(S_OK, port->GetInQueue(&queued));
    printf("held after 40 wake-ups: %lu bytes\n", static_cast<unsigned long>(queued));
    EXPECT_GE(queued, 64u * 1024);
    EXPECT_LE(queued, 80u * 1024) << "what is held for the owner is bounded";

    // Nothing is lost: the owner reads it all in the end.
    std::string got;
    DWORD start = GetTickCount();
    while (got.size() < flood && GetTickCount() - start < 10000)
        ASSERT_EQ(S_OK, port->Read(got, static_cast<DWORD>(flood - got.size()), 100));
    EXPECT_EQ(flood, got.size());
}

// Records FD_CLOSE as Windows documents it: as soon as the converter's close has arrived (the
// test says when), whether or not its last bytes have been read. Wine records it only once they
// have been.
class CWindowsCloseCalls : public CTcpCalls
{
public:
    std::atomic<bool> closeArrived{false};
    std::atomic<int> calls{0};
    bool Told() const { return m_recorded; }

    int EnumNetworkEvents(SOCKET s, HANDLE event, WSANETWORKEVENTS* events) override
    {
        ++calls;
        const int result = CTcpCalls::EnumNetworkEvents(s, event, events);
        if (result == 0 && closeArrived && !m_recorded) {
            m_recorded = true;
            events->lNetworkEvents |= FD_CLOSE;
            events->iErrorCode[FD_CLOSE_BIT] = 0;
        }
        return result;
    }

private:
    bool m_recorded = false;
};

// A converter that closes while the port already holds its 64 KB for the owner, with much more
// still in the socket: all of it is delivered, in order, before the close, whether the owner
// reads on or only answers its events, and whether the close is told before the last bytes are
// read (Windows) or after (Wine).
TEST_F(TcpPortTest, EverythingBeforeTheConvertersCloseIsDeliveredPastTheHoldingBound)
{
    const size_t total = 256 * 1024;
    std::string pattern(total, '\0');
    for (size_t i = 0; i < total; ++i)
        pattern[i] = static_cast<char>((i * 13 + i / 509) & 0xFF);
    for (int run = 0; run < 4; ++run) {
        const bool byEvents = run % 2 != 0;
        const bool windowsClose = run >= 2;
        SCOPED_TRACE(std::string(byEvents ? "events, then the queue" : "reads") +
                     (windowsClose ? ", close told early" : ", close told late"));
        CWindowsCloseCalls calls;
        std::unique_ptr<CCallSeamScope<CTcpCalls>> scope;
        if (windowsClose)
            scope = std::make_unique<CCallSeamScope<CTcpCalls>>(calls);
        std::atomic<bool> allSent{false};
        LoopbackPeer peer([&](SOCKET s) {
            int size = 1024 * 1024;
            setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof(size));
            SendAll(s, pattern);
            allSent = true;
            shutdown(s, SD_SEND);
            char b;
            recv(s, &b, 1, 0);
        });
        PortRef port(MakePort(peer.Address(), events));
        ASSERT_EQ(S_OK, port->Open(3000));
        DWORD queued = 0;
        for (int wake = 0; wake < 40 && queued < 64 * 1024; ++wake) {
            WaitForSingleObject(events.comm.Get(), 50);
            ResetEvent(events.comm.Get());
            ASSERT_EQ(S_OK, port->GetInQueue(&queued));
        }
        ASSERT_GE(queued, 64u * 1024) << "the port never held its bound";
        ASSERT_TRUE(WaitUntil([&] { return allSent.load(); }, 5000)) << "the converter could not send all";
        Sleep(300);  // its close is in as well
        calls.closeArrived = true;
        for (int wake = 0; wake < 5; ++wake)
            port->OnCommEvent();

        std::string got;
        HRESULT hr = S_OK;
        const DWORD start = GetTickCount();
        while (SUCCEEDED(hr) && GetTickCount() - start < 10000) {
            if (!byEvents) {
                hr = port->Read(got, 100000, 100);
                continue;
            }
            HANDLE handles[2] = {events.comm.Get(), events.readDone.Get()};
            const DWORD r = WaitForMultipleObjects(2, handles, FALSE, 1000);
            if (r == WAIT_TIMEOUT)
                break;   // nobody was woken for what is left
            ResetEvent(handles[r - WAIT_OBJECT_0]);
            hr = r == WAIT_OBJECT_0 ? port->OnCommEvent() : port->OnReadComplete();
            if (SUCCEEDED(hr))
                hr = port->GetInQueue(&queued);
            if (SUCCEEDED(hr) && queued)
                hr = port->Read(got, queued, 0);
        }
        printf("%zu of %zu bytes before the close, then 0x%08lX\n", got.size(), total, static_cast<unsigned long>(hr));
        if (windowsClose) {
            EXPECT_GT(calls.calls.load(), 0) << "the port asks the system for its events past the seam";
            EXPECT_TRUE(calls.Told()) << "the early close was never told";
        }
        EXPECT_EQ(total, got.size());
        EXPECT_TRUE(got == pattern.substr(0, got.size())) << "out of order";
        EXPECT_EQ(PE_PORT_DISCONNECTED, hr);
    }
}

// 0xFF goes to each converter as its own bytes have shown it wants it: doubled to one that
// negotiated, as it is to one that sent 0xFF followed by a byte that is no Telnet command and to one
// that has shown nothing yet; a purge in between changes nothing of it.
TEST_F(TcpPortTest, A0xFFIsSentAsTheConvertersWayWantsIt)
{
    struct Case
    {
        const char* what;
        std::string greeting;     // what the converter sends first
        std::string data;         // what the port delivers of it
        ConverterWay way;
        std::string wire;         // what the converter receives for the request
    };
    const std::string request("\x02\xFF\x09\x23", 4);
    const Case cases[] = {
        {"negotiates", std::string("\xFF\xFB\x03\xFF\xFD\x00" "A", 7), "A", ConverterWay::Telnet,
         std::string("\x02\xFF\xFF\x09\x23", 5)},
        {"raw", std::string("\x02\xFF\x07" "A", 4), std::string("\x02\xFF\x07" "A", 4), ConverterWay::Raw, request},
        {"not shown", "A", "A", ConverterWay::Unknown, request},
    };
    for (const Case& c : cases) {
        for (bool purge : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (purge ? ", purged before the request" : ""));
            std::string wire;   // the peer thread's until the peer is gone
            {
                const std::string greeting = c.greeting;
                const size_t expected = c.wire.size();
                LoopbackPeer peer([&wire, greeting, expected](SOCKET s) {
                    SendAll(s, greeting);
                    ReceiveUpTo(s, wire, expected);
                });
                PortRef port(MakePort(peer.Address(), events));
                ASSERT_EQ(S_OK, port->Open(3000));
                EXPECT_EQ(c.data, ReadExactly(port.Get(), c.data.size(), 3000));
                // A purge empties what is held, not what the converter has shown.
                if (purge) {
                    ASSERT_EQ(S_OK, port->Purge(TRUE, TRUE));
                }
                std::string shownBy;
                EXPECT_EQ(c.way, port->GetConverterWay(&shownBy));
                EXPECT_EQ(c.way == ConverterWay::Unknown, shownBy.empty());
                ASSERT_EQ(S_OK, port->Write(request.data(), static_cast<DWORD>(request.size()), 1000));
                Sleep(300);   // the request reaches the peer
            }
            EXPECT_EQ(c.wire, wire);
        }
    }
}

// Sees how each connection is told to find a dead link: the keep-alive values, and the options set
// at the TCP level, with whether the socket was connected when they were set. Passes every call
// on to the system unless told to play a system that refuses them.
class CKeepAliveCalls : public CTcpCalls
{
public:
    struct Option { int level; int name; DWORD value; bool connected; };

    bool refuse = false;
    int keepAliveCalls = 0;
    tcp_keepalive keepAlive{};
    bool keepAliveConnected = false;
    std::vector<Option> options;

    int Ioctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override
    {
        if (code == SIO_KEEPALIVE_VALS) {
            ++keepAliveCalls;
            if (in && inSize == sizeof(keepAlive))
                keepAlive = *static_cast<tcp_keepalive*>(in);
            keepAliveConnected = Connected(s);
        }
        return Pass(CTcpCalls::Ioctl(s, code, in, inSize, out, outSize, returned), "keep-alive values");
    }
    int SetOption(SOCKET s, int level, int name, const char* value, int length) override
    {
        DWORD number = 0;
        if (length == sizeof(number))
            memcpy(&number, value, sizeof(number));
        options.push_back({level, name, number, Connected(s)});
        return Pass(CTcpCalls::SetOption(s, level, name, value, length), "an option");
    }

private:
    static bool Connected(SOCKET s)
    {
        sockaddr_storage peer{};
        int length = sizeof(peer);
        return getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
    }
    int Pass(int result, const char* what)
    {
        if (result != 0)
            printf("the system refused %s: %d\n", what, WSAGetLastError());
        if (!refuse)
            return result;
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
};

// Every connection, made at once or in the background, is probed after 10 s of silence and then
// every 2 s, gives up after 10 probes and after 12 s of unacknowledged retransmission: so a
// converter that can no longer answer is found within 30 s when idle, 42 s at worst. A system
// that refuses these options leaves the connection working; a connect that fails sets none.
TEST_F(TcpPortTest, EveryConnectionIsToldToFindADeadLink)
{
    const int TcpKeepCount = 16, TcpMaxRetransmit = 5;
    for (int run = 0; run < 3; ++run) {
        const bool background = run == 1;
        const bool refused = run == 2;
        SCOPED_TRACE(background ? "connected in the background" : refused ? "refused" : "connected at once");
        CKeepAliveCalls calls;
        calls.refuse = refused;
        CCallSeamScope<CTcpCalls> scope(calls);
        LoopbackPeer peer([](SOCKET s) {
            SendAll(s, "ok");
            char b;
            recv(s, &b, 1, 0);
        });
        PortRef port(MakePort(peer.Address(), events));
        if (background) {
            ASSERT_EQ(S_OK, port->Open(0));
            ASSERT_TRUE(WaitUntil([&] {
                WaitForSingleObject(events.comm.Get(), 50);
                ResetEvent(events.comm.Get());
                EXPECT_EQ(S_OK, port->OnCommEvent());
                return !(port->GetState() & ZPORT_CONNECTING);
            }, 3000));
        } else {
            ASSERT_EQ(S_OK, port->Open(3000));
        }
        EXPECT_EQ("ok", ReadExactly(port.Get(), 2, 3000));
        EXPECT_EQ(1, calls.keepAliveCalls);
        EXPECT_EQ(1u, calls.keepAlive.onoff);
        EXPECT_EQ(10000u, calls.keepAlive.keepalivetime);
        EXPECT_EQ(2000u, calls.keepAlive.keepaliveinterval);
        EXPECT_TRUE(calls.keepAliveConnected);
        ASSERT_EQ(2u, calls.options.size());
        for (const CKeepAliveCalls::Option& option : calls.options) {
            EXPECT_EQ(IPPROTO_TCP, option.level);
            EXPECT_TRUE(option.connected);
            if (option.name == TcpKeepCount) {
                EXPECT_EQ(10u, option.value);
            } else if (option.name == TcpMaxRetransmit) {
                EXPECT_EQ(12u, option.value);
            } else {
                ADD_FAILURE() << "option " << option.name;
            }
        }
    }

    CKeepAliveCalls calls;
    CCallSeamScope<CTcpCalls> scope(calls);
    std::wstring closed;
    {
        LoopbackPeer gone(nullptr);
        closed = gone.Address();
    }
    PortRef port(MakePort(closed, events));
    EXPECT_NE(S_OK, port->Open(2000));
    EXPECT_EQ(0, calls.keepAliveCalls);
    EXPECT_TRUE(calls.options.empty());
}
