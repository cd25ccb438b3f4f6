// The component's hidden window: the registration of its window class "Parvel" and the window
// itself, each owned by one small holder, and the window procedure. The window exists only in GUI
// hosts; it carries media-sound requests from reader threads to the thread that made it.
//
// Rule: a window can be destroyed only by the thread that created it. The holder therefore first
// detaches the component from the window (its user data), so that a window that outlives a failed
// DestroyWindow never calls into a component that is gone.
#pragma once
#include <windows.h>
#include <string>

// The message that asks the window's thread to play the requested media slot.
const UINT WM_PARVEL_PLAY_MEDIA = WM_USER + 1;
extern const wchar_t* const ParvelWindowClass; // "Parvel"

LRESULT CALLBACK ParvelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// One component's share of the window class "Parvel". A class is registered once per module, and
// several components may live in one process: the first share registers it, the last one released
// unregisters it, so that no component's shutdown takes the class from under another's window.
class CWindowClass
{
public:
    CWindowClass() = default;
    ~CWindowClass() { Reset(); }
    CWindowClass(const CWindowClass&) = delete;
    CWindowClass& operator=(const CWindowClass&) = delete;

    // Takes a share of the class "Parvel" with ParvelWndProc for the module, registering it when
    // no component holds one; false (the thread's last error set) when the system refuses.
    bool Register(HINSTANCE module);
    // Gives the share back (the thread's last error is kept).
    void Reset();
    ATOM Atom() const { return m_atom; }

private:
    ATOM m_atom = 0;
};

// The media-control alias of one component: "media" for the first component alive, "media2",
// "media3" and so on for components alive beside it, so that two components never open, play or
// close each other's media. The number is given back on destruction.
class CMediaAlias
{
public:
    CMediaAlias();
    ~CMediaAlias();
    CMediaAlias(const CMediaAlias&) = delete;
    CMediaAlias& operator=(const CMediaAlias&) = delete;

    const std::wstring& Name() const { return m_name; }

private:
    unsigned m_number = 0;
    std::wstring m_name;
};

// An owned window; detached from its component and destroyed on Reset and destruction.
class CWindowHandle
{
public:
    CWindowHandle() = default;
    ~CWindowHandle() { Reset(); }
    CWindowHandle(const CWindowHandle&) = delete;
    CWindowHandle& operator=(const CWindowHandle&) = delete;

    // Creates the hidden (message-only) window of class "Parvel" with the component as its
    // creation parameter.
    // false (the thread's last error set) when the system refuses.
    bool Create(HINSTANCE module, void* component);
    void Reset();
    HWND Get() const { return m_window; }

private:
    HWND m_window = nullptr;
};
