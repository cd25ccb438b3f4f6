// The event-sound player through a recording back end: which player each file goes to, and the
// open and playing state that the sound page's Play column shows.
#include "RecordingSoundBackend.h"
#include "SoundPlayer.h"
#include <gtest/gtest.h>

namespace {

using V = std::vector<std::wstring>;

} // namespace

TEST(SoundPlayer, WavThenMp3GoToTheirPlayers)
{
    CRecordingBackend backend;
    CSoundPlayer player;
    player.SetBackend(&backend);
    EXPECT_TRUE(player.Play(0, L"C:\\a.WAV", nullptr));
    EXPECT_EQ(player.OpenEvent(), 0);
    EXPECT_TRUE(player.IsWav());
    EXPECT_EQ(player.PlayingMediaEvent(), -1);
    EXPECT_TRUE(player.Play(1, L"C:\\b.mp3", nullptr));
    EXPECT_EQ(player.OpenEvent(), 1);
    EXPECT_EQ(player.PlayingMediaEvent(), 1);
    EXPECT_EQ(backend.calls, (V{L"wav C:\\a.WAV", L"wav stop", L"mci open \"C:\\b.mp3\" type mpegvideo alias media",
                                L"mci play media from 0 notify"}));
    // Play on the playing row stops it; the device stays open until the next sound.
    EXPECT_TRUE(player.StopMedia());
    EXPECT_EQ(player.PlayingMediaEvent(), -1);
    EXPECT_EQ(player.OpenEvent(), 1);
    EXPECT_FALSE(player.StopMedia());
    EXPECT_TRUE(player.Stop());
    EXPECT_EQ(backend.calls.back(), L"mci close media");
    EXPECT_EQ(player.OpenEvent(), -1);
    EXPECT_FALSE(player.Stop());
}

TEST(SoundPlayer, MidiEndAndFailures)
{
    CRecordingBackend backend;
    CSoundPlayer player;
    player.SetBackend(&backend);
    EXPECT_FALSE(player.Play(2, L"", nullptr));
    EXPECT_TRUE(backend.calls.empty());
    player.Play(2, L"x.mid", nullptr);
    EXPECT_EQ(backend.calls[0], L"mci open \"x.mid\" type sequencer alias media");
    player.MediaEnded();
    EXPECT_EQ(player.PlayingMediaEvent(), -1);
    // Replaying the open row plays it again without a second open.
    player.Play(2, L"x.mid", nullptr);
    EXPECT_EQ(backend.calls.size(), 3u);
    EXPECT_EQ(player.PlayingMediaEvent(), 2);
    // A file that the media interface cannot open leaves nothing open.
    backend.calls.clear();
    player.Play(3, L"missing.mp3", nullptr);
    EXPECT_EQ(player.OpenEvent(), -1);
    EXPECT_EQ(player.PlayingMediaEvent(), -1);
    EXPECT_EQ(backend.calls, (V{L"mci close media", L"mci open \"missing.mp3\" type mpegvideo alias media"}));
}

TEST(SoundPlayer, ChangedFileOfTheOpenRowIsOpenedAnew)
{
    CRecordingBackend backend;
    CSoundPlayer player;
    player.SetBackend(&backend);
    player.Play(0, L"a.mp3", nullptr);
    backend.calls.clear();
    player.Play(0, L"b.mp3", nullptr);
    EXPECT_EQ(backend.calls, (V{L"mci close media", L"mci open \"b.mp3\" type mpegvideo alias media",
                                L"mci play media from 0 notify"}));
}
