// The port interface through which every byte between the add-in and a reader passes, whether the
// reader sits on a serial COM port or behind a TCP network converter.
//
// Rules for owners: create a port (CreateZPort), AddRef, Init with the name and the owner's
// manual-reset events, set the wait slice, SetParams, then Open unless IsOpen. Drive it from one
// thread only: Read/Write/Purge and, whenever the matching event fires in the owner's wait loop,
// OnWriteComplete/OnReadComplete/OnCommEvent. The events stay the owner's: the port never closes
// them, and they must outlive the port's use of them. Release ends the owner's use.
// Operations return HRESULTs; a wait that the owner's stop event interrupts returns E_ABORT.
#pragma once
#include <windows.h>
#include <unknwn.h>
#include <exception>
#include <string>

#include "ConverterWay.h"
#include "Exceptions.h"
#include "Messages.h"

// Received bytes travel in std::string: 8-bit bytes, any value, no terminator meaning.
using ZByteString = std::string;

// The slot order is part of the interface: owners call through it without knowing the class.
class IZPort : public IUnknown
{
public:
    // QueryInterface, AddRef, Release come from IUnknown (slots 0-2).
    virtual HRESULT STDMETHODCALLTYPE Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                           HANDLE readDoneEvent, HANDLE commEvent) = 0;
    virtual const wchar_t* STDMETHODCALLTYPE GetName() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetParams(DWORD baudRate, BYTE stopBits, BYTE eventChar) = 0;
    // Null pointers are skipped.
    virtual HRESULT STDMETHODCALLTYPE GetParams(DWORD* baudRate, BYTE* stopBits, BYTE* eventChar) = 0;
    // Opens the device or connection, waiting for it at most `timeoutMs`: 0 does not wait (the open
    // goes on in the background with ZPORT_CONNECTING set, and OnCommEvent finishes it once the comm
    // event has fired), INFINITE waits as long as it takes.
    virtual HRESULT STDMETHODCALLTYPE Open(DWORD timeoutMs) = 0;
    // Closing a closed port succeeds.
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;
    // Non-zero while open.
    virtual BOOL STDMETHODCALLTYPE IsOpen() = 0;
    // The pending-operation flags (ZPORT_*).
    virtual DWORD STDMETHODCALLTYPE GetState() = 0;
    // Received bytes ready to be read.
    virtual HRESULT STDMETHODCALLTYPE GetInQueue(DWORD* count) = 0;
    // Appends received bytes to `buffer` until `count` more have arrived or `timeoutMs` has passed
    // (S_OK either way: the caller sees what arrived). A time-out of 0 makes one pass. Bytes taken
    // from the line beyond `count` are kept for the next Read and counted by GetInQueue; the port
    // then sets the read-done event, since no other event may be on its way for them.
    virtual HRESULT STDMETHODCALLTYPE Read(ZByteString& buffer, DWORD count, DWORD timeoutMs) = 0;
    // Sends `length` bytes. A time-out of 0 does not wait for the send to finish.
    virtual HRESULT STDMETHODCALLTYPE Write(const void* data, DWORD length, DWORD timeoutMs) = 0;
    // Discards pending and buffered data of the chosen sides.
    virtual HRESULT STDMETHODCALLTYPE Purge(BOOL receiveSide, BOOL sendSide) = 0;
    virtual HRESULT STDMETHODCALLTYPE OnReadComplete() = 0;
    virtual HRESULT STDMETHODCALLTYPE OnWriteComplete() = 0;
    // Serial: a line event; TCP: the socket's network events.
    virtual HRESULT STDMETHODCALLTYPE OnCommEvent() = 0;
    virtual ~IZPort() = default;
};

// Pending-operation flags returned by GetState; all clear after Open and Close.
enum : DWORD
{
    ZPORT_CONNECTING = 0x01,    // a connect (TCP) or an open (serial) started without waiting is in progress
    ZPORT_WRITE_PENDING = 0x02, // serial: overlapped write in flight; TCP: send would block (waits for FD_WRITE)
    ZPORT_READ_PENDING = 0x04,  // serial: overlapped read in flight; TCP: no data (waits for FD_READ)
};

// A failed port or reader operation: the HRESULT, the code's message-table text as its message
// (Message(); what() has it in the ANSI code page), and the optional wide text given at the throw
// (for example the port name).
class CZPortException : public COSException
{
public:
    explicit CZPortException(HRESULT code, const wchar_t* text = nullptr);
    CZPortException(const CZPortException& other) = default;
    CZPortException& operator=(const CZPortException& other) = default;

