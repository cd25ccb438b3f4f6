// The test page's list of open devices: one row per device that the test bench opened, kept
// sorted by identifier, each shown as one combo-box item with its state, model, serial number and
// firmware version. The page feeds it what the add-in answered for every device; the list tells
// the page, through a sink, exactly which combo items to insert, replace or remove, so the combo
// box always holds one item per row at the same index and is not touched when nothing changed.
#pragma once
#include "NativeApi.h"
#include <cstdint>
#include <string>
#include <vector>

const int32_t DeviceStateUnknown = 0;
const int32_t DeviceStateDisconnected = 1;
const int32_t DeviceStateConnecting = 2;
const int32_t DeviceStateConnected = 3;

struct ReaderInfoRow
{
    std::wstring device;
    uint32_t model = 0;   // 0 unknown, 1-9 the reader models
    int32_t serial = 0;
    uint32_t version = 0; // packed firmware version
    int32_t state = DeviceStateUnknown;
    int32_t stale = 0;    // set while a refresh has not yet seen the device
};

// What the add-in answered for one device: GetReaderInfo (success and its four out parameters:
// model, serial number, firmware version, text) and GetStatus (its return value).
struct DeviceReading
{
    std::wstring device;
    uint32_t model = 0;
    int32_t serial = 0;
    uint32_t version = 0;
    int32_t state = DeviceStateUnknown;
};
// infoParams: the four out parameters of GetReaderInfo (null when the call answered false).
DeviceReading ReadingFromVariants(const std::wstring& device, const tVariant* infoParams, const tVariant& status);

// A state outside 0-3, or a status that is not a number, is shown as unknown: the state indexes
// a string table, and any other value would pick an unrelated text.
int32_t DeviceStateFromStatus(const tVariant& status);

// "COM3 connected - Kora USB s/n 12 v3.10": identifier, state text (not for state 0), and model,
// serial number and version (not for model 0; the version not when it is 0).
std::wstring DeviceItemText(const ReaderInfoRow& row);

// Where the list's changes go (the combo box of the test page).
class IDeviceListSink
{
public:
    virtual void InsertItem(int index, const std::wstring& text) = 0;
    virtual void DeleteItem(int index) = 0;
    virtual void SetSelection(int index) = 0; // -1: nothing selected
protected:
    ~IDeviceListSink() = default;
};

class CDeviceList
{
public:
    const std::vector<ReaderInfoRow>& Rows() const { return m_rows; }
    int Selection() const { return m_selection; }
    // The user picked another item.
    void Select(int index) { m_selection = index >= 0 && index < static_cast<int>(m_rows.size()) ? index : -1; }
    // Exact, case-sensitive; -1 when absent.
    int FindDevice(const std::wstring& device) const;
    // Brings the rows in line with the readings (the host's open-device list, in its order):
    // new devices are inserted at their sorted place, changed ones replaced, vanished ones removed.
    // The selected device stays selected while it exists; otherwise the first row is selected.
    // Returns whether the selection changed (the page then updates its buttons).
    bool Refresh(const std::vector<DeviceReading>& readings, IDeviceListSink& sink);
    // Forgets every row through the sink.
    void Clear(IDeviceListSink& sink);

private:
    // Position of the first row not less than device (binary search over the sorted rows).
    size_t LowerBound(const std::wstring& device) const;

    std::vector<ReaderInfoRow> m_rows; // ascending by identifier (UTF-16 code units)
    int m_selection = -1;
};
