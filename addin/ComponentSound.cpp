// Sounds of the component: ".wav" files through the system's sound player on the calling thread,
// any other media file through the media control interface on the hidden window's thread.
//
// Quirk: the media control interface belongs to the thread that opened a device, so media are
// opened, played and closed only on the window's thread (PlayMciSound) or on the platform's thread
// that made the window (CloseMedia); reader threads only post a request.
#include "Component.h"
#include <mmsystem.h>
#include <cwctype>

namespace {

// The extension of a path from its last "." (empty when none), in lower case.
std::wstring LowerExtension(const std::wstring& path)
{
    size_t dot = path.rfind(L'.');
    std::wstring ext = dot == std::wstring::npos ? std::wstring() : path.substr(dot);
    for (wchar_t& c : ext)
        c = static_cast<wchar_t>(towlower(c));
    return ext;
}

// The system's players behind the replaceable entry points.
BOOL WINAPI SystemPlaySound(LPCWSTR sound, HMODULE module, DWORD flags)
{
    return PlaySoundW(sound, module, flags);
}

DWORD WINAPI SystemSendMciString(LPCWSTR command, LPWSTR returnText, UINT returnLength, HWND callback)
{
    return mciSendStringW(command, returnText, returnLength, callback);
}

} // namespace

SoundFunctions SystemSoundFunctions()
{
    return SoundFunctions{&SystemPlaySound, &SystemSendMciString};
}

int CParvel::PlaySoundSlot(int slot)
{
    if (slot < 0 || slot >= static_cast<int>(m_soundFiles.size()))
        return 1;
    std::wstring path;
    {
        CritSecLock lock(m_lock);
        path = m_soundFiles[slot];
    }
    if (path.empty())
        return 1;
    if (LowerExtension(path) == L".wav") {
        m_sound.PlayWave(path.c_str(), nullptr, SND_FILENAME | SND_ASYNC | SND_NODEFAULT);
        return 1;
    }
    // Done destroys the window on the platform's thread, maybe while a reader's call plays.
    CritSecLock lock(m_shutLock);
    HWND window = m_shut ? nullptr : m_window.Get();
    if (window) {
        m_requestedMediaSlot = slot;
        PostMessageW(window, WM_PARVEL_PLAY_MEDIA, 0, 0);
    }
    return 1;
}

void CParvel::PlayMciSound()
{
    // A request posted just before sounds were switched off is not played after it.
    if (!m_soundEnabled)
        return;
    const int32_t requested = m_requestedMediaSlot;
    if (m_openMediaSlot != requested) {
        CloseMedia();
        if (requested < 0 || requested >= static_cast<int32_t>(m_soundFiles.size()))
            return;
        std::wstring path;
        {
            CritSecLock lock(m_lock);
            path = m_soundFiles[requested];
        }
        if (path.empty())
            return;
        const std::wstring ext = LowerExtension(path);
        const wchar_t* type = ext == L".wav" ? L"waveaudio" : ext == L".mid" ? L"sequencer" : L"mpegvideo";
        std::wstring command = L"open \"" + path + L"\" type " + type + L" alias " + m_mediaAlias.Name();
        if (m_sound.SendMciString(command.c_str(), nullptr, 0, nullptr) == 0)
            m_openMediaSlot = requested;
    }
    if (m_openMediaSlot >= 0)
        m_sound.SendMciString((L"play " + m_mediaAlias.Name() + L" from 0").c_str(), nullptr, 0, nullptr);
}

void CParvel::CloseMedia()
{
    if (m_openMediaSlot >= 0) {
        m_sound.SendMciString((L"close " + m_mediaAlias.Name()).c_str(), nullptr, 0, nullptr);
        m_openMediaSlot = -1;
    }
}
