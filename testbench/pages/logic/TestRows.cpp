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

template <class Row>
using RowLess = bool (*)(const Row&, const Row&);

// Rows in the order of a signed 1-based sort column (negative: descending). Column 1, the
// number, is the component's own order, kept or reversed; the columns from 2 on compare by
// `byColumn`, stably, so that equal rows stay in the component's order. Any other column leaves
// the rows as they are.
template <class Row, size_t Count>
void SortRows(std::vector<Row>& rows, int32_t sortColumn, const RowLess<Row> (&byColumn)[Count])
{
    const bool descending = sortColumn < 0;
    const int64_t column = descending ? -static_cast<int64_t>(sortColumn) : sortColumn;
    if (column == 1) {
        if (descending)
            std::reverse(rows.begin(), rows.end());
        return;
    }
    if (column < 2 || column - 2 >= static_cast<int64_t>(Count))
        return;
    const RowLess<Row> less = byColumn[column - 2];
    if (descending)
        std::stable_sort(rows.begin(), rows.end(), [less](const Row& a, const Row& b) { return less(b, a); });
    else
        std::stable_sort(rows.begin(), rows.end(), less);
}

} // namespace

void SortPropertyRows(std::vector<PropertyRow>& rows, int32_t sortColumn)
{
    static const RowLess<PropertyRow> byColumn[] = {
        [](const PropertyRow& a, const PropertyRow& b) { return a.english < b.english; },
        [](const PropertyRow& a, const PropertyRow& b) { return a.russian < b.russian; },
        [](const PropertyRow& a, const PropertyRow& b) { return a.type < b.type; },
        [](const PropertyRow& a, const PropertyRow& b) { return a.value < b.value; },
        [](const PropertyRow& a, const PropertyRow& b) { return a.attributes < b.attributes; },
    };
    SortRows(rows, sortColumn, byColumn);
}

void SortMethodRows(std::vector<MethodRow>& rows, int32_t sortColumn)
{
    static const RowLess<MethodRow> byColumn[] = {
        [](const MethodRow& a, const MethodRow& b) { return a.english < b.english; },
        [](const MethodRow& a, const MethodRow& b) { return a.russian < b.russian; },
        [](const MethodRow& a, const MethodRow& b) { return a.hasReturn < b.hasReturn; },
        [](const MethodRow& a, const MethodRow& b) { return a.paramCount < b.paramCount; },
        [](const MethodRow& a, const MethodRow& b) { return a.defaults < b.defaults; },
    };
    SortRows(rows, sortColumn, byColumn);
}

bool PropertyTypeEditable(uint16_t type)
{
    return type == 3 || type == 11 || type == 16 || type == 22;
}
