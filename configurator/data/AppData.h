// The configurator's data while it runs: its own copy of every value of the add-in's settings, the
// key-format library and key-type groups, its options and window state, the method-argument
// history of the test bench, and the test bench's two long-lived objects (the test host and the
// test log). Load and Save exchange these with the add-in's store (registry, or Parvel.xml in
// portable mode) and with ConfigParvel.xml; the flags say which part.
//
// Rules a reader must not break:
// - Pages and dialogs change these fields only in their UpdateData and set ModifiedFlags bits for
//   user edits; Load and Save clear the bits of the parts they handled, nothing else does.
// - The add-in's format list is the enabled part of the library, in library order.
// - Everything here runs on the user-interface thread.
#pragma once
#include "AppConfig.h"
#include "KeyFormatItem.h"
#include "KeyTypeGroup.h"
#include "MethodArgument.h"
#include "Settings.h"
#include <windows.h>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CTestParvel;
class CTestLog;

// Parts of the data for Load and Save, and the bits of ModifiedFlags (the same numbers).
const uint32_t DATA_LIBRARY = 1; // format library and key-type groups (ConfigParvel.xml)
const uint32_t DATA_UI = 2;      // confirmation flags, window and list state, argument history
const uint32_t DATA_ADDIN = 8;   // the add-in's settings and the enabled formats (the add-in's store)

// Bits of ConfirmFlags.
const uint32_t CONFIRM_REMOVE_FORMATS = 1;
const uint32_t CONFIRM_LOAD = 2;
const uint32_t CONFIRM_SAVE = 4;

// Pages whose values the Default command returns to their defaults (SetPageDefaults).
enum DefaultsPage : int
{
    DefaultsConnection = 0,
    DefaultsFormats = 1,
    DefaultsReadKeys = 2,
    DefaultsSounds = 3,
    DefaultsOptions = 4,
};

// The add-in's settings copy is the two groups of the settings record (their defaults at start-up),
// so the pages name its values as the record does.
class CAppData : public ConnectionSettings, public AddinOptions
{
public:
    CAppData();
    virtual ~CAppData();
    CAppData(const CAppData&) = delete;
    CAppData& operator=(const CAppData&) = delete;

    // Where the data lives: the portable flag and the data folder (without a trailing backslash),
    // as the location rule decided them. Also names the folder of ConfigParvel.xml.
    void SetLocation(bool portable, const std::wstring& dataFolder);
    // The add-in's settings file in portable mode: data folder + "\Parvel.xml".
    std::wstring AddinSettingsFile() const;

    // Exchanges the parts named by flags (DATA_*; other bits ignored). Store failures propagate
    // with the steps done so far kept; a failing ConfigParvel.xml does not keep the add-in's
    // settings from loading. Save never writes a part whose last load failed over what is stored:
    // it saves the others and then throws.
    void Load(uint32_t flags);
    void Save(uint32_t flags);
    // Replaces (or creates) the history entry of a method. Sets no modified bit.
    void SetMethodArgs(const std::wstring& method, const MethodArguments& args);
    // The Default command: returns one page's values to their defaults and marks what it changed
    // modified, so that a close without Save asks about the reset instead of losing it.
    void SetPageDefaults(int page);

    // The settings copy <-> a settings record (every value except the format list).
    void CopySettingsFrom(const CParvelSettings& settings);
    void CopySettingsTo(CParvelSettings& settings) const;

    // --- test-bench hooks -------------------------------------------------------------------------
    // The test host, made on first use with this object's two listeners and its hidden window.
    // Throws COSException ("CreateWindowEx") when the window cannot be made; the host then stays.
    CTestParvel* GetTestHost();
    // The test log on data folder + "\TestParvel.log", made (and emptied) on first use.
    CTestLog* GetTestLog();
    bool HasTestHost() const { return m_testHost != nullptr; }
    bool HasTestLog() const { return m_testLog != nullptr; }
    // On closing: removes the listeners, unloads the add-in, deletes the host, then the log.
    void DestroyTestBench();

    void OnHostEvent(CTestParvel* host);
    void OnHostError(CTestParvel* host);
    static void OnHostEventThunk(void* context, CTestParvel* host);
    static void OnHostErrorThunk(void* context, CTestParvel* host);

    // --- where the data lives -----------------------------------------------------------------------
    bool Portable = false;
    std::wstring DataFolder;

    // --- sound playing state (the sound page) -------------------------------------------------------
    int32_t SoundOpenEvent = -1;    // the event whose sound is open or playing
    int32_t SoundPlayingEvent = -1; // the event whose media sound plays now
    bool SoundIsWav = false;        // the open sound is a .wav file

    // --- library and groups ------------------------------------------------------------------------
    KeyFormatLibrary Formats;
    KeyTypeGroupList KTGroups;

    // --- formats page state ------------------------------------------------------------------------
    int32_t FormatsKTGroup = 0; // selected group tab, 0 = all
    bool FormatsOnlyEnabled = false;
    int32_t FormatsSortColumn = 0;
    ColumnWidths FormatsColumns;

    // --- groups dialog state -------------------------------------------------------------------------
    RECT KTGroupsRect = {};
    int32_t KTGroupsSortColumn = 0;
    ColumnWidths KTGroupsColumns;

    uint32_t ConfirmFlags = CONFIRM_REMOVE_FORMATS | CONFIRM_LOAD | CONFIRM_SAVE;

    ColumnWidths SoundsColumns;
    ColumnWidths EventsColumns;
    int32_t PropertiesSortColumn = 0;
    ColumnWidths PropertiesColumns;
    int32_t MethodsSortColumn = 0;
    ColumnWidths MethodsColumns;

    uint32_t ModifiedFlags = 0; // DATA_* bits changed since the last Load or Save of that part

    // Normal rectangles (all zero = none stored): main window, device, key-format and method dialogs.
    RECT AppWinRect = {};
    RECT DevOpenRect = {};
    RECT FormatRect = {};
    RECT MethodRect = {};

    ColumnWidths MethArgsColumns;
    MethodArgumentHistory MethodArgs;

    // Settings files met by Load or Save that were not read whole and whose bytes were kept just
    // now: the window part tells the user about each once and empties the list.
    std::vector<DamagedFileCopy> DamageNotices;

protected:
    // Called after an add-in event was written to the test log, so that the window part can tell
    // the events page to refresh. Must not throw out of a listener: exceptions are dropped there.
    virtual void OnTestEventLogged() {}

private:
    void LoadLibraryAndAddin(CAppConfig* config, uint32_t flags);
    void LoadUiState(CAppConfig& config);
    void NoteDamage(const DamagedFileCopy& copy);
    void KeepLoadedLibrary(const CAppConfig* config);
    // ConfigParvel.xml's part of Save, on the held document.
    void SaveConfiguration(CAppConfig& config, uint32_t flags);
    void SaveLibrary(CAppConfig& config, const KeyFormatLibrary& formats, const KeyTypeGroupList& groups);
    void SaveUiState(CAppConfig& config);

    // DATA_* parts whose last load failed: not to be saved over what is stored.
    uint32_t m_failedParts = 0;
    // The library as loaded from a ConfigParvel.xml of another version (or without Configurator):
    // a save of the other parts rewrites every section of such a file, and the library section
    // then gets what was loaded, not edits the user has not saved.
    bool m_keepLoadedLibrary = false;
    KeyFormatLibrary m_loadedFormats;
    KeyTypeGroupList m_loadedGroups;

    std::unique_ptr<CTestParvel> m_testHost;
    std::unique_ptr<CTestLog> m_testLog;
};
