// The test log file: the line index, appending and reading lines, and the entry line format.
#include "TestLog.h"
#include "CodePage.h"
#include "Exceptions.h"
#include "Paths.h"
#include "WFormat.h"
#include <cwctype>

namespace {

const size_t IndexBlock = 1024;

LARGE_INTEGER Offset(uint64_t value)
{
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(value);
    return li;
}

// Position of the last (or first) character ch in s[from, end) that no backslash escapes; the
// scan starts at `from`, which must not lie inside an escape. npos when there is none.
size_t FindUnescaped(const std::wstring& s, wchar_t ch, size_t from, size_t atOrAfter, bool last)
{
    size_t found = std::wstring::npos;
    for (size_t i = from; i < s.size(); ++i) {
        if (s[i] == L'\\') {
            ++i;
            continue;
        }
        if (s[i] == ch && i >= atOrAfter) {
            found = i;
            if (!last)
                break;
        }
    }
    return found;
}

// The scanf "%d" step of the line head: blanks, an optional sign and at least one digit.
bool ReadInt(const std::wstring& s, size_t& i, int& value)
{
    while (i < s.size() && std::iswspace(s[i]))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == L'-' || s[i] == L'+')) {
        negative = s[i] == L'-';
        ++i;
    }
    if (i >= s.size() || s[i] < L'0' || s[i] > L'9')
        return false;
    long long v = 0;
    while (i < s.size() && s[i] >= L'0' && s[i] <= L'9') {
        if (v < 0x7FFFFFFF)
            v = v * 10 + (s[i] - L'0');
        ++i;
    }
    value = static_cast<int>(negative ? -v : v);
    return true;
}

bool Expect(const std::wstring& s, size_t& i, wchar_t ch)
{
    if (i >= s.size() || s[i] != ch)
        return false;
    ++i;
    return true;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// CLog

BOOL CLog::WriteBytes(const void* data, DWORD size, DWORD* written)
{
    return WriteFile(m_file.Get(), data, size, written, nullptr);
}

void CLog::Open(const std::wstring& fileName)
{
    // The old file first: creating the same name again would collide with our own share mode.
    m_file.Reset();
    m_index.clear();
    m_fileName.clear();

    CFileHandle file(CreateFileW(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        ThrowFileExceptionFromOsError(GetLastError(), fileName.c_str());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.Get(), &size))
        ThrowFileExceptionFromOsError(GetLastError(), fileName.c_str());
    std::vector<uint64_t> index;
    if (size.QuadPart > 0) {
        if (!SetFilePointerEx(file.Get(), Offset(0), nullptr, FILE_BEGIN))
            ThrowFileExceptionFromOsError(GetLastError(), fileName.c_str());
        char block[IndexBlock];
        uint64_t offset = 0;
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.Get(), block, sizeof(block), &read, nullptr))
                ThrowFileExceptionFromOsError(GetLastError(), fileName.c_str());
            if (read == 0)
                break;
            for (DWORD i = 0; i < read; ++i)
                if (block[i] == '\n')
                    index.push_back(offset + i + 1);
            offset += read;
        }
    }
    m_file = std::move(file);
    m_index.swap(index);
    m_fileName = fileName;
}

void CLog::AppendLine(const std::wstring& text)
{
    if (!m_file.Valid())
        ThrowFileExceptionFromOsError(ERROR_INVALID_HANDLE, m_fileName.c_str());
    std::string bytes = WideToUtf8(text);
    if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0)
        bytes += "\r\n";

    LARGE_INTEGER end;
    if (!SetFilePointerEx(m_file.Get(), Offset(0), &end, FILE_END))
        ThrowFileExceptionFromOsError(GetLastError(), m_fileName.c_str());
    const uint64_t start = static_cast<uint64_t>(end.QuadPart);
    const size_t linesBefore = m_index.size();

    // Puts file and index back as they were before this line; the caller's error stays the one
    // reported.
    auto cutBack = [&]() {
        m_index.resize(linesBefore);
        DWORD error = GetLastError();
        if (SetFilePointerEx(m_file.Get(), Offset(start), nullptr, FILE_BEGIN))
            SetEndOfFile(m_file.Get());
        SetLastError(error);
    };

    try {
        for (size_t i = 0; i < bytes.size(); ++i)
            if (bytes[i] == '\n')
                m_index.push_back(start + i + 1);
    } catch (...) {
        m_index.resize(linesBefore);
        throw;
    }
    DWORD written = 0;
    if (!WriteBytes(bytes.data(), static_cast<DWORD>(bytes.size()), &written)) {
        DWORD error = GetLastError();
        cutBack();
        ThrowFileExceptionFromOsError(error, m_fileName.c_str());
    }
    if (written != bytes.size()) {
        cutBack();
        ThrowFileException(CFileException::DiskFull, CFileException::NoOsError, m_fileName.c_str());
    }
}

