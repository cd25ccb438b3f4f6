// The data side of the sound page's list: the four add-in events with their sound files and the
// images of the play, go and browse columns.
#pragma once
#include "VirtualListViewData.h"
#include <array>
#include <string>

const int SOUND_EVENT_COUNT = 4;

// Image indices of the sound list's image list (bitmap 141).
enum SoundImage
{
    SoundImageBrowse = 0,
    SoundImageGo = 1,
    SoundImagePlay = 2,
    SoundImageStop = 3,
};

// The event's name in the program's language (strings 135-138, loaded once; "?" when missing).
const std::wstring& SoundEventName(int row);

class CSoundsView : public CVirtualListViewData
{
public:
    int GetItemCount() override { return SOUND_EVENT_COUNT; }
    void GetDispInfo(NMLVDISPINFOW* info) override;
    void CacheHint(NMLVCACHEHINT*) override {}

    std::array<std::wstring, SOUND_EVENT_COUNT>* Files = nullptr; // the application's, not owned
};
