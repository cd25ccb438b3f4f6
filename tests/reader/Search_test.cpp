// The reader search against simulated readers: serial probes at the speeds the model masks allow,
// ports closed as soon as their probe ends, and converters found by discovery on 127.0.0.1 (never
// by broadcast) and then probed over TCP. Time-outs are short so the whole file runs in seconds.
#include "Search.h"
#include "DiscoveryCalls.h"
#include "Messages.h"
#include "RegKey.h"
#include "ScratchRegistry.h"
#include "SimControl.h"
#include "SimDiscoveryScope.h"
#include "SlowOpenComCalls.h"
#include "WaitUntil.h"

#include <gtest/gtest.h>
#include <cstdlib>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <mswsock.h>

namespace {

std::wstring Wide(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

// Search settings of the tests: replies within `replyMs`, `tries` per speed.
struct Settings
{
    uint32_t flags = 0;
    uint32_t replyMs = 400;
    int32_t tries = 1;
    uint32_t udpMs = 400;
    int32_t udpTries = 1;
};

void StartSearch(CSearchReaders& search, const std::vector<PortInfo>* ports, const Settings& s = Settings())
{
    search.Start(s.flags, 0, 2000, 100, s.replyMs, s.tries, s.udpMs, s.udpTries, ports);
}

// One simulated reader, destroyed at the end of the scope.
class SimReader
{
public:
    SimReader(simctl::CSimControl& sim, int com, const simctl::SimReaderConfig& config = {}) : m_sim(sim)
    {
        m_info = com ? sim.CreateSerial(com, config) : sim.CreateTcp(config);
    }
    ~SimReader() { m_sim.Destroy(m_info.id); }
    SimReader(const SimReader&) = delete;
    SimReader& operator=(const SimReader&) = delete;

    int Id() const { return m_info.id; }
    int TcpPort() const { return m_info.tcpPort; }
    std::wstring Port() const { return Wide(m_info.port); }
    size_t Requests() const
    {
        simctl::Bytes received = m_sim.Received(m_info.id);
        return static_cast<size_t>(std::count(received.begin(), received.end(), 'i'));
    }
    // Serial: whether a process other than the hub has the line open. TCP: whether a client is
    // connected (the hub notices a close a moment later, so this waits a little for it).
    bool PeerOpen() const
    {
        if (m_info.tcpPort == 0)
            return m_sim.Info(m_info.id)["peer_open"].AsBool();
        for (int i = 0; i < 20; ++i) {
            if (!m_sim.Info(m_info.id)["connected"].AsBool())
                return false;
            Sleep(25);
        }
        return true;
    }
    int Connections() const { return static_cast<int>(m_sim.Info(m_info.id)["connections"].AsInt()); }

private:
    simctl::CSimControl& m_sim;
    simctl::SimReaderInfo m_info;
};

simctl::SimReaderConfig Reader(int model, int speed = 0, int replyDelayMs = -1)
{
    simctl::SimReaderConfig config;
    config.identity.model = model;
    config.speed = speed;
    config.replyDelayMs = replyDelayMs;
    return config;
}

// A network search whose discovery asks the simulated discovery on 127.0.0.1, never the LAN; the
// serial ports listed (none by default) are searched as well. False when the target is refused.
bool StartNetworkSearch(CSearchReaders& search, const simctl::CSimDiscoveryScope& discovery,
                        Settings settings = Settings(), const std::vector<PortInfo>& ports = {})
{
    if (!search.SetDiscoveryTarget(L"127.0.0.1", discovery.Port()))
        return false;
    settings.flags |= SEARCH_NETWORK;
    StartSearch(search, &ports, settings);
    return true;
}

simctl::SimConverter Converter(const SimReader& reader)
{
    simctl::SimConverter converter;
    converter.reader = reader.Id();
    return converter;
}

// All results until the search ends (or `limitMs` passes, which fails the test).
std::vector<SearchResult> Drain(CSearchReaders& search, DWORD limitMs = 10000)
{
    std::vector<SearchResult> found;
    for (;;) {
        SearchResult result;
        HRESULT hr = search.GetNext(result, limitMs);
        if (hr == S_OK) {
            found.push_back(result);
            continue;
        }
        EXPECT_EQ(PE_NO_MORE_READERS, hr);
        return found;
    }
}

// The names, sorted and separated by blanks.
std::wstring Sorted(std::vector<std::wstring> names)
{
    std::sort(names.begin(), names.end());
    std::wstring text;
    for (const std::wstring& name : names)
        text += (text.empty() ? L"" : L" ") + name;
    return text;
}

std::wstring ResultPorts(const std::vector<SearchResult>& results)
{
    std::vector<std::wstring> names;
    for (const SearchResult& r : results)
        names.push_back(r.portName);
    return Sorted(names);
}

std::wstring TcpName(const SimReader& reader)
{
    return L"127.0.0.1:" + std::to_wstring(reader.TcpPort());
}

} // namespace

class SearchTest : public testing::Test
{
protected:
    simctl::CSimControl sim;
};

TEST(SearchRules, SpeedStepsByModelMask)
{
    struct Case { uint32_t mask; uint32_t step; DWORD speed; uint32_t stepAfter; };
    const Case cases[] = {
        {0x002, 0, 9600, 0},        {0x002, 1, 0, 2},          // Kora USB: 9600 only
        {0x200, 0, 115200, 1},      {0x200, 1, 115200, 1},     // Pelto alone: straight to 115200
        {0x208, 0, 9600, 0},        {0x208, 1, 115200, 1},     // model 3 answers at 9600 as well
        {0x008, 0, 9600, 0},        {0x008, 1, 115200, 1},     // Kora USB MF: both
        {MODEL_MASK_ANY, 0, 9600, 0}, {MODEL_MASK_ANY, 1, 115200, 1}, {MODEL_MASK_ANY, 2, 0, 2},
        {0x001, 0, 0, 2},           {0, 0, 0, 2},               // no model at all
    };
    for (const Case& c : cases) {
        uint32_t step = c.step;
        EXPECT_EQ(c.speed, ProbeSpeedForStep(c.mask, step)) << std::hex << c.mask << " step " << c.step;
        EXPECT_EQ(c.stepAfter, step) << std::hex << c.mask << " step " << c.step;
    }
}

TEST(SearchRules, DiscoveredPortNames)
{
    struct Case { const wchar_t* sender; uint32_t port; const char* address; const wchar_t* name; };
    const Case cases[] = {
        {L"192.168.1.20:9000", 5000, "0.0.0.0", L"192.168.1.20:5000"},
        {L"192.168.1.20:9000", 4001, "", L"192.168.1.20:4001"},
        {L"127.0.0.1:40000", 65535, "0.0.0.0", L"127.0.0.1:65535"},
        {L"192.168.1.20:9000", 5000, "10.0.0.7", nullptr},   // a port of another address
        {L"192.168.1.20:9000", 0, "0.0.0.0", nullptr},       // not in use
        {L"192.168.1.20:9000", 65536, "0.0.0.0", nullptr},
        {L"nocolon", 5000, "0.0.0.0", nullptr},
    };
    for (const Case& c : cases) {
        std::wstring name = L"untouched";
        EXPECT_EQ(c.name != nullptr, DiscoveredPortName(c.sender, c.port, c.address, name)) << c.sender;
        EXPECT_EQ(std::wstring(c.name ? c.name : L"untouched"), name);
    }
}

TEST(SearchRules, DiscoveryTargetAndLocalAddresses)
{
    uint32_t address = 0;
    EXPECT_TRUE(ParseIpv4Address(L"127.0.0.1", address));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), address);
    EXPECT_TRUE(ParseIpv4Address(L"255.255.255.255", address));
    EXPECT_EQ(0xFFFFFFFFu, address);
    EXPECT_TRUE(ParseIpv4Address(L"10.1.2.3", address));
    EXPECT_EQ(htonl(0x0A010203), address);
    for (const wchar_t* bad : {L"", L"1.2.3", L"1.2.3.4.5", L"256.1.1.1", L"1.2.3.x", L" 1.2.3.4", L"1..2.3",
                               L"0001.2.3.4", L"localhost"})
        EXPECT_FALSE(ParseIpv4Address(bad, address)) << bad;

    CSearchReaders search;
    EXPECT_EQ(0xFFFFFFFFu, search.DiscoveryAddress());
    EXPECT_EQ(9000, search.DiscoveryPort());
    EXPECT_FALSE(search.SetDiscoveryTarget(L"127.0.0.1", 0));
    EXPECT_FALSE(search.SetDiscoveryTarget(L"broadcast", 9000));
    EXPECT_EQ(9000, search.DiscoveryPort());
    EXPECT_TRUE(search.SetDiscoveryTarget(L"127.0.0.1", 40000));
    EXPECT_EQ(htonl(INADDR_LOOPBACK), search.DiscoveryAddress());
    EXPECT_EQ(40000, search.DiscoveryPort());

    const uint32_t loopback = htonl(INADDR_LOOPBACK);
    const uint32_t a = htonl(0xC0A80114), b = htonl(0x0A000001);
    EXPECT_EQ(std::vector<uint32_t>({a, b}),
              SelectDiscoveryAddresses(0xFFFFFFFF, {loopback, a, b, a}));
    EXPECT_EQ(std::vector<uint32_t>({loopback}), SelectDiscoveryAddresses(loopback, {a, b}));
    EXPECT_EQ(std::vector<uint32_t>({loopback}), SelectDiscoveryAddresses(htonl(0x7F000005), {}));
}

