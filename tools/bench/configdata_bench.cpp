// Load and save of the configurator's settings with a library of 10,000 formats (not a test):
// prints the median times of Save and Load of ConfigParvel.xml, of the add-in's settings file and
// of both, in portable mode, with few and with all formats enabled. Goal under Wine: each file
// 100 ms at most, both together 200 ms at most.
#include "AppData.h"
#include "BenchTiming.h"
#include "Paths.h"
#include "SettingsStore.h"
#include <windows.h>
#include <cstdio>
#include <string>

namespace {

const int LibrarySize = 10000;
const int MedianRuns = 9;

void FillLibrary(CAppData& app, int enabledEvery)
{
    app.Formats.clear();
    for (int i = 0; i < LibrarySize; ++i) {
        KeyFormatItem item;
        item.Name = L"Формат " + std::to_wstring(i);
        item.Template = L"%.3u,%.5u";
        item.Params = L"b2 w01";
        item.Comment = L"Контроллеры серии " + std::to_wstring(i % 97);
        item.KeyTypes = 1u << (i % 19);
        item.KeySize = i % 8;
        item.Enabled = i % enabledEvery == 0 ? 1 : 0;
        app.Formats.push_back(item);
    }
    app.KTGroups = {KeyTypeGroup{L"HID", 4, 1}, KeyTypeGroup{L"Mifare 1K/4K", 0x60, 1}};
}

void Measure(const std::wstring& folder, const char* label, int enabledEvery)
{
    CAppData app;
    app.SetLocation(true, folder);
    FillLibrary(app, enabledEvery);
    double saveConfig = MedianOf(MedianRuns, [&] { app.ModifiedFlags = 3; app.Save(DATA_LIBRARY | DATA_UI); });
    double saveAddin = MedianOf(MedianRuns, [&] { app.Save(DATA_ADDIN); });
    double saveAll = MedianOf(MedianRuns, [&] { app.Save(DATA_LIBRARY | DATA_UI | DATA_ADDIN); });
    CAppData back;
    back.SetLocation(true, folder);
    // The user-interface state is all ConfigParvel.xml gives alone; the library always takes in
    // the add-in's file too.
    double loadConfig = MedianOf(MedianRuns, [&] { back.Load(DATA_UI); });
    double loadAddin = MedianOf(MedianRuns, [&] {
        CParvelSettings settings;
        LoadSettingsFromXml(back.AddinSettingsFile(), settings);
    });
    double loadAll = MedianOf(MedianRuns, [&] { back.Load(DATA_LIBRARY | DATA_UI | DATA_ADDIN); });
    std::printf("%s\n  save: ConfigParvel.xml %6.1f ms, Parvel.xml %6.1f ms, both %6.1f ms\n"
                "  load: ConfigParvel.xml %6.1f ms, Parvel.xml %6.1f ms, both %6.1f ms (%zu formats back)\n",
                label, saveConfig, saveAddin, saveAll, loadConfig, loadAddin, loadAll, back.Formats.size());
}

} // namespace

int main()
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"configdata-bench-" + std::to_wstring(GetCurrentProcessId());
    ForceDirectories(folder);
    std::printf("Settings with a library of %d formats, median of %d runs (goal: each file 100 ms at most, "
                "both 200 ms at most):\n",
                LibrarySize, MedianRuns);
    Measure(folder, "1 in 100 formats enabled:", 100);
    Measure(folder, "every format enabled:", 1);
    DeleteFileW((folder + L"\\ConfigParvel.xml").c_str());
    DeleteFileW((folder + L"\\Parvel.xml").c_str());
    RemoveDirectoryW(folder.c_str());
    return 0;
}
