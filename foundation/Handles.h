// Owners of Win32 handles. A handle type knows its failure value: CreateFile fails with
// INVALID_HANDLE_VALUE, events, threads and most others with NULL, so there are two holders and
// never one that guesses. Both close on destruction and on Reset; moving transfers ownership.
#pragma once
#include <windows.h>
#include <utility>

template <HANDLE (*Invalid)()>
class CHandleHolder
{
public:
    CHandleHolder() = default;
    explicit CHandleHolder(HANDLE h) : m_h(h) {}
    ~CHandleHolder() { Reset(); }
    CHandleHolder(const CHandleHolder&) = delete;
    CHandleHolder& operator=(const CHandleHolder&) = delete;
    CHandleHolder(CHandleHolder&& o) noexcept : m_h(std::exchange(o.m_h, Invalid())) {}
    CHandleHolder& operator=(CHandleHolder&& o) noexcept
    {
        if (this != &o)
            Reset(std::exchange(o.m_h, Invalid()));
        return *this;
    }

    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != Invalid(); }
    explicit operator bool() const { return Valid(); }
    void Reset(HANDLE h = Invalid())
    {
        if (m_h != Invalid())
            CloseHandle(m_h);
        m_h = h;
    }
    HANDLE Release() { return std::exchange(m_h, Invalid()); }

private:
    HANDLE m_h = Invalid();
};

inline HANDLE NullHandleValue() { return nullptr; }
inline HANDLE InvalidHandleValue() { return INVALID_HANDLE_VALUE; }

using CHandle = CHandleHolder<NullHandleValue>;          // events, threads, mutexes, mappings
using CFileHandle = CHandleHolder<InvalidHandleValue>;   // CreateFile results

// A block from LocalAlloc (FormatMessage's ALLOCATE_BUFFER) freed with LocalFree.
class CLocalMem
{
public:
    CLocalMem() = default;
    ~CLocalMem() { if (m_p) LocalFree(m_p); }
    CLocalMem(const CLocalMem&) = delete;
    CLocalMem& operator=(const CLocalMem&) = delete;
    void* Get() const { return m_p; }
    // For APIs that return the block through a pointer to a pointer.
    void** Receive() { return &m_p; }

private:
    void* m_p = nullptr;
};
