// The candidate ports of a reader search: which serial ports the machine has and, for each, which
// reader models may answer there. Three sources, chosen by the search flags: the kernel's serial
// port map in the registry, the Setup API's ports class (USB adapters known by their vendor and
// product ids), and the descriptions that FTDI adapters report on the bus.
//
// Identification and ordering are pure (CPortListBuilder and the parse functions below) and work
// on records read from the system; EnumCandidatePorts only reads those records. Keep it that way:
// the tests feed recorded registry values and device records to the pure part.
#pragma once
#include <windows.h>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Search flags (the component's SearchFlags setting).
const uint32_t SEARCH_SERIALCOMM = 0x01;       // the registry's kernel serial ports
const uint32_t SEARCH_SETUPAPI = 0x02;         // the Setup API ports class (USB and FTDI-bus devices)
const uint32_t SEARCH_KNOWN_USB = 0x04;        // with 0x02: only known adapters, with their model masks
const uint32_t SEARCH_BUS_DESCRIPTION = 0x08;  // with 0x02: refine FTDI adapters by bus description
const uint32_t SEARCH_NETWORK = 0x10;          // discover network converters by UDP
const uint32_t SEARCH_FLAGS_DEFAULT = SEARCH_SETUPAPI | SEARCH_KNOWN_USB | SEARCH_BUS_DESCRIPTION;

// A mask of model indexes: bit n = model index n may answer. All bits = any model.
const uint32_t MODEL_MASK_ANY = 0xFFFFFFFF;

// One candidate port.
struct PortInfo
{
    std::wstring name;               // as the port layer opens it, e.g. COM3
    uint32_t modelMask = MODEL_MASK_ANY;
};

// True when a's name is less than b's, by UTF-16 code units from the start, a proper prefix being
// less (so COM10 sorts before COM2).
bool ComparePortInfoByName(const PortInfo& a, const PortInfo& b);

// The USB identity read from a device's instance identifier.
struct UsbDeviceId
{
    uint32_t vendor = 0;
    uint32_t product = 0;
    // What matches a ports-class device with its USB interface: the eight serial characters of an
    // FTDIBUS identifier or of a USB interface identifier; the whole instance identifier of a USB
    // ports-class device (which therefore never matches an interface).
    std::wstring serialKey;
};

// A ports-class device's instance identifier: "USB\VID_%x&PID_%x..." or "FTDIBUS\VID_%x+PID_%x+%8s..."
// (prefixes compared without regard to case). False for any other device.
bool ParsePortDeviceId(const std::wstring& instanceId, UsbDeviceId& id);
// A USB device interface's instance identifier: "<bus>\VID_%x&PID_%x\%8s".
bool ParseUsbInterfaceId(const std::wstring& instanceId, UsbDeviceId& id);
// The model mask of a known USB adapter; 0 for an unknown vendor and product.
uint32_t UsbAdapterModelMask(uint32_t vendor, uint32_t product);
// The model mask of an FTDI adapter by the description it reports on the bus (exact, case as
// written); 0 for an unknown description.
uint32_t BusDescriptionModelMask(const std::wstring& description);
// A value of the SERIALCOMM key: a REG_SZ with data whose name's last "\" is followed by "Serial"
// (any case) names a port. `data` is the value's text up to its first NUL.
bool SerialCommValuePort(const std::wstring& valueName, DWORD type, const std::wstring& data, PortInfo& port);

// The flags the enumeration really uses: 0x04 and 0x08 only with 0x02, 0x08 only from Windows 6.0.
uint32_t EffectiveEnumFlags(uint32_t flags, bool vistaOrLater);

const uint32_t FTDI_VENDOR_ID = 0x0403;

// Collects the candidate ports in the order of the enumeration: registry ports, ports-class ports in
// enumeration order, FTDI ports refined by their bus description, then the FTDI ports still held
// back (ordered by serial key). Feed it the sources in that order; it never touches the system.
class CPortListBuilder
{
public:
    // A ports-class device accepted for the list: its USB identity and the mask it gets.
    struct DeviceMatch
    {
        UsbDeviceId id;
        uint32_t modelMask = MODEL_MASK_ANY;
    };

    explicit CPortListBuilder(uint32_t effectiveFlags) : m_flags(effectiveFlags) {}

    uint32_t Flags() const { return m_flags; }

    void AddSerialCommValue(const std::wstring& valueName, DWORD type, const std::wstring& data);

    // Whether a ports-class device is a candidate (its identifier parses and, with 0x04, is known).
    // Only then is its port name worth reading.
    bool AcceptPortDevice(const std::wstring& instanceId, DeviceMatch& match) const;
    // An accepted device with its port name: listed at once, or held back for its bus description.
    void AddPortDevice(const DeviceMatch& match, const std::wstring& portName);

    // Whether the bus description of a USB interface is wanted: FTDI vendor and a serial key that a
    // held port has. `serialKey` receives the key.
    bool WantsDescription(const std::wstring& interfaceInstanceId, std::wstring& serialKey) const;
    // A held port whose description is in the table is listed with that mask; otherwise it stays held.
    void AddDescription(const std::wstring& serialKey, const std::wstring& description);

    // Appends the collected ports to `out`.
    void Finish(std::vector<PortInfo>& out) const;

private:
    uint32_t m_flags;
    std::vector<PortInfo> m_registry;
    std::vector<PortInfo> m_devices;
    std::vector<PortInfo> m_refined;
    std::multimap<std::wstring, PortInfo> m_held;   // by serial key
};

// Recorded system state, for BuildPortList (and so for tests).
struct SerialCommRecord
{
    std::wstring name;
    DWORD type = REG_SZ;
    std::wstring data;
};

struct PortDeviceRecord
{
    std::wstring instanceId;
    bool hasPortName = true;        // false: the device key or its REG_SZ "PortName" is unreadable
    std::wstring portName;
};

struct UsbInterfaceRecord
{
    std::wstring instanceId;
    std::wstring busDescription;
};

// The whole enumeration over recorded state: `flags` as given to the enumeration (the version rule
// is applied with `vistaOrLater`); `hasDeviceProperty` false stands for a system without
// SetupDiGetDevicePropertyW. Appends to `out`.
void BuildPortList(std::vector<PortInfo>& out, uint32_t flags, bool vistaOrLater, bool hasDeviceProperty,
                   const std::vector<SerialCommRecord>& serialComm, const std::vector<PortDeviceRecord>& devices,
                   const std::vector<UsbInterfaceRecord>& interfaces);

// The enumeration on this machine: appends the candidate ports for `flags`. A failing registry or
// Setup API call (other than opening the SERIALCOMM key) throws COSException with its name; the
// enumeration is then abandoned.
void EnumCandidatePorts(std::vector<PortInfo>& out, uint32_t flags);
