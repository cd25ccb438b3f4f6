// The in-process application fixture.
#include "AppFixture.h"
#include <commctrl.h>

bool PumpMessages(CConfigParvelApp* app)
{
    bool quit = false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    {
        if (msg.message == WM_QUIT)
        {
            quit = true;
            continue;
        }
        if (app && app->PreTranslateMessage(&msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return quit;
}

void AppFixture::SetUp()
{
    ASSERT_TRUE(m_registry.Ok());
}

void AppFixture::TearDown()
{
    StopApp();
    EXPECT_EQ(0u, m_ui.PendingAnswers()) << "answers the test queued were never asked for";
}

void AppFixture::StartApp(bool portable)
{
    ASSERT_FALSE(m_app) << "the application runs already";
    m_app.reset(new CConfigParvelApp);
    m_app->SetProgramFolder(m_folder.Path() + L"\\");
    m_app->SetLocation(portable, m_folder.Path());
    ASSERT_EQ(0, m_app->StartInstance(SW_SHOW));
    PumpMessages(m_app.get());
}

void AppFixture::StopApp()
{
    if (!m_app)
        return;
    m_app->Shutdown();
    PumpMessages(m_app.get());
    m_app.reset();
}

void AppFixture::ClickCommand(int id)
{
    HWND button = GetDlgItem(MainWindow(), id);
    ASSERT_TRUE(button != nullptr);
    m_input.Click(button, CUserInput::Centre(button));
    PumpMessages(m_app.get());
}

void AppFixture::ClickTab(int index)
{
    HWND tabs = m_app->GetTabControl();
    m_input.Click(tabs, CUserInput::Tab(tabs, index));
    PumpMessages(m_app.get());
    ASSERT_EQ(index, m_app->GetCurrentPage()) << "the click on tab " << index << " did not open its page";
}

bool AppFixture::ClickClose()
{
    HWND hWnd = MainWindow();
    SendMessageW(hWnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpMessages(m_app.get());
    return !IsWindow(hWnd);
}

std::wstring AppFixture::WindowText(HWND hWnd) const
{
    wchar_t text[256] = {};
    GetWindowTextW(hWnd, text, 256);
    return text;
}

std::wstring AppFixture::TabText(int index) const
{
    wchar_t text[128] = {};
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text;
    item.cchTextMax = 128;
    SendMessageW(m_app->GetTabControl(), TCM_GETITEMW, index, reinterpret_cast<LPARAM>(&item));
    return text;
}
