// The registry store and the settings-file store of the add-in's settings, and the quick scan for
// load-at-start-up. The value names, element names, types and number forms are shared with every
// earlier and later version of both programs: change none of them.
#include "SettingsStore.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Handles.h"
#include "Numbers.h"
#include "Paths.h"
#include "RegKey.h"
#include "WFormat.h"
#include "Xml.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

const wchar_t* const SettingsKeyPath = L"Software\\Corvane\\Parvel";
const size_t SoundFileCount = 4;

// ---------------------------------------------------------------------------------------------
// Registry helpers

// Opens a subkey for reading; false when it does not exist.
bool OpenKeyForRead(HKEY parent, const wchar_t* path, RegKeyHolder& key)
{
    LONG r = RegOpenKeyExW(parent, path, 0, KEY_READ, key.Receive());
    if (r == ERROR_FILE_NOT_FOUND)
        return false;
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegOpenKeyEx");
    return true;
}

void CreateKey(HKEY parent, const wchar_t* path, RegKeyHolder& key)
{
    LONG r = RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                             nullptr, key.Receive(), nullptr);
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegCreateKeyEx");
}

// A DWORD is read into exactly 4 bytes, as it always has been: a value of another type that fits
// is ignored, one that does not (a long REG_SZ) fails with ERROR_MORE_DATA and is reported, since
// a wrong type there means the key was not written by this store.
bool QueryDword(HKEY key, const wchar_t* name, DWORD& out)
{
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (r == ERROR_FILE_NOT_FOUND)
        return false;
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegQueryValueEx");
    if (type != REG_DWORD)
        return false;
    out = data;
    return true;
}

// The text of REG_SZ data: up to the first NUL, or all of it when the terminator is missing.
std::wstring TextFromRegData(const BYTE* data, DWORD bytes)
{
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data);
    size_t count = bytes / sizeof(wchar_t);
    size_t length = 0;
    while (length < count && text[length] != L'\0')
        ++length;
    return std::wstring(text, length);
}

// Reads a REG_SZ value of any length (the size is asked first; a value that grew in between is
// read again). False, with `out` empty, when the value is missing or of another type.
bool QueryString(HKEY key, const wchar_t* name, std::wstring& out)
{
    out.clear();
    DWORD type = 0;
    DWORD size = 0;
    LONG r = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
    for (;;) {
        if (r == ERROR_FILE_NOT_FOUND)
            return false;
        if (r != ERROR_SUCCESS)
            ThrowOSException(static_cast<DWORD>(r), L"RegQueryValueEx");
        if (type != REG_SZ)
            return false;
        // Room for a terminator that the stored data may lack.
        std::vector<BYTE> data(size + sizeof(wchar_t), 0);
        DWORD got = static_cast<DWORD>(data.size());
        r = RegQueryValueExW(key, name, nullptr, &type, data.data(), &got);
        if (r == ERROR_MORE_DATA) {
            size = got; // the size it has now
            r = ERROR_SUCCESS;
            continue;
        }
        if (r == ERROR_SUCCESS && type == REG_SZ) {
            out = TextFromRegData(data.data(), got);
            return true;
        }
    }
}

void SetDword(HKEY key, const wchar_t* name, DWORD value)
{
    LONG r = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegSetValueEx");
}

void SetString(HKEY key, const wchar_t* name, const std::wstring& value)
{
    DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegSetValueEx");
}

struct KeyInfo
{
    DWORD SubKeys = 0;
    DWORD MaxSubKeyLen = 0;
    DWORD Values = 0;
    DWORD MaxValueNameLen = 0;
    DWORD MaxValueLen = 0;
};

KeyInfo QueryKeyInfo(HKEY key)
{
    KeyInfo info;
    LONG r = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &info.SubKeys, &info.MaxSubKeyLen, nullptr,
                              &info.Values, &info.MaxValueNameLen, &info.MaxValueLen, nullptr, nullptr);
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegQueryInfoKey");
    return info;
}

// Longest registry names: 255 characters for a key, 16383 for a value, plus the terminator.
const DWORD MaxKeyNameChars = 256;
const DWORD MaxValueNameChars = 16384;

