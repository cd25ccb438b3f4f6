// CThread: one Win32 thread running the object's Run.
#include "Thread.h"
#include "Exceptions.h"

CThread::~CThread()
{
    StopThread();
}

void CThread::Start()
{
    if (m_thread.Valid())
        return;
    const DWORD flags = CREATE_SUSPENDED | (m_stackReservation ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0);
    HANDLE h = CreateThread(nullptr, m_stackReservation, &CThread::ThreadProc, this, flags, nullptr);
    if (!h)
        ThrowOSException(GetLastError(), L"CreateThread");
    m_thread.Reset(h);
    // Set before the thread runs its first instruction, so Run always starts with the flag on.
    SetRunning(true);
    ResumeThread(h);
}

void CThread::StopThread()
{
    SetRunning(false);
    if (!m_thread.Valid())
        return;
    WaitForSingleObject(m_thread.Get(), INFINITE);
    m_thread.Reset();
}

DWORD WINAPI CThread::ThreadProc(void* param)
{
    return static_cast<CThread*>(param)->Run();
}
