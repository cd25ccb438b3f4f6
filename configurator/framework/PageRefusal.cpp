// A page's refusal of a value (see PageRefusal.h).
#include "PageRefusal.h"
#include "CodePage.h"

CPageRefusal::CPageRefusal(std::wstring text) : m_text(std::move(text))
{
    WideToAnsi(m_ansi, m_text.c_str());
}

std::wstring ExceptionText(const std::exception& e)
{
    return ExceptionMessage(e);
}
