// The framed binary protocol of the Mifare readers: the request and reply exchange with its
// retries and the resynchronisation after a rate change, the command wrappers (mode and speed,
// signals, authentication, block and page access, card selection), and the poll that scans the
// cards in the field every poll period and reads data from new ones.
//
// A frame is 0x02, sequence byte, total length, command, data, and a 16-bit sum of the bytes
// before it (low byte first); a reply carries the status (0x55 = success) as its first payload
// byte. Only replies with the sequence number and the command of the request are taken.
#include "Reader.h"
#include "FrameSequence.h"
#include "Messages.h"
#include "Models.h"
#include "ReadKeys.h"
#include "ReaderText.h"
#include "ReplyParse.h"
#include "res/ReaderStrings.h"
#include <algorithm>

using namespace readertext;

namespace {

const uint8_t StatusOk = 0x55;
const uint8_t StatusNoCard = 9;

const uint8_t CmdScanStart = 0x23;
const uint8_t CmdSignal = 0x20;
const uint8_t CmdScanEnd = 0x24;
const uint8_t CmdMode = 0x2F;
const uint8_t CmdNextCard = 0x43;
const uint8_t CmdSelect = 0x45;
const uint8_t CmdAuthenticate = 0x50;
const uint8_t CmdReadBlock = 0x51;
const uint8_t CmdWriteBlock = 0x52;
const uint8_t CmdWriteUlPage = 0x53;

const uint8_t SpeedKeep = 0x80;
// A frame's length byte counts the whole frame, so a request carries at most this much data.
const int32_t MaxFrameData = 255 - 6;

// The key types that the binary scan can report: Ultralight, 1K, 4K, DESFire, ProX, the Plus
// family and Mini.
const uint32_t BinaryKeyTypes = 0x3E1F0;

// Block number of a Mifare Classic sector and block; -1 for a negative sector or block (a
// negative block would otherwise land in the sector before, by the signed remainder).
int64_t ClassicBlockNumber(int32_t sector, int32_t block)
{
    if (sector < 0 || block < 0)
        return -1;
    if (sector < 32)
        return 4 * static_cast<int64_t>(sector) + block % 4;
    return 128 + 16 * (static_cast<int64_t>(sector) - 32) + block % 16;
}

} // namespace

BOOL CReader::BinaryRequest(uint8_t command, const uint8_t* data, int32_t length, uint32_t& status,
                            std::string* answer)
{
    status = 0;
    if (answer)
        answer->clear();
    if (length < 0 || length > MaxFrameData || (length > 0 && !data)) {
        SetError(E_INVALIDARG, nullptr);
        return FALSE;
    }
    const bool wayUnknown = m_port && m_port->GetConverterWay() == ConverterWay::Unknown;
    m_sequence = NextRequestSequence(m_sequence, command, data, static_cast<size_t>(length), wayUnknown);
    m_request.clear();
    BuildRequestFrame(m_sequence, command, data, static_cast<size_t>(length), m_request);
    const DWORD size = static_cast<DWORD>(m_request.size());
    // Nothing received before this request can be its reply.
    m_rx.clear();

    if (m_flags & READER_FLAG_RESYNC) {
        // After a rate change the first bytes on the line may be lost or garbled: knock until the
        // reader answers anything, then drop what came.
        m_flags &= ~READER_FLAG_RESYNC;
        for (int i = 0; i < 3; ++i) {
            Send(m_request.data(), size, m_cfg.ReqTimeout, TRUE);
            Receive(100, 30, TRUE);
            if (!m_rx.empty())
                break;
        }
        Sleep(50);
        Receive(100, 0, TRUE);
    }

    std::string payload;
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        // Every try hunts for its frame afresh: a broken frame left from the try before (a header
        // claiming 255 bytes) would otherwise swallow this try's reply, and the next, and so on.
        m_rx.clear();
        Send(m_request.data(), size, m_cfg.ReqTimeout, TRUE);
        if (!ReceiveBinaryFrame(payload, command, m_cfg.ReqTimeout))
            continue;
        if (payload.empty()) {
            SetError(PE_BAD_REPLY, nullptr);
            continue;
        }
        status = static_cast<uint8_t>(payload[0]);
        if (answer)
            answer->assign(payload, 1, std::string::npos);
        return TRUE;
    }
    // A stop request ends the waits early; that is no time-out to report.
    SetError(KeepGoing() ? PE_READ_TIMEOUT : E_ABORT, nullptr);
    return FALSE;
}

