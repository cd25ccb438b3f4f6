// The Winsock calls through which the TCP port learns its socket's network events and sets up how
// a dead connection is found. Each member calls the system; a test derives from the class to play
// what Windows documents and Wine does not do (FD_CLOSE recorded as soon as the converter's close
// arrives, with its last bytes still unread, where Wine reports it only once they have been read;
// a connection that the system has given up on), to see the options a connection is given, and
// puts it in place with CCallSeamScope<CTcpCalls>.
#pragma once
#include "CallSeam.h"
#include <winsock2.h>

class CTcpCalls
{
public:
    virtual ~CTcpCalls() = default;

    virtual int EnumNetworkEvents(SOCKET s, HANDLE event, WSANETWORKEVENTS* events)
    {
        return WSAEnumNetworkEvents(s, event, events);
    }
    virtual int Ioctl(SOCKET s, DWORD code, void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned)
    {
        return WSAIoctl(s, code, in, inSize, out, outSize, returned, nullptr, nullptr);
    }
    virtual int SetOption(SOCKET s, int level, int name, const char* value, int length)
    {
        return setsockopt(s, level, name, value, length);
    }
};

// The TCP port's calls in use.
inline CTcpCalls& TcpCalls()
{
    return CCallSeam<CTcpCalls>::Get();
}
