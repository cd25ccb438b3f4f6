// The application's test-bench hooks: the host and the log are made on first use, and every event
// and error the add-in raises lands in the test log, with or without a test page.
#include "ConfigTestSupport.h"
#include "TestHost.h"
#include "TestLog.h"

namespace {

// The real add-in, as these tests drive it, opens no serial port, so Wine's loader fault cannot
// arise in this program: closing must really free the library.
const bool LibrariesReallyFreed = (CTestParvel::SetKeepLoadedUnderWine(false), true);

class CountingApp : public CAppData
{
public:
    int logged = 0;

protected:
    void OnTestEventLogged() override { ++logged; }
};

class TestBenchHooks : public ::testing::Test
{
protected:
    void SetUp() override { m_app.SetLocation(false, m_folder.Path()); }
    void TearDown() override { CAppConfig::SetDataFolder(std::wstring()); }

    static void RaiseEvent(CTestParvel* host, std::wstring source, std::wstring message, std::wstring data)
    {
        ASSERT_TRUE(host->ExternalEvent(&source[0], &message[0], &data[0]));
    }

    TestFolder m_folder;
    CountingApp m_app;
};

} // namespace

TEST_F(TestBenchHooks, HostAndLogAreMadeOnFirstUse)
{
    EXPECT_FALSE(m_app.HasTestHost());
    EXPECT_FALSE(m_app.HasTestLog());
    CTestParvel* host = m_app.GetTestHost();
    ASSERT_NE(host, nullptr);
    EXPECT_NE(host->Window(), nullptr);
    EXPECT_EQ(m_app.GetTestHost(), host);
    EXPECT_FALSE(host->IsLoaded());
    EXPECT_FALSE(m_app.HasTestLog());

    CTestLog* log = m_app.GetTestLog();
    EXPECT_EQ(log->FileName(), m_folder.File(L"TestParvel.log"));
    EXPECT_EQ(m_app.GetTestLog(), log);
    m_app.DestroyTestBench();
    EXPECT_FALSE(m_app.HasTestHost());
    EXPECT_FALSE(m_app.HasTestLog());
}

TEST_F(TestBenchHooks, EventsAndErrorsAreWrittenToTheTestLog)
{
    CTestParvel* host = m_app.GetTestHost();
    RaiseEvent(host, L"Parvel", L"TracksData", L"COM3\r\n123,45678");
    ASSERT_TRUE(host->AddError(1004, L"Parvel", L"Порт не найден.", static_cast<long>(0x80040210)));
    host->PumpQueues();

    EXPECT_EQ(m_app.logged, 1);
    ASSERT_TRUE(m_app.HasTestLog());
    CTestLog* log = m_app.GetTestLog();
    ASSERT_EQ(log->LineCount(), 2u);
    LogEntry event, error;
    ASSERT_EQ(log->GetEntry(0, event), 1);
    EXPECT_EQ(event.level, LogLevelInfo);
    EXPECT_EQ(event.source, L"Parvel");
    EXPECT_EQ(event.message, L"TracksData");
    EXPECT_EQ(event.data, L"COM3\r\n123,45678");
    ASSERT_EQ(log->GetEntry(1, error), 1);
    EXPECT_EQ(error.level, LogLevelError);
    EXPECT_EQ(error.source, L"Parvel");
    EXPECT_EQ(error.message, L"Порт не найден.");
    EXPECT_EQ(error.data, L"message=1004, error=-2147220976");
    m_app.DestroyTestBench();
}

TEST_F(TestBenchHooks, EventListenerFailureStaysInside)
{
    // A data folder that does not exist: the test log cannot be opened.
    m_app.SetLocation(false, m_folder.File(L"missing\\deeper"));
    CTestParvel* host = m_app.GetTestHost();
    RaiseEvent(host, L"Parvel", L"DeviceConnect", L"");
    EXPECT_NO_THROW(host->PumpQueues());
    EXPECT_EQ(m_app.logged, 0);
    EXPECT_FALSE(m_app.HasTestLog());

    // The error listener lets its failure reach the host, which skips that listener.
    EXPECT_THROW(m_app.OnHostError(host), CFileException);
    m_app.DestroyTestBench();
}

#ifdef PARVEL_DLL_PATH
TEST_F(TestBenchHooks, ClosingUnloadsTheAddin)
{
    CTestParvel* host = m_app.GetTestHost();
    host->SetLibraryPath(UnixPath(PARVEL_DLL_PATH));
    host->Create();
    ASSERT_TRUE(host->IsLoaded());
    m_app.DestroyTestBench();
    EXPECT_FALSE(m_app.HasTestHost());
    EXPECT_EQ(GetModuleHandleW(L"Parvel.dll"), nullptr);
}
#endif
