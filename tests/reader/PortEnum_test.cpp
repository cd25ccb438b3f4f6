// The candidate-port list of the reader search: USB adapter identification, the model masks and the
// order of the sources, over recorded registry values and device records; and the registry source
// on this machine through a scratch HKEY_LOCAL_MACHINE.
#include "PortEnum.h"
#include "RegKey.h"
#include "ScratchRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <setupapi.h>

namespace {

std::wstring Names(const std::vector<PortInfo>& ports)
{
    std::wstring text;
    for (const PortInfo& port : ports) {
        wchar_t mask[16];
        _snwprintf(mask, 16, L"%X", port.modelMask);
        text += (text.empty() ? L"" : L" ") + port.name + L"=" + mask;
    }
    return text;
}

// A machine with two kernel ports, a USB virtual port of another kind, and several adapters.
const std::vector<SerialCommRecord> SerialComm = {
    {L"\\Device\\Serial0", REG_SZ, L"com1"},
    {L"\\Device\\VCP0", REG_SZ, L"COM9"},          // a USB virtual port: not a kernel serial port
    {L"\\Device\\serial1", REG_SZ, L"COM2"},
    {L"\\Device\\Serial2", REG_EXPAND_SZ, L"COM3"},
};

const std::vector<PortDeviceRecord> Devices = {
    {L"ACPI\\PNP0501\\0", true, L"COM1"},                              // not USB
    {L"FTDIBUS\\VID_0403+PID_6001+FT00000BA\\0000", true, L"COM20"},   // held, refined below
    {L"USB\\VID_3168&PID_0100\\5&2A0F&0&2", true, L"COM21"},           // known, not FTDI
    {L"USB\\VID_1A86&PID_7523\\5&1111&0&1", true, L"COM22"},           // unknown vendor
    {L"FTDIBUS\\VID_0403+PID_1237+FT00000AA\\0000", true, L"COM23"},   // held, description unknown
    {L"FTDIBUS\\VID_0403+PID_1234+FT00000CC\\0000", false, L""},       // no readable PortName
    {L"usb\\VID_0403&PID_6001\\7&ABCDEF", true, L"COM24"},             // USB id: whole id as key
};

const std::vector<UsbInterfaceRecord> Interfaces = {
    {L"USB\\VID_0403&PID_1237\\FT00000AA", L"Some Other Adapter"},
    {L"USB\\VID_1A86&PID_7523\\FT00000BA", L"USB VM Mifare Adapter"},  // not FTDI: ignored
    {L"USB\\VID_0403&PID_6001\\FT00000BA", L"USB VM Mifare Adapter"},
};

} // namespace