BOOL CReader::ReceiveBinaryFrame(std::string& payload, uint8_t command, DWORD timeout)
{
    payload.clear();
    const DWORD start = GetTickCount();
    bool overdue = false;
    while (KeepGoing()) {
        if (TakeReplyFrame(m_rx, m_sequence, command, payload))
            return TRUE;
        if (!ReceiveUntilDue(start, timeout, overdue, TRUE))
            break;
    }
    SetError(KeepGoing() ? PE_READ_TIMEOUT : E_ABORT, nullptr);
    return FALSE;
}

BOOL CReader::BinaryStatusError(uint32_t status, uint32_t noKeyStatus)
{
    SetError(status == noKeyStatus ? PE_NO_KEY : PE_READER_ERROR, nullptr);
    return FALSE;
}

BOOL CReader::SetBinaryMode(BOOL text, int32_t speedCode)
{
    const bool change = speedCode >= 0 && speedCode <= 5;
    const uint8_t data[2] = {static_cast<uint8_t>(text ? 0 : 1),
                             static_cast<uint8_t>(change ? speedCode : SpeedKeep)};
    uint32_t status;
    if (!BinaryRequest(CmdMode, data, 2, status))
        return FALSE;
    if (status != StatusOk) {
        SetError(PE_READER_ERROR, nullptr);
        return FALSE;
    }
    if (change) {
        // The reader now runs at the new rate; the port follows it.
        BYTE eventChar = 0;
        m_port->GetParams(nullptr, nullptr, &eventChar);
        if (!ConfigurePort(SpeedCodeBaud(speedCode), m_cfg.StopBits, eventChar))
            ThrowZPortException(LastErrorCode(), m_portName.c_str());
    }
    return TRUE;
}

BOOL CReader::BinarySignal(uint8_t code, uint8_t parameter, uint8_t* answer)
{
    const uint8_t data[2] = {code, parameter};
    uint32_t status;
    std::string reply;
    if (!BinaryRequest(CmdSignal, data, 2, status, &reply))
        return FALSE;
    if (status != StatusOk) {
        SetError(PE_READER_ERROR, nullptr);
        return FALSE;
    }
    if (reply.empty()) {
        SetError(PE_BAD_REPLY, nullptr);
        return FALSE;
    }
    if (answer)
        *answer = static_cast<uint8_t>(reply[0]);
    return TRUE;
}

BOOL CReader::BinaryAuthenticate(uint8_t block, BOOL keyB, uint64_t key)
{
    uint8_t data[8] = {static_cast<uint8_t>(keyB ? 3 : 2), block};
    for (int i = 0; i < 6; ++i)
        data[2 + i] = static_cast<uint8_t>(key >> (8 * i));
    uint32_t status;
    if (!BinaryRequest(CmdAuthenticate, data, 8, status))
        return FALSE;
    if (status == StatusOk)
        return TRUE;
    SetError(status == 5 ? PE_NO_KEY : status == 8 ? PE_KEY_AUTH : PE_READER_ERROR, nullptr);
    return FALSE;
}

BOOL CReader::BinaryAuthenticateStored(uint8_t block, BOOL keyB, uint32_t selector, uint32_t* answer)
{
    uint8_t data[8] = {static_cast<uint8_t>(keyB ? 1 : 0), block};
    for (int i = 0; i < 4; ++i)
        data[2 + i] = static_cast<uint8_t>(selector >> (8 * i));
    uint32_t status;
    std::string reply;
    if (!BinaryRequest(CmdAuthenticate, data, 8, status, &reply))
        return FALSE;
    if (status != StatusOk) {
        SetError(status == 5 ? PE_NO_KEY : status == 8 ? PE_KEY_AUTH : PE_READER_ERROR, nullptr);
        return FALSE;
    }
    if (reply.empty()) {
        SetError(PE_BAD_REPLY, nullptr);
        return FALSE;
    }
    if (answer)
        *answer = static_cast<uint8_t>(reply[0]);
    return TRUE;
}

