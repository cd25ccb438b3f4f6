// Raises a page's loading counter while the page writes its own controls, so that the
// notifications this causes are not taken as user edits.
#pragma once

class CLoadingScope
{
public:
    explicit CLoadingScope(int& counter) : m_counter(counter) { ++m_counter; }
    ~CLoadingScope() { --m_counter; }
    CLoadingScope(const CLoadingScope&) = delete;
    CLoadingScope& operator=(const CLoadingScope&) = delete;

private:
    int& m_counter;
};