TEST(PortEnum, DeviceIdentifiers)
{
    struct Case { const wchar_t* id; bool ok; uint32_t vendor, product; const wchar_t* key; };
    const Case cases[] = {
        {L"USB\\VID_0403&PID_6001\\A1B2C3D4", true, 0x0403, 0x6001, L"USB\\VID_0403&PID_6001\\A1B2C3D4"},
        {L"usb\\VID_2184&PID_0011\\5&1234", true, 0x2184, 0x0011, L"usb\\VID_2184&PID_0011\\5&1234"},
        {L"FTDIBUS\\VID_0403+PID_6001+A1B2C3D4A\\0000", true, 0x0403, 0x6001, L"A1B2C3D4"},
        {L"FtdiBus\\VID_0403+PID_1237+AB\\0000", true, 0x0403, 0x1237, L"AB\\0000"},   // up to 8 chars
        {L"FTDIBUS\\VID_0403+PID_6001", false, 0, 0, L""},       // no serial number
        {L"FTDIBUS\\VID_0403&PID_6001&A1B2C3D4", false, 0, 0, L""},
        {L"USB\\VID_0403", false, 0, 0, L""},
        {L"USB\\vid_0403&pid_6001\\X", false, 0, 0, L""},        // the labels are upper case
        {L"ACPI\\PNP0501\\0", false, 0, 0, L""},
        {L"", false, 0, 0, L""},
    };
    for (const Case& c : cases) {
        UsbDeviceId id;
        id.vendor = 0x7777;
        EXPECT_EQ(c.ok, ParsePortDeviceId(c.id, id)) << c.id;
        if (c.ok) {
            EXPECT_EQ(c.vendor, id.vendor) << c.id;
            EXPECT_EQ(c.product, id.product) << c.id;
            EXPECT_EQ(std::wstring(c.key), id.serialKey) << c.id;
        } else {
            EXPECT_EQ(0x7777u, id.vendor) << "untouched: " << c.id;
        }
    }

    struct InterfaceCase { const wchar_t* id; bool ok; uint32_t vendor; const wchar_t* key; };
    const InterfaceCase interfaces[] = {
        {L"USB\\VID_0403&PID_6001\\FT00000BA", true, 0x0403, L"FT00000B"},
        {L"USB\\VID_0403&PID_6001\\AB", true, 0x0403, L"AB"},
        {L"USB\\VID_3168&PID_0100\\5&2A0F&0&2", true, 0x3168, L"5&2A0F&0"},
        {L"\\VID_0403&PID_6001\\FT00000BA", false, 0, L""},   // nothing before the first backslash
        {L"USB\\VID_0403&PID_6001", false, 0, L""},
        {L"USB\\ROOT_HUB30\\4&1", false, 0, L""},
    };
    for (const InterfaceCase& c : interfaces) {
        UsbDeviceId id;
        EXPECT_EQ(c.ok, ParseUsbInterfaceId(c.id, id)) << c.id;
        if (c.ok) {
            EXPECT_EQ(c.vendor, id.vendor) << c.id;
            EXPECT_EQ(std::wstring(c.key), id.serialKey) << c.id;
        }
    }
}

TEST(PortEnum, SerialCommValues)
{
    struct Case { const wchar_t* name; DWORD type; const wchar_t* data; const wchar_t* port; };
    const Case cases[] = {
        {L"\\Device\\Serial0", REG_SZ, L"com1", L"COM1"},
        {L"\\Device\\SERIAL12", REG_SZ, L"Com12", L"COM12"},
        {L"\\Device\\Serial", REG_SZ, L"COM3", L"COM3"},
        {L"\\Device\\Seria", REG_SZ, L"COM3", nullptr},
        {L"\\Device\\VCP0", REG_SZ, L"COM4", nullptr},
        {L"\\Device\\Serial\\VCP0", REG_SZ, L"COM4", nullptr},   // the last backslash counts
        {L"Serial0", REG_SZ, L"COM5", nullptr},                   // no backslash at all
        {L"\\Device\\Serial0", REG_EXPAND_SZ, L"COM6", nullptr},
        {L"\\Device\\Serial0", REG_SZ, L"", nullptr},
    };
    for (const Case& c : cases) {
        PortInfo port{L"untouched", 5};
        EXPECT_EQ(c.port != nullptr, SerialCommValuePort(c.name, c.type, c.data, port)) << c.name;
        if (c.port) {
            EXPECT_EQ(std::wstring(c.port), port.name);
            EXPECT_EQ(MODEL_MASK_ANY, port.modelMask);
        }
    }
}

