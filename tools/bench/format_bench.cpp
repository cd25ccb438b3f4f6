// Measures how many keys per second one core turns into text: format selection plus formatting
// through the compiled-format cache, as the component does for every key a reader sends, with the
// default format and with a Wiegand format. Run it under the build's wine-run; optional argument:
// the number of keys per measurement (default 2,000,000).
#include "KeyFormatter.h"
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Seconds()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<KeyData> MakeKeys(size_t count)
{
    std::vector<KeyData> keys(count);
    uint32_t seed = 12345;
    for (KeyData& k : keys) {
        k.Length = 5;
        for (size_t i = 0; i < k.Length; ++i) {
            seed = seed * 1103515245u + 12345u;
            k.Bytes[i] = static_cast<uint8_t>(seed >> 16);
        }
    }
    return keys;
}

// Formats `total` keys with the list's selection and the cache; returns keys per second.
double Measure(const KeyFormatList& formats, const std::vector<KeyData>& keys, size_t total,
               std::wstring& sample)
{
    CKeyFormatCache cache;
    std::wstring text;
    size_t characters = 0;
    const double start = Seconds();
    for (size_t i = 0; i < total; ++i) {
        const KeyData& key = keys[i % keys.size()];
        const int64_t index = FindFormatForKey(formats, KEY_TYPE_EM_MARINE, key);
        if (index < 0)
            continue;
        cache.FormatKey(text, formats, static_cast<size_t>(index), key);
        characters += text.size();
    }
    const double elapsed = Seconds() - start;
    sample = text;
    if (characters == 0)
        std::printf("warning: nothing was formatted\n");
    return static_cast<double>(total) / elapsed;
}

// The same without the cache: every key parses its format anew.
double MeasureUncached(const KeyFormat& format, const std::vector<KeyData>& keys, size_t total)
{
    std::wstring text;
    const double start = Seconds();
    for (size_t i = 0; i < total; ++i)
        FormatKey(text, format.Template.c_str(), format.Params.c_str(), keys[i % keys.size()]);
    return static_cast<double>(total) / (Seconds() - start);
}

KeyFormat MakeFormat(const wchar_t* name, const wchar_t* templ, const wchar_t* params)
{
    KeyFormat f;
    f.Name = name;
    f.Template = templ;
    f.Params = params;
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    const size_t total = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000000;
    const std::vector<KeyData> keys = MakeKeys(4096);
    struct Case
    {
        const char* title;
        KeyFormat format;
    } cases[] = {
        {"default (HelmSaaS)", MakeFormat(L"HelmSaaS", L"%.3u,%.5u", L"b2 w01")},
        {"Wiegand-26", MakeFormat(L"Wiegand-26", L"%.8u", L"w2(26,1,b0,b1,b2)")},
    };
    for (const Case& c : cases) {
        KeyFormatList formats{c.format};
        std::wstring sample;
        const double cached = Measure(formats, keys, total, sample);
        const double uncached = MeasureUncached(c.format, keys, total / 10);
        std::printf("%-20s %12.0f keys/s (cached)  %12.0f keys/s (parsed per key)  last: %ls\n",
                    c.title, cached, uncached, sample.c_str());
    }
    return 0;
}