// An ICMP port-unreachable reply to the broadcast (from a machine without a converter) must not end
// the discovery: a converter's reply may be queued behind it.
TEST(SearchRules, DiscoveryGoesOnPastAnUnreachableReport)
{
    EXPECT_TRUE(DiscoveryGoesOnAfter(WSAECONNRESET));
    EXPECT_TRUE(DiscoveryGoesOnAfter(WSAENETRESET));
    EXPECT_TRUE(DiscoveryGoesOnAfter(WSAEMSGSIZE));
    EXPECT_FALSE(DiscoveryGoesOnAfter(WSAENOTSOCK));
    EXPECT_FALSE(DiscoveryGoesOnAfter(WSAENETDOWN));
}

// Without GetHostNameW (before Windows 8.1) the host's name comes from gethostname in the ANSI code
// page: a Cyrillic name must come out as the letters of that code page, not as sign-extended bytes
// (0xFFxx), or the discovery cannot resolve it and sends from one interface only. The entry
// reader_rules_russian runs this under code page 1251 (PARVEL_EXPECT_ACP says which it must be).
TEST(SearchRules, AHostNameInTheAnsiCodePageIsConvertedWithIt)
{
    char expectedPage[16] = {};
    if (GetEnvironmentVariableA("PARVEL_EXPECT_ACP", expectedPage, sizeof(expectedPage)) > 0) {
        ASSERT_EQ(static_cast<UINT>(atoi(expectedPage)), GetACP()) << "the entry runs under another code page";
    }
    std::wstring name;
    ASSERT_EQ(0, CDiscoveryCalls::AnsiHostName(name, [](char* out, int size) -> int {
                  strcpy_s(out, static_cast<size_t>(size), "\xCF\xCA-01");
                  return 0;
              }));
    switch (GetACP()) {
    case 1251:
        EXPECT_EQ(L"\u041F\u041A-01", name); // Cyrillic capitals Pe and Ka
        break;
    case 1252:
        EXPECT_EQ(L"\u00CF\u00CA-01", name); // Latin capitals I and E with diaeresis and circumflex
        break;
    default:
        GTEST_SKIP() << "no expected letters for code page " << GetACP();
    }
}

