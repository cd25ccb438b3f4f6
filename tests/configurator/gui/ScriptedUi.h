// A scripted user for the configurator's in-process GUI tests: it answers message boxes, modal
// dialogs and the open-file dialog through the program's UI seam, and records what was asked.
// Installed for its lifetime. An unanswered message box fails the test and answers IDCANCEL, so
// that no test ever waits for a user.
#pragma once
#include "UiSeam.h"
#include "Wnd.h"
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct UiAsk
{
    enum Kind { Message, Modal, Browse } kind = Message;
    std::wstring text;      // message text, or the starting path of a browse
    std::wstring caption;
    UINT flags = 0;
    UINT templateId = 0;
    HWND owner = nullptr;
};

class ScriptedUi : public IUiSeam
{
public:
    ScriptedUi() : m_previous(SetUiSeam(this)) {}
    ~ScriptedUi() override { SetUiSeam(m_previous); }
    ScriptedUi(const ScriptedUi&) = delete;
    ScriptedUi& operator=(const ScriptedUi&) = delete;

    // Queues the answer to the next message box (IDOK, IDYES, IDNO, IDCANCEL ...).
    void AnswerMessage(int answer) { m_messageAnswers.push_back(answer); }
    // The next modal dialog is not shown and "returns" `result`.
    void AnswerModal(INT_PTR result) { m_modalAnswers.push_back({result, nullptr}); }
    // The next modal dialog runs for real; `driver` gets its window once it is up and must end it
    // (for example by clicking OK). The dialog's result is returned.
    void DriveModal(std::function<void(HWND)> driver) { m_modalAnswers.push_back({0, std::move(driver)}); }
    // The next open-file dialog chooses `path` (empty: the user cancels).
    void AnswerBrowse(const std::wstring& path) { m_browseAnswers.push_back(path); }

    const std::vector<UiAsk>& Asked() const { return m_asked; }
    std::vector<UiAsk> Messages() const;
    void Clear() { m_asked.clear(); }
    size_t PendingAnswers() const { return m_messageAnswers.size() + m_modalAnswers.size() + m_browseAnswers.size(); }

    int MessageBox(HWND owner, const std::wstring& text, const std::wstring& caption, UINT flags) override;
    INT_PTR ModalDialog(CWnd& dialog, UINT templateId, HWND owner) override;
    bool BrowseForFile(std::wstring& path, HWND owner) override;

private:
    struct ModalAnswer
    {
        INT_PTR result;
        std::function<void(HWND)> driver;
    };
    IUiSeam* m_previous;
    std::deque<int> m_messageAnswers;
    std::deque<ModalAnswer> m_modalAnswers;
    std::deque<std::wstring> m_browseAnswers;
    std::vector<UiAsk> m_asked;
};
