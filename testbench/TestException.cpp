// The test host's exception and its throwing routine.
#include "TestException.h"
#include "CodePage.h"

CTestParvelException::CTestParvelException(const wchar_t* text)
{
    WideToAnsi(m_message, text ? text : L"Unknown error Test Parvel.");
}

void ThrowTestError(const wchar_t* text)
{
    throw CTestParvelException(text);
}
