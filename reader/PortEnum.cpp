// Candidate ports of the reader search: the pure identification and ordering, and the thin layer
// that reads the registry and the Setup API into it.
#include "PortEnum.h"
#include "Exceptions.h"
#include "RegKey.h"
#include "WinVersion.h"

#include <setupapi.h>
#include <devpropdef.h>
#include <cwctype>

namespace {

// {4D36E978-E325-11CE-BFC1-08002BE10318}: the ports (COM and LPT) device setup class.
const GUID PortsClassGuid = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// {A5DCBF10-6530-11D2-901F-00C04FB951ED}: the USB device interface class.
const GUID UsbDeviceInterfaceGuid = {0xA5DCBF10, 0x6530, 0x11D2,
                                     {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
// DEVPKEY_Device_BusReportedDeviceDesc.
const DEVPROPKEY BusReportedDeviceDescKey = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};

struct UsbIdRow
{
    uint32_t vendor;
    uint32_t product;
    uint32_t modelMask;
};

const UsbIdRow UsbIdTable[] = {
    {0x0403, 0x1234, 0x24A},  // models 1, 3, 6, 9
    {0x0403, 0x1237, 0x134},  // models 2, 4, 5, 8
    {0x0403, 0x6001, 0x37E},  // models 1-6, 8, 9
    {0x2184, 0x0011, 0x080},  // model 7
    {0x3168, 0x0100, 0x002},  // model 1
};

struct DescriptionRow
{
    const wchar_t* description;
    uint32_t modelMask;
};

const DescriptionRow DescriptionTable[] = {
    {L"USB Velmora RFID Adapter", 0x002},
    {L"USB VM Mifare Adapter", 0x008},
    {L"USB Velmora Adapter Kora Duo", 0x040},
    {L"USB VM Peltine Adapter", 0x200},
    {L"Quor HELM Converter", 0x134},
    {L"USB <-> RS-485/422", 0x134},
};

// A small scanner with the conversions of the C scanf family that device identifiers are read with.
class CIdScanner
{
public:
    explicit CIdScanner(const wchar_t* text) : m_p(text) {}

    // An exact literal.
    bool Literal(const wchar_t* literal)
    {
        const wchar_t* p = m_p;
        for (; *literal; ++literal, ++p)
            if (*p != *literal)
                return false;
        m_p = p;
        return true;
    }

    // %x: blanks skipped, an optional 0x prefix, at least one hexadecimal digit.
    bool Hex(uint32_t& value)
    {
        SkipBlanks();
        const wchar_t* p = m_p;
        if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X') && std::iswxdigit(p[2]))
            p += 2;
        if (!std::iswxdigit(*p))
            return false;
        uint32_t v = 0;
        for (; std::iswxdigit(*p); ++p) {
            wchar_t c = *p;
            uint32_t digit = c <= L'9' ? c - L'0' : (std::towupper(c) - L'A' + 10);
            v = v * 16 + digit;
        }
        value = v;
        m_p = p;
        return true;
    }

    // %Ns: blanks skipped, then 1 to `width` characters other than blanks.
    bool Word(size_t width, std::wstring& out)
    {
        SkipBlanks();
        const wchar_t* p = m_p;
        while (*p && !std::iswspace(*p) && static_cast<size_t>(p - m_p) < width)
            ++p;
        if (p == m_p)
            return false;
        out.assign(m_p, p);
        m_p = p;
        return true;
    }

    // %*[^c]: at least one character other than c, skipped.
    bool SkipUntil(wchar_t stop)
    {
        const wchar_t* p = m_p;
        while (*p && *p != stop)
            ++p;
        if (p == m_p)
            return false;
        m_p = p;
        return true;
    }

private:
    void SkipBlanks()
    {
        while (*m_p && std::iswspace(*m_p))
            ++m_p;
    }

    const wchar_t* m_p;
};

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    size_t n = wcslen(prefix);
    return text.size() >= n && _wcsnicmp(text.c_str(), prefix, n) == 0;
}

std::wstring UpperCase(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towupper(c));
    return text;
}

// Text of a REG_SZ or property buffer of `bytes` bytes, up to its first NUL.
std::wstring BufferText(const wchar_t* buffer, DWORD bytes)
{
    size_t chars = bytes / sizeof(wchar_t);
    size_t n = 0;
    while (n < chars && buffer[n])
        ++n;
    return std::wstring(buffer, n);
}

} // namespace

