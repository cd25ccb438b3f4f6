// Sounds: ".wav" files go to the system's sound player on the calling thread with asynchronous,
// file-name, no-default flags; other media go to the media control interface on the hidden
// window's thread; nothing plays while sounds are off. The system's players are replaced by the
// recorder, so nothing is heard.
#include "EventFixture.h"
#include <mmsystem.h>
#include <memory>
#include <thread>

using namespace slothost;

namespace {

// Dispatches the messages waiting for this thread's windows (the component's hidden window).
void PumpMessages()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

std::vector<std::wstring> MciStrings()
{
    std::vector<std::wstring> out;
    for (const auto& e : eventhost::CRecorder::Instance().Entries(L"mci"))
        out.push_back(e.Name);
    return out;
}

} // namespace

class SoundTest : public EventTest
{
protected:
    void SetSlot(int slot, const wchar_t* path) { SetProp(PropSoundFirst + slot, Str(path)); }
    // Plays a slot from a thread of its own, as a reader thread does.
    void PlayFromAnotherThread(int slot)
    {
        std::thread player([this, slot] { object->PlaySoundSlot(slot); });
        player.join();
    }
};

TEST_F(SoundTest, WaveFilesGoToTheSoundPlayerOnTheCallingThread)
{
    SetSlot(0, L"C:\\s\\Key.WAV"); // the extension in any case
    DWORD playerThread = 0;
    std::thread player([&] {
        playerThread = GetCurrentThreadId();
        object->PlaySoundSlot(0);
    });
    player.join();
    auto waves = eventhost::CRecorder::Instance().Entries(L"wave");
    ASSERT_EQ(waves.size(), 1u);
    EXPECT_EQ(waves[0].Name, L"C:\\s\\Key.WAV");
    EXPECT_EQ(waves[0].Flags, static_cast<DWORD>(SND_FILENAME | SND_ASYNC | SND_NODEFAULT));
    EXPECT_EQ(waves[0].Flags, 0x20003u);
    EXPECT_EQ(waves[0].Thread, playerThread);
    EXPECT_TRUE(MciStrings().empty());
}

