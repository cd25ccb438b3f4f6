// The test page's device rows and the texts of their combo items.
#include "DeviceList.h"
#include "BenchStrings.h"
#include "Models.h"
#include "Numbers.h"
#include "ResText.h"
#include "WFormat.h"
#include <algorithm>

int32_t DeviceStateFromStatus(const tVariant& status)
{
    if (status.vt != VTYPE_I4 && status.vt != VTYPE_INT && status.vt != VTYPE_UI4)
        return DeviceStateUnknown;
    const int64_t state = status.vt == VTYPE_UI4 ? static_cast<int64_t>(status.ui32Val) : status.i32Val;
    return state >= DeviceStateUnknown && state <= DeviceStateConnected ? static_cast<int32_t>(state)
                                                                        : DeviceStateUnknown;
}

DeviceReading ReadingFromVariants(const std::wstring& device, const tVariant* infoParams, const tVariant& status)
{
    DeviceReading r;
    r.device = device;
    if (infoParams) {
        if (infoParams[0].vt == VTYPE_I4 && infoParams[0].i32Val >= 1 && infoParams[0].i32Val <= 9)
            r.model = static_cast<uint32_t>(infoParams[0].i32Val);
        if (infoParams[1].vt == VTYPE_I4)
            r.serial = infoParams[1].i32Val;
        if (infoParams[2].vt == VTYPE_UI4)
            r.version = infoParams[2].ui32Val;
    }
    r.state = DeviceStateFromStatus(status);
    return r;
}

std::wstring DeviceItemText(const ReaderInfoRow& row)
{
    std::wstring text = row.device;
    const int32_t state = row.state >= DeviceStateUnknown && row.state <= DeviceStateConnected ? row.state : 0;
    if (state != DeviceStateUnknown)
        text += L" " + LoadResString(IDS_DEVICE_STATE_BASE + state);
    if (row.model != 0) {
        text += L" - ";
        text += ReaderModelName(row.model);
        text += L" ";
        AppendResFormat(text, IDS_SERIAL_NUMBER, row.serial);
        if (row.version != 0) {
            std::wstring version;
            VersionToText(version, row.version);
            text += L" v" + version;
        }
    }
    return text;
}

size_t CDeviceList::LowerBound(const std::wstring& device) const
{
    return std::lower_bound(m_rows.begin(), m_rows.end(), device,
                            [](const ReaderInfoRow& row, const std::wstring& d) { return row.device < d; }) -
           m_rows.begin();
}

int CDeviceList::FindDevice(const std::wstring& device) const
{
    const size_t at = LowerBound(device);
    return at < m_rows.size() && m_rows[at].device == device ? static_cast<int>(at) : -1;
}

bool CDeviceList::Refresh(const std::vector<DeviceReading>& readings, IDeviceListSink& sink)
{
    const bool hadSelection = m_selection >= 0 && m_selection < static_cast<int>(m_rows.size());
    const std::wstring selected = hadSelection ? m_rows[m_selection].device : std::wstring();
    for (ReaderInfoRow& row : m_rows)
        row.stale = 1;

    for (const DeviceReading& r : readings) {
        const size_t at = LowerBound(r.device);
        if (at < m_rows.size() && m_rows[at].device == r.device) {
            ReaderInfoRow& row = m_rows[at];
            if (!row.stale)
                continue; // listed twice: the first reading holds
            row.stale = 0;
            if (row.model == r.model && row.serial == r.serial && row.version == r.version && row.state == r.state)
                continue;
            row.model = r.model;
            row.serial = r.serial;
            row.version = r.version;
            row.state = r.state;
            sink.DeleteItem(static_cast<int>(at));
            sink.InsertItem(static_cast<int>(at), DeviceItemText(row));
        } else {
            ReaderInfoRow row;
            row.device = r.device;
            row.model = r.model;
            row.serial = r.serial;
            row.version = r.version;
            row.state = r.state;
            m_rows.insert(m_rows.begin() + at, row);
            sink.InsertItem(static_cast<int>(at), DeviceItemText(row));
        }
    }
    for (size_t i = m_rows.size(); i-- > 0;) {
        if (m_rows[i].stale) {
            m_rows.erase(m_rows.begin() + i);
            sink.DeleteItem(static_cast<int>(i));
        }
    }

    int wanted = hadSelection ? FindDevice(selected) : -1;
    const bool vanished = hadSelection && wanted < 0;
    if (wanted < 0)
        wanted = m_rows.empty() ? -1 : 0;
    // Inserting or deleting items moves the combo's own selection, so it is set whenever the
    // selected row's index may have moved, not only when another device is chosen.
    const bool changed = vanished || (wanted >= 0) != hadSelection;
    m_selection = wanted;
    if (changed || wanted >= 0)
        sink.SetSelection(wanted);
    return changed;
}

void CDeviceList::Clear(IDeviceListSink& sink)
{
    for (size_t i = m_rows.size(); i-- > 0;)
        sink.DeleteItem(static_cast<int>(i));
    m_rows.clear();
    m_selection = -1;
    sink.SetSelection(-1);
}