    HRESULT Code() const { return static_cast<HRESULT>(m_code); }
    const std::wstring& Text() const { return m_text; }

private:
    std::wstring m_text;
};

[[noreturn]] void ThrowZPortException(HRESULT code, const wchar_t* text = nullptr);

// Base of both port classes: reference count, name, line parameters, the owner's events and the
// pending flags. Answers the completion operations that a class does not need with S_OK.
class CZPort : public IZPort
{
public:
    CZPort() = default;
    ~CZPort() override = default;
    CZPort(const CZPort&) = delete;
    CZPort& operator=(const CZPort&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                   HANDLE readDoneEvent, HANDLE commEvent) override;
    const wchar_t* STDMETHODCALLTYPE GetName() override { return m_name.c_str(); }
    HRESULT STDMETHODCALLTYPE SetParams(DWORD baudRate, BYTE stopBits, BYTE eventChar) override;
    HRESULT STDMETHODCALLTYPE GetParams(DWORD* baudRate, BYTE* stopBits, BYTE* eventChar) override;
    DWORD STDMETHODCALLTYPE GetState() override { return m_pending; }
    HRESULT STDMETHODCALLTYPE OnReadComplete() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnWriteComplete() override { return S_OK; }

    // The longest single wait inside Read, in ms (0xFFFFFFFF = no limit). Written by the owner
    // after creating or reusing a port.
    DWORD waitSlice = 0xFFFFFFFF;
    void SetWaitSlice(DWORD ms) { waitSlice = ms; }

    // The Win32 error with which the last Open's driver refused the recommended queue sizes (0:
    // none). The sizes are only a recommendation, so such a port is open all the same; the owner
    // logs it.
    DWORD QueueSizeError() const { return m_queueSizeError; }

    // How the line passes 0xFF (None: not a network converter); `shownBy`, when given, gets the
    // converter's bytes that showed it, and `byFrameCheck` whether they are a frame whose check
    // showed it.
    virtual ConverterWay GetConverterWay(std::string* shownBy = nullptr, bool* byFrameCheck = nullptr) const
    {
        if (shownBy)
            shownBy->clear();
        if (byFrameCheck)
            *byFrameCheck = false;
        return ConverterWay::None;
    }
    // The frames of the protocol the owner now speaks, whose check may show a converter's way
    // (null: none). The check must outlive the port's use of it. A serial line needs none.
    virtual void SetFrameCheck(const ConverterFrameCheck* check) { (void)check; }

protected:
    volatile LONG m_refCount = 0;
    std::wstring m_name;
    DWORD m_baudRate = 0;   // 0: Open keeps the device's current speed
    BYTE m_stopBits = 0;    // DCB code: 0 one, 1 one and a half, 2 two
    HANDLE m_stopEvent = nullptr;       // may be null
    HANDLE m_writeDoneEvent = nullptr;
    HANDLE m_readDoneEvent = nullptr;
    HANDLE m_commEvent = nullptr;
    BYTE m_eventChar = 0;   // 0: none
    DWORD m_pending = 0;    // ZPORT_* flags
    DWORD m_queueSizeError = 0;
};

// True when `name` names a serial port: "COM" in any letter case followed by digits only (COM3,
// com12). Every other name is a converter's "host:port". The one rule for every place that tells
// the two apart.
bool IsSerialPortName(const wchar_t* name);

// A new port object for `name` (CZComPort for a serial name, CZTcpPort otherwise) with a reference
// count of 0: the caller takes the first reference with AddRef. Throws std::bad_alloc only.
CZPort* CreateZPort(const wchar_t* name);

// Milliseconds from `start` to `now` across a wrap of the tick count.
inline DWORD TicksSince(DWORD start, DWORD now) { return now - start; }

// The wait for the next slice of a `timeoutMs` operation started at `start` (INFINITE stays
// INFINITE); 0 when it is over.
inline DWORD RemainingWait(DWORD start, DWORD timeoutMs, DWORD slice = INFINITE)
{
    DWORD remaining = INFINITE;
    if (timeoutMs != INFINITE) {
        DWORD elapsed = TicksSince(start, GetTickCount());
        remaining = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
    }
    return remaining < slice ? remaining : slice;
}
