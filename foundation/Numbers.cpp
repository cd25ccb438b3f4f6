// Lenient number parsing with defaults, decimal texts and packed versions.
#include "Numbers.h"
#include "Handles.h"
#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

// The shared rule of the parsers: a read non-zero value is taken; a 0 is taken only when a digit
// was read and no range error occurred, otherwise the default stands.
template <typename T>
T TakeOrDefault(T value, const wchar_t* text, const wchar_t* end, int err, T def)
{
    if (value != 0)
        return value;
    if (end == text || err != 0)
        return def;
    return 0;
}

} // namespace

bool ParseUInt10(const wchar_t* text, DWORD& out)
{
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long v = std::wcstoul(text, &end, 10);
    int err = errno;
    out = static_cast<DWORD>(v);
    if (v != 0)
        return true;
    if (end == text)
        return false;
    return err == 0;
}

int32_t ParseInt10(const wchar_t* text, int32_t def)
{
    wchar_t* end = nullptr;
    errno = 0;
    long v = std::wcstol(text, &end, 10);
    return TakeOrDefault<int32_t>(static_cast<int32_t>(v), text, end, errno, def);
}

uint32_t ParseHex32(const wchar_t* text, uint32_t def)
{
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long v = std::wcstoul(text, &end, 16);
    return TakeOrDefault<uint32_t>(static_cast<uint32_t>(v), text, end, errno, def);
}

uint64_t ParseHex64(const wchar_t* text, uint64_t def)
{
    wchar_t* end = nullptr;
    errno = 0;
    unsigned long long v = _wcstoui64(text, &end, 16);
    return TakeOrDefault<uint64_t>(static_cast<uint64_t>(v), text, end, errno, def);
}

int HexDigitValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

void UIntToWString(std::wstring& out, int32_t value) { out = std::to_wstring(value); }
void Int64ToWString(std::wstring& out, int64_t value) { out = std::to_wstring(value); }
void ULongToWString(std::wstring& out, uint32_t value) { out = std::to_wstring(value); }

uint32_t GetFileVersion(const wchar_t* path)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0)
        return 0;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(path, 0, size, block.data()))
        return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info
        || infoSize < sizeof(VS_FIXEDFILEINFO))
        return 0;
    uint32_t major = HIWORD(info->dwFileVersionMS) & 0xFF;
    uint32_t minor = LOWORD(info->dwFileVersionMS) & 0xFF;
    uint32_t build = HIWORD(info->dwFileVersionLS) & 0xFF;
    uint32_t revision = LOWORD(info->dwFileVersionLS) & 0xFF;
    return major | minor << 8 | build << 16 | revision << 24;
}

void VersionToText(std::wstring& out, uint32_t version)
{
    out.clear();
    if (version == 0)
        return;
    if ((version & 0xFF) == 0xFF) {
        out = std::to_wstring(version >> 8);
        return;
    }
    int n = 4;
    while (n > 1 && ((version >> ((n - 1) * 8)) & 0xFF) == 0)
        --n;
    for (int i = 0; i < n; ++i) {
        if (i)
            out += L'.';
        out += std::to_wstring((version >> (i * 8)) & 0xFF);
    }
}
