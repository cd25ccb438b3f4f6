// The reader search: probe state machines, converter discovery and the wait that drives them.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>
#include "Search.h"

#include "CodePage.h"
#include "DiscoveryCalls.h"
#include "Messages.h"
#include "Models.h"
#include "Reader.h"
#include "ReplyParse.h"
#include "ResText.h"
#include "WFormat.h"

#include <algorithm>
#include <cwctype>
#include <memory>
#include "res/ReaderStrings.h"

namespace {

// Probe states.
const uint32_t PROBE_START = 0;     // to be started at the current speed step
const uint32_t PROBE_CONNECT = 1;   // TCP connect in progress
const uint32_t PROBE_SEND = 2;      // "i" being sent
const uint32_t PROBE_RECEIVE = 3;   // reply being received
const uint32_t PROBE_FAILED = 4;    // failed or timed out: on to the next try
const uint32_t PROBE_DONE = 5;      // finished

// Discovery states.
const uint32_t UDP_SEND = 0;
const uint32_t UDP_RECEIVE = 3;
const uint32_t UDP_DONE = 5;

const size_t DATAGRAM_SIZE = 1024;
// Discovery replies taken in one pass at most; the rest waits for the next pass.
const int MAX_DATAGRAMS_PER_PASS = 64;
// Discovered ports probed at once at most: each probe holds a socket until it ends. Those named
// beyond wait and are probed as others end.
const size_t MAX_RUNNING_DISCOVERED = 64;
// Ports that one sender's replies may add: a converter has two. A sender naming more (a broken or
// hostile device) must not keep the others' converters from being probed.
const size_t MAX_PORTS_PER_SENDER = 8;
// Discovered names one search keeps at most, however many senders there are: a bound on memory,
// far above the converters of any segment.
const size_t MAX_DISCOVERED_NAMES = 16384;

// The longest identification a probe takes: a reader's is a few short lines. A port that says more
// is not a reader.
const size_t MAX_REPLY_BYTES = 4096;

// Ports and sockets share the three events, and a port that collects its network events resets
// the comm event on the way, which can swallow another socket's signal. While more than one
// probe or discovery socket waits, no wait lasts longer than this.
const DWORD SHARED_EVENT_POLL_MS = 100;

const DWORD INFINITE_MS = 0xFFFFFFFF;

// How long the names of the converters left out may take the name service, all together: the
// search runs on the caller's thread, and a name seldom needs the service at all (it is an
// address, or the system still knows it from the connection that holds the converter).
const DWORD EXCLUDED_NAMES_RESOLVE_MS = 1000;

// Whether two addresses are one converter's: the same address and port.
bool SameEndpoint(const TcpAddress& a, const TcpAddress& b)
{
    if (a.family != b.family)
        return false;
    if (a.family == AF_INET) {
        const auto& x = reinterpret_cast<const sockaddr_in&>(a.address);
        const auto& y = reinterpret_cast<const sockaddr_in&>(b.address);
        return x.sin_addr.s_addr == y.sin_addr.s_addr && x.sin_port == y.sin_port;
    }
    if (a.family == AF_INET6) {
        const auto& x = reinterpret_cast<const sockaddr_in6&>(a.address);
        const auto& y = reinterpret_cast<const sockaddr_in6&>(b.address);
        return memcmp(&x.sin6_addr, &y.sin6_addr, sizeof(x.sin6_addr)) == 0 && x.sin6_port == y.sin6_port;
    }
    return false;
}

std::wstring SearchMessage(HRESULT code, const wchar_t* text)
{
    std::wstring wide;
    if (text) {
        wide = text;
    } else {
        if (code == PE_NO_WINSOCK)
            FormatResString(wide, IDS_WINSOCK_VERSION_NEEDED, 2, 2);
        if (wide.empty())
            GetErrorText(wide, nullptr, static_cast<DWORD>(code));
    }
    return wide;
}

// Lowers `wait` to `limit`.
void LowerWait(DWORD& wait, DWORD limit)
{
    if (limit < wait)
        wait = limit;
}

} // namespace

CSearchRdException::CSearchRdException(HRESULT code, const wchar_t* text)
    : COSException(static_cast<DWORD>(code), SearchMessage(code, text))
{
}

