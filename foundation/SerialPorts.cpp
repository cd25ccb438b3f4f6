// The serial ports registered under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM.
#include "SerialPorts.h"
#include "Exceptions.h"
#include "RegKey.h"
#include <cwctype>
#include <windows.h>

void EnumSerialPorts(std::vector<std::wstring>& ports)
{
    RegKeyHolder key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, key.Receive())
        != ERROR_SUCCESS)
        return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLen = 256;
        // Room for 256 characters and a terminator the value may lack, and one slot more for the
        // terminator written below: a value of exactly 512 bytes is read whole and still ends.
        wchar_t data[258] = {};
        DWORD dataSize = 514;
        DWORD type = 0;
        LONG rc = RegEnumValueW(key.Get(), index, name, &nameLen, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &dataSize);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        // A value too long for a port name is not a port; it must not end the whole list.
        if (rc == ERROR_MORE_DATA)
            continue;
        if (rc != ERROR_SUCCESS)
            ThrowOSException(rc, L"RegEnumValue");
        if (type != REG_SZ || dataSize == 0)
            continue;
        data[dataSize / sizeof(wchar_t)] = L'\0';
        std::wstring port(data);
        if (port.empty())
            continue;
        for (wchar_t& c : port)
            c = static_cast<wchar_t>(std::towupper(c));
        ports.push_back(port);
    }
}
