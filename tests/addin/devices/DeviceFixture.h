// The component against simulated readers: the event fixture with the simulator's control channel,
// connection settings short enough for quick failures and retries, and helpers that open, close
// and watch devices through the component's methods. COM ports 40-59 belong to these tests.
#pragma once
#include "EventFixture.h"
#include "RegKey.h"
#include "ScratchRegistry.h"
#include "SimControl.h"
#include "SimReaderScope.h"
#include "WaitUntil.h"
#include <windows.h>
#include <string>
#include <utility>
#include <vector>

namespace devicetest {

using SimReader = simctl::CSimReaderScope;

// A text reader that sends its lines without pacing.
inline simctl::SimReaderConfig Text()
{
    simctl::SimReaderConfig config;
    config.pace = 0;
    return config;
}

inline simctl::SimReaderConfig Bus(const std::vector<int>& addresses)
{
    simctl::SimReaderConfig config;
    config.protocol = "bus";
    config.pace = 0;
    for (int a : addresses) {
        simctl::SimBusAddress address;
        address.address = a;
        config.addresses.push_back(address);
    }
    return config;
}

// The kernel's serial-port map (the search's registry source) in a scratch HKEY_LOCAL_MACHINE,
// naming the given COM numbers, for the lifetime of the object.
class SerialCommMap
{
public:
    explicit SerialCommMap(const std::vector<int>& coms)
    {
        RegKeyHolder key;
        m_ok = m_scratch.Ok() && RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, key.Receive(), nullptr) == ERROR_SUCCESS;
        for (int com : coms) {
            const std::wstring name = L"\\Device\\Serial" + std::to_wstring(com);
            const std::wstring data = L"COM" + std::to_wstring(com);
            m_ok = m_ok && RegSetValueExW(key.Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        }
    }
    bool Ok() const { return m_ok; }

private:
    ScratchRegistry m_scratch{HKEY_LOCAL_MACHINE};
    bool m_ok = false;
};

const long NotOpened = static_cast<long>(0x80040233);
const long PortBusy = static_cast<long>(0x80040212);
const long ReaderNotFound = static_cast<long>(0x80040232);
const long SearchTimeout = static_cast<long>(0x80040230);
const long NoMoreReaders = static_cast<long>(0x80040231);

} // namespace devicetest

class DeviceTest : public EventTest
{
protected:
    void SetUp() override
    {
        EventTest::SetUp();
        SetProp(PropConnectTimeout, slothost::UI4(2000));
        SetProp(PropConnectPeriod, slothost::UI4(500));
        SetProp(PropReqTimeout, slothost::UI4(500));
        SetProp(PropReqTries, slothost::I4(1));
    }

    // Open with the Port property set to `port`: the result and the identifier it returned.
    std::pair<bool, std::wstring> Open(const std::wstring& port)
    {
        SetProp(PropPort, slothost::Str(port.c_str()));
        std::vector<tVariant> out{slothost::Empty()};
        tVariant result = CallOut(MethodOpen, out);
        return {result.bVal, out[0].vt == VTYPE_PWSTR ? slothost::Text(out[0]) : std::wstring()};
    }
    bool Close(const std::wstring& device) { return Call(MethodClose, {slothost::Str(device.c_str())}).bVal; }
    int32_t Status(const std::wstring& device) { return Call(MethodGetStatus, {slothost::Str(device.c_str())}).i32Val; }
    bool WaitStatus(const std::wstring& device, int32_t state, DWORD timeoutMs = 5000)
    {
        return WaitUntil([&] { return Status(device) == state; }, timeoutMs);
    }
    long LastError()
    {
        return object->LastErrorCode();
    }
    // Waits for `count` events of that name from that source.
    bool WaitEvent(const wchar_t* name, const std::wstring& source, size_t count = 1, unsigned timeoutMs = 5000)
    {
        return eventhost::CRecorder::Instance().WaitFor(
            [&](const eventhost::Entry& e) { return eventhost::IsEvent(e, name) && e.Source == source; }, count,
            timeoutMs);
    }
    size_t CountEvents(const wchar_t* name, const std::wstring& source)
    {
        size_t n = 0;
        for (const auto& e : Events())
            n += eventhost::IsEvent(e, name) && e.Source == source ? 1 : 0;
        return n;
    }

    simctl::CSimControl sim;
};
