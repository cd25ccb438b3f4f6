// The Winsock calls with which the search sets up its discovery socket and receives the converters'
// replies. Each member calls the system; a test derives from the class to see the options the
// socket is given or to play a network that reports an unreachable port on a receive, and puts it
// in place with CCallSeamScope<CDiscoveryCalls>.
#pragma once
#include "CallSeam.h"
#include <winsock2.h>

class CDiscoveryCalls
{
public:
    virtual ~CDiscoveryCalls() = default;

    virtual int Ioctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
    {
        return WSAIoctl(s, code, in, inSize, out, outSize, returned, nullptr, nullptr);
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