// The name of the subkey at `index`; false at the end of the enumeration.
bool EnumSubKeyName(HKEY key, DWORD index, std::wstring& name)
{
    wchar_t buffer[MaxKeyNameChars];
    DWORD length = MaxKeyNameChars;
    LONG r = RegEnumKeyExW(key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS)
        return false;
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegEnumKeyEx");
    name.assign(buffer, length);
    return true;
}

// The value at `index` with its data of any length; false at the end of the enumeration.
bool EnumValue(HKEY key, DWORD index, std::wstring& name, DWORD& type, std::vector<BYTE>& data,
               DWORD dataHint, DWORD& dataSize)
{
    std::vector<wchar_t> nameBuffer(MaxValueNameChars);
    data.assign(static_cast<size_t>(dataHint) + sizeof(wchar_t), 0);
    for (;;) {
        DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
        dataSize = static_cast<DWORD>(data.size());
        LONG r = RegEnumValueW(key, index, nameBuffer.data(), &nameLength, nullptr, &type, data.data(), &dataSize);
        if (r == ERROR_NO_MORE_ITEMS)
            return false;
        if (r == ERROR_MORE_DATA) {
            // The value grew since the size was asked.
            data.assign(std::max<size_t>(static_cast<size_t>(dataSize), data.size() * 2) + sizeof(wchar_t), 0);
            continue;
        }
        if (r != ERROR_SUCCESS)
            ThrowOSException(static_cast<DWORD>(r), L"RegEnumValue");
        name.assign(nameBuffer.data(), nameLength);
        return true;
    }
}

// The value name at `index` (for deleting); false at the end of the enumeration.
bool EnumValueName(HKEY key, DWORD index, std::wstring& name)
{
    std::vector<wchar_t> buffer(MaxValueNameChars);
    DWORD length = static_cast<DWORD>(buffer.size());
    LONG r = RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS)
        return false;
    if (r != ERROR_SUCCESS)
        ThrowOSException(static_cast<DWORD>(r), L"RegEnumValue");
    name.assign(buffer.data(), length);
    return true;
}

void DeleteAllValues(HKEY key)
{
    KeyInfo info = QueryKeyInfo(key);
    for (DWORD i = info.Values; i-- > 0;) {
        std::wstring name;
        if (!EnumValueName(key, i, name))
            continue;
        LONG r = RegDeleteValueW(key, name.c_str());
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            ThrowOSException(static_cast<DWORD>(r), L"RegDeleteValue");
    }
}

void DeleteAllSubKeys(HKEY key)
{
    KeyInfo info = QueryKeyInfo(key);
    for (DWORD i = info.SubKeys; i-- > 0;) {
        std::wstring name;
        if (!EnumSubKeyName(key, i, name))
            continue;
        LONG r = RegDeleteKeyW(key, name.c_str());
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            ThrowOSException(static_cast<DWORD>(r), L"RegDeleteKey");
    }
}

void SetBit(uint32_t& flags, uint32_t bit, bool on)
{
    if (on)
        flags |= bit;
    else
        flags &= ~bit;
}

