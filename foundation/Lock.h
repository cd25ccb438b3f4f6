// The one locking idiom of both programs: a critical section entered for one scope.
// CCriticalSection owns the section; CritSecLock enters it where it is made and leaves it on every
// exit from the scope, exceptions included. Sections are re-entrant for the owning thread.
#pragma once
#include <windows.h>

class CCriticalSection
{
public:
    CCriticalSection() { InitializeCriticalSection(&m_cs); }
    ~CCriticalSection() { DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    CRITICAL_SECTION* Get() { return &m_cs; }

private:
    CRITICAL_SECTION m_cs;
};

class CritSecLock
{
public:
    explicit CritSecLock(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    explicit CritSecLock(CCriticalSection& cs) : CritSecLock(cs.Get()) {}
    ~CritSecLock() { LeaveCriticalSection(m_cs); }
    CritSecLock(const CritSecLock&) = delete;
    CritSecLock& operator=(const CritSecLock&) = delete;

private:
    CRITICAL_SECTION* m_cs;
};