TEST(SearchRules, ExceptionTexts)
{
    CSearchRdException timeout(PE_SEARCH_TIMEOUT);
    EXPECT_EQ(PE_SEARCH_TIMEOUT, timeout.Code());
    EXPECT_NE(nullptr, strstr(timeout.what(), "Timeout readers search.")) << timeout.what();
    CSearchRdException given(PE_NO_WINSOCK, L"given text");
    EXPECT_STREQ("given text", given.what());
    CSearchRdException copy(given);
    EXPECT_EQ(PE_NO_WINSOCK, copy.Code());
    EXPECT_STREQ("given text", copy.what());
    EXPECT_NE(0u, strlen(CSearchRdException(PE_NO_WINSOCK).what()));
    try {
        ThrowSearchRdException(PE_NO_MORE_READERS);
        FAIL();
    } catch (const COSException& e) {
        EXPECT_NE(nullptr, strstr(e.what(), "No more readers.")) << e.what();
    }
}

TEST_F(SearchTest, NothingToProbeEndsAtOnce)
{
    SearchResult result;
    CSearchReaders unstarted;
    EXPECT_EQ(PE_NO_MORE_READERS, unstarted.GetNext(result, INFINITE));

    CSearchReaders search;
    std::vector<PortInfo> none;
    StartSearch(search, &none);
    DWORD start = GetTickCount();
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, INFINITE));
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 0));
    EXPECT_LT(GetTickCount() - start, 200u);
    EXPECT_THROW(StartSearch(search, &none), CSearchRdException) << "a search starts once";
}