TEST(PortEnum, SourcesAndOrderByFlags)
{
    struct Case { uint32_t flags; bool vista; bool property; const wchar_t* expected; };
    const Case cases[] = {
        {0, true, true, L""},
        {SEARCH_SERIALCOMM, true, true, L"COM1=FFFFFFFF COM2=FFFFFFFF"},
        // Every USB or FTDI-bus port, any model.
        {SEARCH_SETUPAPI, true, true,
         L"COM20=FFFFFFFF COM21=FFFFFFFF COM22=FFFFFFFF COM23=FFFFFFFF COM24=FFFFFFFF"},
        // Only known adapters, with their masks; the unknown vendor is gone.
        {SEARCH_SETUPAPI | SEARCH_KNOWN_USB, true, true, L"COM20=37E COM21=2 COM23=134 COM24=37E"},
        // FTDI adapters wait for their descriptions: refined first, then the rest by serial key.
        {SEARCH_SETUPAPI | SEARCH_BUS_DESCRIPTION, true, true,
         L"COM21=FFFFFFFF COM22=FFFFFFFF COM20=8 COM23=FFFFFFFF COM24=FFFFFFFF"},
        {SEARCH_FLAGS_DEFAULT, true, true, L"COM21=2 COM20=8 COM23=134 COM24=37E"},
        // Without the property query the held ports keep their identifier masks.
        {SEARCH_FLAGS_DEFAULT, true, false, L"COM21=2 COM23=134 COM20=37E COM24=37E"},
        // Before Windows 6.0 there is no description pass: enumeration order throughout.
        {SEARCH_FLAGS_DEFAULT, false, true, L"COM20=37E COM21=2 COM23=134 COM24=37E"},
        // The refinements need the Setup API source.
        {SEARCH_KNOWN_USB | SEARCH_BUS_DESCRIPTION, true, true, L""},
        {SEARCH_SERIALCOMM | SEARCH_FLAGS_DEFAULT | SEARCH_NETWORK, true, true,
         L"COM1=FFFFFFFF COM2=FFFFFFFF COM21=2 COM20=8 COM23=134 COM24=37E"},
    };
    for (const Case& c : cases) {
        std::vector<PortInfo> ports = {{L"KEPT", 1}};
        BuildPortList(ports, c.flags, c.vista, c.property, SerialComm, Devices, Interfaces);
        ASSERT_FALSE(ports.empty());
        EXPECT_EQ(L"KEPT", ports.front().name) << "the list is appended to";
        ports.erase(ports.begin());
        EXPECT_EQ(std::wstring(c.expected), Names(ports)) << "flags " << c.flags << " vista " << c.vista
                                                           << " property " << c.property;
    }
}

TEST(PortEnum, HeldAdaptersAreRefinedOnceByExactText)
{
    // Several descriptions for one adapter: the first one in the table decides, and the table's
    // texts are compared exactly.
    const std::vector<PortDeviceRecord> devices = {
        {L"FTDIBUS\\VID_0403+PID_6001+SAME0001\\0000", true, L"COM30"},
    };
    const std::vector<UsbInterfaceRecord> interfaces = {
        {L"USB\\VID_0403&PID_6001\\SAME0001", L"unknown text"},
        {L"USB\\VID_0403&PID_6001\\SAME0001", L"usb vm peltine adapter"},
        {L"USB\\VID_0403&PID_6001\\SAME0001", L"USB VM Peltine Adapter "},
        {L"USB\\VID_0403&PID_6001\\SAME0001", L"USB VM Peltine Adapter"},
        {L"USB\\VID_0403&PID_6001\\SAME0001", L"USB Velmora RFID Adapter"},
    };
    std::vector<PortInfo> ports;
    BuildPortList(ports, SEARCH_FLAGS_DEFAULT, true, true, {}, devices, interfaces);
    EXPECT_EQ(L"COM30=200", Names(ports));
}

TEST(PortEnum, CompareByName)
{
    std::vector<PortInfo> ports = {{L"COM2", 0}, {L"COM10", 0}, {L"COM1", 0}, {L"127.0.0.1:5000", 0},
                                   {L"COM", 0},  {L"com3", 0}};
    std::sort(ports.begin(), ports.end(), ComparePortInfoByName);
    EXPECT_EQ(L"127.0.0.1:5000=0 COM=0 COM1=0 COM10=0 COM2=0 com3=0", Names(ports));
    EXPECT_FALSE(ComparePortInfoByName({L"COM1", 0}, {L"COM1", 5}));
    EXPECT_TRUE(ComparePortInfoByName({L"COM1", 0}, {L"COM1 ", 0}));
}

