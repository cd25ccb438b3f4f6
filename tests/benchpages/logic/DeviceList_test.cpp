// The test page's device rows: item texts, order, minimal combo changes and the selection.
#include "DeviceList.h"
#include "ModuleState.h"
#include "Models.h"
#include <gtest/gtest.h>

namespace {

// Mirrors the combo box: the items and the selection the list asked for, and a count of calls.
struct ComboSink : IDeviceListSink
{
    std::vector<std::wstring> items;
    int selection = -1;
    int inserts = 0, deletes = 0;
    void InsertItem(int index, const std::wstring& text) override { items.insert(items.begin() + index, text); ++inserts; }
    void DeleteItem(int index) override { items.erase(items.begin() + index); ++deletes; }
    void SetSelection(int index) override { selection = index; }
};

DeviceReading Reading(const wchar_t* device, int32_t state, uint32_t model = 0, int32_t serial = 0, uint32_t version = 0)
{
    DeviceReading r;
    r.device = device;
    r.state = state;
    r.model = model;
    r.serial = serial;
    r.version = version;
    return r;
}

tVariant I4(int32_t v) { tVariant t{}; t.vt = VTYPE_I4; t.i32Val = v; return t; }
tVariant UI4(uint32_t v) { tVariant t{}; t.vt = VTYPE_UI4; t.ui32Val = v; return t; }

bool English() { return PRIMARYLANGID(LANGIDFROMLCID(MessageLcid)) == LANG_ENGLISH; }

} // namespace

TEST(DeviceItemText, StateModelSerialAndVersion)
{
    if (!English())
        GTEST_SKIP() << "English texts";
    ReaderInfoRow row;
    row.device = L"COM3";
    EXPECT_EQ(L"COM3", DeviceItemText(row)); // state 0, model 0: the identifier alone
    row.state = 3;
    EXPECT_EQ(L"COM3 connected", DeviceItemText(row));
    row.state = 2;
    EXPECT_EQ(L"COM3 connecting...", DeviceItemText(row));
    row.state = 1;
    row.model = 1;
    row.serial = 1234;
    EXPECT_EQ(L"COM3 disconnected - Kora USB s/n 1234", DeviceItemText(row));
    row.version = PackFirmwareVersion(3, 10);
    EXPECT_EQ(L"COM3 disconnected - Kora USB s/n 1234 v3.10", DeviceItemText(row));
    row.device = L"COM7\\12";
    row.state = 0;
    row.model = 9;
    row.version = 0;
    EXPECT_EQ(L"COM7\\12 - Pelto s/n 1234", DeviceItemText(row));
}

TEST(DeviceItemText, StateOutsideTheTableShowsAsUnknown)
{
    ReaderInfoRow row;
    row.device = L"COM3";
    for (int32_t bad : {4, 7, -1, -270, 1000}) {
        row.state = bad;
        EXPECT_EQ(L"COM3", DeviceItemText(row)) << bad;
    }
    EXPECT_EQ(0, DeviceStateFromStatus(I4(7)));
    EXPECT_EQ(0, DeviceStateFromStatus(I4(-2)));
    EXPECT_EQ(3, DeviceStateFromStatus(I4(3)));
    EXPECT_EQ(2, DeviceStateFromStatus(UI4(2)));
    EXPECT_EQ(0, DeviceStateFromStatus(UI4(0xFFFFFFFF)));
    tVariant text{};
    text.vt = VTYPE_PWSTR;
    EXPECT_EQ(0, DeviceStateFromStatus(text));
    tVariant boolean{};
    boolean.vt = VTYPE_BOOL;
    boolean.bVal = true;
    EXPECT_EQ(0, DeviceStateFromStatus(boolean));
}