TEST_F(SearchTest, SerialProbesUseTheSpeedsOfTheMask)
{
    struct Case { int readerSpeed; uint32_t mask; bool found; size_t requests; };
    const Case cases[] = {
        {9600, 0x002, true, 1},
        {115200, 0x002, false, 2},          // 9600 only, twice
        {115200, 0x200, true, 1},           // straight to 115200
        {9600, 0x200, false, 2},            // 115200 only, twice
        {115200, 0x208, true, 3},           // model 3: twice at 9600, then at 115200
        {115200, MODEL_MASK_ANY, true, 3},  // twice at 9600, then at 115200
        {9600, 0x001, false, 0},            // no model to look for: not even opened
    };
    int com = 81;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reader at " << c.readerSpeed << ", mask " << std::hex << c.mask);
        simctl::SimReaderConfig config = Reader(c.readerSpeed == 9600 ? 1 : 3, c.readerSpeed);
        config.identity.serial = 4242;
        config.identity.version = "1.8";
        SimReader reader(sim, com++, config);
        std::vector<PortInfo> ports = {{reader.Port(), c.mask}};
        Settings settings;
        settings.tries = 2;
        CSearchReaders search;
        StartSearch(search, &ports, settings);
        std::vector<SearchResult> found = Drain(search);
        ASSERT_EQ(c.found ? 1u : 0u, found.size());
        if (c.found) {
            EXPECT_EQ(reader.Port(), found[0].portName);
            EXPECT_EQ(c.readerSpeed == 9600 ? 1u : 3u, found[0].model);
            EXPECT_EQ(4242u, found[0].serialNumber);
            EXPECT_EQ(0x0801u, found[0].version);
            EXPECT_NE(std::wstring::npos, found[0].replyText.find(L"S/N: 4242"));
            EXPECT_EQ(c.readerSpeed, sim.Info(reader.Id())["port_baud"].AsInt()) << "found at its own speed";
        }
        EXPECT_EQ(c.requests, reader.Requests());
        EXPECT_FALSE(reader.PeerOpen());
    }
}

TEST_F(SearchTest, PortsAreClosedAsSoonAsTheirProbeEnds)
{
    // A line that stays silent, a device that answers with text that is no identification, a
    // reader of a model the add-in does not know, and a real reader that takes its time.
    simctl::SimReaderConfig silentConfig;
    silentConfig.pace = 0;
    SimReader silent(sim, 90, silentConfig);
    sim.Silent(silent.Id(), true);
    SimReader chatter(sim, 91);
    sim.Override(chatter.Id(), "i", "Hello\r\nthis\r\nis\r\nno\r\nreader\r\n");
    simctl::SimReaderConfig unknownConfig;
    unknownConfig.identity.deviceCode = 0x1234;
    SimReader unknown(sim, 92, unknownConfig);
    SimReader slow(sim, 93, Reader(1, 9600, 700));

    std::vector<PortInfo> ports = {{silent.Port(), 0x002}, {chatter.Port(), 0x002}, {unknown.Port(), 0x002},
                                   {slow.Port(), 0x002}};
    Settings settings;
    settings.replyMs = 1500;
    CSearchReaders search;
    StartSearch(search, &ports, settings);

    SearchResult result;
    EXPECT_EQ(PE_SEARCH_TIMEOUT, search.GetNext(result, 500));
    EXPECT_FALSE(chatter.PeerOpen()) << "not a reader: closed at once";
    EXPECT_FALSE(unknown.PeerOpen()) << "an unknown model: closed at once";
    EXPECT_TRUE(silent.PeerOpen()) << "still waiting for its reply";
    EXPECT_TRUE(slow.PeerOpen());

    ASSERT_EQ(S_OK, search.GetNext(result, 5000));
    EXPECT_EQ(slow.Port(), result.portName);
    EXPECT_FALSE(slow.PeerOpen()) << "a found reader's port is free for its caller";
    EXPECT_TRUE(silent.PeerOpen());

    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 5000));
    EXPECT_FALSE(silent.PeerOpen());
    EXPECT_EQ(1u, silent.Requests());
    EXPECT_EQ(1u, chatter.Requests());
}

