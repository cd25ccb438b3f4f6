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
    HANDLE h = CreateThread(nullptr, 0, &CThread::ThreadProc, this, CREATE_SUSPENDED, nullptr);
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
