// ConfigParvel.xml: the shared document, the readers and writers of its elements, and the
// built-in default file.
#include "AppConfig.h"
#include "Exceptions.h"
#include "Handles.h"
#include "Paths.h"
#include "WFormat.h"
#include <cerrno>
#include <cstdio>
#include <cwchar>

namespace {

CAppConfig* s_shared = nullptr;   // the live shared document (user-interface thread only)
std::wstring s_dataFolder;

BOOL DefaultWriteBytes(HANDLE file, const void* data, DWORD size, DWORD* written)
{
    return WriteFile(file, data, size, written, nullptr);
}
CAppConfig::WriteBytesFn s_writeBytes = DefaultWriteBytes;

const std::wstring& ChildText(const CMXNode* element, const wchar_t* name)
{
    static const std::wstring empty;
    const CMXNode* child = element ? element->FindChild(name) : nullptr;
    return child ? child->Text : empty;
}

// Item<n>, n = the number of children already there + 1.
CMXNode* AddItem(CMXNode* parent)
{
    std::wstring name;
    FormatString(name, L"Item%d", static_cast<int>(parent->Children.size() + 1));
    return parent->AddChild(name);
}

CMXNode* Child(CMXNode* element, const std::wstring& name)
{
    CMXNode* child = element->FindChild(name);
    return child ? child : element->AddChild(name);
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The shared instance

CAppConfigRef CAppConfig::GetInstance()
{
    if (s_shared) {
        s_shared->AddRef();
        return CAppConfigRef(s_shared);
    }
    CAppConfigRef holder(new CAppConfig);
    holder->AddRef();
    holder->Load();   // a failure releases the new document, which never became shared
    s_shared = holder.get();
    return holder;
}

void CAppConfig::SetDataFolder(const std::wstring& folder) { s_dataFolder = folder; }
std::wstring CAppConfig::DataFolder() { return s_dataFolder; }

CAppConfig::CAppConfig() = default;
CAppConfig::~CAppConfig() = default;

HRESULT STDMETHODCALLTYPE CAppConfig::QueryInterface(REFIID, void** object)
{
    if (object)
        *object = nullptr;
    return E_NOTIMPL;
}

ULONG STDMETHODCALLTYPE CAppConfig::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }

ULONG STDMETHODCALLTYPE CAppConfig::Release()
{
    LONG count = InterlockedDecrement(&m_refs);
    if (count == 0) {
        if (s_shared == this)
            s_shared = nullptr;
        delete this;
    }
    return static_cast<ULONG>(count);
}

// ---------------------------------------------------------------------------------------------
// The file

void CAppConfig::Load()
{
    m_path = s_dataFolder + L"\\" + AppConfigFileName;
    m_damaged = DamagedFileCopy();
    if (FileExists(m_path)) {
        LoadFile(m_path);
        m_damaged = KeepIfDamaged(*this, m_path, L"Parvel");
    }
    m_modified = false;
    m_version = 0;
    CMXNode* parvel = m_root.FindChild(L"Parvel");
    m_configurator = parvel ? parvel->FindChild(L"Configurator") : nullptr;
    if (m_configurator) {
        int major = 0, minor = 0;
        if (swscanf(m_configurator->GetAttribute(L"version").c_str(), L"%d.%d", &major, &minor) == 2)
            m_version = static_cast<uint16_t>(major * 256 + minor);
    }
}

bool CAppConfig::Prepare()
{
    if (m_version == CurrentVersion && m_configurator)
        return false;
    m_version = CurrentVersion;
    m_root.SetAttribute(L"version", L"1.0");
    m_root.SetAttribute(L"encoding", L"utf-8");
    m_configurator = Child(Child(&m_root, L"Parvel"), L"Configurator");
    m_configurator->RemoveChildren();
    std::wstring version;
    FormatString(version, L"%d.%d", CurrentVersion >> 8, CurrentVersion & 0xFF);
    m_configurator->SetAttribute(L"version", version);
    m_modified = true;
    return true;
}

void CAppConfig::Save()
{
    if (!m_modified)
        return;
    std::wstring folder = ExtractFolder(m_path);
    if (!folder.empty() && !DirectoryExists(folder) && !ForceDirectories(folder))
        ThrowFileExceptionFromOsError(GetLastError(), folder.c_str());
    SaveFile(m_path);
    m_modified = false;
}

// ---------------------------------------------------------------------------------------------
// Elements

bool CAppConfig::GetRect(const CMXNode* element, const std::wstring& child, RECT& rect) const
{
    if (!element)
        return false;
    const CMXNode* node = element->FindChild(child);
    if (!node)
        return false;
    int left = 0, top = 0, width = 0, height = 0;
    if (swscanf(node->Text.c_str(), L"[%d,%d,%d,%d]", &left, &top, &width, &height) != 4)
        return false;
    rect.left = left;
    rect.top = top;
    rect.right = left + width;
    rect.bottom = top + height;
    return true;
}

void CAppConfig::SetRect(CMXNode* element, const std::wstring& child, const RECT& rect)
{
    FormatString(Child(element, child)->Text, L"[%d,%d,%d,%d]", static_cast<int>(rect.left),
                 static_cast<int>(rect.top), static_cast<int>(rect.right - rect.left),
                 static_cast<int>(rect.bottom - rect.top));
    m_modified = true;
}

void CAppConfig::GetSortColumn(const CMXNode* element, int32_t& value)
{
    if (element)
        value = ReadDec(element->GetAttribute(L"sortColumn"));
}

void CAppConfig::SetSortColumn(CMXNode* element, int32_t column)
{
    element->SetAttribute(L"sortColumn", DecText(column));
    m_modified = true;
}

void CAppConfig::GetColumns(const CMXNode* element, ColumnWidths& columns)
{
    columns.clear();
    const CMXNode* list = element ? element->FindChild(L"Columns") : nullptr;
    if (!list)
        return;
    for (const CMXNode* item : list->Children) {
        int number = 0;
        if (swscanf(item->Name.c_str(), L"Item%d", &number) == 1)
            columns.emplace_back(number, ReadDec(item->GetAttribute(L"width")));
    }
}

void CAppConfig::SetColumns(CMXNode* element, const ColumnWidths& columns)
{
    CMXNode* list = Child(element, L"Columns");
    list->RemoveChildren();
    std::wstring name;
    for (const auto& column : columns) {
        FormatString(name, L"Item%d", static_cast<int>(column.first));
        list->AddChild(name)->SetAttribute(L"width", DecText(column.second));
    }
    m_modified = true;
}

void CAppConfig::ReadFormatItem(const CMXNode* item, KeyFormatItem& format)
{
    format.Enabled = ReadDec(item->GetAttribute(L"enabled")) != 0 ? 1 : 0;
    format.Name = ChildText(item, L"Name");
    format.Template = ChildText(item, L"Template");
    format.Params = ChildText(item, L"Params");
    format.Comment = ChildText(item, L"Comment");
    format.KeyTypes = ReadHex(ChildText(item, L"KeyTypes"));
    format.KeySize = static_cast<uint32_t>(ReadDec(ChildText(item, L"KeySize")));
}

void CAppConfig::AddFormatItem(CMXNode* formats, const KeyFormatItem& format)
{
    CMXNode* item = AddItem(formats);
    item->SetAttribute(L"enabled", DecText(static_cast<int32_t>(format.Enabled)));
    item->AddChild(L"Name")->Text = format.Name;
    item->AddChild(L"Template")->Text = format.Template;
    item->AddChild(L"Params")->Text = format.Params;
    item->AddChild(L"Comment")->Text = format.Comment;
    item->AddChild(L"KeyTypes")->Text = HexText(format.KeyTypes);
    item->AddChild(L"KeySize")->Text = DecText(static_cast<int32_t>(format.KeySize));
    m_modified = true;
}

void CAppConfig::ReadKTGroup(const CMXNode* item, KeyTypeGroup& group)
{
    group.Visible = ReadDec(item->GetAttribute(L"tabVisible")) != 0 ? 1 : 0;
    group.Name = ChildText(item, L"Name");
    group.KeyTypes = ReadHex(ChildText(item, L"KeyTypes"));
}

void CAppConfig::AddKTGroup(CMXNode* groups, const KeyTypeGroup& group)
{
    CMXNode* item = AddItem(groups);
    item->SetAttribute(L"tabVisible", DecText(static_cast<int32_t>(group.Visible)));
    item->AddChild(L"Name")->Text = group.Name;
    item->AddChild(L"KeyTypes")->Text = HexText(group.KeyTypes);
    m_modified = true;
}

void CAppConfig::GetMethodArguments(const CMXNode* methArgs, const std::wstring& method, MethodArguments& args)
{
    args.clear();
    const CMXNode* entry = methArgs ? methArgs->FindChild(method) : nullptr;
    if (!entry)
        return;
    for (const CMXNode* item : entry->Children) {
        MethodArgument arg;
        arg.Type = static_cast<uint16_t>(ReadDec(item->GetAttribute(L"type")));
        arg.Value = item->Text;
        args.push_back(std::move(arg));
    }
}

void CAppConfig::SetMethodArguments(CMXNode* methArgs, const std::wstring& method, const MethodArguments& args)
{
    CMXNode* entry = Child(methArgs, method);
    entry->RemoveChildren();
    for (const MethodArgument& arg : args) {
        CMXNode* item = entry->AddChild(L"Item");
        item->SetAttribute(L"type", DecText(arg.Type));
        item->Text = arg.Value;
    }
    m_modified = true;
}

CMXNode* CAppConfig::Section(const std::wstring& path)
{
    if (!m_configurator)
        Prepare();
    m_modified = true;
    return m_configurator->GetNode(path, true);
}

void CAppConfig::Clear(CMXNode* element)
{
    element->RemoveChildren();
    m_modified = true;
}

// ---------------------------------------------------------------------------------------------
// Number texts

int32_t CAppConfig::ReadDec(const std::wstring& text)
{
    return static_cast<int32_t>(std::wcstol(text.c_str(), nullptr, 10));
}

uint32_t CAppConfig::ReadHex(const std::wstring& text)
{
    return static_cast<uint32_t>(std::wcstoul(text.c_str(), nullptr, 16));
}

std::wstring CAppConfig::DecText(int32_t value)
{
    std::wstring text;
    FormatString(text, L"%d", static_cast<int>(value));
    return text;
}

std::wstring CAppConfig::HexText(uint32_t value)
{
    std::wstring text;
    FormatString(text, L"%x", static_cast<unsigned>(value));
    return text;
}

uint32_t CAppConfig::ReadConfirmFlags(const std::wstring& text)
{
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long value = std::wcstoul(text.c_str(), &end, 16);
    // Every question stays on when the text is no number at all.
    if (value == 0 && (errno != 0 || end == text.c_str()))
        return 7;
    return static_cast<uint32_t>(value);
}

// ---------------------------------------------------------------------------------------------
// The built-in default file

std::string CAppConfig::DefaultContent(HMODULE module)
{
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(IDR_DEFAULT_CONFIG), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
    if (!resource)
        ThrowOSException(GetLastError(), L"FindResource");
    HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        ThrowOSException(GetLastError(), L"LoadResource");
    return std::string(static_cast<const char*>(data), SizeofResource(module, resource));
}

void CAppConfig::SetWriteBytesFunction(WriteBytesFn function)
{
    s_writeBytes = function ? function : DefaultWriteBytes;
}

void CAppConfig::WriteDefaultFile(const std::wstring& path, HMODULE module)
{
    const std::string content = DefaultContent(module);
    // A half-written settings file would be taken as existing at every later start and never be
    // rewritten: the content goes to a temporary file that replaces the target only when complete.
    std::wstring tempPath;
    FormatString(tempPath, L"%s.%lx.tmp", path.c_str(), GetCurrentProcessId());
    {
        CFileHandle file(CreateFileW(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            ThrowFileExceptionFromOsError(GetLastError(), path.c_str());
        DWORD written = 0;
        if (!s_writeBytes(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written)) {
            DWORD error = GetLastError();
            file.Reset();
            DeleteFileW(tempPath.c_str());
            ThrowFileExceptionFromOsError(error, path.c_str());
        }
        if (written != content.size()) {
            file.Reset();
            DeleteFileW(tempPath.c_str());
            ThrowFileException(CFileException::DiskFull, CFileException::NoOsError, path.c_str());
        }
    }
    if (!MoveFileExW(tempPath.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD error = GetLastError();
        DeleteFileW(tempPath.c_str());
        ThrowFileExceptionFromOsError(error, path.c_str());
    }
}

bool CAppConfig::EnsureDefaultFile(const std::wstring& folder, HMODULE module)
{
    const std::wstring path = folder + L"\\" + AppConfigFileName;
    if (FileExists(path))
        return false;
    WriteDefaultFile(path, module);
    return true;
}