TEST_F(SoundTest, MediaPlayOnTheWindowThreadAndStayOpen)
{
    Destroy();
    Create(1);
    ASSERT_NE(object->Window(), nullptr);
    SetProp(PropSoundEnabled, Bool(true));
    SetSlot(1, L"C:\\s\\error.mid");
    SetSlot(2, L"C:\\s\\on.mp3");
    SetSlot(3, L"C:\\s\\off");

    PlayFromAnotherThread(2);
    EXPECT_TRUE(MciStrings().empty()) << "media wait for the window's thread";
    PumpMessages();
    std::vector<std::wstring> expected = {L"open \"C:\\s\\on.mp3\" type mpegvideo alias media", L"play media from 0"};
    EXPECT_EQ(MciStrings(), expected);
    for (const auto& e : eventhost::CRecorder::Instance().Entries(L"mci"))
        EXPECT_EQ(e.Thread, GetCurrentThreadId());

    // The same slot again only plays from the start; another slot closes the open one first.
    struct Step
    {
        int Slot;
        std::vector<std::wstring> Strings;
    } steps[] = {
        {2, {L"play media from 0"}},
        {1, {L"close media", L"open \"C:\\s\\error.mid\" type sequencer alias media", L"play media from 0"}},
        {3, {L"close media", L"open \"C:\\s\\off\" type mpegvideo alias media", L"play media from 0"}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(testing::Message() << "slot " << step.Slot);
        eventhost::CRecorder::Instance().Clear();
        PlayFromAnotherThread(step.Slot);
        PumpMessages();
        EXPECT_EQ(MciStrings(), step.Strings);
    }

    // Changing the open slot's file closes it; Done closes what is open.
    eventhost::CRecorder::Instance().Clear();
    SetSlot(3, L"C:\\s\\other.mp3");
    EXPECT_EQ(MciStrings(), std::vector<std::wstring>{L"close media"});
    PlayFromAnotherThread(2);
    PumpMessages();
    eventhost::CRecorder::Instance().Clear();
    object->Done();
    EXPECT_EQ(MciStrings(), std::vector<std::wstring>{L"close media"});
}

TEST_F(SoundTest, MediaDoNotPlayInAConsoleHost)
{
    ASSERT_EQ(object->Window(), nullptr);
    SetProp(PropSoundEnabled, Bool(true));
    SetSlot(2, L"C:\\s\\on.mp3");
    PlayFromAnotherThread(2);
    PumpMessages();
    EXPECT_TRUE(eventhost::CRecorder::Instance().Entries().empty());
}

TEST_F(SoundTest, NothingPlaysWhileSoundsAreOff)
{
    Destroy();
    Create(1);
    CReader reader;
    reader.Init(object, L"COM3");
    SetSlot(0, L"C:\\s\\key.wav");
    SetSlot(1, L"C:\\s\\error.wav");
    SetSlot(2, L"C:\\s\\on.mp3");
    SetSlot(3, L"C:\\s\\off.wav");
    auto report = [&] {
        const uint8_t bytes[] = {0x39, 0x30, 0x7B, 0x00, 0x00};
        KeyData key;
        key.Assign(bytes, 5);
        std::wstring text;
        object->OnDeviceConnect(&reader);
        object->OnTracksData(&reader, 1, key, text);
        object->OnTracksData(&reader, 2 /* no format takes it below */, key, text);
        object->OnDeviceDisconnect(&reader);
        PumpMessages();
    };
    OnlyFormat(L"%u", L"b2", 1u << 1); // Em-Marine only

    report();
    EXPECT_TRUE(Sounds().empty());
    EXPECT_EQ(Events().size(), 3u);

    SetProp(PropSoundEnabled, Bool(true));
    eventhost::CRecorder::Instance().Clear();
    report();
    std::vector<std::wstring> played;
    for (const auto& e : Sounds())
        played.push_back(e.Name);
    const std::vector<std::wstring> expected = {
        L"C:\\s\\key.wav", L"C:\\s\\error.wav", L"C:\\s\\off.wav",
        L"open \"C:\\s\\on.mp3\" type mpegvideo alias media", L"play media from 0"};
    EXPECT_EQ(played, expected);

    // Switching sounds off closes the open media; a request posted before that is not played.
    object->PlaySoundSlot(2);
    eventhost::CRecorder::Instance().Clear();
    SetProp(PropSoundEnabled, Bool(false));
    PumpMessages();
    EXPECT_EQ(MciStrings(), std::vector<std::wstring>{L"close media"});
}

TEST_F(SoundTest, ASecondComponentGetsItsOwnWindowAndMediaAlias)
{
    Destroy();
    Create(1);
    ASSERT_NE(object->Window(), nullptr);
    auto make = [this] {
        auto second = std::make_unique<CParvel>(L"ParvelExtension");
        ComponentPlacement placement;
        placement.ModuleFolder = moduleFolder.Path();
        placement.AppDataFolder = appData.Path();
        placement.WindowHost = 1;
        second->SetPlacement(placement);
        second->SetSoundFunctions(eventhost::RecordingSounds());
        EXPECT_TRUE(second->setMemManager(&memory));
        EXPECT_TRUE(second->Init(&host));
        return second;
    };
    std::unique_ptr<CParvel> second = make();
    ASSERT_NE(second->Window(), nullptr) << "the class is the module's: a second registration must not be needed";
    tVariant on = Bool(true), file = Str(L"C:\\s\\two.mp3");
    ASSERT_TRUE(second->SetPropVal(PropSoundEnabled, &on));
    ASSERT_TRUE(second->SetPropVal(PropSoundFirst + 2, &file));
    SetProp(PropSoundEnabled, Bool(true));
    SetSlot(2, L"C:\\s\\one.mp3");

    std::thread([&] {
        object->PlaySoundSlot(2);
        second->PlaySoundSlot(2);
    }).join();
    PumpMessages();
    const std::vector<std::wstring> both = {L"open \"C:\\s\\one.mp3\" type mpegvideo alias media", L"play media from 0",
                                            L"open \"C:\\s\\two.mp3\" type mpegvideo alias media2",
                                            L"play media2 from 0"};
    EXPECT_EQ(MciStrings(), both);

    // The first one's shutdown closes only its own media and leaves the class to the second.
    eventhost::CRecorder::Instance().Clear();
    Destroy();
    EXPECT_EQ(MciStrings(), std::vector<std::wstring>{L"close media"});
    std::unique_ptr<CParvel> third = make();
    EXPECT_NE(third->Window(), nullptr);
    eventhost::CRecorder::Instance().Clear();
    std::thread([&] { second->PlaySoundSlot(2); }).join();
    PumpMessages();
    EXPECT_EQ(MciStrings(), std::vector<std::wstring>{L"play media2 from 0"}) << "the second window still works";
    second->Done();
    third->Done();
    EXPECT_EQ(MciStrings(), (std::vector<std::wstring>{L"play media2 from 0", L"close media2"}));
}
