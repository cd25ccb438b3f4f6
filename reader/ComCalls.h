// The Win32 calls through which a serial port opens its device, sets up its line and starts and
// cancels its overlapped operations. Each member calls the system; a test derives from the class
// to record what the port hands over (the DCB, the event mask) or to play a driver that takes its
// time to open, refuses queue sizes or never ends a read, and puts it in place with
// CCallSeamScope<CComCalls>.
#pragma once
#include "CallSeam.h"
#include <windows.h>

class CComCalls
{
public:
    virtual ~CComCalls() = default;

    virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                               DWORD disposition, DWORD flags, HANDLE templateFile)
    {
        return ::CreateFileW(path, access, share, security, disposition, flags, templateFile);
    }
    virtual BOOL GetCommState(HANDLE device, DCB* dcb) { return ::GetCommState(device, dcb); }
    virtual BOOL SetCommState(HANDLE device, DCB* dcb) { return ::SetCommState(device, dcb); }
    virtual BOOL SetupComm(HANDLE device, DWORD inQueue, DWORD outQueue)
    {
        return ::SetupComm(device, inQueue, outQueue);
    }
    virtual BOOL SetCommTimeouts(HANDLE device, COMMTIMEOUTS* timeouts) { return ::SetCommTimeouts(device, timeouts); }
    virtual BOOL SetCommMask(HANDLE device, DWORD mask) { return ::SetCommMask(device, mask); }
    virtual BOOL WaitCommEvent(HANDLE device, DWORD* mask, OVERLAPPED* ov) { return ::WaitCommEvent(device, mask, ov); }
    virtual BOOL ReadFile(HANDLE device, void* buffer, DWORD size, DWORD* got, OVERLAPPED* ov)
    {
        return ::ReadFile(device, buffer, size, got, ov);
    }
    virtual BOOL CancelIoEx(HANDLE device, OVERLAPPED* ov) { return ::CancelIoEx(device, ov); }
};

// The comm calls in use.
inline CComCalls& ComCalls()
{
    return CCallSeam<CComCalls>::Get();
}
