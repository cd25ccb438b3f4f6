// A value that a page refuses while it stores its controls (UpdateData with save = true). The page
// throws it instead of taking the value, so that a Save stops before anything is written and the
// close asks its one question with the reason; the text is what the user is told.
#pragma once
#include "Exceptions.h"
#include <exception>
#include <string>

class CPageRefusal : public std::exception, public IExceptionMessage
{
public:
    explicit CPageRefusal(std::wstring text);
    const char* what() const noexcept override { return m_ansi.c_str(); }
    // The text as the page wrote it (what() loses what the ANSI code page cannot hold).
    const std::wstring& Text() const { return m_text; }
    const std::wstring& Message() const override { return m_text; }

private:
    std::wstring m_text;
    std::string m_ansi;
};

// The text of any exception for a message box: our exceptions' own wide text, else what() widened.
std::wstring ExceptionText(const std::exception& e);
