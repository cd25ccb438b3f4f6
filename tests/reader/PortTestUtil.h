// Helpers for the port tests: the owner's four events, a port reference that releases itself,
// a timer that sets an event later (a stop request from "another thread"), and a Winsock peer on
// 127.0.0.1 that runs a scripted conversation on its own thread.
#pragma once
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "Handles.h"
#include "Socket.h"
#include "TcpCalls.h"
#include "ZPort.h"

namespace porttest {

inline CHandle NewEvent()
{
    return CHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

// The events an owner hands to a port.
struct PortEvents
{
    CHandle stop = NewEvent();
    CHandle writeDone = NewEvent();
    CHandle readDone = NewEvent();
    CHandle comm = NewEvent();
};

// One reference to a port, taken at creation and released at the end of the scope.
class PortRef
{
public:
    explicit PortRef(CZPort* port) : m_port(port) { m_port->AddRef(); }
    ~PortRef() { m_port->Release(); }
    PortRef(const PortRef&) = delete;
    PortRef& operator=(const PortRef&) = delete;
    CZPort* operator->() const { return m_port; }
    CZPort* Get() const { return m_port; }

private:
    CZPort* m_port;
};

// A port of the class its name selects, initialised with `events`.
inline CZPort* MakePort(const std::wstring& name, PortEvents& events, bool withStop = true)
{
    CZPort* port = CreateZPort(name.c_str());
    port->Init(name.c_str(), withStop ? events.stop.Get() : nullptr, events.writeDone.Get(),
               events.readDone.Get(), events.comm.Get());
    port->waitSlice = 100;
    return port;
}

// Sets an event after a delay, from its own thread; joined at the end of the scope.
class DelayedSet
{
public:
    DelayedSet(HANDLE event, DWORD delayMs)
        : m_thread([event, delayMs] {
              Sleep(delayMs);
              SetEvent(event);
          })
    {
    }
    ~DelayedSet() { m_thread.join(); }

private:
    std::thread m_thread;
};

class WinsockScope
{
public:
    WinsockScope()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockScope() { WSACleanup(); }
};

inline void SendAll(SOCKET s, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        int n = send(s, bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

// A blocking listener on 127.0.0.1 (any free port). With a script, the peer thread accepts one
// connection, hands it to the script and closes it when the script returns. Without one, nobody
// ever accepts (for filling the backlog).
class LoopbackPeer
{
public:
    using Script = std::function<void(SOCKET)>;

    explicit LoopbackPeer(Script script, int backlog = SOMAXCONN, int receiveBuffer = 0)
    {
        m_listener.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        if (receiveBuffer > 0)
            setsockopt(m_listener.Get(), SOL_SOCKET, SO_RCVBUF,
                       reinterpret_cast<const char*>(&receiveBuffer), sizeof(receiveBuffer));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_listener.Get(), backlog);
        if (script)
            m_thread = std::thread([this, script] {
                SOCKET client = accept(m_listener.Get(), nullptr, nullptr);
                if (client == INVALID_SOCKET)
                    return;
                CSocket owner(client);
                BOOL noDelay = TRUE;
                setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                           sizeof(noDelay));
                script(client);
            });
    }
    ~LoopbackPeer()
    {
        // A connection of our own ends an accept that is still waiting (whether closing the
        // listener would is not something to rely on); the script then sees it closed at once.
        if (m_thread.joinable()) {
            CSocket wake(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(m_port);
            connect(wake.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        }
        m_listener.Close();
        if (m_thread.joinable())
            m_thread.join();
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    unsigned short Port() const { return m_port; }
    std::wstring Address() const { return L"127.0.0.1:" + std::to_wstring(m_port); }

private:
    CSocket m_listener;
    unsigned short m_port = 0;
    std::thread m_thread;
};

// Listener whose accept queue is full, so a further connect is never answered: nothing accepts,
// and Linux drops SYNs to a listener with a full queue.
class UnansweredListener
{
public:
    UnansweredListener() : m_peer(nullptr, 1)
    {
        for (int i = 0; i < 8; ++i) {
            CSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            u_long nonBlocking = 1;
            ioctlsocket(s.Get(), FIONBIO, &nonBlocking);
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            address.sin_port = htons(m_peer.Port());
            connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
            m_fill.push_back(std::move(s));
        }
        Sleep(200);  // let the handshakes that can finish do so
    }
    std::wstring Address() const { return m_peer.Address(); }

private:
    LoopbackPeer m_peer;
    std::vector<CSocket> m_fill;
};

// Plays the system giving up on a connection that can no longer carry data (its keep-alive probes
// or retransmissions went unanswered): armed with an error, the next network-event enumeration
// reports FD_CLOSE with it, as Windows does, though the peer never closed.
class CGivenUpCalls : public CTcpCalls
{
public:
    std::atomic<int> error{0};   // armed: the next enumeration reports FD_CLOSE with it
    std::atomic<int> played{0};

    int EnumNetworkEvents(SOCKET s, HANDLE event, WSANETWORKEVENTS* events) override
    {
        const int result = CTcpCalls::EnumNetworkEvents(s, event, events);
        const int code = error.exchange(0);
        if (result == 0 && code != 0) {
            events->lNetworkEvents |= FD_CLOSE;
            events->iErrorCode[FD_CLOSE_BIT] = code;
            ++played;
        }
        return result;
    }
};

} // namespace porttest