bool ComparePortInfoByName(const PortInfo& a, const PortInfo& b)
{
    // wchar_t is an unsigned 16-bit code unit here, so this is the code-unit order with a proper
    // prefix first.
    return a.name.compare(b.name) < 0;
}

bool ParsePortDeviceId(const std::wstring& instanceId, UsbDeviceId& id)
{
    UsbDeviceId parsed;
    if (StartsWithNoCase(instanceId, L"USB\\")) {
        CIdScanner scan(instanceId.c_str() + 4);
        if (!scan.Literal(L"VID_") || !scan.Hex(parsed.vendor) || !scan.Literal(L"&PID_") ||
            !scan.Hex(parsed.product))
            return false;
        parsed.serialKey = instanceId;
    } else if (StartsWithNoCase(instanceId, L"FTDIBUS\\")) {
        CIdScanner scan(instanceId.c_str() + 8);
        if (!scan.Literal(L"VID_") || !scan.Hex(parsed.vendor) || !scan.Literal(L"+PID_") ||
            !scan.Hex(parsed.product) || !scan.Literal(L"+") || !scan.Word(8, parsed.serialKey))
            return false;
    } else {
        return false;
    }
    id = parsed;
    return true;
}

bool ParseUsbInterfaceId(const std::wstring& instanceId, UsbDeviceId& id)
{
    UsbDeviceId parsed;
    CIdScanner scan(instanceId.c_str());
    if (!scan.SkipUntil(L'\\') || !scan.Literal(L"\\VID_") || !scan.Hex(parsed.vendor) ||
        !scan.Literal(L"&PID_") || !scan.Hex(parsed.product) || !scan.Literal(L"\\") ||
        !scan.Word(8, parsed.serialKey))
        return false;
    id = parsed;
    return true;
}

uint32_t UsbAdapterModelMask(uint32_t vendor, uint32_t product)
{
    for (const UsbIdRow& row : UsbIdTable)
        if (row.vendor == vendor && row.product == product)
            return row.modelMask;
    return 0;
}

uint32_t BusDescriptionModelMask(const std::wstring& description)
{
    for (const DescriptionRow& row : DescriptionTable)
        if (description == row.description)
            return row.modelMask;
    return 0;
}

bool SerialCommValuePort(const std::wstring& valueName, DWORD type, const std::wstring& data, PortInfo& port)
{
    if (type != REG_SZ || data.empty())
        return false;
    size_t slash = valueName.rfind(L'\\');
    if (slash == std::wstring::npos || _wcsnicmp(valueName.c_str() + slash + 1, L"Serial", 6) != 0)
        return false;
    port.name = UpperCase(data);
    port.modelMask = MODEL_MASK_ANY;
    return true;
}

uint32_t EffectiveEnumFlags(uint32_t flags, bool vistaOrLater)
{
    if (!(flags & SEARCH_SETUPAPI))
        flags &= ~(SEARCH_KNOWN_USB | SEARCH_BUS_DESCRIPTION);
    if (!vistaOrLater)
        flags &= ~SEARCH_BUS_DESCRIPTION;
    return flags;
}

// --- CPortListBuilder ---------------------------------------------------------------------------

void CPortListBuilder::AddSerialCommValue(const std::wstring& valueName, DWORD type, const std::wstring& data)
{
    PortInfo port;
    if ((m_flags & SEARCH_SERIALCOMM) && SerialCommValuePort(valueName, type, data, port))
        m_registry.push_back(port);
}

bool CPortListBuilder::AcceptPortDevice(const std::wstring& instanceId, DeviceMatch& match) const
{
    if (!(m_flags & SEARCH_SETUPAPI))
        return false;
    DeviceMatch found;
    if (!ParsePortDeviceId(instanceId, found.id))
        return false;
    if (m_flags & SEARCH_KNOWN_USB) {
        found.modelMask = UsbAdapterModelMask(found.id.vendor, found.id.product);
        if (found.modelMask == 0)
            return false;
    }
    match = found;
    return true;
}

void CPortListBuilder::AddPortDevice(const DeviceMatch& match, const std::wstring& portName)
{
    if (portName.empty())
        return;
    PortInfo port{portName, match.modelMask};
    if ((m_flags & SEARCH_BUS_DESCRIPTION) && match.id.vendor == FTDI_VENDOR_ID)
        m_held.emplace(match.id.serialKey, port);
    else
        m_devices.push_back(port);
}