std::wstring HexText(uint64_t value)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    do {
        text.insert(text.begin(), digits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    return text;
}

std::wstring DecText(int64_t value)
{
    return std::to_wstring(value);
}

// Takes a DWORD as is, as a 0/1 switch, or into a signed field.
void ReadDword(HKEY key, const wchar_t* name, uint32_t& field)
{
    DWORD v;
    if (QueryDword(key, name, v))
        field = v;
}

void ReadSwitch(HKEY key, const wchar_t* name, uint32_t& field)
{
    DWORD v;
    if (QueryDword(key, name, v))
        field = v != 0 ? 1 : 0;
}

void ReadDword(HKEY key, const wchar_t* name, int32_t& field)
{
    DWORD v;
    if (QueryDword(key, name, v))
        field = static_cast<int32_t>(v);
}

void LoadMainFromRegistry(HKEY key, CParvelSettings& s)
{
    QueryString(key, L"Portname", s.Portname);
    DWORD v;
    if (QueryDword(key, L"Model", v) && v < 10)
        s.Model = v;
    ReadDword(key, L"Speed", s.Speed);
    ReadDword(key, L"StopBits", s.StopBits);
    if (QueryDword(key, L"Wiegand", v))
        SetBit(s.Flags, SETTINGS_FLAG_WIEGAND, v != 0);
    if (QueryDword(key, L"Binary", v))
        SetBit(s.Flags, SETTINGS_FLAG_BINARY, v != 0);
    if (QueryDword(key, L"CorrectVM100", v))
        SetBit(s.Flags, SETTINGS_FLAG_NO_CORRECT_VM100, v == 0);
    ReadSwitch(key, L"Log", s.Log);
    ReadDword(key, L"LogFlags", s.LogFlags);
    ReadDword(key, L"ConnectTimeout", s.ConnectTimeout);
    ReadDword(key, L"ReqTimeout", s.ReqTimeout);
    ReadDword(key, L"ReqTries", s.ReqTries);
    ReadDword(key, L"ConnectPeriod", s.ConnectPeriod);
    ReadDword(key, L"RxPeriod", s.RxPeriod);
    ReadDword(key, L"Prefix", s.Prefix);
    ReadDword(key, L"Suffix", s.Suffix);
    ReadSwitch(key, L"LoadAtStartup", s.LoadAtStartup);
    ReadDword(key, L"SearchFlags", s.SearchFlags);
    ReadDword(key, L"FindIpTimeout", s.FindIpTimeout);
    ReadDword(key, L"FindIpTries", s.FindIpTries);
    ReadDword(key, L"KeyTypes", s.KeyTypes);

    RegKeyHolder mf;
    if (OpenKeyForRead(key, L"ReadMf", mf)) {
        ReadSwitch(mf.Get(), L"Enabled", s.ReadMf.Enabled);
        ReadDword(mf.Get(), L"Flags", s.ReadMf.Flags);
        ReadDword(mf.Get(), L"Mask", s.ReadMf.Mask);
        std::wstring passw;
        QueryString(mf.Get(), L"Passw", passw);
        s.ReadMf.Passw = ParseHex64(passw.c_str(), s.ReadMf.Passw);
        ReadDword(mf.Get(), L"Sect", s.ReadMf.Sect);
        ReadDword(mf.Get(), L"Block", s.ReadMf.Block);
    }
    RegKeyHolder ul;
    if (OpenKeyForRead(key, L"ReadUL", ul)) {
        ReadSwitch(ul.Get(), L"Enabled", s.ReadUL.Enabled);
        ReadDword(ul.Get(), L"Page", s.ReadUL.Page);
        ReadDword(ul.Get(), L"Count", s.ReadUL.Count);
    }
    ReadSwitch(key, L"SoundEnabled", s.SoundEnabled);

    // The sound paths go by position; their value names are not looked at.
    for (std::wstring& file : s.SoundFiles)
        file.clear();
    RegKeyHolder sounds;
    if (OpenKeyForRead(key, L"SoundFileList", sounds)) {
        KeyInfo info = QueryKeyInfo(sounds.Get());
        DWORD count = std::min<DWORD>(info.Values, SoundFileCount);
        std::vector<BYTE> data;
        for (DWORD i = 0; i < count; ++i) {
            std::wstring name;
            DWORD type = 0;
            DWORD size = 0;
            if (!EnumValue(sounds.Get(), i, name, type, data, info.MaxValueLen, size))
                break;
            if (type == REG_SZ && size > 0)
                s.SoundFiles[i] = TextFromRegData(data.data(), size);
        }
    }
}

// The position that a saved "Item<n>" subkey name stands for; false for any other name.
bool ItemNumber(const std::wstring& name, uint64_t& number)
{
    const size_t prefix = 4;
    if (name.size() <= prefix || _wcsnicmp(name.c_str(), L"Item", prefix) != 0)
        return false;
    number = 0;
    for (size_t i = prefix; i < name.size(); ++i) {
        if (name[i] < L'0' || name[i] > L'9')
            return false;
        number = std::min<uint64_t>(number * 10 + (name[i] - L'0'), 0xFFFFFFFFULL);
    }
    return true;
}

void LoadFormatsFromRegistry(HKEY key, CParvelSettings& s)
{
    RegKeyHolder formats;
    if (!OpenKeyForRead(key, L"Formats", formats))
        return;
    KeyInfo info = QueryKeyInfo(formats.Get());
    ClearKeyFormats(s.Formats);

    // The system enumerates subkeys by name (Item1, Item10, Item2, ...); the saved position is the
    // number in the name, so the list is put back in that order. Names of another form follow, in
    // enumeration order.
    struct Loaded
    {
        bool Numbered;
        uint64_t Number;
        KeyFormat Format;
    };
    std::vector<Loaded> loaded;
    for (DWORD i = 0; i < info.SubKeys; ++i) {
        std::wstring name;
        if (!EnumSubKeyName(formats.Get(), i, name))
            break;
        RegKeyHolder item;
        if (!OpenKeyForRead(formats.Get(), name.c_str(), item))
            continue; // deleted since it was enumerated
        Loaded entry{};
        entry.Numbered = ItemNumber(name, entry.Number);
        KeyFormat& f = entry.Format;
        QueryString(item.Get(), L"Name", f.Name);
        QueryString(item.Get(), L"Template", f.Template);
        QueryString(item.Get(), L"Params", f.Params);
        QueryString(item.Get(), L"Comment", f.Comment);
        ReadDword(item.Get(), L"KeyTypes", f.KeyTypes);
        ReadDword(item.Get(), L"KeySize", f.KeySize);
        loaded.push_back(std::move(entry));
    }
    std::stable_sort(loaded.begin(), loaded.end(), [](const Loaded& a, const Loaded& b) {
        if (a.Numbered != b.Numbered)
            return a.Numbered;
        return a.Numbered && a.Number < b.Number;
    });
    for (const Loaded& entry : loaded)
        AddKeyFormat(s.Formats, entry.Format);
}

void SaveMainToRegistry(HKEY key, const CParvelSettings& s)
{
    SetString(key, L"Portname", s.Portname);
    SetDword(key, L"Model", s.Model);
    SetDword(key, L"Speed", s.Speed);
    SetDword(key, L"StopBits", s.StopBits);
    SetDword(key, L"Wiegand", (s.Flags & SETTINGS_FLAG_WIEGAND) ? 1 : 0);
    SetDword(key, L"Binary", (s.Flags & SETTINGS_FLAG_BINARY) ? 1 : 0);
    SetDword(key, L"CorrectVM100", (s.Flags & SETTINGS_FLAG_NO_CORRECT_VM100) ? 0 : 1);
    SetDword(key, L"Log", s.Log != 0 ? 1 : 0);
    SetDword(key, L"LogFlags", s.LogFlags);
    SetDword(key, L"ConnectTimeout", static_cast<DWORD>(s.ConnectTimeout));
    SetDword(key, L"ReqTimeout", static_cast<DWORD>(s.ReqTimeout));
    SetDword(key, L"ReqTries", static_cast<DWORD>(s.ReqTries));
    SetDword(key, L"ConnectPeriod", static_cast<DWORD>(s.ConnectPeriod));
    SetDword(key, L"RxPeriod", static_cast<DWORD>(s.RxPeriod));
    SetDword(key, L"Prefix", static_cast<DWORD>(s.Prefix));
    SetDword(key, L"Suffix", static_cast<DWORD>(s.Suffix));
    SetDword(key, L"LoadAtStartup", s.LoadAtStartup != 0 ? 1 : 0);
    SetDword(key, L"SearchFlags", s.SearchFlags);
    SetDword(key, L"FindIpTimeout", s.FindIpTimeout);
    SetDword(key, L"FindIpTries", s.FindIpTries);
    SetDword(key, L"KeyTypes", s.KeyTypes);

    RegKeyHolder mf;
    CreateKey(key, L"ReadMf", mf);
    SetDword(mf.Get(), L"Enabled", s.ReadMf.Enabled != 0 ? 1 : 0);
    SetDword(mf.Get(), L"Flags", s.ReadMf.Flags);
    SetDword(mf.Get(), L"Mask", s.ReadMf.Mask);
    SetString(mf.Get(), L"Passw", HexText(s.ReadMf.Passw));
    SetDword(mf.Get(), L"Sect", s.ReadMf.Sect);
    SetDword(mf.Get(), L"Block", s.ReadMf.Block);

    RegKeyHolder ul;
    CreateKey(key, L"ReadUL", ul);
    SetDword(ul.Get(), L"Enabled", s.ReadUL.Enabled != 0 ? 1 : 0);
    SetDword(ul.Get(), L"Page", s.ReadUL.Page);
    SetDword(ul.Get(), L"Count", s.ReadUL.Count);

    SetDword(key, L"SoundEnabled", s.SoundEnabled != 0 ? 1 : 0);

    RegKeyHolder sounds;
    CreateKey(key, L"SoundFileList", sounds);
    DeleteAllValues(sounds.Get());
    for (size_t i = 0; i < SoundFileCount; ++i) {
        std::wstring name;
        FormatString(name, L"Item%d", static_cast<int>(i + 1));
        SetString(sounds.Get(), name.c_str(), s.SoundFiles[i]);
    }
}

void SaveFormatsToRegistry(HKEY key, const CParvelSettings& s)
{
    RegKeyHolder formats;
    CreateKey(key, L"Formats", formats);
    DeleteAllSubKeys(formats.Get());
    for (size_t i = 0; i < s.Formats.size(); ++i) {
        const KeyFormat& f = s.Formats[i];
        std::wstring name;
        FormatString(name, L"Item%d", static_cast<int>(i + 1));
        RegKeyHolder item;
        CreateKey(formats.Get(), name.c_str(), item);
        SetString(item.Get(), L"Name", f.Name);
        SetString(item.Get(), L"Template", f.Template);
        SetString(item.Get(), L"Params", f.Params);
        SetString(item.Get(), L"Comment", f.Comment);
        SetDword(item.Get(), L"KeyTypes", f.KeyTypes);
        SetDword(item.Get(), L"KeySize", f.KeySize);
    }
}

} // namespace

