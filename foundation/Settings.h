// The add-in's whole configuration as one plain record, the connection values of one reader, and
// the key format with the few list operations shared by the stores, the component and the
// configurator. Each value and its default is declared once, in one of two groups (the connection
// values; the rest); the settings record, the reader record and the configurator's copy are built
// from the groups. The defaults set here are the ones every program starts from; the stores load
// into a freshly constructed record, so a value missing from a store keeps its default.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Which parts of the record a load or save handles (combinable).
const uint32_t SETTINGS_MAIN = 1;    // every value except the format list
const uint32_t SETTINGS_FORMATS = 2; // the format list

// One entry of the ordered format list that turns key bytes into text.
struct KeyFormat
{
    std::wstring Name;     // identifies the format within the list (exact, case-sensitive)
    std::wstring Template; // printf-style template with backslash escapes
    std::wstring Params;   // expression list of the key-number language
    std::wstring Comment;
    uint32_t KeyTypes = 0; // key-type mask; 0 = any key type
    uint32_t KeySize = 0;  // key length in bytes; 0 = any length
};

using KeyFormatList = std::vector<KeyFormat>;

// Index of the first format named exactly `name` (same UTF-16 units), or -1.
int32_t FindKeyFormat(const KeyFormatList& list, const std::wstring& name);
void ClearKeyFormats(KeyFormatList& list);
void AddKeyFormat(KeyFormatList& list, const KeyFormat& format);

// Reading a Mifare Classic block with each Mifare Classic key.
struct ReadMfSettings
{
    uint32_t Enabled = 0;
    uint32_t Sect = 0;
    uint32_t Block = 1;
    uint32_t Flags = 0;         // bit 0: key B instead of key A; bit 1: keys stored in the reader
    uint32_t Mask = 0xFFFFFFFF; // selector of the keys stored in the reader
    uint64_t Passw = 0x3C7A91E5B20DULL; // 48-bit sector key in the low 48 bits
};

// Reading Mifare Ultralight pages with each key.
struct ReadULSettings
{
    uint32_t Enabled = 0;
    uint32_t Page = 4;
    uint32_t Count = 1;
};

// Flags bits of the connection values.
const uint32_t SETTINGS_FLAG_WIEGAND = 1;
const uint32_t SETTINGS_FLAG_BINARY = 2;
const uint32_t SETTINGS_FLAG_NO_CORRECT_VM100 = 4; // set when the CorrectVM100 option is off

// The connection values of one reader, with their defaults: the one place they are declared.
struct ConnectionSettings
{
    std::wstring Portname = L"Auto";
    uint32_t Model = 0;
    uint32_t Speed = 0;
    uint32_t StopBits = 0;
    uint32_t Flags = SETTINGS_FLAG_BINARY;
    int32_t ConnectTimeout = 10000;
    int32_t ReqTimeout = 3000;
    int32_t ReqTries = 2;
    int32_t ConnectPeriod = 3000;
    int32_t RxPeriod = -1;
    int32_t Prefix = -1;
    int32_t Suffix = 13;
};

// The rest of the add-in's settings but the format list (log, search, key reading, sound), with
// their defaults: the one place they are declared. Log, LoadAtStartup, SoundEnabled and the two
// Enabled fields hold 0 or 1 after any load.
struct AddinOptions
{
    uint32_t Log = 0;
    uint32_t LogFlags = 7;
    uint32_t LoadAtStartup = 0;
    uint32_t SearchFlags = 14;
    uint32_t FindIpTimeout = 3000;
    uint32_t FindIpTries = 1;
    uint32_t KeyTypes = 0x7FFFF;
    ReadMfSettings ReadMf;
    ReadULSettings ReadUL;
    uint32_t SoundEnabled = 0;
    std::array<std::wstring, 4> SoundFiles;
};

// The add-in's whole configuration: both groups and the format list. Member-wise copyable.
// A new setting goes into one of the two groups, which gives every record its field and default;
// the registry and XML stores still need their lines for it.
class CParvelSettings : public ConnectionSettings, public AddinOptions
{
public:
    KeyFormatList Formats;
};

// The connection values of one reader, as the component keeps them and hands them to a reader.
class CReaderSettings : public ConnectionSettings
{
};

// The connection values between any two records that carry them (the settings record, the reader
// record, the configurator's copy).
inline void CopyConnectionValues(const ConnectionSettings& from, ConnectionSettings& to)
{
    to = from;
}
