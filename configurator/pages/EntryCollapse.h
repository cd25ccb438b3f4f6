// How the named-entry dialogs (key formats, key-type groups) settle a duplicate that the user
// agreed to replace: the edited entry and the existing one become one entry at the lower of the
// two positions, which then takes the dialog's values. And where an entry that a caller follows
// (the library page's selected group) stands after such edits.
#pragma once
#include <algorithm>
#include <cstdint>
#include <vector>

// `edited` is the dialog's entry (-1 for a new one), `existing` the other entry with the same name
// or mask. Returns the index at which the dialog must now store its values: for a new entry the
// existing one is overwritten; for an edited one the higher of the two is erased.
template <class Entry>
int64_t CollapseEntries(std::vector<Entry>& list, int64_t edited, int64_t existing)
{
    if (edited < 0 || edited == existing)
        return existing;
    const int64_t low = std::min(edited, existing);
    const int64_t high = std::max(edited, existing);
    list.erase(list.begin() + high);
    return low;
}

// Stores `value` at `index` when it names an entry, else appends it. Returns the stored index.
template <class Entry>
int64_t StoreEntry(std::vector<Entry>& list, int64_t index, const Entry& value)
{
    if (index >= 0 && index < static_cast<int64_t>(list.size())) {
        list[static_cast<size_t>(index)] = value;
        return index;
    }
    list.push_back(value);
    return static_cast<int64_t>(list.size()) - 1;
}

// The index of the followed entry (-1: none) after the entry at `erased` was removed: `into` is
// the entry that now stands for the removed one (the lower entry of a collapse), -1 when it is gone.
inline int64_t FollowErase(int64_t followed, int64_t erased, int64_t into)
{
    if (followed < 0 || followed < erased)
        return followed;
    if (followed == erased)
        return into;
    return followed - 1;
}

// CollapseEntries, keeping `followed` on the entry that stands for it afterwards.
template <class Entry>
int64_t CollapseEntries(std::vector<Entry>& list, int64_t edited, int64_t existing, int64_t& followed)
{
    const int64_t kept = CollapseEntries(list, edited, existing);
    if (edited >= 0 && edited != existing)
        followed = FollowErase(followed, std::max(edited, existing), kept);
    return kept;
}