void ThrowSearchRdException(HRESULT code, const wchar_t* text)
{
    throw CSearchRdException(code, text);
}

DWORD ProbeSpeedForStep(uint32_t modelMask, uint32_t& step)
{
    if (step == 0) {
        if (modelMask & 0x1FE)
            return 9600;
        step = 1;
    }
    if (step == 1) {
        if (modelMask & 0x208)
            return 115200;
        step = 2;
    }
    step = 2;
    return 0;
}

bool DiscoveredPortName(const std::wstring& senderText, uint32_t advertisedPort,
                        const std::string& advertisedAddress, std::wstring& name)
{
    if (advertisedPort == 0 || advertisedPort > 65535)
        return false;
    if (!advertisedAddress.empty() && advertisedAddress != "0.0.0.0")
        return false;
    size_t colon = senderText.rfind(L':');
    if (colon == std::wstring::npos || colon == 0)
        return false;
    name = senderText.substr(0, colon + 1) + std::to_wstring(advertisedPort);
    return true;
}

bool ParseIpv4Address(const std::wstring& text, uint32_t& address)
{
    uint8_t bytes[4];
    size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (pos >= text.size() || text[pos] != L'.')
                return false;
            ++pos;
        }
        size_t digits = 0;
        uint32_t value = 0;
        while (pos < text.size() && text[pos] >= L'0' && text[pos] <= L'9' && digits < 4) {
            value = value * 10 + (text[pos] - L'0');
            ++pos;
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255)
            return false;
        bytes[part] = static_cast<uint8_t>(value);
    }
    if (pos != text.size())
        return false;
    // Network byte order: the first part is the first byte in memory.
    uint32_t result = 0;
    memcpy(&result, bytes, sizeof(result));
    address = result;
    return true;
}

std::vector<uint32_t> SelectDiscoveryAddresses(uint32_t target, const std::vector<uint32_t>& hostAddresses)
{
    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    if ((ntohl(target) >> 24) == 127)
        return {loopback};
    std::vector<uint32_t> selected;
    for (uint32_t address : hostAddresses)
        if (address != loopback && std::find(selected.begin(), selected.end(), address) == selected.end())
            selected.push_back(address);
    return selected;
}

// --- the search object ----------------------------------------------------------------------------

CSearchReaders::CSearchReaders() = default;

CSearchReaders::~CSearchReaders()
{
    // Sockets and ports go before Winsock and the events (member order), results with them.
    m_discovery.clear();
    m_probes.clear();
}

bool CSearchReaders::SetDiscoveryTarget(const std::wstring& ipv4Address, uint16_t port)
{
    uint32_t address = 0;
    if (port == 0 || !ParseIpv4Address(ipv4Address, address))
        return false;
    m_discoveryAddress = address;
    m_discoveryPort = port;
    return true;
}

void CSearchReaders::Start(uint32_t flags, uint8_t stopBits, uint32_t connectTimeout, uint32_t readSlice,
                           uint32_t replyTimeout, int32_t triesPerSpeed, uint32_t udpTimeout, int32_t udpTries,
                           const std::vector<PortInfo>* ports)
{
    if (m_started)
        ThrowSearchRdException(E_UNEXPECTED);
    m_started = true;
    m_flags = flags;
    m_stopBits = stopBits;
    m_connectTimeout = connectTimeout;
    m_readSlice = readSlice;
    m_replyTimeout = replyTimeout;
    m_triesPerSpeed = triesPerSpeed;
    m_udpTimeout = udpTimeout;
    m_udpTries = udpTries;

    std::vector<PortInfo> enumerated;
    if (!ports) {
        EnumPorts(enumerated, flags);
        ports = &enumerated;
    }

    for (CHandle* event : {&m_writeDone, &m_readDone, &m_commEvent}) {
        event->Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!event->Valid())
            ThrowOSException(GetLastError(), L"CreateEvent");
    }

    if (flags & SEARCH_NETWORK) {
        StartDiscovery();
        ResolveExcludedConverters();
    }

    // A port listed by two sources is probed once, for every model either source allows: two
    // probes of one port would fight over it, and the loser could find the reader a second time
    // once the winner had closed the port.
    std::vector<PortInfo> unique;
    for (const PortInfo& port : *ports) {
        auto same = std::find_if(unique.begin(), unique.end(), [&port](const PortInfo& other) {
            return _wcsicmp(other.name.c_str(), port.name.c_str()) == 0;
        });
        if (same == unique.end())
            unique.push_back(port);
        else
            same->modelMask |= port.modelMask;
    }
    const DWORD now = GetTickCount();
    for (const PortInfo& port : unique)
        if (!Excluded(port.name))
            AddProbe(port.name, port.modelMask, now);
}

