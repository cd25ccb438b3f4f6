// A value that a page or dialog refuses while it stores its controls (UpdateData with save =
// true). It is thrown instead of taking the value, so that a Save stops before anything is written
// and the close asks its one question with the reason; the text is what the user is told, and the
// control (when there is one) is the field to put the user back into.
#pragma once
#include "Exceptions.h"
#include <windows.h>
#include <cstdint>
#include <exception>
#include <string>

class CPageRefusal : public std::exception, public IExceptionMessage
{
public:
    explicit CPageRefusal(std::wstring text, HWND control = nullptr);
    const char* what() const noexcept override { return m_ansi.c_str(); }
    // The text as the page wrote it (what() loses what the ANSI code page cannot hold).
    const std::wstring& Text() const { return m_text; }
    // The refused field, or null.
    HWND Control() const { return m_control; }
    const std::wstring& Message() const override { return m_text; }

private:
    std::wstring m_text;
    std::string m_ansi;
    HWND m_control;
};

// The refusal of a number field whose text is no number of [min, max] (both within i32): the
// text names the field (its label without "&" and the closing colon) and the range.
CPageRefusal NumberRefusal(HWND control, const std::wstring& label, int64_t min, int64_t max);

// A label's text as a field name: without its "&" marks and without a closing colon.
std::wstring FieldName(const std::wstring& label);

// The text of the label that stands just before a control (the window before it), empty when
// there is none.
std::wstring LabelBefore(HWND control);

// Puts the user into a refused field: its text selected and the focus on it (only when the user
// can reach it: shown, and its window not disabled behind a modal dialog).
void FocusRefusedField(HWND control);

// The text of any exception for a message box: our exceptions' own wide text, else what() widened.
std::wstring ExceptionText(const std::exception& e);
