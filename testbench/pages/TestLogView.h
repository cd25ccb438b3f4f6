// The events list's adapter: the test log newest first, through the row cache of the rows the list
// view is about to show.
#pragma once
#include "LogRowCache.h"
#include "VirtualListViewData.h"

class CTestLogView : public CVirtualListViewData
{
public:
    void Attach(CTestLog* log) { m_cache.Attach(log); }
    CLogRowCache& Cache() { return m_cache; }

    int GetItemCount() override;
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT* hint) override;
    // New lines arrived or the log was cleared: rebuild the cached rows and tell the owner.
    void Refresh();

private:
    CLogRowCache m_cache;
};
