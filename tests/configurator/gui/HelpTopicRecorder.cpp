// The recording namespace handler (see HelpTopicRecorder.h). Its protocol object declines every
// URL after noting it (INET_E_USE_DEFAULT_PROTOCOLHANDLER), so the system's handler serves it.
#include "HelpTopicRecorder.h"
#include <urlmon.h>

namespace {

const wchar_t* const kSchemes[] = {L"mk", L"its", L"ms-its"};
// The namespace handler's class: a number of this test program's own.
const CLSID kRecorderClass = {0x1b9d4f2e, 0x3c11, 0x4c7a, {0x9a, 0x11, 0x52, 0x6e, 0x0d, 0x44, 0x7b, 0x31}};

// "mk:@MSITStore:C:\help\Parvel_ENU.chm::/page-main.htm" -> the file and "/page-main.htm".
VisitedTopic Split(const std::wstring& url)
{
    VisitedTopic visited;
    std::wstring rest = url;
    for (const wchar_t* prefix : {L"mk:@MSITStore:", L"ms-its:", L"its:"}) {
        const size_t length = wcslen(prefix);
        if (rest.size() >= length && _wcsnicmp(rest.c_str(), prefix, length) == 0) {
            rest = rest.substr(length);
            break;
        }
    }
    const size_t separator = rest.find(L"::");
    visited.file = rest.substr(0, separator);
    if (separator != std::wstring::npos)
        visited.topic = rest.substr(separator + 2);
    return visited;
}

class CNotingProtocol final : public IInternetProtocol
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IInternetProtocolRoot || riid == IID_IInternetProtocol) {
            *out = static_cast<IInternetProtocol*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&m_references);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP Start(LPCWSTR url, IInternetProtocolSink*, IInternetBindInfo*, DWORD, HANDLE_PTR) override
    {
        CHelpTopicRecorder::Visited().push_back(Split(url ? url : L""));
        return INET_E_USE_DEFAULT_PROTOCOLHANDLER;
    }
    STDMETHODIMP Continue(PROTOCOLDATA*) override { return S_OK; }
    STDMETHODIMP Abort(HRESULT, DWORD) override { return S_OK; }
    STDMETHODIMP Terminate(DWORD) override { return S_OK; }
    STDMETHODIMP Suspend() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP Read(void*, ULONG, ULONG* read) override
    {
        if (read)
            *read = 0;
        return S_FALSE;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP LockRequest(DWORD) override { return S_OK; }
    STDMETHODIMP UnlockRequest() override { return S_OK; }

private:
    ~CNotingProtocol() = default;
    LONG m_references = 1;
};

// One factory for the program's life: the session keeps a reference for as long as it is registered.
class CNotingFactory : public IClassFactory
{
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CNotingProtocol* protocol = new CNotingProtocol;
        const HRESULT result = protocol->QueryInterface(riid, out);
        protocol->Release();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CNotingFactory g_factory;

} // namespace

std::vector<VisitedTopic>& CHelpTopicRecorder::Visited()
{
    static std::vector<VisitedTopic> visited;
    return visited;
}

CHelpTopicRecorder::CHelpTopicRecorder()
{
    IInternetSession* session = nullptr;
    if (FAILED(CoInternetGetSession(0, &session, 0)) || !session)
        return;
    m_registered = true;
    for (const wchar_t* scheme : kSchemes)
        m_registered = SUCCEEDED(session->RegisterNameSpace(&g_factory, kRecorderClass, scheme, 0, nullptr, 0)) &&
                       m_registered;
    session->Release();
}

CHelpTopicRecorder::~CHelpTopicRecorder()
{
    IInternetSession* session = nullptr;
    if (FAILED(CoInternetGetSession(0, &session, 0)) || !session)
        return;
    for (const wchar_t* scheme : kSchemes)
        session->UnregisterNameSpace(&g_factory, scheme);
    session->Release();
}
