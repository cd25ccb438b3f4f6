// A sound back end that plays nothing and records each call ("wav PATH", "wav stop", "mci
// COMMAND"), for the tests of the event-sound player and of the sound page. An MCI command that
// names "missing" fails, as one for a file that is not there does.
#pragma once
#include "SoundPlayer.h"
#include <string>
#include <vector>

class CRecordingBackend : public ISoundBackend
{
public:
    void PlayWav(const std::wstring& path) override { calls.push_back(L"wav " + path); }
    void StopWav() override { calls.push_back(L"wav stop"); }
    bool SendMci(const std::wstring& command, HWND) override
    {
        calls.push_back(L"mci " + command);
        return command.find(L"missing") == std::wstring::npos;
    }
    std::vector<std::wstring> calls;
};