void CSearchReaders::StartDiscovery()
{
    HRESULT hr = m_winsock.Start();
    if (hr == PE_NO_WINSOCK)
        ThrowSearchRdException(PE_NO_WINSOCK);
    if (FAILED(hr))
        ThrowOSException(HRESULT_CODE(hr), L"WSAStartup");

    std::vector<uint32_t> hostAddresses;
    // A loopback target needs no host addresses; asking for them would only add a way to fail.
    const bool loopback = (ntohl(m_discoveryAddress) >> 24) == 127;
    if (!loopback) {
        // A host whose own name cannot be had or resolved (a broken name service, a renamed
        // machine) still searches: from any address, which the system sends from its first.
        std::wstring hostName;
        addrinfoW hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_protocol = IPPROTO_UDP;
        addrinfoW* found = nullptr;
        if (DiscoveryCalls().HostName(hostName) == 0 && GetAddrInfoW(hostName.c_str(), nullptr, &hints, &found) == 0) {
            std::unique_ptr<addrinfoW, void (WSAAPI*)(addrinfoW*)> owner(found, FreeAddrInfoW);
            for (addrinfoW* info = found; info; info = info->ai_next)
                if (info->ai_family == AF_INET && info->ai_addr)
                    hostAddresses.push_back(reinterpret_cast<sockaddr_in*>(info->ai_addr)->sin_addr.s_addr);
        }
    }
    std::vector<uint32_t> selected = SelectDiscoveryAddresses(m_discoveryAddress, hostAddresses);
    if (selected.empty() && !loopback)
        selected.push_back(htonl(INADDR_ANY));
    for (uint32_t address : selected) {
        m_discovery.emplace_back();
        m_discovery.back().address = address;
    }
}

bool CSearchReaders::AddProbe(const std::wstring& name, uint32_t modelMask, DWORD now)
{
    CZPort* port = CreateZPort(name.c_str());
    m_probes.emplace_back(port);
    ProbeRec& probe = m_probes.back();
    if (FAILED(probe.port->Init(name.c_str(), nullptr, m_writeDone.Get(), m_readDone.Get(), m_commEvent.Get()))) {
        m_probes.pop_back();
        return false;
    }
    probe.port->waitSlice = m_readSlice;
    probe.modelMask = modelMask;
    probe.stateTime = now;
    probe.tcp = _wcsnicmp(name.c_str(), L"COM", 3) != 0;
    return true;
}

void CSearchReaders::ResolveExcludedConverters()
{
    // A converter open under another spelling of its address (its host name, an address written
    // with leading zeros) is the converter announced under its plain address: the names are
    // compared as the addresses they resolve to, resolved as its port resolves them.
    const DWORD start = GetTickCount();
    for (const std::wstring& name : m_excluded) {
        std::wstring host, service;
        if (IsSerialPortName(name.c_str()) || !CZTcpPort::SplitAddress(name, host, service))
            continue;
        std::vector<TcpAddress> addresses;
        if (!ResolveNumeric(host, service, addresses)) {
            const DWORD left = RemainingWait(start, EXCLUDED_NAMES_RESOLVE_MS);
            int error = 0;
            if (left == 0 ||
                ResolveHost(&SystemResolver, host, service, nullptr, left, addresses, error) != ResolveOutcome::Resolved)
                continue;   // only its name is left out, as written
        }
        m_excludedAddresses.insert(m_excludedAddresses.end(), addresses.begin(), addresses.end());
    }
}

