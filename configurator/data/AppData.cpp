// The application's data and its exchange with the add-in's store and ConfigParvel.xml, and the
// test-bench hooks: the lazily made test host and test log, and the listeners that write every
// add-in event and error to the test log.
#include "AppData.h"
#include "Exceptions.h"
#include "CodePage.h"
#include "DataStrings.h"
#include "FileProblem.h"
#include "FoundationStrings.h"
#include "HostLogEntry.h"
#include "Paths.h"
#include "ResText.h"
#include "SettingsStore.h"
#include "TestHost.h"
#include "TestLog.h"
#include "WFormat.h"
#include <exception>
#include <unordered_map>

namespace {

// The five stored window rectangles, by their element names under UI/FormPos.
struct FormPosEntry
{
    const wchar_t* name;
    RECT CAppData::*rect;
};
const FormPosEntry FormPositions[] = {
    {L"AppWin", &CAppData::AppWinRect},   {L"KTGroups", &CAppData::KTGroupsRect},
    {L"DevOpen", &CAppData::DevOpenRect}, {L"Format", &CAppData::FormatRect},
    {L"Method", &CAppData::MethodRect},
};

// Save's refusal to write parts whose load failed.
class CNotLoadedException : public std::exception, public IExceptionMessage
{
public:
    CNotLoadedException() : m_text(LoadResString(IDS_NOT_SAVED_UNLOADED))
    {
        WideToAnsi(m_message, m_text.data(), static_cast<int>(m_text.size()));
    }
    const char* what() const noexcept override { return m_message.c_str(); }
    const std::wstring& Message() const override { return m_text; }

private:
    std::wstring m_text;
    std::string m_message;
};

} // namespace

CAppData::CAppData() = default;

CAppData::~CAppData()
{
    DestroyTestBench();
}

void CAppData::SetLocation(bool portable, const std::wstring& dataFolder)
{
    Portable = portable;
    DataFolder = dataFolder;
    CAppConfig::SetDataFolder(dataFolder);
}

std::wstring CAppData::AddinSettingsFile() const
{
    return DataFolder + L"\\Parvel.xml";
}

// The settings copy and the record are built from the same two groups.
void CAppData::CopySettingsFrom(const CParvelSettings& settings)
{
    static_cast<ConnectionSettings&>(*this) = settings;
    static_cast<AddinOptions&>(*this) = settings;
}

void CAppData::CopySettingsTo(CParvelSettings& settings) const
{
    static_cast<ConnectionSettings&>(settings) = *this;
    static_cast<AddinOptions&>(settings) = *this;
}

// ---------------------------------------------------------------------------------------------
// Load

