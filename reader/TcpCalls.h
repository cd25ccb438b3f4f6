// The Winsock call with which the TCP port learns its socket's network events. It calls the
// system; a test derives from the class to play what Windows documents and Wine does not do (FD_CLOSE
// recorded as soon as the converter's close arrives, with its last bytes still unread, where Wine
// reports it only once they have been read), and puts it in place with CCallSeamScope<CTcpCalls>.
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
};

// The TCP port's calls in use.
inline CTcpCalls& TcpCalls()
{
    return CCallSeam<CTcpCalls>::Get();
}
