// The two stores of the add-in's settings: the current user's registry key Software\Corvane\Parvel
// and, in portable mode, the settings file Parvel.xml. The add-in and the configurator use the same
// functions, so settings written by one are what the other reads; the stored layout therefore must
// not change. Loads fill a record (normally a freshly constructed one) and leave values the store
// lacks as they are; a failing load leaves the record partly filled.
// Failures throw COSException (registry, folder creation) or CFileException (file access).
#pragma once
#include "DamagedFile.h"
#include "Settings.h"
#include <cstdint>
#include <string>

// `parts` is a combination of SETTINGS_MAIN and SETTINGS_FORMATS.
void LoadSettingsFromRegistry(CParvelSettings& settings, uint32_t parts);
void SaveSettingsToRegistry(const CParvelSettings& settings, uint32_t parts);
// A settings file not read whole is read as far as it goes, with its bytes kept beside it first
// (DamagedFile.h); the result says what was wrong and where the bytes are (Damage None when the
// file was read whole). The caller tells the user or the log when the copy is new.
DamagedFileCopy LoadSettingsFromXml(const std::wstring& path, CParvelSettings& settings, uint32_t parts);
// Merges the record into the file: content of the file that the store does not know survives.
DamagedFileCopy SaveSettingsToXml(const std::wstring& path, const CParvelSettings& settings, uint32_t parts);

// The configurator's forms: always every value and the format list.
inline void LoadSettingsFromRegistry(CParvelSettings& settings)
{
    LoadSettingsFromRegistry(settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline void SaveSettingsToRegistry(const CParvelSettings& settings)
{
    SaveSettingsToRegistry(settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline DamagedFileCopy LoadSettingsFromXml(const std::wstring& path, CParvelSettings& settings)
{
    return LoadSettingsFromXml(path, settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline DamagedFileCopy SaveSettingsToXml(const std::wstring& path, const CParvelSettings& settings)
{
    return SaveSettingsToXml(path, settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}

// The quick scan used at start-up: whether the file holds LoadAtStartup="<non-zero>", found as
// text without building a document. Throws CFileException when the file cannot be read.
bool ReadXmlLoadAtStartup(const std::wstring& path);
