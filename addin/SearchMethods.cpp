// The search methods: FindNext lists the readers reachable from the machine one at a time,
// FindClose ends the listing. The search runs on the platform's thread inside FindNext; the
// component keeps its state between calls in its one search object. Ports on which this component
// runs a reader are left out: probing them would disturb the reader.
#include "Component.h"
#include "ComponentTables.h"
#include "Messages.h"
#include "Search.h"
#include <algorithm>

void SearchDeleter::operator()(CSearchReaders* search) const
{
    delete search;
}

void CParvel::CandidatePorts(std::vector<PortInfo>& ports) const
{
    CSearchReaders::EnumPorts(ports, m_searchFlags);
    std::sort(ports.begin(), ports.end(), ComparePortInfoByName);
    // The port map compares names without case, so "com3" is left out when COM3 has a reader.
    ports.erase(std::remove_if(ports.begin(), ports.end(),
                               [this](const PortInfo& port) { return m_ports.count(port.name) != 0; }),
                ports.end());
}

void CParvel::StartSearch(CSearchReaders& search, const std::vector<PortInfo>& ports)
{
    if (!m_discoveryAddress.empty() && !search.SetDiscoveryTarget(m_discoveryAddress, m_discoveryPort))
        ThrowOSException(ERROR_INVALID_PARAMETER, L"SetDiscoveryTarget");
    // Converters found by the discovery are left out as well when this component has them open:
    // a second connection can push the reader's own off a converter that serves one client.
    std::vector<std::wstring> open;
    for (const auto& port : m_ports)
        open.push_back(port.first);
    search.ExcludePorts(open);
    search.Start(m_searchFlags, static_cast<uint8_t>(m_working.StopBits & 0xFF),
                 static_cast<uint32_t>(m_working.ConnectTimeout), static_cast<uint32_t>(m_working.RxPeriod),
                 static_cast<uint32_t>(m_working.ReqTimeout), m_working.ReqTries, m_findIpTimeout, m_findIpTries,
                 &ports);
}

void CParvel::ListFoundReaders()
{
    std::vector<PortInfo> ports;
    CandidatePorts(ports);
    // The new search replaces the old one before it starts: a search that fails to start stays,
    // so that the next FindNext asks it again instead of starting anew until FindClose.
    m_search.reset(new CSearchReaders());
    StartSearch(*m_search, ports);
}

bool CParvel::MethodFindNext(tVariant* result, tVariant* params, long count)
{
    if (!result || !params || count < 6) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckFindNext))
        return true;
    uint32_t timeout = 0xFFFFFFFF;
    VariantToUInt(&params[5], timeout);
    if (!m_search)
        ListFoundReaders();
    SearchResult found;
    const HRESULT hr = m_search->GetNext(found, timeout);
    if (FAILED(hr)) {
        SetLastError(hr);
        return true;
    }
    MakeStringVariant(&params[0], found.portName.c_str(), static_cast<ptrdiff_t>(found.portName.size()));
    SetI4Variant(&params[1], static_cast<int32_t>(found.model));
    SetI4Variant(&params[2], static_cast<int32_t>(found.serialNumber));
    SetUI4Variant(&params[3], found.version);
    MakeStringVariant(&params[4], found.replyText.c_str(), static_cast<ptrdiff_t>(found.replyText.size()));
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodFindClose(tVariant* result, tVariant* params, long count)
{
    if (!result) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    m_search.reset(); // closes its probes and sockets
    SetBoolVariant(result, true);
    return true;
}