TEST_F(SearchTest, EndingASearchClosesItsPorts)
{
    simctl::SimReaderConfig config;
    config.pace = 0;
    SimReader silent(sim, 94, config);
    sim.Silent(silent.Id(), true);
    std::vector<PortInfo> ports = {{silent.Port(), MODEL_MASK_ANY}};
    {
        CSearchReaders search;
        Settings settings;
        settings.replyMs = 5000;
        StartSearch(search, &ports, settings);
        SearchResult result;
        DWORD start = GetTickCount();
        EXPECT_EQ(PE_SEARCH_TIMEOUT, search.GetNext(result, 0)) << "one pass, nothing yet";
        EXPECT_LT(GetTickCount() - start, 500u);
        // The open goes on in the background; a pass or two later the request is out.
        EXPECT_EQ(PE_SEARCH_TIMEOUT, search.GetNext(result, 300));
        EXPECT_TRUE(silent.PeerOpen());
        EXPECT_EQ(1u, silent.Requests());
    }
    EXPECT_FALSE(silent.PeerOpen());
}

// A port whose driver takes 8 s to open (a Bluetooth serial port whose device does not answer),
// listed before a reader: the reader is found as fast as without it, and the slow port holds the
// search for the connect time-out only, asked once, not at every try and speed step.
TEST_F(SearchTest, ASlowOpeningPortHoldsTheSearchOnlyForItsConnectTimeOut)
{
    CSlowOpenComCalls calls(8000, L"COM64");
    CCallSeamScope<CComCalls> scope(calls);
    SimReader reader(sim, 65, Reader(1));
    const DWORD connectMs = 1500;
    auto search = [&](const std::vector<PortInfo>& ports, DWORD& found, DWORD& ended) {
        CSearchReaders running;
        running.Start(0, 0, connectMs, 100, 400, 2, 400, 1, &ports);
        const DWORD start = GetTickCount();
        SearchResult result;
        EXPECT_EQ(S_OK, running.GetNext(result, 20000));
        EXPECT_EQ(reader.Port(), result.portName);
        found = GetTickCount() - start;
        EXPECT_EQ(PE_NO_MORE_READERS, running.GetNext(result, 20000));
        ended = GetTickCount() - start;
    };
    DWORD aloneFound = 0, aloneEnded = 0, found = 0, ended = 0;
    search({{reader.Port(), 0x002}}, aloneFound, aloneEnded);
    search({{L"COM64", MODEL_MASK_ANY}, {reader.Port(), 0x002}}, found, ended);
    printf("Reader found in %lu ms alone, %lu ms beside a port that opens in 8 s; search over after %lu ms\n",
           static_cast<unsigned long>(aloneFound), static_cast<unsigned long>(found),
           static_cast<unsigned long>(ended));
    EXPECT_LE(found, aloneFound + 500);
    EXPECT_GE(ended, connectMs - 100);
    EXPECT_LE(ended, connectMs + 700);
    EXPECT_EQ(1, calls.Opens()) << "a failed open was tried again";

    // The open given up on is still in the driver: the next search does not open the port beside
    // it, and is not held by it.
    std::vector<PortInfo> slowOnly = {{L"COM64", MODEL_MASK_ANY}};
    CSearchReaders next;
    StartSearch(next, &slowOnly);
    const DWORD start = GetTickCount();
    SearchResult result;
    EXPECT_EQ(PE_NO_MORE_READERS, next.GetNext(result, 20000));
    EXPECT_LE(GetTickCount() - start, 300u);
    EXPECT_EQ(1, calls.Opens());

    calls.Release();
    EXPECT_TRUE(WaitUntil([&] { return calls.Inside() == 0; }, 5000));
}

