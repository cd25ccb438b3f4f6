// The key-format dialog's decisions that need no window: which field an error of the add-in's
// format check points into, which add-in events the live test shows, and which parts of the data
// an accepted edit changes.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>

// The control that holds the error: the template for an unsupported conversion, the parameters
// for "not enough parameters" and the expression errors; 0 when the code names no field.
int FormatErrorField(HRESULT code);

enum class TestEventKind
{
    Other,
    Key,   // "TracksData": the formatted key
    Error, // "DriverError": the reader's error text
};
// The add-in raises its events under English or Russian names, by the locale it was given.
TestEventKind ClassifyTestEvent(const std::wstring& name);

// ModifiedFlags bits after the dialog's OK: the library always; the add-in's settings as well when
// the add-in's list changes, that is when the edited format was enabled before or is enabled now,
// or when the edit replaced another format that was enabled.
uint32_t FormatEditModified(bool enabledBefore, bool enabledAfter, bool replacedEnabled);

// The name for the live test's temporary format: `base` when no format of the add-in carries it,
// else the first free of base1, base2 ... (the test must never take over, and then delete, a
// format of the user's). Empty when `attempts` names are all taken.
std::wstring FreeTestFormatName(const std::wstring& base, const std::function<bool(const std::wstring&)>& taken,
                                int attempts = 1000);
