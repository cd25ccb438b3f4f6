// One entry of the configurator's key-format library: a key format plus whether it belongs to the
// add-in's list and whether it conflicts with another enabled entry. The add-in's format list is
// the enabled part of the library in library order.
#pragma once
#include "Settings.h"
#include <cstdint>
#include <string>
#include <vector>

struct KeyFormatItem : KeyFormat
{
    uint32_t Enabled = 0;  // non-zero: handed to the add-in; stored in ConfigParvel.xml
    uint32_t Conflict = 0; // set by MarkFormatConflicts; never stored
};

using KeyFormatLibrary = std::vector<KeyFormatItem>;

// Index of the first entry named exactly `name` (same UTF-16 units, case counts), or -1.
int64_t FindFormatByName(const KeyFormatLibrary& library, const std::wstring& name);

// Recomputes every entry's Conflict: two enabled entries conflict when their key-type masks share
// a bit and their key sizes are equal or either is 0 (any length). Run after every change.
void MarkFormatConflicts(KeyFormatLibrary& library);
