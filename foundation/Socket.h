// Owner of one Windows Sockets handle; INVALID_SOCKET means none. Closed by the destructor.
#pragma once
#include <winsock2.h>
#include <utility>

class CSocket
{
public:
    CSocket() = default;
    explicit CSocket(SOCKET s) : m_socket(s) {}
    virtual ~CSocket() { Close(); }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& o) noexcept : m_socket(std::exchange(o.m_socket, INVALID_SOCKET)) {}
    CSocket& operator=(CSocket&& o) noexcept
    {
        if (this != &o) {
            Close();
            m_socket = std::exchange(o.m_socket, INVALID_SOCKET);
        }
        return *this;
    }

    SOCKET Get() const { return m_socket; }
    bool Valid() const { return m_socket != INVALID_SOCKET; }
    void Reset(SOCKET s = INVALID_SOCKET) { Close(); m_socket = s; }
    void Close()
    {
        if (m_socket != INVALID_SOCKET) {
            closesocket(m_socket);
            m_socket = INVALID_SOCKET;
        }
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};