bool CPortListBuilder::WantsDescription(const std::wstring& interfaceInstanceId, std::wstring& serialKey) const
{
    if (!(m_flags & SEARCH_BUS_DESCRIPTION) || m_held.empty())
        return false;
    UsbDeviceId id;
    if (!ParseUsbInterfaceId(interfaceInstanceId, id) || id.vendor != FTDI_VENDOR_ID ||
        m_held.find(id.serialKey) == m_held.end())
        return false;
    serialKey = id.serialKey;
    return true;
}

void CPortListBuilder::AddDescription(const std::wstring& serialKey, const std::wstring& description)
{
    uint32_t mask = BusDescriptionModelMask(description);
    if (mask == 0)
        return;
    auto range = m_held.equal_range(serialKey);
    for (auto it = range.first; it != range.second; ++it)
        m_refined.push_back(PortInfo{it->second.name, mask});
    m_held.erase(range.first, range.second);
}

void CPortListBuilder::Finish(std::vector<PortInfo>& out) const
{
    out.insert(out.end(), m_registry.begin(), m_registry.end());
    out.insert(out.end(), m_devices.begin(), m_devices.end());
    out.insert(out.end(), m_refined.begin(), m_refined.end());
    for (const auto& held : m_held)
        out.push_back(held.second);
}

void BuildPortList(std::vector<PortInfo>& out, uint32_t flags, bool vistaOrLater, bool hasDeviceProperty,
                   const std::vector<SerialCommRecord>& serialComm, const std::vector<PortDeviceRecord>& devices,
                   const std::vector<UsbInterfaceRecord>& interfaces)
{
    CPortListBuilder builder(EffectiveEnumFlags(flags, vistaOrLater));
    for (const SerialCommRecord& value : serialComm)
        builder.AddSerialCommValue(value.name, value.type, value.data);
    for (const PortDeviceRecord& device : devices) {
        CPortListBuilder::DeviceMatch match;
        if (builder.AcceptPortDevice(device.instanceId, match) && device.hasPortName)
            builder.AddPortDevice(match, device.portName);
    }
    if (hasDeviceProperty) {
        for (const UsbInterfaceRecord& usb : interfaces) {
            std::wstring serialKey;
            if (builder.WantsDescription(usb.instanceId, serialKey))
                builder.AddDescription(serialKey, usb.busDescription);
        }
    }
    builder.Finish(out);
}

// --- reading the system ---------------------------------------------------------------------------

namespace {

// Owner of a Setup API device information list.
class CDevInfoList
{
public:
    explicit CDevInfoList(HDEVINFO list) : m_list(list) {}
    ~CDevInfoList()
    {
        if (Valid())
            SetupDiDestroyDeviceInfoList(m_list);
    }
    CDevInfoList(const CDevInfoList&) = delete;
    CDevInfoList& operator=(const CDevInfoList&) = delete;
    bool Valid() const { return m_list != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return m_list; }

private:
    HDEVINFO m_list;
};

// Owner of a loaded library.
class CLibrary
{
public:
    explicit CLibrary(HMODULE module) : m_module(module) {}
    ~CLibrary()
    {
        if (m_module)
            FreeLibrary(m_module);
    }
    CLibrary(const CLibrary&) = delete;
    CLibrary& operator=(const CLibrary&) = delete;
    HMODULE Get() const { return m_module; }

private:
    HMODULE m_module;
};

using GetDevicePropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const DEVPROPKEY*, DEVPROPTYPE*, PBYTE,
                                          DWORD, PDWORD, DWORD);

void ReadSerialComm(CPortListBuilder& builder)
{
    RegKeyHolder key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, key.Receive()) !=
        ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[257];
        DWORD nameLength = 257;
        wchar_t data[64];
        DWORD dataSize = sizeof(data);
        DWORD type = 0;
        LONG rc = RegEnumValueW(key.Get(), index, name, &nameLength, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // A value too long for a port name is not a port; it must not end the whole search.
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            ThrowOSException(static_cast<DWORD>(rc), L"RegEnumValue");
        builder.AddSerialCommValue(std::wstring(name, nameLength), type, BufferText(data, dataSize));
    }
}

