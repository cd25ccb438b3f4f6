// The rows of the properties and methods lists and their order. Column numbers are 1-based as
// the header shows them; a sort column is signed (negative = descending, 0 = index order).
#pragma once

#include "SortColumn.h"
#include <cstdint>
#include <string>
#include <vector>

struct PropertyRow
{
    uint32_t index = 0;
    std::wstring number; // index + 1
    std::wstring english;
    std::wstring russian;
    uint16_t type = 0xFFFF; // of the value read; 0xFFFF when it could not be read
    std::wstring value;
    uint32_t attributes = 0; // bit 0 readable, bit 1 writable
};

struct MethodRow
{
    uint32_t index = 0;
    std::wstring number;
    std::wstring english;
    std::wstring russian;
    uint32_t hasReturn = 0;
    int32_t paramCount = 0;
    std::wstring paramCountText;
    std::wstring defaults;
};

const int PropertyColumns = 6;
const int MethodColumns = 6;

// The text of a cell (column 1-6); empty for other columns.
std::wstring PropertyCellText(const PropertyRow& row, int column);
std::wstring MethodCellText(const MethodRow& row, int column);
// "", "R", "W", "RW".
const wchar_t* AttributesText(uint32_t attributes);

// Rows come in index order; |sort| 1 with a negative sign reverses them, 2-6 sort by that column.
void SortPropertyRows(std::vector<PropertyRow>& rows, int32_t sortColumn);
void SortMethodRows(std::vector<MethodRow>& rows, int32_t sortColumn);


// Whether the property dialog can edit a value of this type (I4, BOOL, UI4, PWSTR).
bool PropertyTypeEditable(uint16_t type);