void LoadSettingsFromRegistry(CParvelSettings& settings, uint32_t parts)
{
    RegKeyHolder key;
    if (!OpenKeyForRead(HKEY_CURRENT_USER, SettingsKeyPath, key))
        return;
    if (parts & SETTINGS_MAIN)
        LoadMainFromRegistry(key.Get(), settings);
    if (parts & SETTINGS_FORMATS)
        LoadFormatsFromRegistry(key.Get(), settings);
}

void SaveSettingsToRegistry(const CParvelSettings& settings, uint32_t parts)
{
    RegKeyHolder key;
    CreateKey(HKEY_CURRENT_USER, SettingsKeyPath, key);
    if (parts & SETTINGS_MAIN)
        SaveMainToRegistry(key.Get(), settings);
    if (parts & SETTINGS_FORMATS)
        SaveFormatsToRegistry(key.Get(), settings);
}

// ---------------------------------------------------------------------------------------------
// Settings file

namespace {

const wchar_t* const ComponentPath = L"Parvel\\Component";

bool IsSupportedVersion(const std::wstring& version)
{
    int major = 0;
    int minor = 0;
    if (swscanf(version.c_str(), L"%d.%d", &major, &minor) != 2)
        return false;
    return static_cast<uint8_t>(major) == 1 && static_cast<uint8_t>(minor) == 1;
}

// Parvel/Component when it carries the one version this store reads; null otherwise.
CMXNode* FindComponent(CMemXML& doc)
{
    CMXNode* component = doc.Root().GetNode(ComponentPath, false);
    if (!component || !IsSupportedVersion(component->GetAttribute(L"version")))
        return nullptr;
    return component;
}

// The text of a child element, or null when there is no such child.
const std::wstring* ChildText(const CMXNode& node, const wchar_t* name)
{
    const CMXNode* child = node.FindChild(name);
    return child ? &child->Text : nullptr;
}

bool DecSwitch(const std::wstring& text)
{
    return ParseInt10(text.c_str(), 0) != 0;
}

std::wstring SwitchText(uint32_t value)
{
    return value != 0 ? L"1" : L"0";
}

void LoadMainFromXml(const CMXNode& c, CParvelSettings& s)
{
    if (const CMXNode* main = c.FindChild(L"Main")) {
        s.Log = DecSwitch(main->GetAttribute(L"Log")) ? 1 : 0;
        s.LoadAtStartup = DecSwitch(main->GetAttribute(L"LoadAtStartup")) ? 1 : 0;
        if (const std::wstring* t = ChildText(*main, L"LogFlags"))
            s.LogFlags = ParseHex32(t->c_str(), s.LogFlags);
        if (const std::wstring* t = ChildText(*main, L"SearchFlags"))
            s.SearchFlags = ParseHex32(t->c_str(), s.SearchFlags);
    }
    if (const CMXNode* find = c.FindChild(L"FindIP")) {
        if (const std::wstring* t = ChildText(*find, L"ReqTimeout"))
            s.FindIpTimeout = static_cast<uint32_t>(ParseInt10(t->c_str(), static_cast<int32_t>(s.FindIpTimeout)));
        if (const std::wstring* t = ChildText(*find, L"ReqTries"))
            s.FindIpTries = static_cast<uint32_t>(ParseInt10(t->c_str(), static_cast<int32_t>(s.FindIpTries)));
    }
    if (const CMXNode* keys = c.FindChild(L"ReadKeys")) {
        if (const std::wstring* t = ChildText(*keys, L"KeyTypes"))
            s.KeyTypes = ParseHex32(t->c_str(), s.KeyTypes);
        // An absent attribute reads as empty text, which holds no digit: the field stays.
        auto dec = [](const CMXNode& n, const wchar_t* name, uint32_t& field) {
            field = static_cast<uint32_t>(ParseInt10(n.GetAttribute(name).c_str(), static_cast<int32_t>(field)));
        };
        auto decSwitch = [&](const CMXNode& n, const wchar_t* name, uint32_t& field) {
            uint32_t v = field;
            dec(n, name, v);
            field = v != 0 ? 1 : 0;
        };
        if (const CMXNode* mf = keys->FindChild(L"ReadMf")) {
            decSwitch(*mf, L"Enabled", s.ReadMf.Enabled);
            s.ReadMf.Flags = ParseHex32(mf->GetAttribute(L"Flags").c_str(), s.ReadMf.Flags);
            s.ReadMf.Mask = ParseHex32(mf->GetAttribute(L"Mask").c_str(), s.ReadMf.Mask);
            s.ReadMf.Passw = ParseHex64(mf->GetAttribute(L"Passw").c_str(), s.ReadMf.Passw);
            dec(*mf, L"Sect", s.ReadMf.Sect);
            dec(*mf, L"Block", s.ReadMf.Block);
        }
        if (const CMXNode* ul = keys->FindChild(L"ReadUL")) {
            decSwitch(*ul, L"Enabled", s.ReadUL.Enabled);
            dec(*ul, L"Page", s.ReadUL.Page);
            dec(*ul, L"Count", s.ReadUL.Count);
        }
    }
    if (const CMXNode* sound = c.FindChild(L"Sound")) {
        s.SoundEnabled = DecSwitch(sound->GetAttribute(L"Enabled")) ? 1 : 0;
        // By position, whatever the children are called.
        size_t count = std::min(sound->Children.size(), SoundFileCount);
        for (size_t i = 0; i < count; ++i)
            s.SoundFiles[i] = sound->Children[i]->Text;
    }
    if (const CMXNode* conn = c.FindChild(L"Connect")) {
        SetBit(s.Flags, SETTINGS_FLAG_WIEGAND, DecSwitch(conn->GetAttribute(L"Wiegand")));
        SetBit(s.Flags, SETTINGS_FLAG_BINARY, DecSwitch(conn->GetAttribute(L"Binary")));
        SetBit(s.Flags, SETTINGS_FLAG_NO_CORRECT_VM100, !DecSwitch(conn->GetAttribute(L"CorrectVM100")));
        if (const std::wstring* t = ChildText(*conn, L"Portname"))
            s.Portname = *t;
        if (const std::wstring* t = ChildText(*conn, L"Model")) {
            uint32_t model = static_cast<uint32_t>(ParseInt10(t->c_str(), 0));
            if (model < 10)
                s.Model = model;
        }
        DWORD v;
        if (const std::wstring* t = ChildText(*conn, L"Speed"))
            if (ParseUInt10(t->c_str(), v))
                s.Speed = v;
        if (const std::wstring* t = ChildText(*conn, L"StopBits"))
            if (ParseUInt10(t->c_str(), v))
                s.StopBits = v;
        auto dec = [&](const wchar_t* name, int32_t& field) {
            if (const std::wstring* t = ChildText(*conn, name))
                field = ParseInt10(t->c_str(), 0);
        };
        dec(L"ConnectTimeout", s.ConnectTimeout);
        dec(L"ReqTimeout", s.ReqTimeout);
        dec(L"ReqTries", s.ReqTries);
        dec(L"ConnectPeriod", s.ConnectPeriod);
        dec(L"RxPeriod", s.RxPeriod);
        dec(L"Prefix", s.Prefix);
        dec(L"Suffix", s.Suffix);
    }
}

// A format record that the file's end cut short is left out: with its parameters or key types
// missing it would format cards wrongly, and saved again it would stand for the user's format.
void LoadFormatsFromXml(const CMemXML& doc, const CMXNode& c, CParvelSettings& s)
{
    const CMXNode* formats = c.FindChild(L"Formats");
    if (!formats)
        return;
    for (const CMXNode* item : formats->Children) {
        if (doc.WasLeftOpen(*item))
            continue;
        KeyFormat f;
        auto text = [&](const wchar_t* name, std::wstring& field) {
            if (const std::wstring* t = ChildText(*item, name))
                field = *t;
        };
        text(L"Name", f.Name);
        text(L"Template", f.Template);
        text(L"Params", f.Params);
        text(L"Comment", f.Comment);
        if (const std::wstring* t = ChildText(*item, L"KeyTypes"))
            f.KeyTypes = ParseHex32(t->c_str(), 0);
        if (const std::wstring* t = ChildText(*item, L"KeySize"))
            f.KeySize = static_cast<uint32_t>(ParseInt10(t->c_str(), 0));
        if (!f.Name.empty())
            AddKeyFormat(s.Formats, f);
    }
}

void SetText(CMXNode& parent, const wchar_t* path, const std::wstring& text)
{
    parent.GetNode(path)->Text = text;
}

// GetNode creates what is missing, so a fresh file gets its elements in the order set here.
void SaveMainToXml(CMXNode& c, const CParvelSettings& s)
{
    CMXNode* main = c.GetNode(L"Main");
    main->SetAttribute(L"Log", SwitchText(s.Log));
    main->SetAttribute(L"LoadAtStartup", SwitchText(s.LoadAtStartup));
    SetText(c, L"Main\\LogFlags", HexText(s.LogFlags));
    SetText(c, L"Main\\SearchFlags", HexText(s.SearchFlags));
    SetText(c, L"FindIP\\ReqTimeout", DecText(static_cast<int32_t>(s.FindIpTimeout)));
    SetText(c, L"FindIP\\ReqTries", DecText(static_cast<int32_t>(s.FindIpTries)));
    SetText(c, L"ReadKeys\\KeyTypes", HexText(s.KeyTypes));

    CMXNode* mf = c.GetNode(L"ReadKeys\\ReadMf");
    mf->SetAttribute(L"Enabled", SwitchText(s.ReadMf.Enabled));
    mf->SetAttribute(L"Flags", HexText(s.ReadMf.Flags));
    mf->SetAttribute(L"Mask", HexText(s.ReadMf.Mask));
    mf->SetAttribute(L"Passw", HexText(s.ReadMf.Passw));
    mf->SetAttribute(L"Sect", DecText(static_cast<int32_t>(s.ReadMf.Sect)));
    mf->SetAttribute(L"Block", DecText(static_cast<int32_t>(s.ReadMf.Block)));

    CMXNode* ul = c.GetNode(L"ReadKeys\\ReadUL");
    ul->SetAttribute(L"Enabled", SwitchText(s.ReadUL.Enabled));
    ul->SetAttribute(L"Page", DecText(static_cast<int32_t>(s.ReadUL.Page)));
    ul->SetAttribute(L"Count", DecText(static_cast<int32_t>(s.ReadUL.Count)));

    CMXNode* sound = c.GetNode(L"Sound");
    sound->SetAttribute(L"Enabled", SwitchText(s.SoundEnabled));
    sound->RemoveChildren();
    for (size_t i = 0; i < SoundFileCount; ++i) {
        std::wstring name;
        FormatString(name, L"Item%d", static_cast<int>(i + 1));
        sound->AddChild(name)->Text = s.SoundFiles[i];
    }

    CMXNode* conn = c.GetNode(L"Connect");
    conn->SetAttribute(L"Wiegand", SwitchText(s.Flags & SETTINGS_FLAG_WIEGAND));
    conn->SetAttribute(L"Binary", SwitchText(s.Flags & SETTINGS_FLAG_BINARY));
    conn->SetAttribute(L"CorrectVM100", SwitchText(!(s.Flags & SETTINGS_FLAG_NO_CORRECT_VM100)));
    SetText(*conn, L"Portname", s.Portname);
    SetText(*conn, L"Model", DecText(static_cast<int32_t>(s.Model)));
    SetText(*conn, L"Speed", DecText(s.Speed));
    SetText(*conn, L"StopBits", DecText(s.StopBits));
    SetText(*conn, L"ConnectTimeout", DecText(s.ConnectTimeout));
    SetText(*conn, L"ReqTimeout", DecText(s.ReqTimeout));
    SetText(*conn, L"ReqTries", DecText(s.ReqTries));
    SetText(*conn, L"ConnectPeriod", DecText(s.ConnectPeriod));
    SetText(*conn, L"RxPeriod", DecText(s.RxPeriod));
    SetText(*conn, L"Prefix", DecText(s.Prefix));
    SetText(*conn, L"Suffix", DecText(s.Suffix));
}

void SaveFormatsToXml(CMXNode& c, const CParvelSettings& s)
{
    CMXNode* formats = c.GetNode(L"Formats");
    formats->RemoveChildren();
    for (size_t i = 0; i < s.Formats.size(); ++i) {
        const KeyFormat& f = s.Formats[i];
        std::wstring name;
        FormatString(name, L"Item%d", static_cast<int>(i + 1));
        CMXNode* item = formats->AddChild(name);
        item->AddChild(L"Name")->Text = f.Name;
        item->AddChild(L"Template")->Text = f.Template;
        item->AddChild(L"Params")->Text = f.Params;
        item->AddChild(L"Comment")->Text = f.Comment;
        item->AddChild(L"KeyTypes")->Text = HexText(f.KeyTypes);
        item->AddChild(L"KeySize")->Text = DecText(static_cast<int32_t>(f.KeySize));
    }
}

} // namespace

