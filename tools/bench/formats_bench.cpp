// Filter and sort of the key-format library page with a library of 10,000 formats (not a test):
// prints the time of one rebuild of the list's index (the page's Refresh) for the "All" tab, a
// group tab, "only enabled" and every sort column in both directions, and of building the rows
// of one screen. Goal: under 50 ms each under Wine, so that the page answers a click at once.
#include "BenchTiming.h"
#include "FormatListLogic.h"
#include "FormatsView.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int LibrarySize = 10000;
// Names that share long prefixes, so that the text comparisons do real work.
KeyFormatLibrary MakeLibrary()
{
    KeyFormatLibrary library;
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < LibrarySize; ++i) {
        KeyFormatItem item;
        item.Name = L"Format " + std::to_wstring(next() % 100000) + L" #" + std::to_wstring(i);
        item.Template = L"%.3u,%.5u " + std::to_wstring(next() % 1000);
        item.Params = L"b2 w01 " + std::to_wstring(next() % 977);
        item.Comment = L"Comment " + std::to_wstring(next() % 5000);
        item.KeyTypes = 1u << (next() % 19) | 1u << (next() % 19);
        item.KeySize = next() % 9;
        item.Enabled = i % 50 == 0;
        library.push_back(item);
    }
    return library;
}

} // namespace

int main()
{
    KeyFormatLibrary library = MakeLibrary();
    std::vector<int64_t> index;
    std::printf("Library of %d formats, best of %d runs (goal: under 50 ms each)\n", LibrarySize, Runs);
    std::printf("  filter \"All\", library order:   %7.2f ms\n",
                BestOf([&] { BuildFormatIndex(library, 0, false, 0, index); }));
    double time = BestOf([&] { BuildFormatIndex(library, 4, false, 0, index); });
    std::printf("  filter group (HID):            %7.2f ms (%zu rows)\n", time, index.size());
    time = BestOf([&] { BuildFormatIndex(library, 0, true, 0, index); });
    std::printf("  filter only enabled:           %7.2f ms (%zu rows)\n", time, index.size());
    static const char* const Columns[] = {"#", "Name", "Template", "Parameters", "Key types", "Key size", "Comment"};
    for (int column = 2; column <= 7; ++column) {
        for (int sign : {1, -1}) {
            std::printf("  sort by %-10s %-10s     %7.2f ms\n", Columns[column - 1], sign > 0 ? "ascending" : "descending",
                        BestOf([&] { BuildFormatIndex(library, 0, false, sign * column, index); }));
        }
    }
    CZFormatsView view;
    view.Library = &library;
    view.SortColumn = 2;
    std::printf("  page Refresh (sort by Name):   %7.2f ms\n", BestOf([&] { view.Refresh(); }));
    NMLVCACHEHINT hint = {};
    double rows = BestOf([&] {
        hint.iFrom = 5000;
        hint.iTo = 5040;
        view.CacheHint(&hint);
        hint.iFrom = 0;
        hint.iTo = 40;
        view.CacheHint(&hint);
    });
    std::printf("  rows of two screens:           %7.2f ms\n", rows);
    return 0;
}
