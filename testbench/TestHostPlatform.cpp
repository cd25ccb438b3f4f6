// The platform-side operations that are not queues: the connection object's no-op operations, the
// extra interfaces, the memory manager, message boxes and platform information. Each may be called
// on any add-in thread and lets no exception out.
#include "TestHost.h"
#include <cstdlib>
#include <cstring>

bool CTestParvel::Read(WCHAR_T*, tVariant*, long*, WCHAR_T**)
{
    return false;
}

bool CTestParvel::Write(WCHAR_T*, tVariant*)
{
    return false;
}

bool CTestParvel::RegisterProfileAs(WCHAR_T*)
{
    return false;
}

bool CTestParvel::SetStatusLine(WCHAR_T*)
{
    return true;
}

void CTestParvel::ResetStatusLine()
{
}

IInterface* CTestParvel::GetInterface(InterfaceNumber number)
{
    switch (number) {
    // Laid out as the platform hands them out, so that an add-in built for the platform finds
    // the slots where it looks for them.
    case InterfaceMsgBox:
        return PlatformInterface(static_cast<IMsgBox*>(this));
    case InterfacePlatformInfo:
        return PlatformInterface(static_cast<IPlatformInfo*>(this));
    default:
        return nullptr;
    }
}

bool CTestParvel::AllocMemory(void** memory, unsigned long bytes)
{
    if (!memory)
        return false;
    // A zero-byte request still gets a block of its own, so success never looks like null.
    void* block = std::malloc(bytes ? bytes : 1);
    if (!block)
        return false;
    *memory = block;
    return true;
}

void CTestParvel::FreeMemory(void** memory)
{
    if (!memory || !*memory)
        return;
    std::free(*memory);
    *memory = nullptr;
}

bool CTestParvel::Confirm(const WCHAR_T* question, tVariant* answer)
{
    if (!question || !answer)
        return false;
    try {
        const int pressed = m_messageBox(question, MB_OKCANCEL | MB_ICONQUESTION, nullptr);
        std::memset(answer, 0, sizeof(*answer));
        answer->vt = VTYPE_BOOL;
        answer->bVal = pressed == IDOK;
        return true;
    } catch (...) {
        return false;
    }
}

bool CTestParvel::Alert(const WCHAR_T* text)
{
    if (!text)
        return false;
    try {
        m_messageBox(text, MB_ICONINFORMATION, nullptr);
        return true;
    } catch (...) {
        return false;
    }
}

const AppInfo* CTestParvel::GetPlatformInfo()
{
    return &m_platformInfo;
}
