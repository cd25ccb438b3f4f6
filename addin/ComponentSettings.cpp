// Settings in the component: moving values between the settings record of the stores and the
// component's own fields, the LoadSettings and SaveSettings methods, and the load-at-start-up
// decision of Init.
//
// Rules: connection values load into the loaded record and from there into the working record;
// saves write the loaded record, never what properties or SetParameter changed since. The
// component holds no load-at-start-up value, so a save keeps the one the store already has.
// Members change only after the store has been read whole, so a failing load changes nothing.
#include "Component.h"
#include "Exceptions.h"
#include "FoundationStrings.h"
#include "Paths.h"
#include "RegKey.h"
#include "SettingsStore.h"

namespace {

const wchar_t* const SettingsKey = L"Software\\Corvane\\Parvel";
const wchar_t* const SettingsFileName = L"\\Parvel.xml";

// The parts argument of LoadSettings and SaveSettings: p0 when it is an integer, else both parts.
uint32_t PartsArgument(const tVariant* params, long count)
{
    uint32_t parts = SETTINGS_MAIN | SETTINGS_FORMATS;
    if (params && count >= 1 && !CParvel::VariantToUInt(&params[0], parts))
        parts = SETTINGS_MAIN | SETTINGS_FORMATS;
    return parts;
}

} // namespace

std::wstring CParvel::SettingsFile() const
{
    return m_settingsFolder + SettingsFileName;
}

bool CParvel::ReadStoredLoadAtStartup() const
{
    if (m_portable) {
        const std::wstring file = SettingsFile();
        return FileExists(file) && ReadXmlLoadAtStartup(file);
    }
    RegKeyHolder key;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, key.Receive());
    if (rc == ERROR_FILE_NOT_FOUND)
        return false;
    if (rc != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(rc), L"RegOpenKeyEx");
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD size = sizeof(value);
    rc = RegQueryValueExW(key.Get(), L"LoadAtStartup", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (rc == ERROR_FILE_NOT_FOUND || (rc == ERROR_MORE_DATA && type != REG_DWORD))
        return false; // absent, or a value of another type: off
    if (rc != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(rc), L"RegQueryValueEx");
    return type == REG_DWORD && value != 0;
}

void CParvel::AddDefaultFormat()
{
    KeyFormat format;
    format.Name = L"HelmSaaS";
    format.Template = L"%.3u,%.5u";
    format.Params = L"b2 w01";
    CritSecLock lock(m_lock);
    AddKeyFormat(m_formats, format);
}

void CParvel::LoadSettingsParts(uint32_t parts)
{
    CParvelSettings s;
    if (m_portable) {
        const std::wstring file = SettingsFile();
        if (FileExists(file))
            NoteDamage(LoadSettingsFromXml(file, s, parts));
    } else {
        LoadSettingsFromRegistry(s, parts);
    }

    std::array<std::wstring, 4> soundFiles = s.SoundFiles;
    KeyFormatList formats = s.Formats;

    if (parts & SETTINGS_MAIN) {
        // Reader threads read these live, without the lock; they see new values at their next read.
        CopyConnectionValues(s, m_loaded);
        m_logFlags = s.LogFlags;
        m_searchFlags = s.SearchFlags;
        m_findIpTimeout = s.FindIpTimeout;
        m_findIpTries = static_cast<int32_t>(s.FindIpTries);
        m_readKeys->KeyTypes = s.KeyTypes;
        m_readKeys->SetReadMf(s.ReadMf);
        m_readKeys->SetReadUL(s.ReadUL);
    }

    CritSecLock lock(m_lock);
    if (parts & SETTINGS_MAIN) {
        SwitchLog(s.Log);
        m_working = m_loaded;
        m_soundEnabled = s.SoundEnabled ? 1 : 0;
        m_soundFiles.swap(soundFiles);
        CloseMedia();
    }
    if (parts & SETTINGS_FORMATS)
        m_formats.swap(formats);
}

void CParvel::SaveSettingsParts(uint32_t parts)
{
    CParvelSettings s;
    if (parts & SETTINGS_MAIN) {
        CopyConnectionValues(m_loaded, s);
        s.Log = m_log;
        s.LogFlags = m_logFlags;
        s.SearchFlags = m_searchFlags;
        s.FindIpTimeout = m_findIpTimeout;
        s.FindIpTries = static_cast<uint32_t>(m_findIpTries);
        s.KeyTypes = m_readKeys->KeyTypes;
        s.ReadMf = m_readKeys->GetReadMf();
        s.ReadUL = m_readKeys->GetReadUL();
        s.SoundEnabled = m_soundEnabled;
        {
            CritSecLock lock(m_lock);
            s.SoundFiles = m_soundFiles;
        }
        // The stores write load-at-start-up with the main part: keep what is stored.
        s.LoadAtStartup = ReadStoredLoadAtStartup() ? 1 : 0;
    }
    if (parts & SETTINGS_FORMATS) {
        CritSecLock lock(m_lock);
        s.Formats = m_formats;
    }
    if (m_portable)
        NoteDamage(SaveSettingsToXml(SettingsFile(), s, parts));
    else
        SaveSettingsToRegistry(s, parts);
}

void CParvel::NoteDamage(const DamagedFileCopy& copy)
{
    // Nobody is there to be told: the log keeps the trace, whether logging is on or not.
    if (copy.NewCopy)
        WriteLogLine(EventSource(nullptr), LOG_LEVEL_WARNING, IDS_SETTINGS_FILE_DAMAGED, copy.Path.c_str(),
                     XmlDamageText(copy.Damage).c_str(), copy.CopyPath.c_str());
}

bool CParvel::MethodLoadSettings(tVariant* result, tVariant* params, long count)
{
    LoadSettingsParts(PartsArgument(params, count));
    return true;
}

bool CParvel::MethodSaveSettings(tVariant* result, tVariant* params, long count)
{
    SaveSettingsParts(PartsArgument(params, count));
    return true;
}
