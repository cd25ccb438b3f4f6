// The present-key list of the framed protocols (binary and Pelto), which see every key in the
// field at each poll: finding a key in a list, and reporting what arrived and what left since the
// last poll. Rule: the list is changed only here and at connection, on the reader thread, under
// the lock; the sink is called outside it.
#include "Reader.h"
#include "ReaderText.h"
#include "res/ReaderStrings.h"

using namespace readertext;

int32_t CReader::FindPresentKey(const std::vector<KeyEntry>& keys, uint32_t keyType, const KeyData& uid,
                                int32_t limit)
{
    size_t count = keys.size();
    if (limit >= 0 && static_cast<size_t>(limit) < count)
        count = static_cast<size_t>(limit);
    for (size_t i = 0; i < count; ++i)
        if (keys[i].KeyType == keyType && CompareKeyData(keys[i].Uid, uid) == 0)
            return static_cast<int32_t>(i);
    return -1;
}

bool CReader::ReportKeyChanges(const std::vector<KeyEntry>& taken)
{
    bool arrived = false;
    for (const KeyEntry& entry : taken) {
        if (!Running() && Started())
            break;
        size_t index;
        {
            CritSecLock lock(m_lock);
            if (FindPresentKey(m_keys, entry.KeyType, entry.Uid) >= 0)
                continue;
            m_keys.push_back(entry);
            index = m_keys.size() - 1;
        }
        arrived = true;
        if (!m_sink)
            continue;
        if (LogOn(IDS_LOG_KEY_READ))
            Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_KEY_READ, KeyTypeName(entry.KeyType),
                        KeyToText(entry.Uid, entry.KeyType).c_str());
        if (entry.DataStatus == KEY_DATA_NONE || entry.DataStatus == KEY_DATA_READ) {
            // The data read after detection is the key when there is one.
            const KeyData& key = entry.DataStatus == KEY_DATA_READ ? entry.Data : entry.Uid;
            std::wstring text;
            Sink()->OnTracksData(this, entry.KeyType, key, text);
            CritSecLock lock(m_lock);
            if (index < m_keys.size())
                m_keys[index].Text = text;
        } else {
            HRESULT code = static_cast<HRESULT>(entry.DataStatus);
            Sink()->OnDriverError(this, code, ErrorLine(code));
        }
    }

    size_t i;
    {
        CritSecLock lock(m_lock);
        i = m_keys.size();
    }
    while (i-- > 0) {
        if (!Running() && Started())
            break;
        KeyEntry gone;
        {
            CritSecLock lock(m_lock);
            if (i >= m_keys.size())
                continue;
            if (FindPresentKey(taken, m_keys[i].KeyType, m_keys[i].Uid) >= 0)
                continue;
            gone = m_keys[i];
            m_keys.erase(m_keys.begin() + static_cast<ptrdiff_t>(i));
        }
        if (m_sink && (gone.DataStatus == KEY_DATA_NONE || gone.DataStatus == KEY_DATA_READ))
            Sink()->OnNoCard(this, gone.KeyType, gone.DataStatus == KEY_DATA_READ ? gone.Data : gone.Uid,
                             gone.Text);
    }
    return arrived;
}
