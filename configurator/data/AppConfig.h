// ConfigParvel.xml, the configurator's own settings file: the key-format library, the key-type
// groups, the confirmation flags, window positions, list columns and sort columns, and the test
// bench's method-argument history. CAppConfig is the document with the readers and writers of each
// kind of element; what the application does with the values is CAppData's business.
//
// Rules a reader must not break:
// - One document is shared process-wide while anybody holds it (GetInstance); it is read from the
//   file again whenever the last holder let go, so every load and save holds it for its duration.
// - Every write begins with Prepare, which starts a file of another version afresh; the caller
//   then writes whole sections, and Save writes the whole file only when something changed.
// - Numbers are text: "hex" is lower case without prefix (read with or without "0x"), "dec" signed.
#pragma once
#include "DamagedFile.h"
#include "KeyFormatItem.h"
#include "KeyTypeGroup.h"
#include "MethodArgument.h"
#include "Xml.h"
#include <windows.h>
#include <unknwn.h>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The widths of a list's columns as (column number from 1, width) pairs.
using ColumnWidths = std::vector<std::pair<int32_t, int32_t>>;

// Resource id of the built-in default ConfigParvel.xml (RCDATA).
const int IDR_DEFAULT_CONFIG = 140;

const wchar_t* const AppConfigFileName = L"ConfigParvel.xml";

class CAppConfigRef;

class CAppConfig : public IUnknown, public CMemXML
{
public:
    // The version this program writes: 1.1.
    static constexpr uint16_t CurrentVersion = 0x0101;

    // The shared document with a reference added; made and loaded when there is none. A load
    // failure throws (the file's CFileException) and nothing becomes shared.
    static CAppConfigRef GetInstance();
    // The folder the shared document's file lives in (without a trailing backslash). Takes effect
    // at the next load.
    static void SetDataFolder(const std::wstring& folder);
    static std::wstring DataFolder();

    // IUnknown: no interfaces are offered; the count is interlocked.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Reads the file when it exists (a read failure throws) and finds Configurator. A file not
    // read whole has its bytes kept beside it first (Damaged; throws when they cannot be kept).
    void Load();
    // What the last Load found wrong with the file and where its bytes were kept.
    const DamagedFileCopy& Damaged() const { return m_damaged; }
    // Before any write: a document of another version (or none) is started afresh as version 1.1,
    // without any section; returns true then, so that the caller writes every section back.
    bool Prepare();
    // Writes the whole file when modified, creating its folder. Throws CFileException.
    void Save();

    const std::wstring& Path() const { return m_path; }
    bool IsModified() const { return m_modified; }
    void SetModified() { m_modified = true; }
    uint16_t Version() const { return m_version; }
    // Parvel/Configurator, or null when the file has none.
    CMXNode* Configurator() const { return m_configurator; }

    // --- elements by kind ------------------------------------------------------------------------
    // "[l,t,w,h]" under the named child; false (rect untouched) unless exactly four numbers match.
    bool GetRect(const CMXNode* element, const std::wstring& child, RECT& rect) const;
    void SetRect(CMXNode* element, const std::wstring& child, const RECT& rect);
    // Attribute sortColumn; `value` untouched when the element is null.
    static void GetSortColumn(const CMXNode* element, int32_t& value);
    void SetSortColumn(CMXNode* element, int32_t column);
    // The pairs of the element's Columns/Item<n> children; only names that read as "Item%d" count.
    static void GetColumns(const CMXNode* element, ColumnWidths& columns);
    void SetColumns(CMXNode* element, const ColumnWidths& columns);

    static void ReadFormatItem(const CMXNode* item, KeyFormatItem& format);
    // Appends Item<n> with `enabled` and Name, Template, Params, Comment, KeyTypes, KeySize.
    void AddFormatItem(CMXNode* formats, const KeyFormatItem& format);
    static void ReadKTGroup(const CMXNode* item, KeyTypeGroup& group);
    // Appends Item<n> with `tabVisible`, Name and KeyTypes.
    void AddKTGroup(CMXNode* groups, const KeyTypeGroup& group);
    // The arguments stored under MethArgs/<method>; empty when there are none.
    static void GetMethodArguments(const CMXNode* methArgs, const std::wstring& method, MethodArguments& args);
    void SetMethodArguments(CMXNode* methArgs, const std::wstring& method, const MethodArguments& args);

    // Finds or creates a path of elements under Configurator (Prepare must have run); marks the
    // document modified.
    CMXNode* Section(const std::wstring& path);
    // Removes an element's children; marks the document modified.
    void Clear(CMXNode* element);

    // --- number texts ------------------------------------------------------------------------------
    static int32_t ReadDec(const std::wstring& text);  // leading signed number, 0 when none
    static uint32_t ReadHex(const std::wstring& text); // leading hexadecimal, optional "0x"; 0 when none
    static std::wstring DecText(int32_t value);
    static std::wstring HexText(uint32_t value);
    // The confirm attribute: a text that does not convert gives 7 (every question on).
    static uint32_t ReadConfirmFlags(const std::wstring& text);

    // --- the built-in default file -------------------------------------------------------------------
    // The bytes of RCDATA IDR_DEFAULT_CONFIG of the module. Throws COSException ("FindResource",
    // "LoadResource").
    static std::string DefaultContent(HMODULE module);
    // Writes the default file byte for byte through a temporary file that then replaces `path`, so
    // a write that fails half way leaves no broken file behind. Throws COSException/CFileException.
    static void WriteDefaultFile(const std::wstring& path, HMODULE module);
    // The one seam through which tests simulate a failing disk for WriteDefaultFile (WriteFile's
    // form; null restores WriteFile).
    typedef BOOL (*WriteBytesFn)(HANDLE file, const void* data, DWORD size, DWORD* written);
    static void SetWriteBytesFunction(WriteBytesFn function);
    // Writes the default file into the folder when it holds no ConfigParvel.xml file; returns
    // whether it wrote.
    static bool EnsureDefaultFile(const std::wstring& folder, HMODULE module);

protected:
    CAppConfig();
    ~CAppConfig() override;

private:
    friend class CAppConfigRef;

    volatile LONG m_refs = 0;
    std::wstring m_path;
    bool m_modified = false;
    uint16_t m_version = 0;
    CMXNode* m_configurator = nullptr;
    DamagedFileCopy m_damaged;
};

// A holder of one reference to a CAppConfig: released when the holder goes. Move-only.
class CAppConfigRef
{
public:
    CAppConfigRef() = default;
    // Adopts a reference the caller already added.
    explicit CAppConfigRef(CAppConfig* config) : m_config(config) {}
    ~CAppConfigRef() { Reset(); }
    CAppConfigRef(CAppConfigRef&& other) noexcept : m_config(other.m_config) { other.m_config = nullptr; }
    CAppConfigRef& operator=(CAppConfigRef&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_config = other.m_config;
            other.m_config = nullptr;
        }
        return *this;
    }
    CAppConfigRef(const CAppConfigRef&) = delete;
    CAppConfigRef& operator=(const CAppConfigRef&) = delete;

    void Reset()
    {
        if (m_config)
            m_config->Release();
        m_config = nullptr;
    }
    CAppConfig* get() const { return m_config; }
    CAppConfig* operator->() const { return m_config; }
    CAppConfig& operator*() const { return *m_config; }
    explicit operator bool() const { return m_config != nullptr; }

private:
    CAppConfig* m_config = nullptr;
};
