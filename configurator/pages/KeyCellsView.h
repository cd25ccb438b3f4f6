// The 32 key cells of a Mifare reader's memory as an owner-data check-box list over a cell mask:
// row n is cell n, "Cell #n", checked when bit n of the mask is set.
#pragma once
#include "VirtualListViewData.h"
#include <cstdint>
#include <string>
#include <vector>

struct KeyCellRow
{
    std::wstring Text;
    uint32_t Cell = 0;
};

class CMfEEKeysView : public CVirtualListViewData
{
public:
    int GetItemCount() override;
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT* hint) override;
    void FillCache();
    const KeyCellRow& GetRow(int index);

    uint32_t Mask = 0;

private:
    std::vector<KeyCellRow> m_cache;
    int64_t m_first = -1;
    int64_t m_count = 0;
    KeyCellRow m_spare;
};
