// A page's refusal of a value (see PageRefusal.h).
#include "PageRefusal.h"
#include "CodePage.h"

CPageRefusal::CPageRefusal(std::wstring text) : m_text(std::move(text))
{
    WideToAnsi(m_ansi, m_text.c_str());
}

std::wstring ExceptionText(const std::exception& e)
{
    if (const CPageRefusal* refusal = dynamic_cast<const CPageRefusal*>(&e))
        return refusal->Text();
    std::wstring text;
    AnsiToWide(text, e.what());
    return text;
}
