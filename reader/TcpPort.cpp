// The TCP port on a non-blocking, event-selected Winsock socket.
#include <winsock2.h>
#include <ws2tcpip.h>
#include "TcpPort.h"
#include "TcpCalls.h"
#include <atomic>

namespace {

const DWORD RecvChunkSize = 1024;
// What one receive takes from the socket at most: a converter that sends without pause must not
// keep the owner's thread here, away from its stop and wake requests.
const size_t MaxReceivePerCall = 16 * 1024;
// No more is taken from the socket while this much waits for the owner; the rest stays with the
// system, whose flow control then holds the sender back.
const size_t MaxHeldReceived = 64 * 1024;

HRESULT MapSocketError(int error)
{
    if (error == 0)
        return S_OK;
    if (error == WSAECONNABORTED || error == WSAECONNRESET)
        return PE_PORT_DISCONNECTED;
    return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

HRESULT LastSocketError()
{
    return MapSocketError(WSAGetLastError());
}

// The longest wait for a host name when the open itself has no time-out.
const DWORD ResolveLimitMs = 10000;

std::atomic<TcpResolver> CurrentResolver{&SystemResolver};

} // namespace

HRESULT CWinsockSession::Start()
{
    if (m_started)
        return S_OK;
    WSADATA data{};
    int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error == WSAVERNOTSUPPORTED)
        return PE_NO_WINSOCK;
    if (error != 0)
        return MapSocketError(error);
    m_started = true;
    if (data.wVersion != MAKEWORD(2, 2)) {
        Reset();
        return PE_NO_WINSOCK;
    }
    return S_OK;
}

void CWinsockSession::Reset()
{
    if (m_started) {
        WSACleanup();
        m_started = false;
    }
}

CZTcpPort::CZTcpPort() = default;

CZTcpPort::~CZTcpPort()
{
    CloseSocket();
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                          HANDLE readDoneEvent, HANDLE commEvent)
{
    CZPort::Init(name, stopEvent, writeDoneEvent, readDoneEvent, commEvent);
    HRESULT hr = m_winsock.Start();
    if (FAILED(hr))
        return hr;
    m_recvChunk.resize(RecvChunkSize);
    return S_OK;
}

bool CZTcpPort::SplitAddress(const std::wstring& name, std::wstring& host, std::wstring& service)
{
    size_t colon = name.rfind(L':');
    if (colon == std::wstring::npos || colon == 0 || colon + 1 == name.size())
        return false;
    host = name.substr(0, colon);
    service = name.substr(colon + 1);
    return true;
}

void CZTcpPort::CloseSocket()
{
    if (m_socket.Valid()) {
        shutdown(m_socket.Get(), SD_BOTH);
        m_socket.Close();
    }
    m_selected = 0;
    m_pending = 0;
    m_closed = S_OK;
    m_drained = false;
    m_heldBack = false;
}

void CZTcpPort::KeepClose(HRESULT code)
{
    if (SUCCEEDED(m_closed))
        m_closed = code;
}

void CZTcpPort::EndReceiving(HRESULT code)
{
    KeepClose(code);
    m_drained = true;
    m_pending &= ~ZPORT_READ_PENDING;
}

HRESULT CZTcpPort::SelectEvents(long events)
{
    if (events == m_selected)
        return S_OK;
    if (WSAEventSelect(m_socket.Get(), m_commEvent, events) != 0)
        return LastSocketError();
    m_selected = events;
    return S_OK;
}

TcpResolver CZTcpPort::SetResolver(TcpResolver resolver)
{
    return CurrentResolver.exchange(resolver ? resolver : &SystemResolver);
}

HRESULT CZTcpPort::Resolve(const std::wstring& host, const std::wstring& service, DWORD start, DWORD timeoutMs)
{
    m_addresses.clear();
    m_nextAddress = 0;
    if (ResolveNumeric(host, service, m_addresses))
        return S_OK;
    // A name waits for the name service on a helper thread, so that a stop request is answered.
    DWORD limit = timeoutMs == 0 ? ResolveLimitMs : RemainingWait(start, timeoutMs);
    int error = 0;
    switch (ResolveHost(CurrentResolver.load(), host, service, m_stopEvent, limit, m_addresses, error)) {
    case ResolveOutcome::Resolved:
        return S_OK;
    case ResolveOutcome::Stopped:
        ResetEvent(m_stopEvent);
        return E_ABORT;
    case ResolveOutcome::TimedOut:
        return PE_TCP_CONNECT_TIMEOUT;
    case ResolveOutcome::Failed:
        break;
    }
    if (error == WSAEFAULT)
        return E_INVALIDARG;
    if (error == WSAHOST_NOT_FOUND)
        return PE_PORT_NOT_EXISTS;
    return MapSocketError(error);
}

