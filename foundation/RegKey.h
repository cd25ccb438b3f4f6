// Scoped holder of an open registry key: RegCloseKey on destruction when not null.
#pragma once
#include <windows.h>
#include <utility>

class RegKeyHolder
{
public:
    RegKeyHolder() = default;
    explicit RegKeyHolder(HKEY key) : m_key(key) {}
    ~RegKeyHolder() { Reset(); }
    RegKeyHolder(const RegKeyHolder&) = delete;
    RegKeyHolder& operator=(const RegKeyHolder&) = delete;
    RegKeyHolder(RegKeyHolder&& o) noexcept : m_key(std::exchange(o.m_key, nullptr)) {}
    RegKeyHolder& operator=(RegKeyHolder&& o) noexcept
    {
        if (this != &o)
            Reset(std::exchange(o.m_key, nullptr));
        return *this;
    }

    HKEY Get() const { return m_key; }
    // For RegOpenKeyEx and friends: closes the key held so far and hands out the slot.
    HKEY* Receive() { Reset(); return &m_key; }
    void Reset(HKEY key = nullptr)
    {
        if (m_key)
            RegCloseKey(m_key);
        m_key = key;
    }

private:
    HKEY m_key = nullptr;
};
