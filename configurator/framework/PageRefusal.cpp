// A page's refusal of a value (see PageRefusal.h).
#include "PageRefusal.h"
#include "AppMessageBox.h"
#include "AppResource.h"
#include "CodePage.h"
#include "FileProblem.h"
#include "WFormat.h"

CPageRefusal::CPageRefusal(std::wstring text, HWND control) : m_text(std::move(text)), m_control(control)
{
    WideToAnsi(m_ansi, m_text.c_str());
}

std::wstring FieldName(const std::wstring& label)
{
    std::wstring name;
    for (size_t i = 0; i < label.size(); ++i) {
        if (label[i] == L'&') {
            if (i + 1 < label.size() && label[i + 1] == L'&')
                name += label[++i];
            continue;
        }
        name += label[i];
    }
    while (!name.empty() && (name.back() == L':' || name.back() == L' '))
        name.pop_back();
    return name;
}

CPageRefusal NumberRefusal(HWND control, const std::wstring& label, int64_t min, int64_t max)
{
    std::wstring text;
    FormatString(text, LoadAppString(IDS_NUMBER_OUT_OF_RANGE).c_str(), FieldName(label).c_str(),
                 static_cast<int>(min), static_cast<int>(max));
    return CPageRefusal(text, control);
}

std::wstring LabelBefore(HWND control)
{
    HWND label = control ? GetWindow(control, GW_HWNDPREV) : nullptr;
    if (!label)
        return std::wstring();
    wchar_t text[256] = {};
    GetWindowTextW(label, text, 256);
    return text;
}

void FocusRefusedField(HWND control)
{
    // Only a field the user can reach: not one on a hidden page, nor one behind a modal dialog
    // (its window is disabled then), which would take the focus from that dialog.
    if (!control || !IsWindow(control) || !IsWindowVisible(control) || !IsWindowEnabled(GetAncestor(control, GA_ROOT)))
        return;
    SetFocus(control);
    SendMessageW(control, EM_SETSEL, 0, -1);
}

std::wstring ExceptionText(const std::exception& e)
{
    return ExceptionMessage(e);
}
