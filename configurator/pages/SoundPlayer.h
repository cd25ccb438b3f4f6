// Plays the sound page's event sounds: .wav files through the system sound player, every other
// file through the media control interface under the alias "media", whose end is reported to a
// notify window (MM_MCINOTIFY). The calls to the system go through a replaceable back end, so
// tests can see what would be played without a sound device.
//
// Rule: at most one event's sound is open at a time; opening another one closes the first.
#pragma once
#include <windows.h>
#include <cstdint>
#include <string>

class ISoundBackend
{
public:
    virtual ~ISoundBackend() = default;
    // PlaySoundW of a file, asynchronous, without the default beep for a missing file.
    virtual void PlayWav(const std::wstring& path) = 0;
    // PlaySoundW with no sound: stops a .wav that plays.
    virtual void StopWav() = 0;
    // mciSendStringW; true when the command succeeded.
    virtual bool SendMci(const std::wstring& command, HWND notify) = 0;
};

// The back end that calls the system.
ISoundBackend& SystemSoundBackend();

// "sequencer" for .mid, "mpegvideo" for every other non-.wav file; empty for .wav.
std::wstring MediaDeviceType(const std::wstring& path);
bool IsWavFile(const std::wstring& path);

class CSoundPlayer
{
public:
    CSoundPlayer() = default;
    CSoundPlayer(const CSoundPlayer&) = delete;
    CSoundPlayer& operator=(const CSoundPlayer&) = delete;

    // Tests replace the back end; null restores the system's.
    void SetBackend(ISoundBackend* backend) { m_backend = backend ? backend : &SystemSoundBackend(); }

    // Plays event `row`'s file (nothing for an empty one). Returns whether the list must be
    // redrawn (the play images changed).
    bool Play(int32_t row, const std::wstring& file, HWND notify);
    // Stops whatever is open. Returns whether the list must be redrawn.
    bool Stop();
    // Stops a media sound that plays but keeps its device open (the Play column's stop image).
    bool StopMedia();
    // The media device reported the end of its sound.
    void MediaEnded() { m_playingMedia = -1; }

    int32_t OpenEvent() const { return m_openEvent; }
    int32_t PlayingMediaEvent() const { return m_playingMedia; }
    bool IsWav() const { return m_wav; }

private:
    void Close();

    ISoundBackend* m_backend = &SystemSoundBackend();
    int32_t m_openEvent = -1;    // the event whose sound is open or plays
    int32_t m_playingMedia = -1; // the event whose media sound plays now
    bool m_wav = false;          // the open sound is a .wav file
    std::wstring m_openFile;     // the file that is open, so that a changed file is opened anew
};

// The program's one player (the application's sound state).
CSoundPlayer& AppSoundPlayer();