BOOL CReader::BinaryReadBlock(uint8_t block, uint8_t data[16])
{
    uint32_t status;
    std::string reply;
    if (!BinaryRequest(CmdReadBlock, &block, 1, status, &reply))
        return FALSE;
    if (status != StatusOk)
        return BinaryStatusError(status, 6);
    if (reply.size() < 16) {
        SetError(PE_BAD_REPLY, nullptr);
        return FALSE;
    }
    std::copy(reply.begin(), reply.begin() + 16, data);
    return TRUE;
}

BOOL CReader::BinaryWriteBlock(uint8_t block, const uint8_t data[16])
{
    uint8_t request[17] = {block};
    std::copy(data, data + 16, request + 1);
    uint32_t status;
    if (!BinaryRequest(CmdWriteBlock, request, 17, status))
        return FALSE;
    return status == StatusOk ? TRUE : BinaryStatusError(status, 6);
}

BOOL CReader::BinaryWriteUlPage(uint8_t page, const uint8_t data[4])
{
    const uint8_t request[5] = {page, data[0], data[1], data[2], data[3]};
    uint32_t status;
    if (!BinaryRequest(CmdWriteUlPage, request, 5, status))
        return FALSE;
    return status == StatusOk ? TRUE : BinaryStatusError(status, 6);
}