HRESULT CZTcpPort::StartConnect(const TcpAddress& address)
{
    SOCKET s = WSASocketW(address.family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0);
    if (s == INVALID_SOCKET)
        return LastSocketError();
    m_socket.Reset(s);
    m_selected = 0;
    HRESULT hr = SelectEvents(FD_CONNECT);
    if (FAILED(hr))
        return hr;
    if (WSAConnect(s, reinterpret_cast<const sockaddr*>(&address.address), address.length, nullptr, nullptr,
                   nullptr, nullptr) == 0)
        return S_OK;
    int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK ? S_FALSE : MapSocketError(error);
}

HRESULT CZTcpPort::WaitCommOrStop(DWORD wait)
{
    HANDLE handles[2] = {m_commEvent, m_stopEvent};
    DWORD n = m_stopEvent ? 2 : 1;
    DWORD r = WaitForMultipleObjects(n, handles, FALSE, wait);
    if (r == WAIT_TIMEOUT)
        return S_FALSE;
    if (r == WAIT_FAILED)
        return HRESULT_FROM_WIN32(GetLastError());
    if (r == WAIT_OBJECT_0 + 1) {
        ResetEvent(m_stopEvent);
        return E_ABORT;
    }
    ResetEvent(m_commEvent);
    return S_OK;
}

HRESULT CZTcpPort::WaitConnect(DWORD start, DWORD timeoutMs)
{
    for (;;) {
        HRESULT hr = WaitCommOrStop(RemainingWait(start, timeoutMs));
        if (hr == S_FALSE)
            return PE_TCP_CONNECT_TIMEOUT;
        if (FAILED(hr))
            return hr;
        WSANETWORKEVENTS events{};
        if (TcpCalls().EnumNetworkEvents(m_socket.Get(), nullptr, &events) != 0)
            return S_OK;
        if (events.lNetworkEvents & FD_CONNECT) {
            int code = events.iErrorCode[FD_CONNECT_BIT];
            return code != 0 ? MapSocketError(code) : S_OK;
        }
        // The comm event fired for something else (it may be shared or left signalled): the
        // connect is still going on.
    }
}

