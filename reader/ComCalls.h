// The Win32 calls through which a serial port opens and closes its device, sets up its line and
// starts, finishes and cancels its overlapped operations. Each member calls the system; a test
// derives from the class to record what the port hands over (the DCB, the event mask), to play a
// driver that refuses queue sizes or never ends a read, or to answer as Windows documents where
// Wine answers otherwise, and puts it in place with CCallSeamScope<CComCalls>.
#pragma once
#include "CallSeam.h"
#include <windows.h>

class CComCalls
{
public:
    virtual ~CComCalls() = default;

    virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
    {
        return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
    }
    virtual BOOL CloseHandle(HANDLE device) { return ::CloseHandle(device); }
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
    virtual BOOL WriteFile(HANDLE device, const void* data, DWORD size, DWORD* sent, OVERLAPPED* ov)
    {
        return ::WriteFile(device, data, size, sent, ov);
    }
    virtual BOOL GetOverlappedResult(HANDLE device, OVERLAPPED* ov, DWORD* transferred, BOOL wait)
    {
        return ::GetOverlappedResult(device, ov, transferred, wait);
    }
    virtual BOOL CancelIoEx(HANDLE device, OVERLAPPED* ov) { return ::CancelIoEx(device, ov); }
    virtual BOOL PurgeComm(HANDLE device, DWORD flags) { return ::PurgeComm(device, flags); }
    virtual BOOL ClearCommError(HANDLE device, DWORD* errors, COMSTAT* stat)
    {
        return ::ClearCommError(device, errors, stat);
    }
};

// The comm calls in use.
inline CComCalls& ComCalls()
{
    return CCallSeam<CComCalls>::Get();
}