BOOL CReader::BinarySelectCard(BOOL flag, uint32_t& keyType, KeyData& uid)
{
    keyType = KEY_TYPE_UNKNOWN;
    uid.Clear();
    const uint8_t data = flag ? 0x80 : 0x00;
    uint32_t status;
    std::string reply;
    if (!BinaryRequest(CmdSelect, &data, 1, status, &reply))
        return FALSE;
    if (status == StatusNoCard)
        return TRUE;
    if (status != StatusOk) {
        SetError(PE_READER_ERROR, nullptr);
        return FALSE;
    }
    if (reply.size() < 3) {
        SetError(PE_BAD_REPLY, nullptr);
        return FALSE;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(reply.data());
    const uint16_t atqa = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    keyType = MifareTypeFromSak(bytes[2], atqa);
    uid.Assign(bytes + 3, reply.size() - 3);
    return TRUE;
}

bool CReader::PollBinary(BOOL initial)
{
    if (initial) {
        CritSecLock lock(m_lock);
        m_keys.clear();
    }
    m_lastPoll = GetTickCount();
    const uint32_t keyTypes = ReadKeys().KeyTypes.load();
    std::vector<KeyEntry> taken;

    if (keyTypes & BinaryKeyTypes) {
        static const uint8_t scan[3] = {0x00, 0x0A, 0x00};
        uint32_t status;
        if (!BinaryRequest(CmdScanStart, scan, 3, status))
            return !LastRequestTimedOut();
        if (status != StatusOk) {
            SetError(PE_READER_ERROR, nullptr);
            return true;
        }
        Sleep(10);
        std::vector<KeyEntry> present;
        {
            CritSecLock lock(m_lock);
            present = m_keys;
        }
        // At most 16 cards a scan: the 17th is not seen.
        for (int pass = 0; pass < 16; ++pass) {
            uint32_t keyType;
            KeyData uid;
            if (!BinarySelectCard(FALSE, keyType, uid))
                return !LastRequestTimedOut();
            if (keyType == KEY_TYPE_UNKNOWN)
                break;
            // A reader may hand the same card out twice in a row; a card of a key type not read
            // does not count as present at all.
            bool skip = !(keyTypes >> keyType & 1)
                || (!taken.empty() && taken.back().KeyType == keyType
                    && CompareKeyData(taken.back().Uid, uid) == 0);
            if (!skip) {
                KeyEntry entry;
                entry.KeyType = keyType;
                entry.Uid = uid;
                entry.DataStatus = KEY_DATA_NONE;
                // A key already present is never read again.
                if (FindPresentKey(present, keyType, uid) < 0)
                    ReadBinaryCardData(entry);
                taken.push_back(entry);
            }
            if (!BinaryRequest(CmdNextCard, nullptr, 0, status))
                return !LastRequestTimedOut();
            if (status != StatusOk && !(status == StatusNoCard && m_modelIndex == MODEL_LINTRA_NET)) {
                SetError(PE_READER_ERROR, nullptr);
                return true;
            }
        }
        static const uint8_t end = 0x00;
        if (BinaryRequest(CmdScanEnd, &end, 1, status) && status != StatusOk)
            SetError(PE_READER_ERROR, nullptr);
    }

    if (initial) {
        {
            CritSecLock lock(m_lock);
            m_keys = taken;
        }
        BinaryIndication(false);
        return true;
    }
    bool hadKeys = PresentKeyCount() != 0;
    bool arrived = ReportKeyChanges(taken);
    if (arrived || (hadKeys && PresentKeyCount() == 0))
        BinaryIndication(arrived);
    return true;
}

void CReader::ReadBinaryCardData(KeyEntry& entry)
{
    const ReadKeysBlock& settings = ReadKeys();
    if (entry.KeyType == KEY_TYPE_MIFARE_1K || entry.KeyType == KEY_TYPE_MIFARE_4K) {
        const ReadMfSettings mf = settings.GetReadMf();
        if (!mf.Enabled)
            return;
        const int64_t block = ClassicBlockNumber(static_cast<int32_t>(mf.Sect), static_cast<int32_t>(mf.Block));
        const int64_t limit = entry.KeyType == KEY_TYPE_MIFARE_4K ? 256 : 64;
        if (block < 0 || block >= limit) {
            entry.DataStatus = static_cast<uint32_t>(E_INVALIDARG);
            return;
        }
        const uint8_t number = static_cast<uint8_t>(block);
        const BOOL keyB = (mf.Flags & 1) != 0;
        BOOL ok = (mf.Flags & 2) ? BinaryAuthenticateStored(number, keyB, mf.Mask)
                                 : BinaryAuthenticate(number, keyB, mf.Passw);
        uint8_t data[16];
        if (ok)
            ok = BinaryReadBlock(number, data);
        if (!ok) {
            entry.DataStatus = static_cast<uint32_t>(LastErrorCode());
            return;
        }
        entry.Data.Assign(data, KEY_DATA_MAX);
        entry.DataStatus = KEY_DATA_READ;
    } else if (entry.KeyType == KEY_TYPE_MIFARE_UL) {
        const ReadULSettings ul = settings.GetReadUL();
        if (!ul.Enabled)
            return;
        if (ul.Page > 15 || ul.Count < 1) {
            entry.DataStatus = static_cast<uint32_t>(E_INVALIDARG);
            return;
        }
        uint8_t data[16];
        if (!BinaryReadBlock(static_cast<uint8_t>(ul.Page), data)) {
            entry.DataStatus = static_cast<uint32_t>(LastErrorCode());
            return;
        }
        // Four pages are read; a key record holds 15 bytes of them at most.
        entry.Data.Assign(data, ul.Count >= 4 ? KEY_DATA_MAX : ul.Count * 4);
        entry.DataStatus = KEY_DATA_READ;
    }
}

void CReader::BinaryIndication(bool arrived)
{
    const uint8_t code = PresentKeyCount() == 0 ? 0x8B : 0x8E;
    BinarySignal(code, 1);
    BinarySignal(arrived ? static_cast<uint8_t>(code + 0x30) : code, 1);
    if (arrived)
        BinarySignal(0x20, 1);
    m_flags &= ~READER_FLAG_SIGNAL_TIMER;
}

void CReader::SendIdleIndication()
{
    BinarySignal(PresentKeyCount() == 0 ? 0xAB : 0xAE, 0);
}