HRESULT CZTcpPort::ConnectNext(DWORD start, DWORD timeoutMs, HRESULT failure)
{
    // A name may resolve to addresses the converter does not listen on (IPv6 first, say): each is
    // tried in turn, and the last failure is what an open that finds none reports. An address that
    // never answers (a dead record, a filtered route) may take only its share of the time left, so
    // that the ones after it still get theirs.
    while (m_nextAddress < m_addresses.size()) {
        const TcpAddress& address = m_addresses[m_nextAddress++];
        HRESULT hr = StartConnect(address);
        if (hr == S_FALSE) {
            if (timeoutMs == 0) {
                // Finished in the background; OnCommEvent sees FD_CONNECT.
                m_pending |= ZPORT_CONNECTING;
                return S_OK;
            }
            const DWORD left = static_cast<DWORD>(m_addresses.size() - m_nextAddress + 1);
            hr = WaitConnect(GetTickCount(), RemainingWait(start, timeoutMs) / left);
            if (hr == E_ABORT || (hr == PE_TCP_CONNECT_TIMEOUT && m_nextAddress >= m_addresses.size())) {
                CloseSocket();
                return hr;
            }
        }
        if (SUCCEEDED(hr)) {
            hr = SelectEvents(FD_READ | FD_CLOSE);
            if (SUCCEEDED(hr))
                return S_OK;
        }
        CloseSocket();
        failure = hr;
    }
    return failure;
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Open(DWORD timeoutMs)
{
    if (m_socket.Valid())
        return S_OK;

    std::wstring host, service;
    if (!SplitAddress(m_name, host, service))
        return E_INVALIDARG; // no host or no port: refused before any network call

    const DWORD start = GetTickCount();
    HRESULT hr = Resolve(host, service, start, timeoutMs);
    if (FAILED(hr))
        return hr;
    m_pending = 0;
    m_closed = S_OK;
    m_drained = false;
    m_heldBack = false;
    // A new connection starts clean: nothing of the previous one is delivered or sent on it, and
    // the converter's way is found anew (it may be another converter now).
    m_telnet.Reset();
    m_received.clear();
    m_sendQueue.clear();
    return ConnectNext(start, timeoutMs, PE_PORT_NOT_EXISTS);
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Close()
{
    CloseSocket();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZTcpPort::GetInQueue(DWORD* count)
{
    HRESULT hr = S_OK;
    if (m_socket.Valid())
        hr = OnCommEvent();
    if (count)
        *count = static_cast<DWORD>(m_received.size());
    return hr;
}

void CZTcpPort::Receive()
{
    m_heldBack = false;
    if (m_drained)
        return;
    // While the connection lasts FD_READ tells when there is more; after the converter's close
    // nothing tells, and the rest is taken as it is asked for.
    if (SUCCEEDED(m_closed) && (m_pending & ZPORT_READ_PENDING))
        return;
    const size_t before = m_received.size();
    size_t taken = 0;
    for (;;) {
        if (m_received.size() >= MaxHeldReceived) {
            // The owner reads what is held first; the port comes back for the rest (Read,
            // OnCommEvent), since no network event will.
            m_heldBack = true;
            break;
        }
        if (taken >= MaxReceivePerCall) {
            // More may be waiting: the owner comes back through its wait, where it sees its
            // other events too.
            SetEvent(m_commEvent);
            break;
        }
        WSABUF buffer{RecvChunkSize, &m_recvChunk[0]};
        DWORD got = 0;
        DWORD flags = 0;
        if (WSARecv(m_socket.Get(), &buffer, 1, &got, &flags, nullptr, nullptr) == 0) {
            if (got == 0) {
                EndReceiving(PE_PORT_DISCONNECTED);  // the converter closed the connection
                break;
            }
            m_telnet.Feed(m_recvChunk.data(), got, m_received);
            taken += got;
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            EndReceiving(MapSocketError(error));
        else if (FAILED(m_closed))
            m_drained = true;   // closed, and nothing is left in the socket
        else
            m_pending |= ZPORT_READ_PENDING;
        break;
    }
    // Wake the owner on its event character, as a serial port does.
    if (m_eventChar && m_received.size() > before &&
        m_received.find(static_cast<char>(m_eventChar), before) != std::string::npos)
        SetEvent(m_commEvent);
}

HRESULT CZTcpPort::Flush()
{
    if (m_pending & ZPORT_WRITE_PENDING)
        return S_OK;
    while (!m_sendQueue.empty()) {
        std::string& front = m_sendQueue.front();
        if (front.empty()) {
            m_sendQueue.pop_front();
            continue;
        }
        WSABUF buffer{static_cast<ULONG>(front.size()), &front[0]};
        DWORD sent = 0;
        if (WSASend(m_socket.Get(), &buffer, 1, &sent, 0, nullptr, nullptr) == 0) {
            // A short send leaves the rest at the front of the queue, to go next.
            if (sent >= front.size())
                m_sendQueue.pop_front();
            else
                front.erase(0, sent);
            continue;
        }
        int error = WSAGetLastError();
        if (error != WSAEWOULDBLOCK)
            return MapSocketError(error);
        // FD_READ stays selected so that incoming data is not left unnoticed while we wait.
        m_pending |= ZPORT_WRITE_PENDING;
        return SelectEvents(FD_READ | FD_WRITE | FD_CLOSE);
    }
    return SelectEvents(FD_READ | FD_CLOSE);
}

HRESULT STDMETHODCALLTYPE CZTcpPort::OnCommEvent()
{
    if (!m_socket.Valid())
        return S_OK;
    if (FAILED(m_closed)) {
        Receive();   // the rest of what came before the close, as far as there is room
        return PeerClosed();
    }
    WSANETWORKEVENTS events{};
    if (TcpCalls().EnumNetworkEvents(m_socket.Get(), m_commEvent, &events) != 0)
        return S_OK;
    HRESULT hr = S_OK;
    auto keep = [&hr](HRESULT result) {
        if (SUCCEEDED(hr) && FAILED(result))
            hr = result;
    };
    if (events.lNetworkEvents & FD_CONNECT) {
        m_pending &= ~ZPORT_CONNECTING;
        int code = events.iErrorCode[FD_CONNECT_BIT];
        if (code != 0 && m_nextAddress < m_addresses.size()) {
            // This address refused; the next one is tried, again in the background.
            CloseSocket();
            return ConnectNext(GetTickCount(), 0, MapSocketError(code));
        }
        keep(code == 0 ? SelectEvents(FD_READ | FD_CLOSE) : MapSocketError(code));
    }
    if (events.lNetworkEvents & FD_WRITE) {
        m_pending &= ~ZPORT_WRITE_PENDING;
        int code = events.iErrorCode[FD_WRITE_BIT];
        if (code != 0)
            keep(MapSocketError(code));
        else if (SUCCEEDED(hr))
            keep(Flush());
    }
    if (events.lNetworkEvents & FD_READ) {
        m_pending &= ~ZPORT_READ_PENDING;
        int code = events.iErrorCode[FD_READ_BIT];
        if (code != 0)
            EndReceiving(MapSocketError(code));
        else if (SUCCEEDED(hr))
            Receive();
    }
    if (events.lNetworkEvents & FD_CLOSE) {
        int code = events.iErrorCode[FD_CLOSE_BIT];
        KeepClose(code == 0 || code == WSAECONNABORTED || code == WSAECONNRESET ? PE_PORT_DISCONNECTED
                                                                               : MapSocketError(code));
        Receive();
    } else if (m_heldBack) {
        Receive();   // the owner has made room since
    }
    keep(PeerClosed());
    return hr;
}

ConverterWay CZTcpPort::GetConverterWay(std::string* shownBy) const
{
    if (shownBy)
        *shownBy = m_telnet.ShownBy();
    return m_telnet.Way();
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Read(ZByteString& buffer, DWORD count, DWORD timeoutMs)
{
    const size_t initial = buffer.size();
    const size_t target = initial + count;
    const DWORD start = GetTickCount();
    if ((m_pending & ZPORT_READ_PENDING) && SUCCEEDED(m_closed)) {
        HRESULT hr = OnCommEvent();
        if (FAILED(hr))
            return hr;
    }
    Receive();
    for (;;) {
        if (!m_received.empty() && buffer.size() < target) {
            size_t take = target - buffer.size();
            if (take > m_received.size())
                take = m_received.size();
            buffer.append(m_received, 0, take);
            m_received.erase(0, take);
        }
        if (buffer.size() >= target) {
            // Bytes kept beyond the caller's count are announced as a finished read is: the
            // network event that brought them may have been this read's own.
            if (!m_received.empty())
                SetEvent(m_readDoneEvent);
            else if (m_heldBack || FAILED(m_closed))
                SetEvent(m_commEvent);   // the owner comes back for the rest, or for the close
            return S_OK;
        }
        if (m_heldBack || (FAILED(m_closed) && !m_drained)) {
            // The socket holds more than the port took, and no network event will tell of it.
            Receive();
            if (!m_received.empty())
                continue;
        }
        if (m_drained) {
            // Everything before the close is handed on now; the close is reported next time.
            if (buffer.size() == initial)
                return m_closed;
            SetEvent(m_commEvent);
            return S_OK;
        }

        DWORD wait = RemainingWait(start, timeoutMs);
        if (wait == 0)
            return S_OK;
        if (waitSlice < wait)
            wait = waitSlice;
        HRESULT hr = WaitCommOrStop(wait);
        if (FAILED(hr))
            return hr;
        if (hr == S_OK) {
            hr = OnCommEvent();
            // The close comes back round the loop, after the bytes before it.
            if (FAILED(hr) && !(m_drained && hr == m_closed))
                return hr;
        }
        Receive();
    }
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Write(const void* data, DWORD length, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    m_sendQueue.emplace_back();
    m_telnet.Encode(static_cast<const char*>(data), length, m_sendQueue.back());
    if (m_pending & ZPORT_WRITE_PENDING) {
        HRESULT hr = OnCommEvent();
        if (FAILED(hr))
            return hr;
    }
    for (;;) {
        HRESULT hr = Flush();
        if (FAILED(hr) || !(m_pending & ZPORT_WRITE_PENDING) || timeoutMs == 0)
            return hr;
        DWORD wait = RemainingWait(start, timeoutMs);
        if (wait == 0)
            return PE_WRITE_TIMEOUT;
        hr = WaitCommOrStop(wait);
        if (hr == S_FALSE)
            return PE_WRITE_TIMEOUT;
        if (FAILED(hr))
            return hr;
        hr = OnCommEvent();
        if (FAILED(hr))
            return hr;
    }
}

HRESULT STDMETHODCALLTYPE CZTcpPort::Purge(BOOL receiveSide, BOOL sendSide)
{
    if (receiveSide) {
        m_received.clear();
        m_telnet.DropHeld();
        if (m_heldBack || FAILED(m_closed))
            SetEvent(m_commEvent);
    }
    if (sendSide)
        m_sendQueue.clear();
    return S_OK;
}