TEST_F(SearchTest, FewerThanOneTryStillTriesOnce)
{
    SimReader reader(sim, 95);
    sim.Silent(reader.Id(), true);
    std::vector<PortInfo> ports = {{reader.Port(), 0x002}};
    Settings settings;
    settings.tries = 0;
    CSearchReaders search;
    StartSearch(search, &ports, settings);
    EXPECT_TRUE(Drain(search, 3000).empty());
    EXPECT_EQ(1u, reader.Requests());
}

TEST_F(SearchTest, DuplicatePortsAreProbedOnce)
{
    SimReader reader(sim, 96);
    std::vector<PortInfo> ports = {{reader.Port(), 0x002}, {L"com96", 0x208}, {reader.Port(), MODEL_MASK_ANY}};
    CSearchReaders search;
    StartSearch(search, &ports);
    SearchResult result;
    ASSERT_EQ(S_OK, search.GetNext(result, 5000));
    EXPECT_EQ(L"COM96", result.portName);
    // The last result leaves nothing to wait for: the end follows at once, also without a time-out.
    DWORD start = GetTickCount();
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, INFINITE));
    EXPECT_LT(GetTickCount() - start, 200u);
    EXPECT_EQ(1u, reader.Requests());
}

TEST_F(SearchTest, RegistryPortsWithoutAList)
{
    SimReader reader(sim, 97, Reader(6));
    ScratchRegistry scratch(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(scratch.Ok());
    RegKeyHolder key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr));
    const wchar_t port[] = L"com97";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"\\Device\\Serial97", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(port), sizeof(port)));
    CSearchReaders search;
    Settings settings;
    settings.flags = SEARCH_SERIALCOMM;
    StartSearch(search, nullptr, settings);
    std::vector<SearchResult> found = Drain(search);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(L"COM97", found[0].portName);
    EXPECT_EQ(6u, found[0].model);
}

TEST_F(SearchTest, ConverterFoundByDiscoveryIsProbedOverTcp)
{
    SimReader converter(sim, 0, Reader(4));
    simctl::CSimDiscoveryScope discovery(sim, {Converter(converter)});

    CSearchReaders search;
    ASSERT_TRUE(StartNetworkSearch(search, discovery));

    SearchResult result;
    ASSERT_EQ(S_OK, search.GetNext(result, 5000));
    EXPECT_EQ(TcpName(converter), result.portName);
    EXPECT_EQ(4u, result.model);
    EXPECT_FALSE(converter.PeerOpen()) << "the probe's connection is closed before the result comes out";
    DWORD start = GetTickCount();
    EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 5000)) << "once the discovery time-out has passed";
    EXPECT_LT(GetTickCount() - start, 1500u);
    EXPECT_EQ(1, discovery.Requests());
    EXPECT_EQ(1, converter.Connections());
}

// Windows reports an ICMP port-unreachable answer to a datagram (a host without a converter) as a
// failure of the socket's next receive. The discovery socket asks not to be told, and a receive
// that reports one all the same, here in front of a converter's reply, ends neither the discovery
// nor its attempt.
TEST_F(SearchTest, UnreachableReportsNeitherReachNorEndTheDiscovery)
{
    class UnreachableFirst : public CDiscoveryCalls
    {
    public:
        int Ioctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) override
        {
            if (code == SIO_UDP_CONNRESET && in && inSize == sizeof(BOOL)) {
                std::lock_guard<std::mutex> lock(mutex);
                resetReports.push_back(*static_cast<BOOL*>(in));
            }
            return CDiscoveryCalls::Ioctl(s, code, in, inSize, out, outSize, returned);
        }
        int RecvFrom(SOCKET s, WSABUF* buffers, DWORD count, DWORD* got, DWORD* flags, sockaddr* from,
                     int* fromLength) override
        {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (!reported) {
                    reported = true;
                    WSASetLastError(WSAECONNRESET);
                    return SOCKET_ERROR;
                }
            }
            return CDiscoveryCalls::RecvFrom(s, buffers, count, got, flags, from, fromLength);
        }
        std::mutex mutex;
        std::vector<BOOL> resetReports;
        bool reported = false;
    } calls;
    CCallSeamScope<CDiscoveryCalls> scope(calls);

    SimReader converter(sim, 0, Reader(4));
    simctl::CSimDiscoveryScope discovery(sim, {Converter(converter)});
    CSearchReaders search;
    Settings settings;
    settings.udpMs = 1000;
    ASSERT_TRUE(StartNetworkSearch(search, discovery, settings));
    SearchResult result;
    ASSERT_EQ(S_OK, search.GetNext(result, 5000));
    EXPECT_EQ(TcpName(converter), result.portName);
    EXPECT_TRUE(calls.reported);
    EXPECT_EQ(std::vector<BOOL>{FALSE}, calls.resetReports) << "the discovery socket turns the reports off";
    EXPECT_EQ(1, discovery.Requests());
}

