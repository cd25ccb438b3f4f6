// A TCP relay on 127.0.0.1 between a reader object and a simulated converter, playing a link that
// stalls: once a chosen request has passed towards the converter, everything the converter sends
// back is held for a while and then delivered at once, in order, as TCP delivers after a
// retransmission. One connection at a time; the relay stops with its scope.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include "Socket.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

namespace readertest {

class CStallingRelay
{
public:
    explicit CStallingRelay(int converterPort) : m_converterPort(static_cast<unsigned short>(converterPort))
    {
        m_listener.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = Loopback(0);
        bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
        int length = sizeof(address);
        getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        listen(m_listener.Get(), 4);
        m_thread = std::thread([this] { Run(); });
    }
    ~CStallingRelay()
    {
        m_stop = true;
        m_thread.join();
    }
    CStallingRelay(const CStallingRelay&) = delete;
    CStallingRelay& operator=(const CStallingRelay&) = delete;

    std::wstring Address() const { return L"127.0.0.1:" + std::to_wstring(m_port); }

    // The next time `request` passes towards the converter, the way back is held for `holdMs`.
    void Arm(const std::string& request, DWORD holdMs)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_trigger = request;
        m_holdMs = holdMs;
        m_heldBytes.clear();
        m_holdEnded = 0;
    }
    // The tick at which the held bytes were let go (0 while none were).
    DWORD HoldEnded() const { return m_holdEnded.load(); }
    // What the converter sent while the way back was held.
    std::string HeldBytes()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_heldBytes;
    }

private:
    static sockaddr_in Loopback(unsigned short port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        return address;
    }

    static bool Readable(SOCKET s)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval wait{0, 10000};
        return select(0, &set, nullptr, nullptr, &wait) > 0;
    }

    static bool SendAll(SOCKET s, const std::string& bytes)
    {
        for (size_t sent = 0; sent < bytes.size();) {
            int n = send(s, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (n <= 0)
                return false;
            sent += static_cast<size_t>(n);
        }
        return true;
    }

    void Run()
    {
        while (!m_stop) {
            if (!Readable(m_listener.Get()))
                continue;
            CSocket reader(accept(m_listener.Get(), nullptr, nullptr));
            CSocket converter(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
            sockaddr_in address = Loopback(m_converterPort);
            if (!reader.Valid()
                || connect(converter.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
                continue;
            Relay(reader.Get(), converter.Get());
        }
    }

    // Until either side closes or the relay stops.
    void Relay(SOCKET reader, SOCKET converter)
    {
        std::string seen;    // the latest bytes towards the converter, where the trigger is looked for
        std::string waiting; // bytes towards the reader not yet let go
        DWORD holdUntil = 0;
        bool holding = false;
        char buffer[4096];
        while (!m_stop) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(reader, &set);
            FD_SET(converter, &set);
            timeval wait{0, 10000};
            if (select(0, &set, nullptr, nullptr, &wait) < 0)
                return;
            if (FD_ISSET(reader, &set)) {
                int n = recv(reader, buffer, sizeof buffer, 0);
                if (n <= 0 || !SendAll(converter, std::string(buffer, static_cast<size_t>(n))))
                    return;
                seen.append(buffer, static_cast<size_t>(n));
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_trigger.empty() && seen.find(m_trigger) != std::string::npos) {
                    m_trigger.clear();
                    holding = true;
                    holdUntil = GetTickCount() + m_holdMs;
                }
                if (seen.size() > 64)
                    seen.erase(0, seen.size() - 64);
            }
            if (FD_ISSET(converter, &set)) {
                int n = recv(converter, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return;
                waiting.append(buffer, static_cast<size_t>(n));
                if (holding) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_heldBytes.append(buffer, static_cast<size_t>(n));
                }
            }
            if (holding && static_cast<LONG>(GetTickCount() - holdUntil) >= 0) {
                holding = false;
                m_holdEnded = GetTickCount();
            }
            if (!holding && !waiting.empty()) {
                if (!SendAll(reader, waiting))
                    return;
                waiting.clear();
            }
        }
    }

    const unsigned short m_converterPort;
    unsigned short m_port = 0;
    CSocket m_listener;
    std::atomic<bool> m_stop{false};
    std::atomic<DWORD> m_holdEnded{0};
    std::mutex m_mutex; // guards the trigger, the hold's length and the held bytes
    std::string m_trigger;
    DWORD m_holdMs = 0;
    std::string m_heldBytes;
    std::thread m_thread;
};

} // namespace readertest