// The "PortName" of a device's hardware key; false when it cannot be read as REG_SZ.
bool ReadDevicePortName(HDEVINFO list, SP_DEVINFO_DATA& device, std::wstring& portName)
{
    HKEY opened = SetupDiOpenDevRegKey(list, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (opened == INVALID_HANDLE_VALUE || opened == nullptr)
        return false;
    RegKeyHolder key(opened);
    wchar_t data[64];
    DWORD size = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExW(key.Get(), L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    portName = BufferText(data, size);
    return true;
}

void ReadPortsClass(CPortListBuilder& builder)
{
    CDevInfoList list(SetupDiGetClassDevsW(&PortsClassGuid, nullptr, nullptr, DIGCF_PRESENT));
    if (!list.Valid())
        ThrowOSException(GetLastError(), L"SetupDiGetClassDevs");
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiEnumDeviceInfo(list.Get(), index, &device)) {
            DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS)
                break;
            ThrowOSException(error, L"SetupDiEnumDeviceInfo");
        }
        wchar_t instanceId[201];
        if (!SetupDiGetDeviceInstanceIdW(list.Get(), &device, instanceId, 201, nullptr))
            ThrowOSException(GetLastError(), L"SetupDiGetDeviceInstanceId");
        CPortListBuilder::DeviceMatch match;
        if (!builder.AcceptPortDevice(instanceId, match))
            continue;
        std::wstring portName;
        if (ReadDevicePortName(list.Get(), device, portName))
            builder.AddPortDevice(match, portName);
    }
}

void ReadBusDescriptions(CPortListBuilder& builder)
{
    CLibrary setupApi(LoadLibraryW(L"Setupapi.dll"));
    if (!setupApi.Get())
        ThrowOSException(GetLastError(), L"LoadLibrary");
    auto getProperty = reinterpret_cast<GetDevicePropertyFn>(
        reinterpret_cast<void*>(GetProcAddress(setupApi.Get(), "SetupDiGetDevicePropertyW")));
    if (!getProperty)
        return;  // older systems: the held ports keep their identifier masks

    CDevInfoList list(
        SetupDiGetClassDevsW(&UsbDeviceInterfaceGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
    if (!list.Valid())
        ThrowOSException(GetLastError(), L"SetupDiGetClassDevs");
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA usb{};
        usb.cbSize = sizeof(usb);
        if (!SetupDiEnumDeviceInterfaces(list.Get(), nullptr, &UsbDeviceInterfaceGuid, index, &usb)) {
            DWORD error = GetLastError();
            if (error == ERROR_NO_MORE_ITEMS)
                break;
            ThrowOSException(error, L"SetupDiEnumDeviceInterfaces");
        }
        DWORD size = 0;
        if (!SetupDiGetDeviceInterfaceDetailW(list.Get(), &usb, nullptr, 0, &size, nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_INSUFFICIENT_BUFFER)
                ThrowOSException(error, L"SetupDiGetDeviceInterfaceDetail");
        }
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            size = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        std::vector<BYTE> detailBuffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detailBuffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiGetDeviceInterfaceDetailW(list.Get(), &usb, detail, size, nullptr, &device))
            ThrowOSException(GetLastError(), L"SetupDiGetDeviceInterfaceDetail");
        wchar_t instanceId[201];
        if (!SetupDiGetDeviceInstanceIdW(list.Get(), &device, instanceId, 201, nullptr))
            ThrowOSException(GetLastError(), L"SetupDiGetDeviceInstanceId");

        std::wstring serialKey;
        if (!builder.WantsDescription(instanceId, serialKey))
            continue;
        wchar_t description[128];
        DEVPROPTYPE type = 0;
        DWORD got = 0;
        if (!getProperty(list.Get(), &device, &BusReportedDeviceDescKey, &type,
                         reinterpret_cast<BYTE*>(description), sizeof(description), &got, 0)) {
            DWORD error = GetLastError();
            // An adapter without the property, or with a text longer than any in the table, cannot
            // be refined; it keeps its identifier's mask rather than ending the whole search.
            if (error == ERROR_NOT_FOUND || error == ERROR_INSUFFICIENT_BUFFER)
                continue;
            ThrowOSException(error, L"SetupDiGetDeviceProperty");
        }
        if (type == DEVPROP_TYPE_STRING)
            builder.AddDescription(serialKey, BufferText(description, got));
    }
}

} // namespace

void EnumCandidatePorts(std::vector<PortInfo>& out, uint32_t flags)
{
    CPortListBuilder builder(EffectiveEnumFlags(flags, IsVistaOrLater()));
    if (builder.Flags() & SEARCH_SERIALCOMM)
        ReadSerialComm(builder);
    if (builder.Flags() & SEARCH_SETUPAPI) {
        ReadPortsClass(builder);
        if (builder.Flags() & SEARCH_BUS_DESCRIPTION)
            ReadBusDescriptions(builder);
    }
    builder.Finish(out);
}