bool CSearchReaders::Excluded(const std::wstring& name) const
{
    if (std::any_of(m_excluded.begin(), m_excluded.end(),
                    [&name](const std::wstring& other) { return _wcsicmp(other.c_str(), name.c_str()) == 0; }))
        return true;
    // A reader that its owner left to end alone may still hold the port, or still be opening it: a
    // probe would be refused, or wait in the driver behind it.
    if (CReader::PortHeldByRetired(name))
        return true;
    if (m_excludedAddresses.empty() || IsSerialPortName(name.c_str()))
        return false;
    std::wstring host, service;
    std::vector<TcpAddress> addresses;
    if (!CZTcpPort::SplitAddress(name, host, service) || !ResolveNumeric(host, service, addresses))
        return false;
    for (const TcpAddress& address : addresses)
        for (const TcpAddress& excluded : m_excludedAddresses)
            if (SameEndpoint(address, excluded))
                return true;
    return false;
}

void CSearchReaders::AddDiscoveredPort(const std::wstring& name, const std::wstring& sender)
{
    if (m_discovered.size() >= MAX_DISCOVERED_NAMES || Excluded(name) ||
        std::find(m_discovered.begin(), m_discovered.end(), name) != m_discovered.end())
        return;
    auto from = std::find_if(m_senders.begin(), m_senders.end(),
                             [&sender](const std::pair<std::wstring, size_t>& s) { return s.first == sender; });
    if (from == m_senders.end()) {
        m_senders.emplace_back(sender, 0);
        from = m_senders.end() - 1;
    }
    if (from->second >= MAX_PORTS_PER_SENDER)
        return;
    ++from->second;
    m_discovered.push_back(name);
    m_waitingPorts.push_back(name);
    StartWaitingPorts();
}

bool CSearchReaders::StartWaitingPorts()
{
    bool started = false;
    size_t running = static_cast<size_t>(
        std::count_if(m_probes.begin(), m_probes.end(), [](const ProbeRec& probe) { return probe.tcp; }));
    while (running < MAX_RUNNING_DISCOVERED && !m_waitingPorts.empty()) {
        const std::wstring name = m_waitingPorts.front();
        m_waitingPorts.pop_front();
        // Any model may sit behind a converter.
        if (!AddProbe(name, MODEL_MASK_ANY, GetTickCount()))
            continue;
        m_probes.back().port->SetParams(9600, m_stopBits, '\n');
        m_pauseLength = 0;
        ++running;
        started = true;
    }
    return started;
}

void CSearchReaders::OpenFailed(ProbeRec& probe)
{
    probe.port->Close();   // an open still in the driver ends alone
    probe.state = PROBE_DONE;
}

void CSearchReaders::ProbeFailed(ProbeRec& probe, bool closePort)
{
    if (closePort)
        probe.port->Close();
    probe.state = PROBE_FAILED;
}

void CSearchReaders::StartProbe(ProbeRec& probe)
{
    // A converter's line speed is its own: the speed steps would only send "i" once more.
    DWORD baud = probe.tcp ? (probe.speedStep == 0 ? 9600 : 0) : ProbeSpeedForStep(probe.modelMask, probe.speedStep);
    if (baud == 0) {
        probe.state = PROBE_DONE;
        return;
    }
    probe.port->waitSlice = m_readSlice;
    HRESULT hr = probe.port->SetParams(baud, m_stopBits, '\n');
    if (SUCCEEDED(hr) && probe.port->IsOpen()) {
        hr = probe.port->Purge(TRUE, TRUE);
    } else if (SUCCEEDED(hr)) {
        // The open goes on in the background (a serial port's driver may take tens of seconds,
        // a converter its connect time-out); a port that cannot be opened is not tried again in
        // this search, at another try or speed: it would only hold the search as long once more.
        if (FAILED(probe.port->Open(0))) {
            OpenFailed(probe);
            return;
        }
    }
    if (FAILED(hr)) {
        ProbeFailed(probe, true);
        return;
    }
    probe.stateTime = GetTickCount();
    if (probe.port->GetState() & ZPORT_CONNECTING) {
        probe.state = PROBE_CONNECT;
        return;
    }
    SendRequest(probe);
}

void CSearchReaders::SendRequest(ProbeRec& probe)
{
    if (FAILED(probe.port->Write("i", 1, 0))) {
        ProbeFailed(probe, true);
        return;
    }
    probe.stateTime = GetTickCount();
    probe.raw.clear();
    probe.converted = 0;
    probe.replyText.clear();
    if (probe.port->GetState() & ZPORT_WRITE_PENDING) {
        probe.state = PROBE_SEND;
        return;
    }
    probe.state = PROBE_RECEIVE;
    ReadReply(probe);
}

