// The addressed bus protocol: several readers on one line, each answering only requests that carry
// its five-digit address. Every address is identified on its own, polled every poll period, and
// reported on its own; while one address is served it is the reader's current bus address, so
// events and log lines name it.
#include "Reader.h"
#include "CodePage.h"
#include "Messages.h"
#include "Models.h"
#include "Numbers.h"
#include "ReadKeys.h"
#include "ReaderText.h"
#include "ReplyParse.h"
#include "ResText.h"
#include "WFormat.h"
#include "res/ReaderStrings.h"
#include <algorithm>
#include <cstdio>
#include <cwchar>

using namespace readertext;

namespace {

// Firmware 409 and 410 answer a key request with the address and a decimal card number.
const uint32_t NumericKeyFirmware409 = 0x199FF;
const uint32_t NumericKeyFirmware410 = 0x19AFF;

// After a bus request that got no reply, the line must stay quiet this long (at most the request
// time-out) before the next request: a reply that comes that late is discarded, not taken for the
// next address's.
const DWORD BusSettleMs = 500;
// How much of the discarded input one log line shows.
const size_t MaxDiscardLogged = 256;

std::wstring Widen(const std::string& s)
{
    std::wstring w;
    AnsiToWide(w, s.data(), static_cast<int>(s.size()));
    return w;
}

bool SameKey(uint32_t typeA, const KeyData& a, uint32_t typeB, const KeyData& b)
{
    return typeA == typeB && a.ByteCount() == b.ByteCount()
        && std::equal(a.Bytes, a.Bytes + a.ByteCount(), b.Bytes);
}

} // namespace

BOOL CReader::IdentifyAt(int32_t address, uint16_t& modelCode, uint32_t& serialNumber,
                         uint32_t& firmwareVersion, DWORD reqTimeout, int32_t reqTries,
                         std::wstring& infoText)
{
    char request[16];
    snprintf(request, sizeof request, "#%.5u i\r", static_cast<unsigned>(address));
    HRESULT failure = PE_READ_TIMEOUT;
    for (int32_t attempt = 0; attempt < reqTries; ++attempt) {
        ClearBusLine(reqTimeout);
        const DWORD sentAt = GetTickCount();
        Send(request, reqTimeout);
        m_busLineUnsettled = true;
        std::string reply;
        if (!ReadReply(reply, 1, reqTimeout, TRUE))
            continue;
        // Some readers echo their address on a line of its own first; another address's echo
        // means that what follows is not this address's identification.
        int32_t named;
        if (reply.size() < 9 && ParseReplyAddress(reply, named)) {
            if (named != address) {
                LogDiscarded(reply);
                continue;
            }
            if (!ReadReply(reply, 1, reqTimeout, TRUE))
                continue;
        }
        if (reply.size() < 4 || !Contains(reply, "S/N:"))
            continue;
        HRESULT hr = ReadIdentificationRest(reply, sentAt, reqTimeout);
        if (FAILED(hr)) {
            failure = hr;
            continue;
        }
        m_busLineUnsettled = false;
        infoText = Widen(reply);
        if (!ParseReaderInfo(infoText, modelCode, serialNumber, firmwareVersion)) {
            SetError(PE_BAD_REPLY, nullptr);
            return FALSE;
        }
        return TRUE;
    }
    SetError(failure, nullptr);
    return FALSE;
}