TEST(DeviceReading, TakesOnlyTheTypesTheAddinWrites)
{
    tVariant info[4] = {I4(3), I4(77), UI4(0x0A03), tVariant{}};
    DeviceReading r = ReadingFromVariants(L"COM5", info, I4(3));
    EXPECT_EQ(3u, r.model);
    EXPECT_EQ(77, r.serial);
    EXPECT_EQ(0x0A03u, r.version);
    EXPECT_EQ(3, r.state);

    tVariant odd[4] = {I4(10), UI4(77), I4(5), tVariant{}}; // model out of range, wrong types
    r = ReadingFromVariants(L"COM5", odd, I4(1));
    EXPECT_EQ(0u, r.model);
    EXPECT_EQ(0, r.serial);
    EXPECT_EQ(0u, r.version);

    r = ReadingFromVariants(L"COM5", nullptr, I4(2)); // GetReaderInfo answered false
    EXPECT_EQ(0u, r.model);
    EXPECT_EQ(2, r.state);
}

TEST(DeviceList, SortedByIdentifierWithOneComboItemPerRow)
{
    CDeviceList list;
    ComboSink combo;
    // Opened in the order COM5, COM3, COM10: listed by UTF-16 code units.
    EXPECT_TRUE(list.Refresh({Reading(L"COM5", 3), Reading(L"COM3", 1), Reading(L"COM10", 0)}, combo));
    ASSERT_EQ(3u, list.Rows().size());
    EXPECT_EQ(L"COM10", list.Rows()[0].device);
    EXPECT_EQ(L"COM3", list.Rows()[1].device);
    EXPECT_EQ(L"COM5", list.Rows()[2].device);
    ASSERT_EQ(3u, combo.items.size());
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(DeviceItemText(list.Rows()[i]), combo.items[i]);
    EXPECT_EQ(0, list.Selection());
    EXPECT_EQ(0, combo.selection);
    EXPECT_EQ(1, list.FindDevice(L"COM3"));
    EXPECT_EQ(-1, list.FindDevice(L"com3"));

    // Nothing changed: the combo is not touched.
    combo.inserts = combo.deletes = 0;
    EXPECT_FALSE(list.Refresh({Reading(L"COM5", 3), Reading(L"COM3", 1), Reading(L"COM10", 0)}, combo));
    EXPECT_EQ(0, combo.inserts + combo.deletes);

    // One state changed: only that item is replaced, at its index.
    EXPECT_FALSE(list.Refresh({Reading(L"COM5", 3), Reading(L"COM3", 3), Reading(L"COM10", 0)}, combo));
    EXPECT_EQ(1, combo.inserts);
    EXPECT_EQ(1, combo.deletes);
    EXPECT_EQ(DeviceItemText(list.Rows()[1]), combo.items[1]);
    EXPECT_EQ(3, list.Rows()[1].state);
}

TEST(DeviceList, SelectionFollowsTheDeviceAndFallsBackToTheFirst)
{
    CDeviceList list;
    ComboSink combo;
    list.Refresh({Reading(L"COM3", 3), Reading(L"COM5", 3), Reading(L"COM7", 3)}, combo);
    list.Select(2); // COM7

    // A device inserted before it keeps COM7 selected at its new index.
    EXPECT_FALSE(list.Refresh({Reading(L"COM3", 3), Reading(L"COM5", 3), Reading(L"COM7", 3), Reading(L"COM4", 3)},
                              combo));
    EXPECT_EQ(3, list.Selection());
    EXPECT_EQ(3, combo.selection);

    // Closing the selected device selects the first remaining one.
    EXPECT_TRUE(list.Refresh({Reading(L"COM3", 3), Reading(L"COM5", 3), Reading(L"COM4", 3)}, combo));
    EXPECT_EQ(0, list.Selection());
    EXPECT_EQ(0, combo.selection);
    EXPECT_EQ(3u, combo.items.size());

    // The last device closed: nothing selected, no items.
    EXPECT_TRUE(list.Refresh({}, combo));
    EXPECT_EQ(-1, list.Selection());
    EXPECT_EQ(-1, combo.selection);
    EXPECT_TRUE(combo.items.empty());
    EXPECT_FALSE(list.Refresh({}, combo));

    list.Refresh({Reading(L"COM3", 3)}, combo);
    list.Clear(combo);
    EXPECT_TRUE(combo.items.empty());
    EXPECT_TRUE(list.Rows().empty());
}
