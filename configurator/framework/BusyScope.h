// A long call on a window's own thread made visible: while the scope lives the wait cursor shows
// and the window's title says what runs. Both are in place and painted when the constructor
// returns, before the call starts: the message loop does not run during the call, so nothing
// would paint them later. The destructor gives back the title and the cursor.
#pragma once
#include <windows.h>
#include <string>

class CBusyScope
{
public:
    // The title becomes the window's own title, " - " and `what`.
    CBusyScope(HWND window, const std::wstring& what);
    ~CBusyScope();
    CBusyScope(const CBusyScope&) = delete;
    CBusyScope& operator=(const CBusyScope&) = delete;

private:
    HWND m_window;
    std::wstring m_title;
    HCURSOR m_cursor;
};
