// Cell texts and ordering of the properties and methods lists.
#include "TestRows.h"
#include "MethodText.h"
#include <algorithm>

const wchar_t* AttributesText(uint32_t attributes)
{
    static const wchar_t* const texts[4] = {L"", L"R", L"W", L"RW"};
    return texts[attributes & 3];
}

std::wstring PropertyCellText(const PropertyRow& row, int column)
{
    switch (column) {
    case 1: return row.number;
    case 2: return row.english;
    case 3: return row.russian;
    case 4: return TypeName(row.type, L"?");
    case 5: return row.value;
    case 6: return AttributesText(row.attributes);
    default: return std::wstring();
    }
}

std::wstring MethodCellText(const MethodRow& row, int column)
{
    switch (column) {
    case 1: return row.number;
    case 2: return row.english;
    case 3: return row.russian;
    case 4: return row.hasReturn ? L"+" : L"";
    case 5: return row.paramCountText;
    case 6: return row.defaults;
    default: return std::wstring();
    }
}

namespace {

template <class Row, class Less>
void SortBy(std::vector<Row>& rows, bool descending, Less less)
{
    if (descending)
        std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return less(b, a); });
    else
        std::stable_sort(rows.begin(), rows.end(), less);
}

} // namespace

void SortPropertyRows(std::vector<PropertyRow>& rows, int32_t sortColumn)
{
    const bool descending = sortColumn < 0;
    switch (descending ? -sortColumn : sortColumn) {
    case 1:
        if (descending)
            std::reverse(rows.begin(), rows.end());
        break;
    case 2: SortBy(rows, descending, [](const PropertyRow& a, const PropertyRow& b) { return a.english < b.english; }); break;
    case 3: SortBy(rows, descending, [](const PropertyRow& a, const PropertyRow& b) { return a.russian < b.russian; }); break;
    case 4: SortBy(rows, descending, [](const PropertyRow& a, const PropertyRow& b) { return a.type < b.type; }); break;
    case 5: SortBy(rows, descending, [](const PropertyRow& a, const PropertyRow& b) { return a.value < b.value; }); break;
    case 6: SortBy(rows, descending, [](const PropertyRow& a, const PropertyRow& b) { return a.attributes < b.attributes; }); break;
    default: break;
    }
}

void SortMethodRows(std::vector<MethodRow>& rows, int32_t sortColumn)
{
    const bool descending = sortColumn < 0;
    switch (descending ? -sortColumn : sortColumn) {
    case 1:
        if (descending)
            std::reverse(rows.begin(), rows.end());
        break;
    case 2: SortBy(rows, descending, [](const MethodRow& a, const MethodRow& b) { return a.english < b.english; }); break;
    case 3: SortBy(rows, descending, [](const MethodRow& a, const MethodRow& b) { return a.russian < b.russian; }); break;
    case 4: SortBy(rows, descending, [](const MethodRow& a, const MethodRow& b) { return a.hasReturn < b.hasReturn; }); break;
    case 5: SortBy(rows, descending, [](const MethodRow& a, const MethodRow& b) { return a.paramCount < b.paramCount; }); break;
    case 6: SortBy(rows, descending, [](const MethodRow& a, const MethodRow& b) { return a.defaults < b.defaults; }); break;
    default: break;
    }
}

bool PropertyTypeEditable(uint16_t type)
{
    return type == 3 || type == 11 || type == 16 || type == 22;
}
