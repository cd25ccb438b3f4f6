// The device methods: Open and DeviceTest (which make readers, searching one first for the port
// "Auto"), Close, GetStatus, Reconnect and GetReaderInfo (which address an open device by its
// identifier), and the close-all of Done.
//
// Devices are named by identifiers: a port name, or a port name, a backslash and a bus address,
// compared without regard to case as the system compares port names.
// The port map owns one reader per port; the device map names a reader and a bus address. Every
// device entry's reader is owned by the port map: when a reader goes, every entry naming it goes
// with it. All of this runs on the platform's thread; reader values are set under each reader's
// own lock by the reader's control operations.
#include "Component.h"
#include "AddinStrings.h"
#include "ComponentTables.h"
#include "Messages.h"
#include "Search.h"
#include "TcpPort.h"
#include "WFormat.h"
#include <algorithm>
#include <vector>

namespace {

// The two spellings of the automatic port, compared without regard to case.
bool IsAutoPort(const std::wstring& name)
{
    for (const wchar_t* automatic : {L"Auto", L"Авто"}) {
        if (CompareStringOrdinal(name.c_str(), static_cast<int>(name.size()), automatic, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

} // namespace

// How long Close, Done and DeviceTest wait for reader threads: they run on the platform's thread,
// which must not hang on a driver that does not return (a Bluetooth port opening for half a minute)
// nor on an event call that the platform holds.
const DWORD ReaderStopBudgetMs = 1500;

// The most digits a bus address has: the bus protocol sends it as five decimal digits.
const size_t BusAddressDigits = 5;

bool PortNameLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_LESS_THAN;
}

bool SplitDeviceIdentifier(const std::wstring& identifier, std::wstring& port, int32_t& address)
{
    const size_t slash = identifier.find(L'\\');
    if (slash == 0 || identifier.empty())
        return false;
    if (slash == std::wstring::npos) {
        port = identifier;
        address = NO_BUS_ADDRESS;
        return true;
    }
    const std::wstring digits = identifier.substr(slash + 1);
    if (digits.empty() || digits.size() > BusAddressDigits ||
        !std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
        return false;
    port = identifier.substr(0, slash);
    address = static_cast<int32_t>(std::stol(digits));
    return true;
}

const CParvel::DeviceEntry* CParvel::FindDevice(const tVariant& identifier)
{
    auto it = m_devices.find(VariantText(identifier));
    if (it == m_devices.end()) {
        SetLastError(PE_NOT_OPENED);
        return nullptr;
    }
    return &it->second;
}

void CParvel::CloseAllReaders()
{
    if (m_ports.empty())
        return;
    // Ask every thread to stop first, so that they wind down together, then give them one shared
    // time: a reader whose thread is stuck in a driver is left to end alone (Retire).
    for (auto& port : m_ports)
        port.second.Reader->RequestStop();
    m_devices.clear();
    const DWORD start = GetTickCount();
    for (auto& port : m_ports) {
        const DWORD spent = GetTickCount() - start;
        CReader::Retire(std::move(port.second.Reader), spent < ReaderStopBudgetMs ? ReaderStopBudgetMs - spent : 0);
    }
    m_ports.clear();
}

bool CParvel::WorkingDeviceIdentifier(std::wstring& identifier)
{
    const std::wstring& name = m_working.Portname;
    if (IsAutoPort(name)) {
        if (!FindAutoPort(identifier)) {
            SetLastError(PE_READER_NOT_FOUND);
            return false;
        }
        return true;
    }
    std::wstring port;
    int32_t address = NO_BUS_ADDRESS;
    if (!SplitDeviceIdentifier(name, port, address)) {
        SetLastError(PE_BAD_PORT_NAME);
        return false;
    }
    // A converter's address is refused here, with its text, rather than by a reader thread that
    // would report the same failure every connection period.
    std::wstring host, service;
    if (!IsSerialPortName(port.c_str()) && !CZTcpPort::SplitAddress(port, host, service)) {
        std::wstring text;
        FormatResString(text, IDS_BAD_TCP_PORT, port.c_str());
        SetLastError(PE_BAD_PORT_NAME, text.c_str());
        return false;
    }
    identifier = name;
    return true;
}

bool CParvel::FindAutoPort(std::wstring& port)
{
    std::vector<PortInfo> ports;
    CandidatePorts(ports);
    if (ports.empty() && !(m_searchFlags & SEARCH_NETWORK))
        return false;
    CSearchReaders search;
    StartSearch(search, ports);
    SearchResult found;
    if (FAILED(search.GetNext(found, 0xFFFFFFFF)))
        return false;
    port = found.portName;
    return true;
}

bool CParvel::MethodOpen(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    if (result)
        SetBoolVariant(result, false);
    std::wstring identifier;
    if (!WorkingDeviceIdentifier(identifier))
        return true;

    auto device = m_devices.find(identifier);
    if (device != m_devices.end()) {
        // Open under another spelling: the device keeps the identifier it was opened under.
        identifier = device->first;
        CReader* reader = device->second.Reader;
        if (reader->GetState(device->second.Address) == READER_STATE_DISCONNECTED)
            reader->Reconnect(device->second.Address);
    } else {
        std::wstring portName;
        int32_t address = NO_BUS_ADDRESS;
        SplitDeviceIdentifier(identifier, portName, address);
        auto port = m_ports.find(portName);
        if (port == m_ports.end()) {
            ReaderEntry entry;
            entry.Reader.reset(new CReader());
            entry.StopBits = static_cast<BYTE>(m_working.StopBits & 0xFF);
            entry.Flags = m_working.Flags;
            entry.Model = m_working.Model;
            entry.Speed = m_working.Speed;
            CReader& reader = *entry.Reader;
            reader.Init(this, portName.c_str(), m_readerLink);
            reader.SetReadKeys(m_readKeys);
            reader.SetConnection(entry.StopBits, entry.Flags, entry.Model, entry.Speed, FALSE);
            reader.SetTimings(static_cast<DWORD>(m_working.ConnectTimeout), static_cast<DWORD>(m_working.ConnectPeriod),
                              static_cast<DWORD>(m_working.RxPeriod), static_cast<DWORD>(m_working.ReqTimeout),
                              m_working.ReqTries);
            if (address != NO_BUS_ADDRESS)
                reader.AddAddress(address);
            reader.Reconnect(NO_BUS_ADDRESS); // connect as soon as the thread runs
            reader.Start();                   // a failure deletes the reader again
            CReader* started = entry.Reader.get();
            m_ports.emplace(portName, std::move(entry));
            m_devices[identifier] = DeviceEntry{address, started};
        } else {
            CReader* reader = port->second.Reader.get();
            bool busReader = false;
            for (const auto& other : m_devices)
                busReader = busReader || (other.second.Reader == reader && other.second.Address != NO_BUS_ADDRESS);
            if (busReader != (address != NO_BUS_ADDRESS)) {
                SetLastError(PE_PORT_BUSY);
                return true;
            }
            if (address != NO_BUS_ADDRESS) {
                reader->AddAddress(address);
                m_devices[identifier] = DeviceEntry{address, reader};
            } else if (reader->GetState(NO_BUS_ADDRESS) == READER_STATE_DISCONNECTED) {
                // The port's one device is open under another spelling; only wake its reader.
                reader->Reconnect(NO_BUS_ADDRESS);
            }
        }
    }
    MakeStringVariant(&params[0], identifier.c_str(), static_cast<ptrdiff_t>(identifier.size()));
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodClose(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1 || params[0].vt != VTYPE_PWSTR) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    auto it = m_devices.find(VariantText(params[0]));
    if (it == m_devices.end()) {
        if (result) {
            SetLastError(PE_NOT_OPENED);
            SetBoolVariant(result, false);
        }
        return true;
    }
    const DeviceEntry device = it->second;
    m_devices.erase(it);
    if (device.Address != NO_BUS_ADDRESS)
        device.Reader->RemoveAddress(device.Address);
    bool addressesLeft = false;
    for (const auto& other : m_devices)
        addressesLeft = addressesLeft || (other.second.Reader == device.Reader && other.second.Address != NO_BUS_ADDRESS);
    if (device.Address == NO_BUS_ADDRESS || !addressesLeft) {
        const std::wstring port = device.Reader->PortName();
        // No entry may outlive the reader it names.
        for (auto other = m_devices.begin(); other != m_devices.end();) {
            if (other->second.Reader == device.Reader)
                other = m_devices.erase(other);
            else
                ++other;
        }
        auto entry = m_ports.find(port);
        if (entry != m_ports.end()) {
            std::unique_ptr<CReader> reader = std::move(entry->second.Reader);
            m_ports.erase(entry);
            CReader::Retire(std::move(reader), ReaderStopBudgetMs);
        }
    }
    if (result)
        SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodDeviceTest(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 2) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    if (result)
        SetBoolVariant(result, false);
    std::wstring identifier;
    if (!WorkingDeviceIdentifier(identifier))
        return true;

    const BYTE stopBits = static_cast<BYTE>(m_working.StopBits & 0xFF);
    std::unique_ptr<CReader> temporary(new CReader());
    CReader* reader = nullptr;
    int32_t address = NO_BUS_ADDRESS;
    auto device = m_devices.find(identifier);
    if (device != m_devices.end()) {
        reader = device->second.Reader;
        address = device->second.Address;
    } else {
        std::wstring portName;
        SplitDeviceIdentifier(identifier, portName, address);
        temporary->Init(this, portName.c_str(), m_readerLink);
        temporary->SetReadKeys(m_readKeys);
        temporary->SetConnection(stopBits, m_working.Flags, m_working.Model, m_working.Speed, FALSE);
        reader = temporary.get();
    }

    // The identification runs on this thread and stops the reader's thread for it. An open device
    // gets its thread back afterwards, or it would stay silent until it is closed. A thread that
    // does not stop in time is inside a driver call that has not returned: it still holds the
    // port, so the port is busy, and it goes on serving the device once the driver lets go.
    const bool wasRunning = reader->Started();
    if (wasRunning && !reader->StopForTest(ReaderStopBudgetMs)) {
        SetLastError(PE_PORT_BUSY);
        MakeStringVariant(&params[0], L"", 0);
        MakeStringVariant(&params[1], L"", 0);
        return true;
    }
    std::wstring info;
    const BOOL ok = reader->IdentifyNow(address, stopBits, m_working.Model, static_cast<DWORD>(m_working.ConnectTimeout),
                                        static_cast<DWORD>(m_working.RxPeriod), static_cast<DWORD>(m_working.ReqTimeout),
                                        m_working.ReqTries, info);
    if (wasRunning)
        reader->Start(); // reconnects: the identification left a reconnection due

    if (ok) {
        MakeStringVariant(&params[0], info.c_str(), static_cast<ptrdiff_t>(info.size()));
    } else {
        HRESULT code = S_OK;
        std::wstring text;
        reader->GetLastError(address, code, text);
        SetLastError(code, text.c_str(), static_cast<ptrdiff_t>(text.size()));
        MakeStringVariant(&params[0], L"", 0);
    }
    MakeStringVariant(&params[1], L"", 0);
    if (result)
        SetBoolVariant(result, ok != FALSE);
    return true;
}

bool CParvel::MethodGetStatus(tVariant* result, tVariant* params, long count)
{
    if (!result || !params || count < 1 || params[0].vt != VTYPE_PWSTR) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    auto it = m_devices.find(VariantText(params[0]));
    const int32_t state = it == m_devices.end() ? static_cast<int32_t>(READER_STATE_UNKNOWN)
                                                : it->second.Reader->GetState(it->second.Address);
    SetI4Variant(result, state);
    return true;
}

bool CParvel::MethodReconnect(tVariant* result, tVariant* params, long count)
{
    if (!result || !params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckDeviceOnly))
        return true;
    const DeviceEntry* device = FindDevice(params[0]);
    if (!device)
        return true;
    device->Reader->Reconnect(device->Address);
    SetBoolVariant(result, true);
    return true;
}

bool CParvel::MethodGetReaderInfo(tVariant* result, tVariant* params, long count)
{
    if (!result || !params || count < 5) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    SetBoolVariant(result, false);
    if (!CheckParams(params, CheckGetReaderInfo))
        return true;
    const DeviceEntry* device = FindDevice(params[0]);
    if (!device)
        return true;
    uint32_t model = 0, serial = 0, firmware = 0;
    std::wstring text;
    device->Reader->GetReaderInfo(device->Address, model, serial, firmware, text);
    SetI4Variant(&params[1], static_cast<int32_t>(model));
    SetI4Variant(&params[2], static_cast<int32_t>(serial));
    SetUI4Variant(&params[3], firmware);
    MakeStringVariant(&params[4], text.c_str(), static_cast<ptrdiff_t>(text.size()));
    SetBoolVariant(result, true);
    return true;
}
