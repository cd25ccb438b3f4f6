// ConfigParvel.xml: the shared document, its element readers and writers and the default file.
#include "AppConfig.h"

CAppConfigRef CAppConfig::GetInstance() { return CAppConfigRef(); }
void CAppConfig::SetDataFolder(const std::wstring&) {}
std::wstring CAppConfig::DataFolder() { return std::wstring(); }
CAppConfig::CAppConfig() = default;
CAppConfig::~CAppConfig() = default;
HRESULT STDMETHODCALLTYPE CAppConfig::QueryInterface(REFIID, void** object)
{
    if (object)
        *object = nullptr;
    return E_NOTIMPL;
}
ULONG STDMETHODCALLTYPE CAppConfig::AddRef() { return InterlockedIncrement(&m_refs); }
ULONG STDMETHODCALLTYPE CAppConfig::Release()
{
    LONG n = InterlockedDecrement(&m_refs);
    if (n == 0)
        delete this;
    return n;
}
void CAppConfig::Load() {}
void CAppConfig::Prepare() {}
void CAppConfig::Save() {}
bool CAppConfig::GetRect(const CMXNode*, const std::wstring&, RECT&) const { return false; }
void CAppConfig::SetRect(CMXNode*, const std::wstring&, const RECT&) {}
void CAppConfig::GetSortColumn(const CMXNode*, int32_t&) {}
void CAppConfig::SetSortColumn(CMXNode*, int32_t) {}
void CAppConfig::GetColumns(const CMXNode*, ColumnWidths& columns) { columns.clear(); }
void CAppConfig::SetColumns(CMXNode*, const ColumnWidths&) {}
void CAppConfig::ReadFormatItem(const CMXNode*, KeyFormatItem&) {}
void CAppConfig::AddFormatItem(CMXNode*, const KeyFormatItem&) {}
void CAppConfig::ReadKTGroup(const CMXNode*, KeyTypeGroup&) {}
void CAppConfig::AddKTGroup(CMXNode*, const KeyTypeGroup&) {}
void CAppConfig::GetMethodArguments(const CMXNode*, const std::wstring&, MethodArguments& args) { args.clear(); }
void CAppConfig::SetMethodArguments(CMXNode*, const std::wstring&, const MethodArguments&) {}
CMXNode* CAppConfig::Section(const std::wstring&) { return nullptr; }
void CAppConfig::Clear(CMXNode*) {}
int32_t CAppConfig::ReadDec(const std::wstring&) { return 0; }
uint32_t CAppConfig::ReadHex(const std::wstring&) { return 0; }
std::wstring CAppConfig::DecText(int32_t) { return std::wstring(); }
std::wstring CAppConfig::HexText(uint32_t) { return std::wstring(); }
uint32_t CAppConfig::ReadConfirmFlags(const std::wstring&) { return 7; }
std::string CAppConfig::DefaultContent(HMODULE) { return std::string(); }
void CAppConfig::WriteDefaultFile(const std::wstring&, HMODULE) {}
bool CAppConfig::EnsureDefaultFile(const std::wstring&, HMODULE) { return false; }