void CSearchReaders::ReadReply(ProbeRec& probe)
{
    DWORD queued = 0;
    if (FAILED(probe.port->GetInQueue(&queued))) {
        ProbeFailed(probe, true);
        return;
    }
    if (queued == 0)
        return;
    if (queued > MAX_REPLY_BYTES + 1 - probe.raw.size())
        queued = static_cast<DWORD>(MAX_REPLY_BYTES + 1 - probe.raw.size());
    const size_t before = probe.raw.size();
    if (FAILED(probe.port->Read(probe.raw, queued, 0))) {
        ProbeFailed(probe, true);
        return;
    }
    if (probe.raw.size() > MAX_REPLY_BYTES) {
        probe.state = PROBE_DONE;   // more than any reader says: not a reader
        return;
    }
    // Only complete lines count, and a line feed is never part of a multi-byte character: each
    // line is widened once, when its line feed has come.
    const size_t end = probe.raw.rfind('\n');
    if (end == std::string::npos || end < before)
        return;
    std::wstring lines;
    AnsiToWide(lines, probe.raw.data() + probe.converted, static_cast<int>(end + 1 - probe.converted));
    probe.replyText += lines;
    probe.converted = end + 1;

    uint16_t code = 0;
    uint32_t serialNumber = 0, version = 0, moreNeeded = 1;
    if (ParseReaderInfo(probe.replyText, code, serialNumber, version, &moreNeeded)) {
        probe.model = ModelFromCode(code);
        if (probe.model != MODEL_UNKNOWN) {
            SearchResult result;
            result.portName = probe.port->GetName();
            result.model = probe.model;
            result.serialNumber = serialNumber;
            result.version = version;
            result.replyText = probe.replyText;
            m_results.push_back(result);
        }
        probe.state = PROBE_DONE;
    } else if (!moreNeeded) {
        probe.state = PROBE_DONE;   // a complete text, but not an identification
    }
}

void CSearchReaders::StepProbe(ProbeRec& probe, DWORD& wait)
{
    try {
        for (;;) {
            switch (probe.state) {
            case PROBE_START:
                StartProbe(probe);
                break;
            case PROBE_CONNECT:
                if (FAILED(probe.port->OnCommEvent()))
                    OpenFailed(probe);
                else if (!(probe.port->GetState() & ZPORT_CONNECTING))
                    SendRequest(probe);
                break;
            case PROBE_SEND:
                // A TCP port learns that a blocked send went out from its network events.
                if (FAILED(probe.port->OnWriteComplete()) || FAILED(probe.port->OnCommEvent())) {
                    ProbeFailed(probe, true);
                } else if (!(probe.port->GetState() & ZPORT_WRITE_PENDING)) {
                    probe.state = PROBE_RECEIVE;
                    ReadReply(probe);
                }
                break;
            case PROBE_RECEIVE:
                if (FAILED(probe.port->OnReadComplete()) || FAILED(probe.port->OnCommEvent()))
                    ProbeFailed(probe, true);
                else
                    ReadReply(probe);
                break;
            default:
                break;
            }

            if (probe.state == PROBE_CONNECT || probe.state == PROBE_SEND || probe.state == PROBE_RECEIVE) {
                DWORD limit = probe.state == PROBE_CONNECT ? m_connectTimeout : m_replyTimeout;
                if (limit != INFINITE_MS) {
                    DWORD elapsed = TicksSince(probe.stateTime, GetTickCount());
                    if (elapsed >= limit && probe.state == PROBE_CONNECT) {
                        // A port that did not open in its time-out (a converter that did not take
                        // the connection, a serial driver still opening) counts as failed and is
                        // not waited for again: the search would be held tries times as long.
                        OpenFailed(probe);
                        return;
                    }
                    if (elapsed >= limit)
                        ProbeFailed(probe, false);
                    else
                        LowerWait(wait, limit - elapsed);
                }
                if (probe.state == PROBE_RECEIVE && m_readSlice != INFINITE_MS)
                    LowerWait(wait, m_readSlice);
            }

            if (probe.state != PROBE_FAILED)
                return;
            // A count of tries below 1 still tries once.
            if (++probe.tries >= std::max<int32_t>(m_triesPerSpeed, 1)) {
                probe.tries = 0;
                ++probe.speedStep;
            }
            probe.state = PROBE_START;
        }
    } catch (const std::exception&) {
        probe.state = PROBE_DONE;
    }
}

