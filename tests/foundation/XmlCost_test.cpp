// What a large document costs the heap: reading, building and dropping a settings file of
// thousands of format entries must take few heap allocations per entry, since each one (under Wine
// about as long as parsing an element) is what made a library of 10,000 formats slow to load and
// save. Counted through this test program's own operator new, which every allocation of the
// statically linked library goes through. Also checks the lookups behind FindChild and the
// attributes once an element has outgrown the linear search, and the node arena itself.
#include "Xml.h"
#include "XmlNodeArena.h"
#include <gtest/gtest.h>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <set>
#include <string>
#include <vector>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};

// The heap allocations `run` makes.
template <class F>
long AllocationsOf(F run)
{
    g_allocations = 0;
    g_counting = true;
    run();
    g_counting = false;
    return g_allocations;
}

const int Entries = 2000;

// A settings file's format list as the writer lays it out: each entry is seven elements, an
// attribute and five texts, some of them longer than a string keeps without the heap.
std::wstring FormatList()
{
    std::wstring text = L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Parvel>\r\n\t<Formats>\r\n";
    for (int i = 1; i <= Entries; ++i) {
        std::wstring n = std::to_wstring(i);
        text += L"\t\t<Item" + n + L" enabled=\"1\">\r\n\t\t\t<Name>Format number " + n +
                L"</Name>\r\n\t\t\t<Template>%.3u,%.5u</Template>\r\n\t\t\t<Params>b2 w01</Params>\r\n"
                L"\t\t\t<Comment>Controllers &amp; readers</Comment>\r\n\t\t\t<KeyTypes>7e</KeyTypes>\r\n"
                L"\t\t\t<KeySize>0</KeySize>\r\n\t\t</Item" + n + L">\r\n";
    }
    return text + L"\t</Formats>\r\n</Parvel>\r\n";
}

} // namespace

void* operator new(std::size_t size)
{
    if (g_counting)
        ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

TEST(XmlCost, ALargeDocumentTakesFewHeapAllocationsPerEntry)
{
    const std::wstring text = FormatList();
    CMemXML doc;
    long parse = AllocationsOf([&] { doc.Parse(text); });
    ASSERT_EQ(static_cast<size_t>(Entries), doc.Root().GetNode(L"Parvel\\Formats")->Children.size());
    // An entry's texts and names longer than a string holds inside itself need the heap (five or
    // six here), and so do its list of children and of attributes; nothing else about an element
    // may.
    EXPECT_LE(parse, 10L * Entries) << "parsing";

    std::wstring written;
    long write = AllocationsOf([&] { doc.Serialize(written); });
    EXPECT_LE(write, 100L) << "writing needs no allocation per element";

    CMXNode* formats = doc.Root().GetNode(L"Parvel\\Formats");
    long rebuild = AllocationsOf([&] {
        formats->RemoveChildren();
        for (int i = 1; i <= Entries; ++i) {
            CMXNode* item = formats->AddChild(L"Item" + std::to_wstring(i));
            item->SetAttribute(L"enabled", L"1");
            item->AddChild(L"Name")->Text = L"Format number " + std::to_wstring(i);
            item->AddChild(L"Template")->Text = L"%.3u,%.5u";
            item->AddChild(L"Params")->Text = L"b2 w01";
            item->AddChild(L"Comment")->Text = L"Controllers & readers";
            item->AddChild(L"KeyTypes")->Text = L"7e";
            item->AddChild(L"KeySize")->Text = L"0";
        }
    });
    EXPECT_LE(rebuild, 10L * Entries) << "building";
    std::wstring again;
    doc.Serialize(again);
    EXPECT_EQ(written, again);
}

TEST(XmlCost, ManyChildrenAndAttributesAreFoundAsFewAre)
{
    CMXNode list(L"List");
    std::vector<CMXNode*> added;
    // Past the linear search, before and after the index is made, and duplicates on both sides.
    for (int i = 0; i < 40; ++i) {
        added.push_back(list.AddChild(L"N" + std::to_wstring(i % 15)));
        for (int j = 0; j <= i; ++j)
            ASSERT_EQ(added[j % 15], list.FindChild(L"N" + std::to_wstring(j % 15))) << i << " " << j;
        ASSERT_EQ(nullptr, list.FindChild(L"N" + std::to_wstring(i + 100)));
    }
    list.RemoveChildren();
    EXPECT_EQ(nullptr, list.FindChild(L"N0"));
    CMXNode* fresh = list.AddChild(L"N0");
    EXPECT_EQ(fresh, list.FindChild(L"N0"));

    CMXNode element(L"E");
    for (int i = 0; i < 30; ++i) {
        element.SetAttribute(L"a" + std::to_wstring(i), std::to_wstring(i));
        element.SetAttribute(L"a0", L"first, again " + std::to_wstring(i));   // keeps its place
        for (int j = 1; j <= i; ++j)
            ASSERT_EQ(std::to_wstring(j), element.GetAttribute(L"a" + std::to_wstring(j)));
        ASSERT_EQ(0u, element.Attributes.count(L"a" + std::to_wstring(i + 1)));
    }
    ASSERT_EQ(30u, element.Attributes.size());
    int position = 0;
    for (const auto& attribute : element.Attributes)
        EXPECT_EQ(L"a" + std::to_wstring(position++), attribute.first);
    EXPECT_EQ(L"first, again 29", element.GetAttribute(L"a0"));
    element.Attributes.clear();
    EXPECT_EQ(L"", element.GetAttribute(L"a5"));
    element.SetAttribute(L"a5", L"back");
    EXPECT_EQ(L"back", element.GetAttribute(L"a5"));
}

TEST(XmlCost, ArenaBlocksAreWholeAlignedAndReused)
{
    const std::size_t size = 40;
    CXmlNodeArena arena(size);
    std::vector<char*> blocks;
    blocks.reserve(5000);
    long taken = AllocationsOf([&] {
        for (int i = 0; i < 5000; ++i)
            blocks.push_back(static_cast<char*>(arena.Allocate()));
    });
    EXPECT_LE(taken, 12L);   // chunks that grow, not one allocation per block
    std::set<char*> sorted(blocks.begin(), blocks.end());
    ASSERT_EQ(blocks.size(), sorted.size());
    char* previous = nullptr;
    for (char* block : sorted) {
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % alignof(std::max_align_t));
        if (previous && previous + size > block)
            ADD_FAILURE() << "blocks overlap";
        previous = block;
    }
    for (int i = 0; i < 5000; ++i)
        std::memset(blocks[i], i & 0xFF, size);   // every byte of every block is usable
    for (int i = 0; i < 5000; i += 2)
        arena.Free(blocks[i]);
    std::set<char*> freed;
    for (int i = 0; i < 5000; i += 2)
        freed.insert(blocks[i]);
    long reused = AllocationsOf([&] {
        for (int i = 0; i < 2500; ++i)
            EXPECT_EQ(1u, freed.count(static_cast<char*>(arena.Allocate())));
    });
    EXPECT_EQ(0L, reused);
}
