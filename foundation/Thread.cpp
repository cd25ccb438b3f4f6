// CThread: one Win32 thread running the object's Run.
#include "Thread.h"
#include "Exceptions.h"

namespace {

// A reference to the library whose code runs the thread; none for the program itself, which
// outlives its threads anyway.
HMODULE ReferenceOwnLibrary(const void* code)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(code), &module))
        return nullptr;
    if (module == GetModuleHandleW(nullptr)) {
        FreeLibrary(module);
        return nullptr;
    }
    return module;
}

} // namespace

CThread::~CThread()
{
    StopThread();
}

void CThread::Start()
{
    if (m_thread.Valid())
        return;
    m_fate = FATE_RUNNING;
    m_module = ReferenceOwnLibrary(reinterpret_cast<const void*>(&CThread::ThreadProc));
    const DWORD flags = CREATE_SUSPENDED | (m_stackReservation ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0);
    HANDLE h = CreateThread(nullptr, m_stackReservation, &CThread::ThreadProc, this, flags, nullptr);
    if (!h) {
        const DWORD error = GetLastError();
        if (m_module)
            FreeLibrary(m_module);
        m_module = nullptr;
        ThrowOSException(error, L"CreateThread");
    }
    m_thread.Reset(h);
    // Set before the thread runs its first instruction, so Run always starts with the flag on.
    SetRunning(true);
    ResumeThread(h);
}

bool CThread::OnOwnThread() const
{
    return m_thread.Valid() && GetThreadId(m_thread.Get()) == GetCurrentThreadId();
}

void CThread::StopThread()
{
    StopThread(INFINITE);
}

bool CThread::StopThread(DWORD timeoutMs)
{
    SetRunning(false);
    if (!m_thread.Valid())
        return true;
    // Once Run has returned the thread no longer touches the object: what is left of it (its exit,
    // which the system may hold while it ends the thread's I/O) is no reason to wait.
    if (!OnOwnThread() && m_fate.load() != FATE_ENDED &&
        WaitForSingleObject(m_thread.Get(), timeoutMs) == WAIT_TIMEOUT)
        return false;
    m_thread.Reset();
    return true;
}

void CThread::Abandon()
{
    if (m_fate.exchange(FATE_ABANDONED) == FATE_ENDED) {
        m_fate = FATE_ENDED;
        delete this;
    }
}

DWORD WINAPI CThread::ThreadProc(void* param)
{
    CThread* self = static_cast<CThread*>(param);
    const HMODULE module = self->m_module;
    const DWORD result = self->Run();
    if (self->m_fate.exchange(FATE_ENDED) == FATE_ABANDONED)
        delete self;
    // The library may have been freed by its host meanwhile: this reference is what keeps the
    // code that runs here mapped, so it is let go of by a call that does not return into it.
    if (module)
        FreeLibraryAndExitThread(module, result);
    return result;
}
