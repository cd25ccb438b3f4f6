// The Pelto's own framed protocol at 115200 Bd: the request and reply exchange, the indication
// control, reading the Em-Marine and Temic keys in the field, and the poll that reports them.
// Frames end with 0xC0, which the port has as its event character, so every frame end wakes the
// thread.
#include "Reader.h"
#include "Messages.h"
#include "PeltoFrame.h"
#include "ReadKeys.h"
#include "ReaderText.h"

using namespace readertext;

namespace {

const uint8_t StatusOk = 0xAA;
const uint8_t CmdControl = 0x02;
const uint8_t CmdReadKey = 0x61;
// A line that never brings a frame end must not grow the receive buffer without bound.
const size_t MaxPendingFrame = 1024;

} // namespace

BOOL CReader::PeltoRequest(uint8_t command, const uint8_t* data, int32_t length, BOOL& success,
                           std::string* answer)
{
    success = FALSE;
    if (answer)
        answer->clear();
    if (length < 0 || (length > 0 && !data)) {
        SetError(E_INVALIDARG, nullptr);
        return FALSE;
    }
    m_request = PeltoBuildFrame(command, data, static_cast<size_t>(length));
    // Nothing received before this request can be its reply.
    m_rx.clear();
    std::string payload;
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        Send(m_request.data(), static_cast<DWORD>(m_request.size()), m_cfg.ReqTimeout, TRUE);
        if (!PeltoReceiveFrame(payload, command, m_cfg.ReqTimeout))
            continue;
        if (payload.empty()) {
            SetError(PE_BAD_REPLY, nullptr);
            continue;
        }
        success = static_cast<uint8_t>(payload[0]) == StatusOk;
        if (answer)
            answer->assign(payload, 1, std::string::npos);
        return TRUE;
    }
    SetError(KeepGoing() ? PE_READ_TIMEOUT : E_ABORT, nullptr);
    return FALSE;
}

BOOL CReader::PeltoReceiveFrame(std::string& payload, uint8_t command, DWORD timeout)
{
    payload.clear();
    const DWORD start = GetTickCount();
    bool overdue = false;
    while (KeepGoing()) {
        size_t end;
        while ((end = m_rx.find(static_cast<char>(PELTO_FRAME_END))) != std::string::npos) {
            uint32_t got = 0;
            std::string body;
            HRESULT hr = PeltoCheckFrame(reinterpret_cast<const uint8_t*>(m_rx.data()), end + 1, got, body);
            m_rx.erase(0, end + 1);
            if (FAILED(hr) || (command && got != command))
                continue;
            payload.swap(body);
            return TRUE;
        }
        if (m_rx.size() > MaxPendingFrame)
            m_rx.clear();
        if (!ReceiveUntilDue(start, timeout, overdue, TRUE))
            break;
    }
    SetError(KeepGoing() ? PE_READ_TIMEOUT : E_ABORT, nullptr);
    return FALSE;
}

BOOL CReader::PeltoControl(uint8_t first, uint8_t second)
{
    const uint8_t data[2] = {first, second};
    BOOL success;
    if (!PeltoRequest(CmdControl, data, 2, success))
        return FALSE;
    if (!success) {
        SetError(PE_READER_ERROR, nullptr);
        return FALSE;
    }
    return TRUE;
}

BOOL CReader::PeltoReadKey(KeyData& emMarine, KeyData& temic)
{
    static const uint8_t data[3] = {0x0B, 0x64, 0x03};
    BOOL success;
    std::string answer;
    if (!PeltoRequest(CmdReadKey, data, 3, success, &answer))
        return FALSE;
    emMarine.Clear();
    temic.Clear();
    const auto* bytes = reinterpret_cast<const uint8_t*>(answer.data());
    if (success) {
        if (answer.size() >= 9)
            temic.Assign(bytes + 1, 8);
        if (answer.size() >= 14)
            emMarine.Assign(bytes + 9, 5);
    } else if (answer.size() >= 6 && (bytes[0] & 0x20)) {
        emMarine.Assign(bytes + 1, 5);
    }
    return TRUE;
}

bool CReader::PollPelto(BOOL initial)
{
    m_lastPoll = GetTickCount();
    const ReadKeysBlock& settings = ReadKeys();
    const bool wantEm = settings.WantsKeyType(KEY_TYPE_EM_MARINE);
    const bool wantTemic = settings.WantsKeyType(KEY_TYPE_TEMIC);
    std::vector<KeyEntry> taken;
    if (wantEm || wantTemic) {
        KeyData em, temic;
        if (!PeltoReadKey(em, temic))
            return !LastRequestTimedOut();
        if (em.Length && wantEm) {
            KeyEntry entry;
            entry.KeyType = KEY_TYPE_EM_MARINE;
            entry.Uid = em;
            entry.DataStatus = KEY_DATA_NONE;
            taken.push_back(entry);
        }
        if (temic.Length && wantTemic) {
            KeyEntry entry;
            entry.KeyType = KEY_TYPE_TEMIC;
            entry.Uid = temic;
            entry.DataStatus = KEY_DATA_NONE;
            taken.push_back(entry);
        }
    }

    if (initial) {
        CritSecLock lock(m_lock);
        m_keys = taken;
    } else {
        bool hadKeys = PresentKeyCount() != 0;
        bool arrived = ReportKeyChanges(taken);
        if (!arrived && !(hadKeys && PresentKeyCount() == 0))
            return true;
    }
    if (PresentKeyCount() == 0)
        PeltoControl(1, 0);
    else if (PeltoControl(12, 5))
        PeltoControl(2, 0);
    return true;
}
