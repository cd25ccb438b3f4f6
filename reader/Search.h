// The reader search: finds readers without knowing where they are. Every candidate port is probed
// with the identification request "i" at the speeds its possible models use, and, when asked,
// network converters are found by a UDP request and their advertised TCP ports probed as well.
//
// There is no thread: Start and every GetNext run on the caller's thread, which drives all probes
// at once from one wait on the search's three manual-reset events (shared by every probe port and
// discovery socket). Found readers come out one at a time through GetNext.
//
// Rule: a probe's port is open only while its probe runs. A port that turns out not to be a reader,
// that gives up, or whose reader was found is closed in the same pass, before any result is handed
// out, so the caller can open a found reader's port at once.
//
// Rule: no port's open holds the caller's thread. Serial opens and TCP connects go on in the
// background while the other probes run; a port that has not opened within the connect time-out
// counts as failed (a serial open still in its driver then ends alone, and the port stays busy until
// it has), and a port that failed to open is not opened again in the same search.
#pragma once
#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <list>
#include <string>
#include <vector>

#include "Exceptions.h"
#include "Handles.h"
#include "PortEnum.h"
#include "Socket.h"
#include "TcpPort.h"
#include "ZPort.h"

// One found reader.
struct SearchResult
{
    std::wstring portName;
    uint32_t model = 0;          // model index 1-9
    uint32_t serialNumber = 0;
    uint32_t version = 0;        // packed firmware version
    std::wstring replyText;      // the identification text as received
};

// A failure of the search: the HRESULT and, as its message, the given text or the code's message
// text (for PE_NO_WINSOCK the text naming the Winsock version needed).
class CSearchRdException : public COSException
{
public:
    explicit CSearchRdException(HRESULT code, const wchar_t* text = nullptr);
    CSearchRdException(const CSearchRdException& other) = default;
    CSearchRdException& operator=(const CSearchRdException& other) = default;

    HRESULT Code() const { return static_cast<HRESULT>(m_code); }
};

[[noreturn]] void ThrowSearchRdException(HRESULT code, const wchar_t* text = nullptr);

// The discovery request and where it goes unless told otherwise.
const char DISCOVERY_REQUEST[] = "SEEK QuorIP";
const uint16_t DISCOVERY_DEFAULT_PORT = 9000;
const uint32_t DISCOVERY_DEFAULT_ADDRESS = 0xFFFFFFFF;   // 255.255.255.255 (the same in any byte order)

// The line speed of a probe's speed step for a model mask: step 0 is 9600 Bd when the mask has any
// of models 1-8, step 1 is 115200 Bd when it has model 3 or 9; a step without its models moves
// `step` on. Returns 0 (and step 2) when every step is used up.
DWORD ProbeSpeedForStep(uint32_t modelMask, uint32_t& step);

// Whether the discovery goes on receiving after a receive on its UDP socket failed with `error`:
// a datagram too long for any reply, and the report of an ICMP port-unreachable reply to the
// broadcast (WSAECONNRESET, WSAENETRESET on Windows), concern that datagram only; a good reply may
// be queued behind it.
bool DiscoveryGoesOnAfter(int error);

// The port name of a converter's advertised TCP port: the sender's "a.b.c.d:port" with the port
// replaced by the advertised one. False (nothing to probe) for port 0 or above 65535, and for an
// advertised address other than empty or "0.0.0.0".
bool DiscoveredPortName(const std::wstring& senderText, uint32_t advertisedPort,
                        const std::string& advertisedAddress, std::wstring& name);

// "a.b.c.d" as an IPv4 address in network byte order; false for anything else.
bool ParseIpv4Address(const std::wstring& text, uint32_t& address);

// The local addresses (network byte order) the discovery sends from: for a loopback target only
// 127.0.0.1 (a loopback target is reachable from nowhere else); otherwise every host address other
// than 127.0.0.1, each once.
std::vector<uint32_t> SelectDiscoveryAddresses(uint32_t target, const std::vector<uint32_t>& hostAddresses);

class CSearchReaders
{
public:
    CSearchReaders();
    virtual ~CSearchReaders();
    CSearchReaders(const CSearchReaders&) = delete;
    CSearchReaders& operator=(const CSearchReaders&) = delete;

    // The candidate ports for the search flags (appended; see PortEnum.h).
    static void EnumPorts(std::vector<PortInfo>& ports, uint32_t flags) { EnumCandidatePorts(ports, flags); }

    // The discovery target: the IPv4 address ("a.b.c.d") and UDP port the request "SEEK QuorIP" is
    // sent to; by default the broadcast address 255.255.255.255 and port 9000. Set it before Start.
    // A loopback target (127.x.x.x) makes the search send from 127.0.0.1 only, which keeps a test's
    // discovery traffic on the machine. False, and nothing changed, for a text that is no IPv4
    // address or for port 0.
    bool SetDiscoveryTarget(const std::wstring& ipv4Address, uint16_t port);
    uint32_t DiscoveryAddress() const { return m_discoveryAddress; }   // network byte order
    uint16_t DiscoveryPort() const { return m_discoveryPort; }

    // Ports that are not to be probed (compared without regard to case), whether listed or
    // discovered: ports that the caller has open itself, which a probe would disturb. A converter's
    // name leaves out the address and port it resolves to, under whatever name it is announced.
    // Set it before Start. Ports held by readers left to end alone (CReader::Retire) are left out
    // as well, and a serial port whose open is still inside its driver is not opened again.
    void ExcludePorts(const std::vector<std::wstring>& names) { m_excluded = names; }

