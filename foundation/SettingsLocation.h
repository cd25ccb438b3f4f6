// Where the add-in's settings and data live, decided the same way by the add-in (for its library)
// and the configurator (for its program): a file "Parvel.xml" or, failing that, a marker file
// "portable_mode_enabled" beside the module switches on portable mode, in which the settings file
// and the data (logs, the configurator's own file) lie in the module's folder. Otherwise the
// settings are in the registry and the data in the user's application-data folder
// "\Corvane\Parvel", created when missing.
#pragma once
#include <windows.h>
#include <string>

struct SettingsLocation
{
    bool Portable = false;
    std::wstring DataFolder;   // without a trailing backslash
    std::wstring SettingsFile; // DataFolder + "\Parvel.xml" in portable mode; empty otherwise
};

// Whether the folder (without a trailing backslash) holds one of the two portable-mode files as
// a file; a folder of either name does not count.
bool IsPortableFolder(const std::wstring& folder);

// The user's application-data folder + "\Corvane\Parvel", created when it is not an existing
// folder. Throws COSException ("SHGetFolderPath", "ForceDirectories").
std::wstring GetUserDataFolder();

// The rule for a module in `moduleFolder`. `appDataFolder` stands in for the user's
// application-data folder (tests); with the empty default the system's is asked.
SettingsLocation DecideSettingsLocation(const std::wstring& moduleFolder,
                                        const std::wstring& appDataFolder = std::wstring());
// The rule for a module file path (the folder is the text before its last backslash).
SettingsLocation GetSettingsLocation(const std::wstring& modulePath);
// The rule for a loaded module (null: the process's program). Throws COSException
// ("GetModuleFileName") when its path cannot be had.
SettingsLocation GetSettingsLocation(HMODULE module);
