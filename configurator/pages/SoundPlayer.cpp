// Event sounds through the system sound player and the media control interface (see SoundPlayer.h).
#include "SoundPlayer.h"
#include "WFormat.h"
#include <mmsystem.h>
#include <cwctype>

namespace {

class CSystemSoundBackend : public ISoundBackend
{
public:
    void PlayWav(const std::wstring& path) override
    {
        PlaySoundW(path.c_str(), nullptr, SND_FILENAME | SND_NODEFAULT | SND_ASYNC);
    }
    void StopWav() override { PlaySoundW(nullptr, nullptr, 0); }
    bool SendMci(const std::wstring& command, HWND notify) override
    {
        return mciSendStringW(command.c_str(), nullptr, 0, notify) == 0;
    }
};

std::wstring LowerExtension(const std::wstring& path)
{
    const size_t dot = path.rfind(L'.');
    std::wstring extension = dot == std::wstring::npos ? std::wstring() : path.substr(dot);
    for (wchar_t& c : extension)
        c = static_cast<wchar_t>(std::towlower(c));
    return extension;
}

} // namespace

ISoundBackend& SystemSoundBackend()
{
    static CSystemSoundBackend backend;
    return backend;
}

bool IsWavFile(const std::wstring& path)
{
    return LowerExtension(path) == L".wav";
}

std::wstring MediaDeviceType(const std::wstring& path)
{
    const std::wstring extension = LowerExtension(path);
    if (extension == L".wav")
        return std::wstring();
    return extension == L".mid" ? L"sequencer" : L"mpegvideo";
}

void CSoundPlayer::Close()
{
    if (m_wav)
        m_backend->StopWav();
    else
        m_backend->SendMci(L"close media", nullptr);
    m_openEvent = -1;
    m_playingMedia = -1;
    m_openFile.clear();
}

bool CSoundPlayer::Play(int32_t row, const std::wstring& file, HWND notify)
{
    if (file.empty())
        return false;
    bool redraw = false;
    if (m_openEvent >= 0 && (m_openEvent != row || m_openFile != file)) {
        Close();
        redraw = true;
    }
    if (m_openEvent != row) {
        if (IsWavFile(file)) {
            m_wav = true;
            m_openEvent = row;
            m_openFile = file;
        } else {
            m_wav = false;
            std::wstring command;
            FormatString(command, L"open \"%s\" type %s alias media", file.c_str(), MediaDeviceType(file).c_str());
            if (m_backend->SendMci(command, nullptr)) {
                m_openEvent = row;
                m_openFile = file;
            }
        }
    }
    if (m_openEvent >= 0) {
        if (m_wav) {
            m_backend->PlayWav(file);
        } else {
            m_playingMedia = m_backend->SendMci(L"play media from 0 notify", notify) ? m_openEvent : -1;
        }
        redraw = true;
    }
    return redraw;
}

bool CSoundPlayer::Stop()
{
    if (m_openEvent < 0)
        return false;
    const bool media = !m_wav;
    Close();
    return media;
}

bool CSoundPlayer::StopMedia()
{
    if (m_playingMedia < 0)
        return false;
    m_backend->SendMci(L"stop media", nullptr);
    m_playingMedia = -1;
    return true;
}

CSoundPlayer& AppSoundPlayer()
{
    static CSoundPlayer player;
    return player;
}
