// The abandoned overlapped operations of serial ports, held until the system ends them.
#include "IoGraveyard.h"

CIoGraveyard::~CIoGraveyard()
{
    for (auto& record : m_records)
        if (!IoEnded(record->ov))
            record.release(); // deliberately not freed: see the header
}

CIoGraveyard& CIoGraveyard::Instance()
{
    static CIoGraveyard graveyard;
    return graveyard;
}

void CIoGraveyard::Abandon(std::unique_ptr<ComIoRecord> record)
{
    if (!record || IoEnded(record->ov))
        return;
    CritSecLock lock(m_lock);
    m_records.push_back(std::move(record));
}

size_t CIoGraveyard::Sweep()
{
    CritSecLock lock(m_lock);
    for (auto it = m_records.begin(); it != m_records.end();) {
        if (IoEnded((*it)->ov))
            it = m_records.erase(it);
        else
            ++it;
    }
    return m_records.size();
}

bool CIoGraveyard::Full()
{
    return Sweep() >= m_cap;
}

bool WaitForIoEnd(const OVERLAPPED& ov, DWORD start, DWORD limitMs)
{
    while (!IoEnded(ov)) {
        if (GetTickCount() - start >= limitMs)
            return false;
        Sleep(1);
    }
    return true;
}
