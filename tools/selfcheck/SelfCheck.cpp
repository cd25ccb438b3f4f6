// Foundation self-check: prints the error texts of the add-in in both languages, the text of a
// failed OS call and a version text, so a fresh build can be seen to carry its resources.
// Output is UTF-8 on standard output.
#include "CodePage.h"
#include "Exceptions.h"
#include "ModuleState.h"
#include "Numbers.h"
#include "ResText.h"
#include <cstdio>

namespace {

void Print(const std::wstring& text)
{
    std::string utf8 = WideToUtf8(text);
    fwrite(utf8.data(), 1, utf8.size(), stdout);
}

} // namespace

int main()
{
    ModuleHandle = GetModuleHandleW(nullptr);
    std::wstring version;
    VersionToText(version, 0x01020701);
    Print(L"Parvel foundation self-check, version " + version + L"\n");
    const DWORD codes[] = {0x80040211, 0x80040217, 0x8004021F, 0x80040233};
    for (LCID lcid : {1033u, 1049u}) {
        MessageLcid = lcid;
        Print(lcid == 1033 ? L"\nEnglish:\n" : L"\nRussian:\n");
        for (DWORD code : codes) {
            std::wstring text;
            if (!GetErrorText(text, nullptr, code)) {
                Print(L"missing text\n");
                return 1;
            }
            wchar_t hex[16];
            _snwprintf(hex, 16, L"0x%08X ", code);
            Print(hex + text + L"\n");
        }
        Print(AnsiToWide(std::string(COSException(ERROR_FILE_NOT_FOUND, L"CreateFile").what())) + L"\n");
    }
    return 0;
}
