// The test host's exception and its throwing routine.
#include "TestException.h"
#include "CodePage.h"

CTestParvelException::CTestParvelException(const wchar_t* text)
{
    m_text = text ? text : L"Unknown error Test Parvel.";
    WideToAnsi(m_message, m_text.c_str());
}

void ThrowTestError(const wchar_t* text)
{
    throw CTestParvelException(text);
}