    // Starts the search (once): flags as in PortEnum.h (SEARCH_NETWORK switches discovery on), the
    // DCB stop-bits code, the TCP connect time-out, the read slice (the longest wait while a reply
    // is awaited, 0xFFFFFFFF = none), the time-out for sending "i" and receiving the reply, the tries
    // per speed, how long one discovery attempt waits for replies and the discovery attempts per
    // local address. Without a port list the ports are enumerated with the flags. Ports listed twice
    // are probed once. A host name that cannot be had or resolved makes the discovery send from
    // any address. Throws COSException ("CreateEvent", "WSAStartup") or CSearchRdException
    // (PE_NO_WINSOCK; E_UNEXPECTED when started already).
    void Start(uint32_t flags, uint8_t stopBits, uint32_t connectTimeout, uint32_t readSlice,
               uint32_t replyTimeout, int32_t triesPerSpeed, uint32_t udpTimeout, int32_t udpTries,
               const std::vector<PortInfo>* ports);

    // Drives the search until a reader is found (S_OK, `result` filled), nothing is left to probe
    // and no result waits (PE_NO_MORE_READERS), or `timeoutMs` has passed (PE_SEARCH_TIMEOUT; the
    // search goes on at the next call). 0xFFFFFFFF = no time-out; 0 makes one pass. Failures of
    // single probes only end those probes; only a failed wait is returned as its HRESULT.
    HRESULT GetNext(SearchResult& result, uint32_t timeoutMs);

private:
    // One reference to a probe's port; closes the port and releases it at the end.
    class CProbePort
    {
    public:
        explicit CProbePort(CZPort* port) : m_port(port) { m_port->AddRef(); }
        ~CProbePort()
        {
            m_port->Close();
            m_port->Release();
        }
        CProbePort(const CProbePort&) = delete;
        CProbePort& operator=(const CProbePort&) = delete;
        CZPort* operator->() const { return m_port; }

    private:
        CZPort* m_port;
    };

    struct ProbeRec
    {
        explicit ProbeRec(CZPort* p) : port(p) {}
        CProbePort port;
        int32_t tries = 0;
        std::string raw;              // reply bytes as received
        size_t converted = 0;         // of them, widened into replyText (whole lines)
        uint32_t state = 0;
        DWORD stateTime = 0;
        std::wstring replyText;
        uint32_t model = 0;
        uint32_t modelMask = MODEL_MASK_ANY;
        uint32_t speedStep = 0;
        bool tcp = false;             // a converter's port: no line speed to step through
    };

    struct UdpRec
    {
        uint32_t address = 0;         // local address, network byte order
        CSocket socket;
        std::string buffer;           // one datagram
        int32_t tries = 0;
        uint32_t state = 0;
        DWORD sendTime = 0;
    };

    bool AddProbe(const std::wstring& name, uint32_t modelMask, DWORD now);
    bool Excluded(const std::wstring& name) const;
    void ResolveExcludedConverters();
    void AddDiscoveredPort(const std::wstring& name, const std::wstring& sender);
    bool StartWaitingPorts();   // true when a waiting port became a probe
    void StepProbe(ProbeRec& probe, DWORD& wait);
    void StartProbe(ProbeRec& probe);
    void SendRequest(ProbeRec& probe);
    void ReadReply(ProbeRec& probe);
    void ProbeFailed(ProbeRec& probe, bool closePort);
    // The port did not open, or not in time: the probe ends.
    void OpenFailed(ProbeRec& probe);
    void StepDiscovery(UdpRec& udp, DWORD& wait);
    void SendDiscovery(UdpRec& udp);
    void ReceiveDiscovery(UdpRec& udp);
    void StartDiscovery();
    size_t LiveWaiters() const;

    // Settings.
    uint32_t m_flags = 0;
    uint8_t m_stopBits = 0;
    uint32_t m_connectTimeout = 0;
    uint32_t m_readSlice = 0xFFFFFFFF;
    uint32_t m_replyTimeout = 0;
    int32_t m_triesPerSpeed = 1;
    uint32_t m_udpTimeout = 0;
    int32_t m_udpTries = 1;
    uint32_t m_discoveryAddress = DISCOVERY_DEFAULT_ADDRESS;
    uint16_t m_discoveryPort = DISCOVERY_DEFAULT_PORT;
    bool m_started = false;

    // Declared before everything that uses them, so destroyed after it: sockets and ports are
    // closed while Winsock still runs and the events still exist.
    CWinsockSession m_winsock;
    CHandle m_writeDone;
    CHandle m_readDone;
    CHandle m_commEvent;

    std::deque<SearchResult> m_results;
    std::list<ProbeRec> m_probes;
    std::list<UdpRec> m_discovery;
    std::vector<std::wstring> m_excluded;
    std::vector<TcpAddress> m_excludedAddresses;    // what the converters among them resolve to
    std::vector<std::wstring> m_discovered;         // every discovered name taken, probed or waiting
    std::deque<std::wstring> m_waitingPorts;        // discovered, not probed yet
    std::vector<std::pair<std::wstring, size_t>> m_senders;   // ports taken from each sender address
    DWORD m_pauseStart = 0;
    DWORD m_pauseLength = 0;          // 0 = no pause
};
