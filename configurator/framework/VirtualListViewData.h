// The data side of an owner-data list view (LVS_OWNERDATA). Every list adapter of the program
// derives from CVirtualListViewData; after each rebuild of its rows it calls FireEvent, through
// which the owning page sets the list's item count and repaints.
//
// The rule a reader must not break: an owner cuts the context (SetOwner(nullptr, ...)) when its
// window is destroyed, so that a late rebuild calls nobody.
#pragma once
#include "Thread.h" // CObject
#include <windows.h>
#include <commctrl.h>

class IVirtualListViewData
{
public:
    virtual int GetItemCount() = 0;
    // Fills text, image and state of the requested cell.
    virtual void GetDispInfo(NMLVDISPINFOW* info) = 0;
    // Lets the adapter prepare rows from..to.
    virtual void CacheHint(NMLVCACHEHINT* hint) = 0;

protected:
    ~IVirtualListViewData() = default;
};

class CVirtualListViewData : public CObject, public IVirtualListViewData
{
public:
    using ChangeCallback = void (*)(void* context, CVirtualListViewData* adapter);

    void SetOwner(void* context, ChangeCallback callback)
    {
        m_context = context;
        m_callback = callback;
    }
    void* GetOwnerContext() const { return m_context; }
    // The change callback of an owner whose list needs only the new count and a repaint: its
    // context is the list window itself.
    static void ShowCountIn(void* list, CVirtualListViewData* adapter);

    // Tells the owner that the rows were rebuilt. A failing callback is dropped: the list keeps
    // its previous count.
    void FireEvent();

    // Routes the owner-data notifications of a list view to the adapter; true when `hdr` was one
    // of them (LVN_GETDISPINFOW, LVN_ODCACHEHINT).
    bool HandleNotify(NMHDR* hdr);

private:
    void* m_context = nullptr;
    ChangeCallback m_callback = nullptr;
};