int CLog::ReadLine(uint64_t n, std::wstring& out)
{
    if (!m_file.Valid() || n >= m_index.size())
        return 0;
    const uint64_t start = n == 0 ? 0 : m_index[n - 1];
    const uint64_t end = m_index[n];
    if (!SetFilePointerEx(m_file.Get(), Offset(start), nullptr, FILE_BEGIN))
        ThrowFileExceptionFromOsError(GetLastError(), m_fileName.c_str());
    std::string bytes(static_cast<size_t>(end - start), '\0');
    DWORD read = 0;
    if (!ReadFile(m_file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
        ThrowFileExceptionFromOsError(GetLastError(), m_fileName.c_str());
    bytes.resize(read);
    Utf8ToWide(out, bytes.data(), static_cast<int>(bytes.size()));
    return 1;
}

void CLog::Clear()
{
    if (!m_file.Valid())
        return;
    if (!SetFilePointerEx(m_file.Get(), Offset(0), nullptr, FILE_BEGIN) || !SetEndOfFile(m_file.Get()))
        ThrowFileExceptionFromOsError(GetLastError(), m_fileName.c_str());
    m_index.clear();
}

// ---------------------------------------------------------------------------------------------
// CTestLog

void CTestLog::EscapeText(const std::wstring& text, std::wstring& out)
{
    out.clear();
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\\': out += L"\\\\"; break;
        case L'|': out += L"\\|"; break;
        case L']': out += L"\\]"; break;
        default: out += c; break;
        }
    }
}

void CTestLog::UnescapeText(const wchar_t* text, std::wstring& out)
{
    out.clear();
    if (!text)
        return;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p != L'\\') {
            out += *p;
            continue;
        }
        ++p;
        switch (*p) {
        case 0: return; // a backslash at the very end
        case L'n': out += L'\n'; break;
        case L'r': out += L'\r'; break;
        case L'\\': out += L'\\'; break;
        case L'|': out += L'|'; break;
        case L']': out += L']'; break;
        default: break; // an unknown escape is dropped whole
        }
    }
}

void CTestLog::FormatEntry(const LogEntry& entry, std::wstring& out)
{
    static const wchar_t letters[] = L"?IWE";
    const wchar_t letter = static_cast<uint32_t>(entry.level) <= 3 ? letters[entry.level] : L'?';
    std::wstring source, message, data;
    EscapeText(entry.source, source);
    EscapeText(entry.message, message);
    EscapeText(entry.data, data);
    const uint32_t t = entry.time;
    FormatString(out, L"%.2d:%.2d:%.2d.%.3d [%c %s] %s | %s", static_cast<int>(t / 3600000 % 24),
                 static_cast<int>(t / 60000 % 60), static_cast<int>(t / 1000 % 60), static_cast<int>(t % 1000),
                 letter, source.c_str(), message.c_str(), data.c_str());
}

void CTestLog::Write(const LogEntry& entry)
{
    std::wstring line;
    FormatEntry(entry, line);
    AppendLine(line);
}

void CTestLog::ParseEntry(const std::wstring& raw, LogEntry& entry)
{
    entry = LogEntry();
    entry.level = LogLevelUnknown;
    std::wstring line = raw;
    if (!line.empty() && line.back() == L'\n')
        line.pop_back();
    if (!line.empty() && line.back() == L'\r')
        line.pop_back();
    if (line.size() <= 16)
        return;
    // The head holds no backslash, so escapes can be followed from the start of the line.
    const size_t close = FindUnescaped(line, L']', 0, 16, false);
    if (close == std::wstring::npos)
        return;

    size_t i = 0;
    int hours, minutes, seconds, millis;
    if (!ReadInt(line, i, hours) || !Expect(line, i, L':') || !ReadInt(line, i, minutes) ||
        !Expect(line, i, L':') || !ReadInt(line, i, seconds) || !Expect(line, i, L'.') ||
        !ReadInt(line, i, millis))
        return;
    while (i < line.size() && std::iswspace(line[i]))
        ++i;
    if (!Expect(line, i, L'[') || i >= line.size())
        return;
    const wchar_t letter = static_cast<wchar_t>(std::towupper(line[i]));
    entry.time = ((static_cast<uint32_t>(hours) * 60 + static_cast<uint32_t>(minutes)) * 60 +
                  static_cast<uint32_t>(seconds)) * 1000 + static_cast<uint32_t>(millis);
    static const wchar_t levels[] = L"IWE";
    for (int k = 0; k < 3; ++k)
        if (letter == levels[k])
            entry.level = k + 1;

    const size_t open = line.find(L'[');
    if (open != std::wstring::npos && open < close) {
        size_t j = open + 1;
        while (j < close && line[j] == L' ')
            ++j;
        while (j < close && line[j] != L' ')
            ++j;
        if (j < close)
            UnescapeText(line.substr(j + 1, close - j - 1).c_str(), entry.source);
    }

    const size_t bar = FindUnescaped(line, L'|', close + 1, close + 1, true);
    std::wstring message, data;
    if (bar != std::wstring::npos) {
        message = line.substr(close + 1, bar - close - 1);
        data = line.substr(bar + 1);
    } else {
        message = line.substr(close + 1);
    }
    TrimSpaces(message);
    TrimSpaces(data);
    UnescapeText(message.c_str(), entry.message);
    UnescapeText(data.c_str(), entry.data);
}

int CTestLog::GetEntry(uint64_t n, LogEntry& entry)
{
    std::wstring line;
    if (!ReadLine(n, line))
        return 0;
    ParseEntry(line, entry);
    return 1;
}

int CTestLog::GetNewestEntry(uint64_t row, LogEntry& entry)
{
    const uint64_t count = LineCount();
    if (row >= count)
        return 0;
    return GetEntry(count - 1 - row, entry);
}
