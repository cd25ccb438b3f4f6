// The test host's own failure: a finished text (the configurator's message, often followed by the
// add-in's own error text), kept in the ANSI code page for what(). It carries no code: whoever
// catches it only shows the text.
#pragma once
#include "Exceptions.h"
#include <exception>
#include <string>

class CTestParvelException : public std::exception, public IExceptionMessage
{
public:
    // A null text stands for an unknown failure.
    explicit CTestParvelException(const wchar_t* text);
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::wstring& Message() const override { return m_text; }

private:
    std::string m_message;
    std::wstring m_text;
};

// The one way the test host raises its failures.
[[noreturn]] void ThrowTestError(const wchar_t* text);