BOOL CReader::ReadKeyAt(int32_t address, uint32_t& keyType, KeyData& key)
{
    char request[16];
    snprintf(request, sizeof request, "#%.5u r\r", static_cast<unsigned>(address));
    auto rec = m_addresses.find(address);
    const uint32_t version = rec != m_addresses.end() ? rec->second.FirmwareVersion : 0;
    const bool numeric = version == NumericKeyFirmware409 || version == NumericKeyFirmware410;
    const DWORD timeout = m_cfg.ReqTimeout;
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        ClearBusLine(timeout);
        const DWORD sentAt = GetTickCount();
        Send(request, timeout);
        m_busLineUnsettled = true;
        std::string reply;
        // Other addresses' replies, shown in one log line: a line that never stops bringing them
        // must neither hold the read past its time-out nor write a log line for each.
        std::string discarded;
        bool answered = false;
        for (;;) {
            const DWORD elapsed = GetTickCount() - sentAt;
            if (elapsed >= timeout && !discarded.empty()) {
                SetError(PE_READ_TIMEOUT, nullptr);
                break;
            }
            if (!ReadReply(reply, 1, elapsed < timeout ? timeout - elapsed : 0, FALSE))
                break;
            // These readers name the address they answer for: another address's reply (a late
            // one, or one from a reader that took the request for its own) is not this one's.
            int32_t named;
            if (!numeric || (ParseReplyAddress(reply, named) && named == address)) {
                answered = true;
                break;
            }
            if (discarded.size() < MaxDiscardLogged)
                discarded.append(reply, 0, MaxDiscardLogged - discarded.size());
        }
        if (!discarded.empty())
            LogDiscarded(discarded);
        if (!answered)
            return FALSE;
        std::wstring line = Widen(reply);
        TrimLineEnd(line);
        keyType = KEY_TYPE_UNKNOWN;
        key.Clear();
        bool decoded = false;
        if (numeric) {
            size_t blank = line.find(L' ');
            line.erase(0, blank == std::wstring::npos ? line.size() : blank + 1);
            if (EqualsNoCase(line, L"No card")) {
                m_busLineUnsettled = false;
                return TRUE;
            }
            if (!line.empty() && line[0] >= L'0' && line[0] <= L'9') {
                unsigned long number = wcstoul(line.c_str(), nullptr, 10);
                uint8_t bytes[5] = {uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
                                    uint8_t(number >> 24), 0};
                key.Assign(bytes, 5);
                decoded = true;
            }
        } else {
            if (EqualsNoCase(line, L"No card")) {
                m_busLineUnsettled = false;
                return TRUE;
            }
            decoded = LooksLikeKeyLine(line)
                && ParseKeyText(line, keyType, key, m_modelIndex, m_firmwareVersion,
                                (m_flags & READER_FLAG_NO_CORRECTION) != 0);
        }
        if (decoded) {
            m_busLineUnsettled = false;
            // A card of a type that is not read counts as no card at all.
            if (!ReadKeys().WantsKeyType(keyType)) {
                keyType = KEY_TYPE_UNKNOWN;
                key.Clear();
            }
            return TRUE;
        }
        SetError(PE_BAD_REPLY, nullptr);
    }
    SetError(PE_READ_TIMEOUT, nullptr);
    return FALSE;
}

void CReader::ClearBusLine(DWORD reqTimeout)
{
    // Bus replies carry no mark of the request they answer: whatever is on the line before a
    // request is sent answers an earlier one (a reply that came late, an address that does not
    // stop talking) and would pass for the answer of this one. After an exchange that ended
    // without its reply, the line is first given a moment of quiet, so that a late reply is caught
    // here; a line that never goes quiet holds the next request back no more than twice that.
    std::string dropped;
    auto drop = [&] {
        if (dropped.size() < MaxDiscardLogged)
            dropped.append(m_rx, 0, MaxDiscardLogged - dropped.size());
        m_rx.clear();
    };
    drop();
    if (m_busLineUnsettled) {
        m_busLineUnsettled = false;
        const DWORD quiet = std::min(reqTimeout, BusSettleMs);
        const DWORD start = GetTickCount();
        DWORD heard = start;
        while (KeepGoing()) {
            const DWORD now = GetTickCount();
            if (now - heard >= quiet || now - start >= 2 * quiet)
                break;
            const DWORD queued = InQueue();
            Receive(queued ? queued : 1, queued ? 0 : quiet - (now - heard), FALSE);
            if (!m_rx.empty()) {
                heard = GetTickCount();
                drop();
            }
        }
    }
    TakeQueuedInput();
    drop();
    if (!dropped.empty())
        LogDiscarded(dropped);
}

void CReader::LogDiscarded(const std::string& bytes)
{
    if (!LogOn(IDS_LOG_DISCARDED))
        return;
    std::wstring text;
    EscapeForLog(text, bytes.data(), static_cast<int>(std::min(bytes.size(), MaxDiscardLogged)));
    Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_DISCARDED, text.c_str());
}

BOOL CReader::ConnectAddress(int32_t address, AddressRec& rec)
{
    rec.Flags &= ~ADDRESS_RECONNECT_DUE;
    DWORD reqTimeout;
    int32_t reqTries;
    {
        CritSecLock lock(m_lock);
        reqTimeout = m_conn.ReqTimeout;
        reqTries = m_conn.ReqTries;
        rec.LastAttempt = GetTickCount();
        rec.State = READER_STATE_CONNECTING;
    }
    try {
        uint16_t code = 0;
        uint32_t serial = 0;
        uint32_t version = 0;
        std::wstring info;
        if (IdentifyAt(address, code, serial, version, reqTimeout, reqTries, info)) {
            const uint32_t model = ModelFromCode(code);
            if (model != MODEL_UNKNOWN) {
                {
                    CritSecLock lock(m_lock);
                    rec.Model = model;
                    rec.SerialNumber = static_cast<int32_t>(serial);
                    rec.FirmwareVersion = version;
                }
                PollAddress(TRUE, rec);
                {
                    CritSecLock lock(m_lock);
                    rec.InfoText = info;
                    rec.State = READER_STATE_CONNECTED;
                    rec.Flags &= ~ADDRESS_LOST;
                }
                rec.Silence.Reset();
                if (m_sink) {
                    if (LogOn(IDS_LOG_CONNECTED)) {
                        std::wstring versionText;
                        VersionToText(versionText, version);
                        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_CONNECTED, ReaderModelName(model),
                                    static_cast<int>(serial), versionText.c_str());
                    }
                    Sink()->OnDeviceConnect(this);
                }
                return TRUE;
            }
            rec.Flags |= ADDRESS_MODEL_UNSUPPORTED;
            UnsupportedModel(code);
        }
    } catch (const CZPortException& e) {
        SetError(e.Code(), ExceptionLine(e).c_str());
    } catch (const std::exception& e) {
        SetError(E_FAIL, ExceptionLine(e).c_str());
    }
    CritSecLock lock(m_lock);
    rec.State = READER_STATE_DISCONNECTED;
    return FALSE;
}

