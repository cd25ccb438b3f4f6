// The reader's serial suites a second time, on Windows' serial semantics: with the environment
// variable PARVEL_COM_BACKEND=windows-model the whole test program runs with the Windows model
// (WindowsComModel.h) in place of the system's comm calls, the simulated readers on their ptys
// behind it. Each test that unplugs a reader sees the next of the codes that drivers of pulled
// USB adapters fail calls with.
#include "WindowsComModel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const DWORD UnplugCodes[] = {ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED,
                             ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED};

std::unique_ptr<CWindowsComModel> g_model;

class CWindowsModelBackend : public testing::Environment
{
public:
    void SetUp() override
    {
        std::printf("The comm calls answer as Windows documents them (the Windows model).\n");
        g_model = std::make_unique<CWindowsComModel>();
        m_scope = std::make_unique<CCallSeamScope<CComCalls>>(*g_model);
    }
    void TearDown() override
    {
        m_scope.reset();
        g_model.reset();
    }

private:
    std::unique_ptr<CCallSeamScope<CComCalls>> m_scope;
};

class CNextUnplugCode : public testing::EmptyTestEventListener
{
public:
    void OnTestEnd(const testing::TestInfo&) override
    {
        if (g_model)
            g_model->unplugError = UnplugCodes[++m_next % (sizeof UnplugCodes / sizeof UnplugCodes[0])];
    }

private:
    size_t m_next = 0;
};

bool Register()
{
    const char* backend = std::getenv("PARVEL_COM_BACKEND");
    if (!backend || std::strcmp(backend, "windows-model") != 0)
        return false;
    testing::AddGlobalTestEnvironment(new CWindowsModelBackend);    // both owned by GoogleTest
    testing::UnitTest::GetInstance()->listeners().Append(new CNextUnplugCode);
    return true;
}

const bool g_registered = Register();

} // namespace
