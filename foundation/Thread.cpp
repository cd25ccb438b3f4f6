// CThread: one Win32 thread running the object's Run.
#include "Thread.h"
#include "Exceptions.h"

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

namespace {

// How long the end of a thread whose Run has returned is waited for at most, and the pause between
// looks while a thread is waited for.
const DWORD ExitWaitMs = 1000;
const DWORD ExitPollMs = 5;

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
    if (!OnOwnThread() && !WaitForEnd(timeoutMs))
        return false;
    m_thread.Reset();
    return true;
}

bool CThread::WaitForEnd(DWORD timeoutMs)
{
    // The thread is waited for to its very end, so that its reference to the library is gone when
    // the owner returns. Once Run has returned, though, the thread no longer touches the object,
    // and the rest (its exit, which the system may hold while a driver ends the thread's I/O) is
    // waited for only a while.
    const DWORD start = GetTickCount();
    DWORD endedAt = 0;
    bool ended = false;
    for (DWORD slice = 0;; slice = ExitPollMs) {
        if (WaitForSingleObject(m_thread.Get(), slice) != WAIT_TIMEOUT)
            return true;
        const DWORD now = GetTickCount();
        if (m_fate.load() == FATE_ENDED) {
            if (!ended) {
                ended = true;
                endedAt = now;
            } else if (now - endedAt >= ExitWaitMs || (timeoutMs != INFINITE && now - start >= timeoutMs)) {
                return true;
            }
        } else if (timeoutMs != INFINITE && now - start >= timeoutMs) {
            return false;
        }
    }
}

void CThread::Abandon()
{
    if (m_fate.exchange(FATE_ABANDONED) == FATE_ENDED) {
        // Run returned just now: the thread no longer touches the object. What is left of its
        // exit may be held by the system for a while (a driver ending the thread's I/O), and the
        // thread keeps its own reference to the library for that.
        m_fate = FATE_ENDED;
        m_thread.Reset();
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