DamagedFileCopy LoadSettingsFromXml(const std::wstring& path, CParvelSettings& settings, uint32_t parts)
{
    CMemXML doc;
    doc.LoadFile(path);
    DamagedFileCopy kept = KeepIfDamaged(doc, path, L"Parvel");
    CMXNode* component = FindComponent(doc);
    if (!component)
        return kept;
    if (parts & SETTINGS_MAIN)
        LoadMainFromXml(*component, settings);
    if (parts & SETTINGS_FORMATS)
        LoadFormatsFromXml(doc, *component, settings);
    return kept;
}

DamagedFileCopy SaveSettingsToXml(const std::wstring& path, const CParvelSettings& settings, uint32_t parts)
{
    CMemXML doc;
    DamagedFileCopy kept;
    if (FileExists(path)) {
        doc.LoadFile(path);
        // Throws when the bytes cannot be kept: then the file is not written over.
        kept = KeepIfDamaged(doc, path, L"Parvel");
    }
    CMXNode* component = FindComponent(doc);
    if (!component) {
        // No file, or one of another version: its Component is rebuilt from scratch.
        doc.Root().SetAttribute(L"version", L"1.0");
        doc.Root().SetAttribute(L"encoding", L"utf-8");
        component = doc.Root().GetNode(ComponentPath);
        component->RemoveChildren();
        std::wstring version;
        FormatString(version, L"%d.%d", 1, 1);
        component->SetAttribute(L"version", version);
    }
    if (parts & SETTINGS_MAIN)
        SaveMainToXml(*component, settings);
    if (parts & SETTINGS_FORMATS)
        SaveFormatsToXml(*component, settings);

    std::wstring folder = ExtractFolder(path);
    if (!folder.empty() && !DirectoryExists(folder) && !ForceDirectories(folder))
        ThrowFileExceptionFromOsError(GetLastError(), folder.c_str());
    doc.SaveFile(path);
    return kept;
}

bool ReadXmlLoadAtStartup(const std::wstring& path)
{
    std::wstring text;
    bool utf16 = false;
    DecodeXmlFileText(ReadFileBytes(path), text, utf16);   // a damaged text is scanned all the same
    const wchar_t* const name = L"LoadAtStartup";
    size_t at = text.find(name);
    if (at == std::wstring::npos)
        return false;
    int value = 0;
    if (swscanf(text.c_str() + at + wcslen(name), L"=\"%d\"", &value) != 1)
        return false;
    return value != 0;
}
