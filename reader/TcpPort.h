// The TCP port: a non-blocking Winsock client connection to a network converter, whose network
// events arrive through the owner's comm event, so that owners drive it exactly like a serial
// port. A converter may speak Telnet (RFC 854) or pass bytes as they are; the port finds out which
// from the converter's own bytes, per connection. From a Telnet converter it removes the commands
// and the doubling of 0xFF, and to one it doubles 0xFF, so that the caller and the reader each get
// the other's bytes as they were (TelnetDecoder.h says how the way is found and what stays
// doubtful).
//
// Rule: a converter may send without end. One receive takes a bounded amount from the socket and
// then lets the owner's wait run (setting the comm event when more may be waiting), and the
// decoded bytes held for the owner are bounded: beyond that the system keeps them.
//
// Rule: a converter that closes the connection right after its last bytes loses none of them. The
// close is kept and reported only once everything received before it, in the port and still in
// the socket, has been handed on (read or purged). Bytes that the bound above leaves in the socket
// get no further network event: the port takes them itself once there is room, and wakes the owner
// for them.
#pragma once
#include "ZPort.h"
#include "HostResolve.h"
#include "Socket.h"
#include "TelnetDecoder.h"
#include <deque>
#include <vector>

// One successful WSAStartup, undone by the destructor.
class CWinsockSession
{
public:
    CWinsockSession() = default;
    ~CWinsockSession() { Reset(); }
    CWinsockSession(const CWinsockSession&) = delete;
    CWinsockSession& operator=(const CWinsockSession&) = delete;

    // Starts Winsock 2.2 unless already started: S_OK, PE_NO_WINSOCK or the error's HRESULT.
    HRESULT Start();
    bool Started() const { return m_started; }
    void Reset();

private:
    bool m_started = false;
};

class CZTcpPort : public CZPort
{
public:
    CZTcpPort();
    ~CZTcpPort() override;

    HRESULT STDMETHODCALLTYPE Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                   HANDLE readDoneEvent, HANDLE commEvent) override;
    HRESULT STDMETHODCALLTYPE Open(DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Close() override;
    BOOL STDMETHODCALLTYPE IsOpen() override { return m_socket.Valid(); }
    HRESULT STDMETHODCALLTYPE GetInQueue(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE Read(ZByteString& buffer, DWORD count, DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Write(const void* data, DWORD length, DWORD timeoutMs) override;
    HRESULT STDMETHODCALLTYPE Purge(BOOL receiveSide, BOOL sendSide) override;
    HRESULT STDMETHODCALLTYPE OnCommEvent() override;
    ConverterWay GetConverterWay(std::string* shownBy = nullptr, bool* byFrameCheck = nullptr) const override;
    void SetFrameCheck(const ConverterFrameCheck* check) override;

    // Splits "host:port" at its last colon; false when there is no colon, the host is empty or the
    // port is not a TCP port number (decimal digits, 1 to 65535).
    static bool SplitAddress(const std::wstring& name, std::wstring& host, std::wstring& service);
    static bool IsTcpPortNumber(const std::wstring& text);

    // The resolver used for host names (numeric addresses need none); returns the one it replaces;
    // null puts back the system's. Tests put in one that is slow or gives chosen addresses.
    static TcpResolver SetResolver(TcpResolver resolver);

private:
    HRESULT Resolve(const std::wstring& host, const std::wstring& service, DWORD start, DWORD timeoutMs);
    HRESULT StartConnect(const TcpAddress& address);
    // Waits up to `wait` ms for the comm event or the stop event, resetting the one that fired:
    // S_OK for the comm event, S_FALSE when the time is up, E_ABORT for the stop event, or the
    // wait's error.
    HRESULT WaitCommOrStop(DWORD wait);
    HRESULT WaitConnect(DWORD start, DWORD timeoutMs);
    HRESULT ConnectNext(DWORD start, DWORD timeoutMs, HRESULT failure);
    HRESULT SelectEvents(long events);
    // Gives a connection just made the keep-alive and retransmission bounds by which the system
    // finds it dead when the converter can no longer answer.
    void WatchConnection();
    // Takes what the socket holds, as far as the bounds allow; the end of the connection (the
    // converter's close, a failed receive) is kept, not returned.
    void Receive();
    // The end of the connection, once nothing received before it waits any more, in the port or
    // in the socket: then its code, else S_OK (the owner is woken again for the rest).
    HRESULT PeerClosed() const { return m_drained && m_received.empty() ? m_closed : S_OK; }
    void KeepClose(HRESULT code);
    // Nothing more comes from the socket; `code` says why.
    void EndReceiving(HRESULT code);
    HRESULT Flush();
    void CloseSocket();

    CWinsockSession m_winsock;      // declared first: outlives the socket
    CSocket m_socket;
    long m_selected = 0;            // the network events currently selected on the comm event
    std::string m_recvChunk;
    CTelnetDecoder m_telnet;        // holds a Telnet command that has not arrived whole
    std::string m_received;         // decoded, not yet handed to a caller
    HRESULT m_closed = S_OK;        // how the converter ended the connection, S_OK while it lasts
    bool m_drained = false;         // the socket has given all it will: only m_received is left
    bool m_heldBack = false;        // the bound on m_received stopped a receive: the socket may hold more
    std::deque<std::string> m_sendQueue;  // front element may be partly sent already
    std::vector<TcpAddress> m_addresses;  // of the converter, tried in turn until one connects
    size_t m_nextAddress = 0;             // the next one to try
};
