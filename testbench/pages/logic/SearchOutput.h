// Texts and decisions of the reader-search dialog that need no window: the line of a found
// reader, what a failed FindNext means for the search, and error texts fit for one output line.
#pragma once
#include <cstdint>
#include <string>

// "COM5 - Kora USB s/n 12 v3.10" followed by CR LF; a model outside 1-9 shows as "?", and the
// version part is left out for version 0.
std::wstring FoundReaderLine(const std::wstring& port, uint32_t model, int32_t serial, uint32_t version);

enum class SearchStepEnd
{
    Wait,          // no new reader yet: the search goes on at the next tick
    Finished,      // no more readers: stop
    FailedAndStop, // any other code: show the error text, then stop
};
const int32_t SearchTimeoutCode = static_cast<int32_t>(0x80040230);
const int32_t SearchNoMoreCode = static_cast<int32_t>(0x80040231);
SearchStepEnd SearchStepEndFor(int32_t lastError);

// The text without the line breaks (CR, LF) at its end: the add-in's error texts come from message
// tables that end them with CR LF, and the output adds its own.
std::wstring TrimLineBreaks(const std::wstring& text);
