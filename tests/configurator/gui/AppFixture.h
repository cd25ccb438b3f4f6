// The fixture of the configurator's in-process GUI tests: the application object and its main
// window on a scratch data folder and a scratch HKEY_CURRENT_USER (never the real user's), with a
// scripted user answering every message box. Tests act as a user does through Input() (clicks and
// keys posted to the controls, delivered by the program's own pre-translation), or send the
// messages a user's clicks send.
//
// Needs a display (the tests run under xvfb-run). Only one application may run at a time in the
// Wine session, so every ctest entry that starts one holds the resource lock "ConfigParvelWindow".
#pragma once
#include "App.h"
#include "NarrowText.h"
#include "ScratchRegistry.h"
#include "ScriptedUi.h"
#include "TestFolder.h"
#include "UserInput.h"
#include <gtest/gtest.h>
#include <memory>

// Processes every message waiting for the thread, as the program's loop would (a WM_QUIT is
// taken out and remembered, so that it ends no later modal loop).
bool PumpMessages(CConfigParvelApp* app = nullptr);


class AppFixture : public testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the application; `portable` puts the add-in's settings in Parvel.xml of the data
    // folder instead of the registry. Before it a test may prepare files in Folder().
    void StartApp(bool portable = false);
    // Ends the application and its window as the program's exit does.
    void StopApp();

    CConfigParvelApp& App() { return *m_app; }
    HWND MainWindow() const { return m_app ? m_app->GetHwnd() : nullptr; }
    const TestFolder& Folder() const { return m_folder; }
    ScriptedUi& Ui() { return m_ui; }
    // The user's mouse and keyboard, with the program's message loop (its PreTranslateMessage).
    CUserInput& Input() { return m_input; }

    // A click at the middle of a button of the main window (Load, Save, Help, Default); a disabled
    // or hidden button takes none.
    void ClickCommand(int id);
    // A click at the middle of tab `index`, through Input(): what follows is what the tab control
    // makes of it. Fails the test when the page did not change to that tab's.
    void ClickTab(int index);
    // The close box (WM_SYSCOMMAND SC_CLOSE); true when the window is gone afterwards.
    bool ClickClose();
    std::wstring WindowText(HWND hWnd) const;
    std::wstring TabText(int index) const;

private:
    ScratchRegistry m_registry{HKEY_CURRENT_USER};
    TestFolder m_folder;
    ScriptedUi m_ui;
    std::unique_ptr<CConfigParvelApp> m_app;
    CUserInput m_input{[this](MSG* msg) { return m_app && m_app->PreTranslateMessage(msg); }};
};