TEST(PortEnum, RegistryPortsOfThisMachine)
{
    ScratchRegistry scratch(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(scratch.Ok());
    std::vector<PortInfo> ports;
    EnumCandidatePorts(ports, SEARCH_SERIALCOMM);
    EXPECT_TRUE(ports.empty()) << "a missing SERIALCOMM key adds nothing";

    RegKeyHolder key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr));
    auto setValue = [&key](const wchar_t* name, DWORD type, const std::wstring& data) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
    };
    setValue(L"\\Device\\Serial0", REG_SZ, L"com7");
    setValue(L"\\Device\\VCP0", REG_SZ, L"COM8");
    setValue(L"\\Device\\Serial1", REG_EXPAND_SZ, L"COM9");
    // Longer than any port name: passed over without ending the enumeration.
    setValue(L"\\Device\\Serial2", REG_SZ, std::wstring(300, L'X'));
    setValue(L"\\Device\\Serial3", REG_SZ, L"COM11");
    DWORD number = 5;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key.Get(), L"\\Device\\Serial4", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&number), sizeof(number)));

    ports.clear();
    EnumCandidatePorts(ports, SEARCH_SERIALCOMM);
    std::sort(ports.begin(), ports.end(), ComparePortInfoByName);
    EXPECT_EQ(L"COM11=FFFFFFFF COM7=FFFFFFFF", Names(ports));

    ports.clear();
    EnumCandidatePorts(ports, 0);
    EXPECT_TRUE(ports.empty());
}

namespace {

// {4D36E978-E325-11CE-BFC1-08002BE10318}: the ports device setup class.
const GUID PortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// Registers ports-class devices (instance identifier and "PortName") for the lifetime of the
// object; kept in a scratch HKEY_LOCAL_MACHINE by the caller.
class RegisteredPorts
{
public:
    RegisteredPorts() : m_set(SetupDiCreateDeviceInfoList(&PortsClass, nullptr)) {}
    ~RegisteredPorts()
    {
        for (SP_DEVINFO_DATA& device : m_devices)
            SetupDiRemoveDevice(m_set, &device);
        SetupDiDestroyDeviceInfoList(m_set);
    }
    RegisteredPorts(const RegisteredPorts&) = delete;
    RegisteredPorts& operator=(const RegisteredPorts&) = delete;

    bool Add(const wchar_t* instanceId, const wchar_t* portName)
    {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof(device);
        if (!SetupDiCreateDeviceInfoW(m_set, instanceId, &PortsClass, nullptr, nullptr, 0, &device) ||
            !SetupDiRegisterDeviceInfo(m_set, &device, 0, nullptr, nullptr, nullptr))
            return false;
        m_devices.push_back(device);
        HKEY key = SetupDiCreateDevRegKeyW(m_set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr);
        if (key == INVALID_HANDLE_VALUE)
            return false;
        RegKeyHolder holder(key);
        const std::wstring name(portName);
        return RegSetValueExW(key, L"PortName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                              static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    }

private:
    HDEVINFO m_set;
    std::vector<SP_DEVINFO_DATA> m_devices;
};

} // namespace

// The Setup API sources read what the system registers: devices of the ports class made in a
// scratch registry stand in for plugged-in adapters (Wine lists none of its own).
TEST(PortEnum, SetupApiSourcesRunOnThisMachine)
{
    ScratchRegistry scratch(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(scratch.Ok());
    RegisteredPorts devices;
    ASSERT_TRUE(devices.Add(L"USB\\VID_0403&PID_6001\\PARVELT1", L"COM77"));   // known FTDI adapter
    ASSERT_TRUE(devices.Add(L"USB\\VID_3168&PID_0100\\PARVELT2", L"COM78"));   // known, not FTDI
    ASSERT_TRUE(devices.Add(L"USB\\VID_1A86&PID_7523\\PARVELT3", L"COM79"));   // unknown vendor
    ASSERT_TRUE(devices.Add(L"ACPI\\PNP0501\\PARVELT4", L"COM80"));            // not USB

    struct Case { uint32_t flags; const wchar_t* expected; };
    const Case cases[] = {
        // Known adapters only; the FTDI one waits for a bus description that Wine has not, and
        // keeps its identifier's mask.
        {SEARCH_FLAGS_DEFAULT, L"COM77=37E COM78=2"},
        {SEARCH_SETUPAPI, L"COM77=FFFFFFFF COM78=FFFFFFFF COM79=FFFFFFFF"},
        {SEARCH_SERIALCOMM, L""},
    };
    for (const Case& c : cases) {
        std::vector<PortInfo> ports;
        ASSERT_NO_THROW(EnumCandidatePorts(ports, c.flags));
        std::sort(ports.begin(), ports.end(), ComparePortInfoByName);
        EXPECT_EQ(std::wstring(c.expected), Names(ports)) << "flags " << c.flags;
    }
}
