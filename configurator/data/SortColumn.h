// The signed sort column that every sortable list of the program keeps: 1-based column number,
// negative for descending, 0 for unsorted.
#pragma once

#include <cstdint>

// The sort column after a click on header column `column` (1-based): the same column reverses its
// order, any other column sorts ascending.
inline int32_t NextSortColumn(int32_t sortColumn, int32_t column)
{
    return sortColumn == column ? -column : column;
}
