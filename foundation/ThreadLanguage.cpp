// The thread-language switch. The runtime locale is set with C setlocale rather than a standard
// library locale object: under MinGW std::locale("Russian_Russia") throws, while the C runtime
// knows the Windows locale names and its formatting functions are the ones that matter here.
//
// The add-in's threads switch only their own runtime locale: the process is the platform's, whose
// own formatting (a "%.1f" of 1.5 must stay "1.5" there) is not ours to change.
#include "ThreadLanguage.h"
#include "CodePage.h"
#include "ModuleState.h"
#include "WinVersion.h"
#include <clocale>
#include <string>

namespace {

// Gives the calling thread a runtime locale of its own, where the runtime offers one; false when
// it does not. The switch is asked of the runtime whose setlocale this code calls (another runtime
// in the process keeps its own locales): the universal runtime offers it, the system's msvcrt.dll
// does not export it.
bool UseThreadOwnLocale()
{
    using ConfigThreadLocale = int(__cdecl*)(int);
    static const ConfigThreadLocale configure = [] {
        HMODULE runtime = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&setlocale)), &runtime))
            return static_cast<ConfigThreadLocale>(nullptr);
        FARPROC entry = GetProcAddress(runtime, "_configthreadlocale");
        return reinterpret_cast<ConfigThreadLocale>(reinterpret_cast<void*>(entry));
    }();
    return configure && configure(_ENABLE_PER_THREAD_LOCALE) != -1;
}

void SetRuntimeLocale(LCID lcid)
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
}

void SetUiLanguage(LCID lcid)
{
    if (IsVistaOrLater())
        SetThreadUILanguage(LANGIDFROMLCID(lcid));
    else
        SetThreadLocale(lcid);
}

} // namespace

void SetThreadLanguage()
{
    // Without a locale of the thread's own the runtime's stays as it is: the thread's numbers then
    // follow the process's, which is better than changing the platform's.
    if (UseThreadOwnLocale())
        SetRuntimeLocale(MessageLcid);
    SetUiLanguage(MessageLcid);
}

void SetThreadLanguage(LCID lcid)
{
    SetRuntimeLocale(lcid);
    SetUiLanguage(lcid);
}
