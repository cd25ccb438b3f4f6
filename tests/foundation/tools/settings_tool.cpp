// Writes a recognisable settings record to the current user's real settings key, for the check of
// the registry layout by the system's own registry tool (registry_layout_test.sh).
//   settings_tool save     replace the key with the record
//   settings_tool delete   remove the key
// It refuses to run outside a Wine prefix: on a real machine it would overwrite the user's settings.
#include "ModuleState.h"
#include "SettingsStore.h"
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <exception>

namespace {

const wchar_t* const SettingsKeyPath = L"Software\\Corvane\\Parvel";

CParvelSettings Record()
{
    CParvelSettings s; // the defaults, made recognisable in a few places
    s.Portname = L"COM7";
    s.Log = 1;
    s.SoundFiles[0] = L"C:\\Sounds\\read.wav";
    KeyFormat a;
    a.Name = L"HelmSaaS";
    a.Template = L"%.3u,%.5u";
    a.Params = L"K[2],K[0..1]";
    a.KeyTypes = 6;
    KeyFormat b;
    b.Name = L"Second";
    b.Template = L"%s";
    s.Formats = {a, b};
    return s;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "settings_tool: %s\n", what);
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    ModuleHandle = GetModuleHandleW(nullptr);
    wchar_t prefix[2];
    if (GetEnvironmentVariableW(L"WINEPREFIX", prefix, 2) == 0)
        return Fail("runs only in a Wine prefix (WINEPREFIX is not set)");
    if (argc != 2)
        return Fail("usage: settings_tool save|delete");
    try {
        LONG r = RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKeyPath);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            return Fail("cannot delete the settings key");
        if (std::wcscmp(argv[1], L"save") == 0)
            SaveSettingsToRegistry(Record());
        else if (std::wcscmp(argv[1], L"delete") != 0)
            return Fail("usage: settings_tool save|delete");
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
    return 0;
}
