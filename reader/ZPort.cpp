// The port base: reference counting, stored name, line parameters and events, the port exception
// and the factory that picks the port class from a port name.
#include "ZPort.h"
#include "CodePage.h"
#include "ComPort.h"
#include "ResText.h"
#include "TcpPort.h"
#include <cwctype>

namespace {

std::wstring MessageText(HRESULT code)
{
    std::wstring text;
    GetErrorText(text, nullptr, static_cast<DWORD>(code));
    return text;
}

} // namespace

CZPortException::CZPortException(HRESULT code, const wchar_t* text)
    : COSException(static_cast<DWORD>(code), MessageText(code)), m_text(text ? text : L"")
{
}

void ThrowZPortException(HRESULT code, const wchar_t* text)
{
    throw CZPortException(code, text);
}

HRESULT STDMETHODCALLTYPE CZPort::QueryInterface(REFIID riid, void** object)
{
    if (!object)
        return E_POINTER;
    if (IsEqualIID(riid, __uuidof(IUnknown))) {
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CZPort::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_refCount));
}

ULONG STDMETHODCALLTYPE CZPort::Release()
{
    LONG count = InterlockedDecrement(&m_refCount);
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CZPort::Init(const wchar_t* name, HANDLE stopEvent, HANDLE writeDoneEvent,
                                       HANDLE readDoneEvent, HANDLE commEvent)
{
    m_name = name ? name : L"";
    m_stopEvent = stopEvent;
    m_writeDoneEvent = writeDoneEvent;
    m_readDoneEvent = readDoneEvent;
    m_commEvent = commEvent;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZPort::SetParams(DWORD baudRate, BYTE stopBits, BYTE eventChar)
{
    m_baudRate = baudRate;
    m_stopBits = stopBits;
    m_eventChar = eventChar;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CZPort::GetParams(DWORD* baudRate, BYTE* stopBits, BYTE* eventChar)
{
    if (baudRate)
        *baudRate = m_baudRate;
    if (stopBits)
        *stopBits = m_stopBits;
    if (eventChar)
        *eventChar = m_eventChar;
    return S_OK;
}

bool IsSerialPortName(const wchar_t* name)
{
    // "computer1:4001" is a converter's host name, not a serial port.
    if (!name || std::towupper(name[0]) != L'C' || std::towupper(name[1]) != L'O' ||
        std::towupper(name[2]) != L'M' || !name[3])
        return false;
    for (const wchar_t* p = name + 3; *p; ++p)
        if (*p < L'0' || *p > L'9')
            return false;
    return true;
}

CZPort* CreateZPort(const wchar_t* name)
{
    if (IsSerialPortName(name))
        return new CZComPort();
    return new CZTcpPort();
}
