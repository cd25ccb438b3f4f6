// Numbers typed into (or spun in) the edit boxes of the pages. An up-down control may put the
// locale's thousands separators into its buddy ("10,000", "10 000"), and users paste such texts
// too; the reader takes them back so that every value of a field's range survives a round trip.
#pragma once
#include <cstdint>
#include <string>

// The whole text as a decimal number: optional blanks around it, a minus sign only when
// `isSigned`, digits in groups of three after a separator (',', '.', '\'', blank, no-break blank,
// narrow no-break blank). Signed values must fit in i32, unsigned ones in u32. Any other text
// reads as 0, as a dialog's integer read does for a text that is no number.
int64_t ParseControlNumber(const std::wstring& text, bool isSigned);

// The same reading for a field that must hold a number of [min, max] (both within i32 or u32):
// false for an empty text, one that is no number and a number outside the range, so that the
// field can be refused instead of being stored as 0.
bool ReadControlNumber(const std::wstring& text, int64_t min, int64_t max, int64_t& value);

// The plain decimal text that the pages write: no separators, a minus sign when negative.
std::wstring ControlNumberText(int64_t value);
