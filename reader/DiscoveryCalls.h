// The Winsock calls with which the search finds its host's addresses, sets up its discovery socket,
// sends the request and receives the converters' replies. Each member calls the system; a test
// derives from the class to see the options the socket is given, to play a network that reports
// an unreachable port on a receive or a host whose name cannot be had, or to keep a broadcast from
// leaving the machine, and puts it in place with CCallSeamScope<CDiscoveryCalls>.
#pragma once
#include "CallSeam.h"
#include "CodePage.h"
#include <winsock2.h>
#include <string>

class CDiscoveryCalls
{
public:
    virtual ~CDiscoveryCalls() = default;

    virtual int Ioctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
    {
        return WSAIoctl(s, code, in, inSize, out, outSize, returned, nullptr, nullptr);
    }
    // The host's name: 0, or the Winsock error. GetHostNameW where the system has it (a name in
    // any script survives), else gethostname.
    virtual int HostName(std::wstring& name)
    {
        using HostNameW = int(WSAAPI*)(PWSTR, int);
        static const HostNameW wide =
            reinterpret_cast<HostNameW>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ws2_32.dll"), "GetHostNameW")));
        if (wide) {
            wchar_t buffer[256] = {};
            if (wide(buffer, 256) != 0)
                return WSAGetLastError();
            name = buffer;
            return 0;
        }
        return AnsiHostName(name);
    }
    // The host's name as gethostname gives it (`get` stands in for it in tests): in the ANSI code
    // page, so a name in Cyrillic letters is converted with that code page, not byte by byte. 0, or
    // the Winsock error.
    static int AnsiHostName(std::wstring& name, int(WSAAPI* get)(char*, int) = &gethostname)
    {
        char narrow[256] = {};
        if (get(narrow, sizeof(narrow) - 1) != 0)
            return WSAGetLastError();
        AnsiToWide(name, narrow, -1);
        return 0;
    }
    virtual int SendTo(SOCKET s, WSABUF* buffers, DWORD count, DWORD* sent, const sockaddr* to, int toLength)
    {
        return WSASendTo(s, buffers, count, sent, 0, to, toLength, nullptr, nullptr);
    }
    virtual int RecvFrom(SOCKET s, WSABUF* buffers, DWORD count, DWORD* got, DWORD* flags, sockaddr* from,
                         int* fromLength)
    {
        return WSARecvFrom(s, buffers, count, got, flags, from, fromLength, nullptr, nullptr);
    }
};

// The discovery socket's calls in use.
inline CDiscoveryCalls& DiscoveryCalls()
{
    return CCallSeam<CDiscoveryCalls>::Get();
}