TEST_F(SearchTest, EveryConverterOnceWhateverElseAnswers)
{
    SimReader first(sim, 0, Reader(4));
    SimReader second(sim, 0, Reader(8));
    SimReader notAReader(sim, 0);
    sim.Override(notAReader.Id(), "i", "1\r\n2\r\n3\r\n4\r\n5\r\n");
    simctl::SimConverter junk;
    junk.reply = "HELLO";
    simctl::SimConverter elsewhere;
    elsewhere.tcpPort = first.TcpPort() + 1;
    elsewhere.address = "10.0.0.7";   // announced for another address: never probed
    simctl::SimConverter secondPorts;
    secondPorts.tcpPort = notAReader.TcpPort();
    secondPorts.tcpPort2 = second.TcpPort();
    simctl::CSimDiscoveryScope discovery(sim, {junk, Converter(first), elsewhere, secondPorts});

    CSearchReaders search;
    Settings settings;
    settings.udpMs = 300;
    settings.udpTries = 2;   // the second round announces the same ports again
    ASSERT_TRUE(StartNetworkSearch(search, discovery, settings));
    std::vector<SearchResult> found = Drain(search);

    EXPECT_EQ(Sorted({TcpName(first), TcpName(second)}), ResultPorts(found));
    EXPECT_EQ(2, discovery.Requests());
    EXPECT_EQ(1, first.Connections());
    EXPECT_EQ(1, second.Connections());
    EXPECT_EQ(1, notAReader.Connections());
    EXPECT_FALSE(notAReader.PeerOpen());
}

TEST_F(SearchTest, SerialAndNetworkTogether)
{
    SimReader serial(sim, 98, Reader(2));
    SimReader converter(sim, 0, Reader(5));
    simctl::CSimDiscoveryScope discovery(sim, {Converter(converter)});
    CSearchReaders search;
    ASSERT_TRUE(StartNetworkSearch(search, discovery, Settings(), {{serial.Port(), 0x004}}));
    std::vector<SearchResult> found = Drain(search);
    EXPECT_EQ(Sorted({TcpName(converter), L"COM98"}), ResultPorts(found));
}

// A port whose driver fails the open within the connect time-out (at once, or after a moment) is
// opened once in a search, not again at every try and speed step: a failed open would only fail
// again, and hold the search as long each time.
TEST_F(SearchTest, APortWhoseOpenFailsInTimeIsOpenedOnceASearch)
{
    for (DWORD openMs : {0u, 150u}) {
        SCOPED_TRACE(testing::Message() << "the driver fails after " << openMs << " ms");
        CSlowOpenComCalls calls(openMs, L"COM63");
        CCallSeamScope<CComCalls> scope(calls);
        std::vector<PortInfo> ports = {{L"COM63", MODEL_MASK_ANY}};
        CSearchReaders search;
        search.Start(0, 0, 2000, 100, 400, 3, 400, 1, &ports);
        SearchResult result;
        EXPECT_EQ(PE_NO_MORE_READERS, search.GetNext(result, 10000));
        EXPECT_TRUE(WaitUntil([&] { return calls.Inside() == 0; }, 5000));
        EXPECT_EQ(1, calls.Opens()) << "a failed open was tried again";
    }
}
