// The sound list adapter (see SoundsView.h).
#include "SoundsView.h"
#include "AppMessageBox.h"
#include "SoundPageRes.h"
#include "SoundPlayer.h"

const std::wstring& SoundEventName(int row)
{
    static const std::wstring unknown = L"?";
    static const std::array<std::wstring, SOUND_EVENT_COUNT> names = [] {
        std::array<std::wstring, SOUND_EVENT_COUNT> table;
        for (int i = 0; i < SOUND_EVENT_COUNT; ++i) {
            table[i] = LoadAppString(IDS_SOUND_EVENT_FIRST + i);
            if (table[i].empty())
                table[i] = unknown;
        }
        return table;
    }();
    return row >= 0 && row < SOUND_EVENT_COUNT ? names[static_cast<size_t>(row)] : unknown;
}

void CSoundsView::GetDispInfo(NMLVDISPINFOW* info)
{
    LVITEMW& item = info->item;
    if (item.iItem < 0 || item.iItem >= SOUND_EVENT_COUNT || !Files)
        return;
    const std::wstring& file = (*Files)[static_cast<size_t>(item.iItem)];
    if (item.mask & LVIF_TEXT) {
        if (item.iSubItem == 0)
            item.pszText = const_cast<wchar_t*>(SoundEventName(item.iItem).c_str());
        else if (item.iSubItem == 1)
            item.pszText = const_cast<wchar_t*>(file.c_str());
    }
    if ((item.mask & LVIF_INDENT) && item.iSubItem == 0)
        item.iIndent = -1;
    if (item.mask & LVIF_IMAGE) {
        switch (item.iSubItem) {
        case 0:
        case 1:
            item.iImage = I_IMAGENONE;
            break;
        case 2:
            item.iImage = file.empty() ? I_IMAGENONE
                        : AppSoundPlayer().PlayingMediaEvent() == item.iItem ? SoundImageStop
                                                                              : SoundImagePlay;
            break;
        case 3:
            item.iImage = file.empty() ? I_IMAGENONE : SoundImageGo;
            break;
        case 4:
            item.iImage = SoundImageBrowse;
            break;
        default:
            break;
        }
    }
}
