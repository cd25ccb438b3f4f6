// The two stores of the add-in's settings: the current user's registry key Software\Corvane\Parvel
// and, in portable mode, the settings file Parvel.xml. The add-in and the configurator use the same
// functions, so settings written by one are what the other reads; the stored layout therefore must
// not change. Loads fill a record (normally a freshly constructed one) and leave values the store
// lacks as they are; a failing load leaves the record partly filled.
// Failures throw COSException (registry, folder creation) or CFileException (file access).
#pragma once
#include "Settings.h"
#include <cstdint>
#include <string>

// `parts` is a combination of SETTINGS_MAIN and SETTINGS_FORMATS.
void LoadSettingsFromRegistry(CParvelSettings& settings, uint32_t parts);
void SaveSettingsToRegistry(const CParvelSettings& settings, uint32_t parts);
void LoadSettingsFromXml(const std::wstring& path, CParvelSettings& settings, uint32_t parts);
// Merges the record into the file: content of the file that the store does not know survives.
void SaveSettingsToXml(const std::wstring& path, const CParvelSettings& settings, uint32_t parts);

// The configurator's forms: always every value and the format list.
inline void LoadSettingsFromRegistry(CParvelSettings& settings)
{
    LoadSettingsFromRegistry(settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline void SaveSettingsToRegistry(const CParvelSettings& settings)
{
    SaveSettingsToRegistry(settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline void LoadSettingsFromXml(const std::wstring& path, CParvelSettings& settings)
{
    LoadSettingsFromXml(path, settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}
inline void SaveSettingsToXml(const std::wstring& path, const CParvelSettings& settings)
{
    SaveSettingsToXml(path, settings, SETTINGS_MAIN | SETTINGS_FORMATS);
}

// The quick scan used at start-up: whether the file holds LoadAtStartup="<non-zero>", found as
// text without building a document. Throws CFileException when the file cannot be read.
bool ReadXmlLoadAtStartup(const std::wstring& path);
