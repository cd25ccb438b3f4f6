// Error texts for the reader's events and log lines.
#include "ReaderText.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "ResText.h"

namespace readertext {

std::wstring ErrorLine(HRESULT code)
{
    std::wstring text;
    GetErrorText(text, nullptr, static_cast<DWORD>(code));
    TrimLineEnd(text);
    return text;
}

std::wstring ExceptionLine(const char* what)
{
    std::wstring text;
    AnsiToWide(text, what ? what : "");
    TrimLineEnd(text);
    return text;
}

std::wstring ExceptionLine(const std::exception& e)
{
    std::wstring text = ExceptionMessage(e);
    TrimLineEnd(text);
    return text;
}

} // namespace readertext
