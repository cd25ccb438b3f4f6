// The library list's filter, sort and delete rules (see FormatListLogic.h).
#include "FormatListLogic.h"
#include "KeyTypeTexts.h"
#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

// Ordinal comparison by UTF-16 code units; a prefix sorts first.
int CompareText(const std::wstring& a, const std::wstring& b)
{
    return a.compare(b);
}

template <class T>
int CompareNumber(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareBy(int32_t column, const KeyFormatItem& a, const KeyFormatItem& b)
{
    switch (column) {
    case 2: return CompareText(a.Name, b.Name);
    case 3: return CompareText(a.Template, b.Template);
    case 4: return CompareText(a.Params, b.Params);
    case 5: return CompareNumber(a.KeyTypes, b.KeyTypes);
    case 6: return CompareNumber(a.KeySize, b.KeySize);
    case 7: return CompareText(a.Comment, b.Comment);
    default: return 0;
    }
}

} // namespace

void BuildFormatIndex(const std::vector<KeyFormatItem>& library, uint32_t filterMask, bool onlyEnabled,
                      int32_t sortColumn, std::vector<int64_t>& index)
{
    index.clear();
    const bool everyType = filterMask == 0 || (filterMask & ALL_KEY_TYPES) == ALL_KEY_TYPES;
    for (size_t i = 0; i < library.size(); ++i) {
        const KeyFormatItem& item = library[i];
        if (!everyType && (item.KeyTypes & filterMask) == 0)
            continue;
        if (onlyEnabled && !item.Enabled)
            continue;
        index.push_back(static_cast<int64_t>(i));
    }
    const int32_t column = std::abs(sortColumn);
    if (column < 2 || column > 7)
        return;
    const bool descending = sortColumn < 0;
    std::sort(index.begin(), index.end(), [&](int64_t a, int64_t b) {
        const int order = CompareBy(column, library[static_cast<size_t>(a)], library[static_cast<size_t>(b)]);
        return descending ? order > 0 : order < 0;
    });
}

bool DeleteFormats(std::vector<KeyFormatItem>& library, std::vector<int64_t> indices, uint32_t filterMask)
{
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    bool enabledTouched = false;
    for (auto it = indices.rbegin(); it != indices.rend(); ++it) {
        const size_t at = static_cast<size_t>(*it);
        if (*it < 0 || at >= library.size())
            continue;
        KeyFormatItem& item = library[at];
        if (item.Enabled)
            enabledTouched = true;
        if (filterMask != 0) {
            const uint32_t types = item.KeyTypes == 0 ? ALL_KEY_TYPES : item.KeyTypes;
            item.KeyTypes = types & ~filterMask;
            if ((item.KeyTypes & ALL_KEY_TYPES) != 0)
                continue;
        }
        library.erase(library.begin() + static_cast<std::ptrdiff_t>(at));
    }
    return enabledTouched;
}