void CReader::PollAddress(BOOL initial, AddressRec& rec)
{
    const DWORD pollStart = GetTickCount();
    rec.LastAttempt = pollStart;
    uint32_t keyType = 0;
    KeyData key;
    if (!ReadKeyAt(m_curAddress.load(), keyType, key)) {
        if (!initial && rec.Silence.Note(!LastRequestTimedOut(), pollStart, GetTickCount(), m_cfg.ConnectPeriod))
            LoseSilentAddress(rec);
        return;
    }
    rec.Silence.Reset();
    if (SameKey(keyType, key, rec.LastKeyType, rec.LastKey))
        return;
    std::wstring text;
    if (!initial && m_sink) {
        if (key.ByteCount() > 0) {
            if (LogOn(IDS_LOG_KEY_READ))
                Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_KEY_READ, KeyTypeName(keyType),
                            KeyToText(key, keyType).c_str());
            Sink()->OnTracksData(this, keyType, key, text);
        } else if (rec.LastKey.ByteCount() > 0) {
            Sink()->OnNoCard(this, rec.LastKeyType, rec.LastKey, rec.LastKeyText);
        }
    }
    CritSecLock lock(m_lock);
    rec.LastKeyType = keyType;
    rec.LastKey = key;
    if (initial || key.ByteCount() == 0)
        rec.LastKeyText.clear();
    else
        rec.LastKeyText = text;
}

void CReader::LoseSilentAddress(AddressRec& rec)
{
    // The other addresses on the line still answer: only this one is disconnected, and it is
    // identified again every connection period until it answers.
    SetError(PE_READ_TIMEOUT, nullptr);
    {
        CritSecLock lock(m_lock);
        rec.State = READER_STATE_DISCONNECTED;
        rec.Flags |= ADDRESS_LOST;
    }
    rec.LastAttempt = GetTickCount();
    if (!m_sink)
        return;
    if (LogOn(IDS_LOG_DISCONNECTED)) {
        HRESULT code;
        std::wstring reason;
        GetLastError(m_curAddress.load(), code, reason);
        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_DISCONNECTED, reason.c_str());
    }
    Sink()->OnDeviceDisconnect(this);
}

void CReader::PollAddresses(DWORD& wait)
{
    if (m_flags & READER_FLAG_DATA_READY) {
        // Bus readers speak only when asked: anything that came in between polls is stale.
        HRESULT hr = m_port->Purge(TRUE, FALSE);
        if (FAILED(hr))
            ThrowZPortException(hr, m_portName.c_str());
        m_rx.clear();
        m_flags &= ~READER_FLAG_DATA_READY;
    }
    for (auto& entry : m_addresses) {
        if (!Running())
            break;
        AddressRec& rec = entry.second;
        m_curAddress = entry.first;
        if ((rec.Flags & ADDRESS_LOST) && !(rec.Flags & ADDRESS_RECONNECT_DUE)
            && rec.State != READER_STATE_CONNECTED && m_cfg.ConnectPeriod != READER_PERIOD_NEVER) {
            DWORD since = GetTickCount() - rec.LastAttempt;
            if (since >= m_cfg.ConnectPeriod)
                rec.Flags |= ADDRESS_RECONNECT_DUE;
            else
                wait = std::min(wait, m_cfg.ConnectPeriod - since);
        }
        if (rec.Flags & ADDRESS_RECONNECT_DUE)
            ConnectAddress(entry.first, rec);
        if (rec.State == READER_STATE_CONNECTED && m_pollPeriod != READER_PERIOD_NEVER) {
            DWORD since = GetTickCount() - rec.LastAttempt;
            if (since >= m_pollPeriod) {
                PollAddress(FALSE, rec);
                wait = std::min(wait, m_pollPeriod);
            } else {
                wait = std::min(wait, m_pollPeriod - since);
            }
        }
    }
    m_curAddress = NO_BUS_ADDRESS;
}
