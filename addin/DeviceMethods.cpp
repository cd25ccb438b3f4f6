// The device methods: Open and DeviceTest (which make readers), Close, GetStatus, Reconnect and
// GetReaderInfo (which address an open device by its identifier), and the close-all of Done.
//
// Devices are named by identifiers: a port name, or a port name, a backslash and a bus address.
// The port map owns one reader per port; the device map names a reader and a bus address.
// This build makes no readers: Open and DeviceTest check their arguments and the port name and
// then report that the command is not supported, so the device map stays empty and every
// method that addresses a device answers as for a device that was never opened.
#include "Component.h"
#include "ComponentTables.h"
#include "Messages.h"
#include <vector>

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
    // Ask every thread to stop first, so that they wind down together, then wait for each.
    for (auto& port : m_ports)
        port.second.Reader->RequestStop();
    for (auto& port : m_ports)
        port.second.Reader->Stop();
    m_devices.clear();
    m_ports.clear();
}

bool CParvel::MethodOpen(tVariant* result, tVariant* params, long count)
{
    if (!params || count < 1) {
        SetLastError(E_INVALIDARG);
        return false;
    }
    if (result)
        SetBoolVariant(result, false);
    if (m_working.Portname.empty()) {
        SetLastError(PE_BAD_PORT_NAME);
        return true;
    }
    SetLastError(PE_NOT_SUPPORTED);
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
        addressesLeft = addressesLeft || other.second.Reader == device.Reader;
    if (device.Address == NO_BUS_ADDRESS || !addressesLeft) {
        const std::wstring port = device.Reader->PortName();
        device.Reader->Stop();
        m_ports.erase(port); // deletes the reader
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
    if (m_working.Portname.empty()) {
        SetLastError(PE_BAD_PORT_NAME);
        return true;
    }
    SetLastError(PE_NOT_SUPPORTED);
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