bool DiscoveryGoesOnAfter(int error)
{
    return error == WSAEMSGSIZE || error == WSAECONNRESET || error == WSAENETRESET;
}

void CSearchReaders::SendDiscovery(UdpRec& udp)
{
    udp.state = UDP_DONE;
    if (!udp.socket.Valid()) {
        udp.socket.Reset(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
        if (!udp.socket.Valid())
            return;
        BOOL broadcast = TRUE;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = udp.address;
        local.sin_port = 0;
        if (setsockopt(udp.socket.Get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&broadcast),
                       sizeof(broadcast)) != 0 ||
            bind(udp.socket.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) != 0 ||
            WSAEventSelect(udp.socket.Get(), m_commEvent.Get(), FD_READ) != 0) {
            // Set up again from the start at the next attempt.
            udp.socket.Close();
            return;
        }
        // Windows reports an ICMP port-unreachable reply to a datagram as a failure of the next
        // receive; that report is turned off where the system knows how (failing that, the
        // receive goes on past it).
        BOOL report = FALSE;
        DWORD returned = 0;
        DiscoveryCalls().Ioctl(udp.socket.Get(), SIO_UDP_CONNRESET, &report, sizeof(report), nullptr, 0, &returned);
        udp.buffer.resize(DATAGRAM_SIZE);
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = m_discoveryAddress;
    target.sin_port = htons(m_discoveryPort);
    std::string request(DISCOVERY_REQUEST);
    WSABUF buffer{static_cast<ULONG>(request.size()), &request[0]};
    DWORD sent = 0;
    if (DiscoveryCalls().SendTo(udp.socket.Get(), &buffer, 1, &sent, reinterpret_cast<sockaddr*>(&target),
                                sizeof(target)) != 0)
        return;
    udp.sendTime = GetTickCount();
    udp.state = UDP_RECEIVE;
}

void CSearchReaders::ReceiveDiscovery(UdpRec& udp)
{
    // Without an event handle the shared comm event is left alone; it is reset by the wait loop.
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(udp.socket.Get(), nullptr, &events) != 0 ||
        ((events.lNetworkEvents & FD_READ) && events.iErrorCode[FD_READ_BIT] != 0 &&
         !DiscoveryGoesOnAfter(events.iErrorCode[FD_READ_BIT]))) {
        udp.state = UDP_DONE;
        return;
    }
    // Until the socket would block: a count of waiting bytes says nothing past an empty datagram.
    // Bounded per pass, so that a sender without pause still lets the wait run.
    for (int datagrams = 0;; ++datagrams) {
        if (datagrams == MAX_DATAGRAMS_PER_PASS) {
            SetEvent(m_commEvent.Get());   // the next pass goes on here
            return;
        }
        sockaddr_in sender{};
        int senderLength = sizeof(sender);
        WSABUF buffer{static_cast<ULONG>(udp.buffer.size()), &udp.buffer[0]};
        DWORD got = 0;
        DWORD flags = 0;
        if (DiscoveryCalls().RecvFrom(udp.socket.Get(), &buffer, 1, &got, &flags, reinterpret_cast<sockaddr*>(&sender),
                                      &senderLength) != 0) {
            int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK)
                return;
            if (DiscoveryGoesOnAfter(error))
                continue;   // that datagram only: longer than any reply, or an unreachable port
            udp.state = UDP_DONE;
            return;
        }
        if (got == 0)
            continue;   // an empty datagram names no converter
        wchar_t senderText[64];
        DWORD senderTextLength = 64;
        if (WSAAddressToStringW(reinterpret_cast<sockaddr*>(&sender), senderLength, nullptr, senderText,
                                &senderTextLength) != 0) {
            udp.state = UDP_DONE;
            return;
        }
        uint32_t firstPort = 0, secondPort = 0;
        std::string firstAddress, secondAddress;
        // Anything else that answers on the discovery port is passed over; a converter that
        // answers after it must still be found.
        if (!ParseSeekReply(std::string(udp.buffer.data(), got), &firstPort, &secondPort, &firstAddress,
                            &secondAddress))
            continue;
        std::wstring name;
        std::wstring senderAddress(senderText);
        senderAddress = senderAddress.substr(0, senderAddress.rfind(L':'));
        if (DiscoveredPortName(senderText, firstPort, firstAddress, name))
            AddDiscoveredPort(name, senderAddress);
        if (DiscoveredPortName(senderText, secondPort, secondAddress, name))
            AddDiscoveredPort(name, senderAddress);
    }
}

