// The scripted user. A driven modal dialog gets its driver from a thread timer, which the
// dialog's own modal loop dispatches once the dialog is up.
#include "ScriptedUi.h"
#include <gtest/gtest.h>

namespace {

struct PendingDriver
{
    CWnd* dialog = nullptr;
    std::function<void(HWND)> driver;
    UINT_PTR timer = 0;
};
PendingDriver g_pending;

void CALLBACK DriveTimer(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND hWnd = g_pending.dialog ? g_pending.dialog->GetHwnd() : nullptr;
    // The modal loop shows the dialog once its queue is first empty, which may come after the
    // timer: the user acts on the dialog when it is on the screen (a click on a hidden button does
    // nothing), and with its first messages (the focus it gives itself) delivered.
    if (hWnd && !IsWindowVisible(hWnd))
        return;
    KillTimer(nullptr, id);
    auto driver = std::move(g_pending.driver);
    g_pending = PendingDriver();
    if (hWnd && driver)
        driver(hWnd);
}

} // namespace

std::vector<UiAsk> ScriptedUi::Messages() const
{
    std::vector<UiAsk> out;
    for (const UiAsk& ask : m_asked)
        if (ask.kind == UiAsk::Message)
            out.push_back(ask);
    return out;
}

int ScriptedUi::MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags)
{
    UiAsk ask;
    ask.kind = UiAsk::Message;
    ask.text = text;
    ask.caption = caption;
    ask.flags = flags;
    ask.owner = owner;
    m_asked.push_back(ask);
    if (m_messageAnswers.empty())
    {
        ADD_FAILURE() << "unexpected message box: " << testing::PrintToString(text);
        return IDCANCEL;
    }
    int answer = m_messageAnswers.front();
    m_messageAnswers.pop_front();
    return answer;
}

INT_PTR ScriptedUi::ModalDialog(CWnd& dialog, UINT templateId, HWND owner)
{
    UiAsk ask;
    ask.kind = UiAsk::Modal;
    ask.templateId = templateId;
    ask.owner = owner;
    m_asked.push_back(ask);
    if (m_modalAnswers.empty())
    {
        ADD_FAILURE() << "unexpected modal dialog " << templateId;
        return IDCANCEL;
    }
    ModalAnswer answer = std::move(m_modalAnswers.front());
    m_modalAnswers.pop_front();
    if (!answer.driver)
        return answer.result;
    g_pending.dialog = &dialog;
    g_pending.driver = std::move(answer.driver);
    g_pending.timer = SetTimer(nullptr, 0, 10, DriveTimer);
    return RunDialogBox(dialog, templateId, owner);
}

bool ScriptedUi::BrowseForFile(std::wstring& path, HWND owner)
{
    UiAsk ask;
    ask.kind = UiAsk::Browse;
    ask.text = path;
    ask.owner = owner;
    m_asked.push_back(ask);
    if (m_browseAnswers.empty())
    {
        ADD_FAILURE() << "unexpected open-file dialog";
        return false;
    }
    path = m_browseAnswers.front();
    m_browseAnswers.pop_front();
    return !path.empty();
}
