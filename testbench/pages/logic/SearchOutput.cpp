// The reader-search dialog's texts and step decisions.
#include "SearchOutput.h"
#include "BenchStrings.h"
#include "Models.h"
#include "Numbers.h"
#include "WFormat.h"

std::wstring FoundReaderLine(const std::wstring& port, uint32_t model, int32_t serial, uint32_t version)
{
    std::wstring line = port;
    line += L" - ";
    line += ReaderModelName(model >= 1 && model <= 9 ? model : 0);
    line += L" ";
    AppendResFormat(line, IDS_SERIAL_NUMBER, serial);
    if (version != 0) {
        std::wstring text;
        VersionToText(text, version);
        line += L" v" + text;
    }
    line += L"\r\n";
    return line;
}

SearchStepEnd SearchStepEndFor(int32_t lastError)
{
    if (lastError == SearchTimeoutCode)
        return SearchStepEnd::Wait;
    if (lastError == SearchNoMoreCode)
        return SearchStepEnd::Finished;
    return SearchStepEnd::FailedAndStop;
}

std::wstring TrimLineBreaks(const std::wstring& text)
{
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == L'\r' || text[end - 1] == L'\n'))
        --end;
    return text.substr(0, end);
}
