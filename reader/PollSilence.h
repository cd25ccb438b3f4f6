// Tells a reader that has stopped answering from one that missed a poll. A reader behind a port
// that stays open (a network converter, a USB adapter that keeps its power) gives no port error
// when it dies or hangs: only its polls time out. Two time-outs or more in a row, spanning at
// least the connection period, mean it is gone; one answer ends the run.
#pragma once
#include <windows.h>
#include <cstdint>

class CPollSilence
{
public:
    // Notes the outcome of a poll that began at pollStart; true when the run of time-outs now
    // counts as a lost reader. A period of 0xFFFFFFFF never elapses.
    bool Note(bool answered, DWORD pollStart, DWORD now, DWORD period)
    {
        if (answered) {
            m_timeouts = 0;
            return false;
        }
        if (m_timeouts++ == 0)
            m_since = pollStart;
        return m_timeouts >= 2 && period != 0xFFFFFFFF && now - m_since >= period;
    }
    void Reset() { m_timeouts = 0; }

private:
    uint32_t m_timeouts = 0;
    DWORD m_since = 0; // start of the first poll of the run
};
