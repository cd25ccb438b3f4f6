// The thread-language switch. The runtime locale is set with C setlocale rather than a standard
// library locale object: under MinGW std::locale("Russian_Russia") throws, while the C runtime
// knows the Windows locale names and its formatting functions are the ones that matter here.
#include "ThreadLanguage.h"
#include "CodePage.h"
#include "ModuleState.h"
#include "WinVersion.h"
#include <clocale>
#include <string>

void SetThreadLanguage()
{
    SetThreadLanguage(MessageLcid);
}

void SetThreadLanguage(LCID lcid)
{
    wchar_t language[256];
    wchar_t country[256];
    if (GetLocaleInfoW(lcid, LOCALE_SENGLANGUAGE, language, 256)
        && GetLocaleInfoW(lcid, LOCALE_SENGCOUNTRY, country, 256)) {
        std::wstring name = std::wstring(language) + L"_" + country;
        std::string ansi;
        WideToAnsi(ansi, name.c_str(), static_cast<int>(name.size()));
        setlocale(LC_ALL, ansi.c_str());
    }
    if (IsVistaOrLater())
        SetThreadUILanguage(LANGIDFROMLCID(lcid));
    else
        SetThreadLocale(lcid);
}