void CAppData::Load(uint32_t flags)
{
    if (!(flags & (DATA_LIBRARY | DATA_UI | DATA_ADDIN)))
        return;
    // ConfigParvel.xml failing must not keep the add-in's settings from loading: the first
    // failure is passed on once everything that could load has loaded.
    std::exception_ptr failure;
    CAppConfigRef config;
    try {
        config = CAppConfig::GetInstance();
        NoteDamage(config->Damaged());
    } catch (const CFileException& e) {
        failure = std::make_exception_ptr(CFileProblem(FileProblemText(e, false, LoadResString(IDS_CONFIG_NOT_LOADED))));
    } catch (...) {
        failure = std::current_exception();
    }
    if (flags & (DATA_LIBRARY | DATA_ADDIN)) {
        try {
            LoadLibraryAndAddin(config.get(), flags);
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (flags & DATA_UI) {
        if (config) {
            LoadUiState(*config);
            m_failedParts &= ~DATA_UI;
        } else {
            m_failedParts |= DATA_UI;
        }
    }
    if (failure)
        std::rethrow_exception(failure);
}

void CAppData::NoteDamage(const DamagedFileCopy& copy)
{
    if (copy.NewCopy)
        DamageNotices.push_back(copy);
}

void CAppData::LoadLibraryAndAddin(CAppConfig* config, uint32_t flags)
{
    Formats.clear();
    KTGroups.clear();
    m_keepLoadedLibrary = false;
    m_loadedFormats.clear();
    m_loadedGroups.clear();
    if (config)
        m_failedParts &= ~DATA_LIBRARY;
    else
        m_failedParts |= DATA_LIBRARY;
    // A record that the file's end cut short is left out: half read, it would be listed and saved
    // back as the user's entry (key types "All", no comment); what was read whole is kept.
    CMXNode* configurator = config ? config->Configurator() : nullptr;
    if (CMXNode* formats = configurator ? configurator->FindChild(L"Formats") : nullptr) {
        for (const CMXNode* item : formats->Children) {
            if (config->WasLeftOpen(*item))
                continue;
            KeyFormatItem format;
            CAppConfig::ReadFormatItem(item, format);
            Formats.push_back(std::move(format));
        }
    }
    if (CMXNode* groups = configurator ? configurator->FindChild(L"KTGroups") : nullptr) {
        for (const CMXNode* item : groups->Children) {
            if (config->WasLeftOpen(*item))
                continue;
            KeyTypeGroup group;
            CAppConfig::ReadKTGroup(item, group);
            KTGroups.push_back(std::move(group));
        }
    }

    CParvelSettings settings;
    DamagedFileCopy damaged;
    try {
        if (Portable) {
            // No settings file yet is no failure: the add-in runs on its defaults. A folder in
            // its place is one: the pages would show defaults that Save then cannot write.
            const std::wstring file = AddinSettingsFile();
            if (DirectoryExists(file))
                throw CFileProblem(FolderProblemText(file, false, LoadResString(IDS_ADDIN_NOT_LOADED)));
            if (FileExists(file))
                damaged = LoadSettingsFromXml(file, settings);
        } else {
            LoadSettingsFromRegistry(settings);
        }
    } catch (const CFileException& e) {
        if (flags & DATA_ADDIN)
            m_failedParts |= DATA_ADDIN;
        KeepLoadedLibrary(config);
        throw CFileProblem(FileProblemText(e, false, LoadResString(IDS_ADDIN_NOT_LOADED)));
    } catch (...) {
        if (flags & DATA_ADDIN)
            m_failedParts |= DATA_ADDIN;
        KeepLoadedLibrary(config);
        throw;
    }
    NoteDamage(damaged);
    if (flags & DATA_ADDIN) {
        CopySettingsFrom(settings);
        m_failedParts &= ~DATA_ADDIN;
    }
    // The format records of a file not read whole may be cut short: the library keeps its own.
    if (damaged.Damage != XmlDamage::None)
        settings.Formats.clear();

    // What the add-in uses wins over the library's copy of the same name and is enabled; library
    // entries the add-in does not name keep their own enabled mark.
    // The first entry of each name, as FindFormatByName would find it, without a search per format.
    std::unordered_map<std::wstring, size_t> byName;
    for (size_t i = Formats.size(); i-- > 0;)
        byName[Formats[i].Name] = i;
    for (const KeyFormat& format : settings.Formats) {
        KeyFormatItem item;
        static_cast<KeyFormat&>(item) = format;
        item.Enabled = 1;
        auto found = byName.find(format.Name);
        if (found != byName.end()) {
            Formats[found->second] = std::move(item);
        } else {
            byName.emplace(format.Name, Formats.size());
            Formats.push_back(std::move(item));
        }
    }
    MarkFormatConflicts(Formats);
    KeepLoadedLibrary(config);
    ModifiedFlags &= ~(DATA_LIBRARY | DATA_ADDIN);
}

void CAppData::KeepLoadedLibrary(const CAppConfig* config)
{
    m_keepLoadedLibrary = config && (config->Version() != CAppConfig::CurrentVersion || !config->Configurator());
    if (m_keepLoadedLibrary) {
        m_loadedFormats = Formats;
        m_loadedGroups = KTGroups;
    }
}

void CAppData::LoadUiState(CAppConfig& config)
{
    for (const FormPosEntry& entry : FormPositions)
        this->*entry.rect = RECT{};
    FormatsOnlyEnabled = false;
    FormatsKTGroup = 0;
    MethodArgs.clear();

    CMXNode* configurator = config.Configurator();
    if (!configurator)
        return;
    if (const CMXNode* main = configurator->FindChild(L"Main"))
        ConfirmFlags = CAppConfig::ReadConfirmFlags(main->GetAttribute(L"confirm"));

    if (const CMXNode* ui = configurator->FindChild(L"UI")) {
        const CMXNode* formPos = ui->FindChild(L"FormPos");
        for (const FormPosEntry& entry : FormPositions)
            config.GetRect(formPos, entry.name, this->*entry.rect);
        if (const CMXNode* formats = ui->FindChild(L"Formats")) {
            FormatsOnlyEnabled = CAppConfig::ReadDec(formats->GetAttribute(L"onlyEnabled")) != 0;
            FormatsKTGroup = CAppConfig::ReadDec(formats->GetAttribute(L"ktGroup"));
            CAppConfig::GetSortColumn(formats, FormatsSortColumn);
            CAppConfig::GetColumns(formats, FormatsColumns);
        }
        if (const CMXNode* groups = ui->FindChild(L"KTGroups")) {
            CAppConfig::GetSortColumn(groups, KTGroupsSortColumn);
            CAppConfig::GetColumns(groups, KTGroupsColumns);
        }
        if (const CMXNode* sounds = ui->FindChild(L"Sounds"))
            CAppConfig::GetColumns(sounds, SoundsColumns);
        if (const CMXNode* events = ui->FindChild(L"Events"))
            CAppConfig::GetColumns(events, EventsColumns);
        if (const CMXNode* properties = ui->FindChild(L"Properties")) {
            CAppConfig::GetSortColumn(properties, PropertiesSortColumn);
            CAppConfig::GetColumns(properties, PropertiesColumns);
        }
        if (const CMXNode* methods = ui->FindChild(L"Methods")) {
            CAppConfig::GetSortColumn(methods, MethodsSortColumn);
            CAppConfig::GetColumns(methods, MethodsColumns);
        }
        if (const CMXNode* methArgs = ui->FindChild(L"MethArgs"))
            CAppConfig::GetColumns(methArgs, MethArgsColumns);
    }

    if (const CMXNode* methArgs = configurator->FindChild(L"MethArgs")) {
        for (const CMXNode* entry : methArgs->Children) {
            if (config.WasLeftOpen(*entry))
                continue;
            MethodArguments args;
            CAppConfig::GetMethodArguments(methArgs, entry->Name, args);
            // FindChild gives the first element of a name; a repeated name gives the same entry.
            MethodArgs[entry->Name] = std::move(args);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Save

void CAppData::Save(uint32_t flags)
{
    const uint32_t refused = flags & m_failedParts;
    flags &= ~refused;
    // The add-in's store is written first: when it fails nothing was saved; when ConfigParvel.xml
    // fails after it, the user is told that the add-in's settings did reach their store.
    bool addinSaved = false;
    if (flags & DATA_ADDIN) {
        CParvelSettings settings;
        CopySettingsTo(settings);
        for (const KeyFormatItem& item : Formats)
            if (item.Enabled)
                settings.Formats.push_back(static_cast<const KeyFormat&>(item));
        try {
            if (Portable)
                NoteDamage(SaveSettingsToXml(AddinSettingsFile(), settings));
            else
                SaveSettingsToRegistry(settings);
        } catch (const CFileException& e) {
            throw CFileProblem(FileProblemText(e, true, LoadResString(IDS_NOTHING_SAVED)));
        }
        ModifiedFlags &= ~DATA_ADDIN;
        addinSaved = true;
    }
    if (flags & (DATA_LIBRARY | DATA_UI)) {
        auto outcome = [&]() {
            std::wstring text;
            if (addinSaved) {
                if (Portable)
                    FormatResString(text, IDS_SAVED_ADDIN_FILE, AddinSettingsFile().c_str());
                else
                    text = LoadResString(IDS_SAVED_ADDIN_REGISTRY);
                text += L"\r\n";
            }
            return text + LoadResString(IDS_NOT_SAVED_CONFIG);
        };
        CAppConfigRef config;
        try {
            config = CAppConfig::GetInstance();
        } catch (const CFileException& e) {
            throw CFileProblem(FileProblemText(e, false, outcome()));
        }
        try {
            SaveConfiguration(*config, flags);
        } catch (const CFileException& e) {
            throw CFileProblem(FileProblemText(e, true, outcome()));
        }
    }
    if (refused)
        throw CNotLoadedException();
}

void CAppData::SaveConfiguration(CAppConfig& config, uint32_t flags)
{
    NoteDamage(config.Damaged());
    uint32_t parts = flags & (DATA_LIBRARY | DATA_UI);
    // A file of another version has just lost every section: writing only the part asked for
    // would leave the others empty in the file, so all of them are written back (those that
    // were loaded; the library as it was loaded unless its save was asked for).
    if (config.Prepare())
        parts = (DATA_LIBRARY | DATA_UI) & ~m_failedParts;
    uint32_t saved = parts;
    if (parts & DATA_LIBRARY) {
        bool asLoaded = !(flags & DATA_LIBRARY) && m_keepLoadedLibrary;
        if (asLoaded)
            saved &= ~DATA_LIBRARY;   // the user's edits are still unsaved
        SaveLibrary(config, asLoaded ? m_loadedFormats : Formats, asLoaded ? m_loadedGroups : KTGroups);
    }
    if (parts & DATA_UI)
        SaveUiState(config);
    config.Save();
    if (parts & DATA_LIBRARY) {
        m_keepLoadedLibrary = false;
        m_loadedFormats.clear();
        m_loadedGroups.clear();
    }
    ModifiedFlags &= ~saved;
}

void CAppData::SaveLibrary(CAppConfig& config, const KeyFormatLibrary& formats, const KeyTypeGroupList& groups)
{
    CMXNode* formatsNode = config.Section(L"Formats");
    config.Clear(formatsNode);
    for (const KeyFormatItem& item : formats)
        config.AddFormatItem(formatsNode, item);
    CMXNode* groupsNode = config.Section(L"KTGroups");
    config.Clear(groupsNode);
    for (const KeyTypeGroup& group : groups)
        config.AddKTGroup(groupsNode, group);
}

void CAppData::SaveUiState(CAppConfig& config)
{
    config.Section(L"Main")->SetAttribute(L"confirm", CAppConfig::HexText(ConfirmFlags));
    CMXNode* formPos = config.Section(L"UI\\FormPos");
    for (const FormPosEntry& entry : FormPositions)
        config.SetRect(formPos, entry.name, this->*entry.rect);

    CMXNode* formats = config.Section(L"UI\\Formats");
    formats->SetAttribute(L"onlyEnabled", FormatsOnlyEnabled ? L"1" : L"0");
    config.SetSortColumn(formats, FormatsSortColumn);
    formats->SetAttribute(L"ktGroup", CAppConfig::DecText(FormatsKTGroup));
    config.SetColumns(formats, FormatsColumns);

    CMXNode* groups = config.Section(L"UI\\KTGroups");
    config.SetSortColumn(groups, KTGroupsSortColumn);
    config.SetColumns(groups, KTGroupsColumns);
    config.SetColumns(config.Section(L"UI\\Sounds"), SoundsColumns);
    config.SetColumns(config.Section(L"UI\\Events"), EventsColumns);
    CMXNode* properties = config.Section(L"UI\\Properties");
    config.SetSortColumn(properties, PropertiesSortColumn);
    config.SetColumns(properties, PropertiesColumns);
    CMXNode* methods = config.Section(L"UI\\Methods");
    config.SetSortColumn(methods, MethodsSortColumn);
    config.SetColumns(methods, MethodsColumns);
    config.SetColumns(config.Section(L"UI\\MethArgs"), MethArgsColumns);

    CMXNode* methArgs = config.Section(L"MethArgs");
    config.Clear(methArgs);
    for (const auto& entry : MethodArgs)
        config.SetMethodArguments(methArgs, entry.first, entry.second);
}

// ---------------------------------------------------------------------------------------------
// History and defaults

void CAppData::SetMethodArgs(const std::wstring& method, const MethodArguments& args)
{
    MethodArgs[method] = args;
}

void CAppData::SetPageDefaults(int page)
{
    const CParvelSettings defaults;
    switch (page) {
    case DefaultsConnection:
        static_cast<ConnectionSettings&>(*this) = defaults;
        Log = defaults.Log;
        LogFlags = defaults.LogFlags;
        LoadAtStartup = defaults.LoadAtStartup;
        SearchFlags = defaults.SearchFlags;
        FindIpTimeout = defaults.FindIpTimeout;
        FindIpTries = defaults.FindIpTries;
        ModifiedFlags |= DATA_ADDIN;
        break;
    case DefaultsFormats:
        Formats.clear();
        // The add-in's format list is the library's enabled part: it is emptied too.
        ModifiedFlags |= DATA_LIBRARY | DATA_ADDIN;
        break;
    case DefaultsReadKeys:
        KeyTypes = defaults.KeyTypes;
        ReadMf = defaults.ReadMf;
        ReadUL = defaults.ReadUL;
        ModifiedFlags |= DATA_ADDIN;
        break;
    case DefaultsSounds:
        SoundEnabled = defaults.SoundEnabled;
        SoundFiles = defaults.SoundFiles;
        ModifiedFlags |= DATA_ADDIN;
        break;
    case DefaultsOptions:
        ConfirmFlags = CONFIRM_REMOVE_FORMATS | CONFIRM_LOAD | CONFIRM_SAVE;
        ModifiedFlags |= DATA_UI;
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Test-bench hooks

CTestParvel* CAppData::GetTestHost()
{
    if (m_testHost)
        return m_testHost.get();
    m_testHost.reset(new CTestParvel);
    m_testHost->AddListener(ListenEvent, this, OnHostEventThunk);
    m_testHost->AddListener(ListenError, this, OnHostErrorThunk);
    m_testHost->CreateHostWindow();
    return m_testHost.get();
}

CTestLog* CAppData::GetTestLog()
{
    if (m_testLog)
        return m_testLog.get();
    std::unique_ptr<CTestLog> log(new CTestLog);
    log->Open(DataFolder + L"\\TestParvel.log");
    m_testLog = std::move(log);
    return m_testLog.get();
}

void CAppData::DestroyTestBench()
{
    if (m_testHost) {
        m_testHost->RemoveListeners(this);
        m_testHost->Unload();
        m_testHost.reset();
    }
    m_testLog.reset();
}

void CAppData::OnHostEvent(CTestParvel* host)
{
    // An event listener must never fail the host's delivery: the entry is simply lost then.
    try {
        GetTestLog()->Write(LogEntryOfEvent(host->CurrentEvent()));
        OnTestEventLogged();
    } catch (...) {
    }
}

void CAppData::OnHostError(CTestParvel* host)
{
    GetTestLog()->Write(LogEntryOfError(host->CurrentError()));
}

void CAppData::OnHostEventThunk(void* context, CTestParvel* host)
{
    static_cast<CAppData*>(context)->OnHostEvent(host);
}

void CAppData::OnHostErrorThunk(void* context, CTestParvel* host)
{
    static_cast<CAppData*>(context)->OnHostError(host);
}
