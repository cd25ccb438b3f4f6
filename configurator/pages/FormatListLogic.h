// The library list's rules apart from its window: which formats a group tab and "only enabled"
// show and in which order, what a header click does to the signed sort column, and what Delete
// does under a group tab. Texts compare by UTF-16 code units (ordinal, case-sensitive), so the
// order does not depend on the user's locale.
#pragma once

#include "SortColumn.h"
#include "KeyFormatItem.h"
#include <cstdint>
#include <vector>

// The library indices that pass the filter, in the order of the sort column (1-based column of
// the list; negative = descending; 0, 1 and -1 keep library order). A filter mask of 0 or one
// with every key type passes every format; otherwise a format passes when it shares a key type.
void BuildFormatIndex(const std::vector<KeyFormatItem>& library, uint32_t filterMask, bool onlyEnabled,
                      int32_t sortColumn, std::vector<int64_t>& index);


// Deletes the formats at the given library indices. Under a group tab (filterMask != 0) a format
// only loses the group's key types (0 counting as every type) and is removed when none is left.
// Returns whether any processed format was enabled (the add-in's list then changes).
bool DeleteFormats(std::vector<KeyFormatItem>& library, std::vector<int64_t> indices, uint32_t filterMask);
