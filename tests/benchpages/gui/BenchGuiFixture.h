// The program in process for the test-bench pages: the application on a scratch data folder with
// its main window, the real Parvel.dll as the test host's add-in, a user-interface seam that
// records message boxes and drives modal dialogs with scripted steps, and the reader simulator.
#pragma once
#include "App.h"
#include "AppMessageBox.h"
#include "CodePage.h"
#include "ModuleState.h"
#include "ScratchRegistry.h"
#include "SimControl.h"
#include "TestFolder.h"
#include "TestHost.h"
#include "TestPage.h"
#include "UiSeam.h"
#include "UserInput.h"
#include <gtest/gtest.h>
#include <functional>
#include <map>
#include <vector>

namespace benchgui {

inline std::wstring ParvelPath()
{
    std::wstring path = L"Z:" + Utf8ToWide(std::string(PARVEL_DLL_PATH));
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

inline bool Russian()
{
    return PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) == LANG_RUSSIAN;
}

// Dispatches the thread's messages for `ms` milliseconds.
inline void Pump(DWORD ms)
{
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

template <class F>
bool PumpUntil(F done, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Pump(20);
    }
    return true;
}

inline std::wstring WindowText(HWND hWnd)
{
    const int length = GetWindowTextLengthW(hWnd);
    std::wstring text(length + 1, L'\0');
    text.resize(GetWindowTextW(hWnd, &text[0], length + 1));
    return text;
}

// Message boxes are recorded and answered with OK; a modal dialog is created modeless and handed
// to the driver registered for its template, whose result stands for the dialog's.
class CScriptSeam : public IUiSeam
{
public:
    using Driver = std::function<INT_PTR(CWnd& dialog, HWND hWnd)>;
    struct Box
    {
        std::wstring text;
        UINT flags;
        HWND owner;
    };

    int MessageBox(HWND owner, const std::wstring& text, const std::wstring&, UINT flags) override
    {
        boxes.push_back({text, flags, owner});
        return IDOK;
    }
    INT_PTR ModalDialog(CWnd& dialog, UINT templateId, HWND owner) override
    {
        HWND hWnd = CreateDialogParamW(ModuleHandle, MAKEINTRESOURCEW(templateId), owner, CWnd::StaticDlgProc,
                                       reinterpret_cast<LPARAM>(&dialog));
        if (!hWnd)
            return -1;
        // On the screen, as the modal loop puts it: a user's click reaches only a shown dialog.
        ShowWindow(hWnd, SW_SHOW);
        auto driver = drivers.find(templateId);
        INT_PTR result = IDCANCEL;
        if (driver != drivers.end())
            result = driver->second(dialog, hWnd);
        if (IsWindow(hWnd))
            DestroyWindow(hWnd);
        return result;
    }
    bool BrowseForFile(std::wstring& path, HWND) override
    {
        path.clear();
        return false;
    }

    std::vector<Box> boxes;
    std::map<UINT, Driver> drivers;
};

class BenchGuiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_oldSeam = SetUiSeam(&seam);
        app = new CConfigParvelApp;
        app->SetLocation(true, folder.Path());
        ASSERT_EQ(0, app->StartInstance(SW_SHOW));
        app->GetTestHost()->SetLibraryPath(ParvelPath());
        // The add-in's Confirm and Alert go through the seam like every other box.
        app->GetTestHost()->SetMessageBoxFunction(
            [](const wchar_t* text, UINT flags, HWND owner) { return AppMessageBox(text, flags, owner); });
        ASSERT_TRUE(app->SelectPage(5));
        page = CTestPage::Current();
        ASSERT_NE(nullptr, page);
    }
    void TearDown() override
    {
        if (app) {
            if (app->GetHwnd())
                DestroyWindow(app->GetHwnd());
            app->Shutdown();
            delete app;
        }
        SetUiSeam(m_oldSeam);
    }
    CTestParvel& Host() { return *app->GetTestHost(); }
    void Click(HWND dialog, int id)
    {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }

    ScratchRegistry registry{HKEY_CURRENT_USER};
    TestFolder folder;
    CScriptSeam seam;
    CConfigParvelApp* app = nullptr;
    CTestPage* page = nullptr;
    // The user's mouse and keyboard, with the program's message loop (its PreTranslateMessage).
    CUserInput input{[this](MSG* msg) { return app && app->PreTranslateMessage(msg); }};

private:
    IUiSeam* m_oldSeam = nullptr;
};

} // namespace benchgui
