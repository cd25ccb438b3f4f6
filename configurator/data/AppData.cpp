// The application's data and its exchange with the add-in's store and ConfigParvel.xml.
#include "AppData.h"
#include "TestHost.h"
#include "TestLog.h"

CAppData::CAppData() = default;
CAppData::~CAppData() { DestroyTestBench(); }
void CAppData::SetLocation(bool portable, const std::wstring& dataFolder)
{
    Portable = portable;
    DataFolder = dataFolder;
}
std::wstring CAppData::AddinSettingsFile() const { return DataFolder + L"\\Parvel.xml"; }
void CAppData::Load(uint32_t) {}
void CAppData::Save(uint32_t) {}
void CAppData::SetMethodArgs(const std::wstring& method, const MethodArguments& args) { MethodArgs[method] = args; }
void CAppData::SetPageDefaults(int) {}
void CAppData::CopySettingsFrom(const CParvelSettings&) {}
void CAppData::CopySettingsTo(CParvelSettings&) const {}
CTestParvel* CAppData::GetTestHost() { return m_testHost.get(); }
CTestLog* CAppData::GetTestLog() { return m_testLog.get(); }
void CAppData::DestroyTestBench()
{
    m_testHost.reset();
    m_testLog.reset();
}
void CAppData::OnHostEvent(CTestParvel*) {}
void CAppData::OnHostError(CTestParvel*) {}
void CAppData::OnHostEventThunk(void* context, CTestParvel* host) { static_cast<CAppData*>(context)->OnHostEvent(host); }
void CAppData::OnHostErrorThunk(void* context, CTestParvel* host) { static_cast<CAppData*>(context)->OnHostError(host); }
void CAppData::LoadLibraryAndAddin(CAppConfig&, uint32_t) {}
void CAppData::LoadUiState(CAppConfig&) {}
void CAppData::SaveLibrary(CAppConfig&) {}
void CAppData::SaveUiState(CAppConfig&) {}