void CSearchReaders::StepDiscovery(UdpRec& udp, DWORD& wait)
{
    for (;;) {
        if (udp.state == UDP_SEND)
            SendDiscovery(udp);
        if (udp.state == UDP_RECEIVE)
            ReceiveDiscovery(udp);
        if (udp.state == UDP_RECEIVE && m_udpTimeout != INFINITE_MS) {
            DWORD elapsed = TicksSince(udp.sendTime, GetTickCount());
            if (elapsed >= m_udpTimeout)
                udp.state = UDP_DONE;
            else
                LowerWait(wait, m_udpTimeout - elapsed);
        }
        if (udp.state != UDP_DONE)
            return;
        if (++udp.tries >= m_udpTries)
            return;   // finished
        udp.state = UDP_SEND;
    }
}

size_t CSearchReaders::LiveWaiters() const
{
    size_t count = m_discovery.size();
    for (const ProbeRec& probe : m_probes)
        if (probe.state == PROBE_CONNECT || probe.state == PROBE_SEND || probe.state == PROBE_RECEIVE)
            ++count;
    return count;
}

HRESULT CSearchReaders::GetNext(SearchResult& result, uint32_t timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD wait = INFINITE_MS;
        bool paused = false;
        if (m_pauseLength != 0) {
            DWORD elapsed = TicksSince(m_pauseStart, GetTickCount());
            if (elapsed < m_pauseLength) {
                paused = true;
                wait = m_pauseLength - elapsed;
            } else {
                m_pauseLength = 0;
            }
        }

        if (!paused) {
            for (auto it = m_discovery.begin(); it != m_discovery.end();) {
                StepDiscovery(*it, wait);
                if (it->state == UDP_DONE)
                    it = m_discovery.erase(it);
                else
                    ++it;
            }
            for (auto it = m_probes.begin(); it != m_probes.end();) {
                StepProbe(*it, wait);
                if (it->state == PROBE_DONE)
                    it = m_probes.erase(it);   // closes the port now
                else
                    ++it;
            }
            // Probes ended in this pass make room for discovered ports still waiting; they start
            // at the next pass, at once.
            if (StartWaitingPorts())
                LowerWait(wait, 0);
            if (m_discovery.empty() && m_probes.empty() && m_waitingPorts.empty() && m_results.empty())
                return PE_NO_MORE_READERS;
            if (LiveWaiters() > 1)
                LowerWait(wait, SHARED_EVENT_POLL_MS);
        }

        if (!m_results.empty()) {
            // Until the pass's wait runs out (or an event comes) the next call only hands out
            // results already found. A pass without a deadline sets no pause: there is nothing to
            // wait for, and a pause without end would hang the next call.
            m_pauseStart = GetTickCount();
            m_pauseLength = wait == INFINITE_MS ? 0 : wait;
            result = m_results.front();
            m_results.pop_front();
            return S_OK;
        }
        m_pauseLength = 0;

        if (timeoutMs != INFINITE_MS) {
            DWORD elapsed = TicksSince(start, GetTickCount());
            if (elapsed >= timeoutMs)
                return PE_SEARCH_TIMEOUT;
            LowerWait(wait, timeoutMs - elapsed);
        }

        HANDLE events[3] = {m_writeDone.Get(), m_readDone.Get(), m_commEvent.Get()};
        DWORD signalled = WaitForMultipleObjects(3, events, FALSE, wait);
        if (signalled == WAIT_FAILED)
            return HRESULT_FROM_WIN32(GetLastError());
        if (signalled < WAIT_OBJECT_0 + 3)
            ResetEvent(events[signalled - WAIT_OBJECT_0]);
    }
}
