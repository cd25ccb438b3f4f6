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

// Collects dropped input for one log line, up to what a log line shows.
void KeepDiscarded(std::string& discarded, const std::string& bytes)
{
    if (discarded.size() < MaxDiscardLogged)
        discarded.append(bytes, 0, MaxDiscardLogged - discarded.size());
}

} // namespace

// Bus replies carry no mark of the request they answer, and a reply that comes after its request
// timed out (a stalled link, a TCP retransmission) would pass for the answer to the next one, at
// another address. No wait for quiet can rule that out, however long: a link may stall for longer
// than any poll can afford. The line delivers in order, though. So once an exchange has ended
// without its reply, the line counts as unsettled, and the next exchange is an identification,
// whose reply names the reader by its serial number: every line before it is an earlier request's
// and is dropped (and logged). Only then is a key asked for again. A card that lies on a reader is
// read at its next poll, so nothing is lost by dropping a late reply.

HRESULT CReader::ExchangeIdentification(int32_t address, int32_t expectedSerial, DWORD reqTimeout,
                                        std::string& text)
{
    char request[16];
    snprintf(request, sizeof request, "#%.5u i\r", static_cast<unsigned>(address));
    DropStaleBusInput();
    const DWORD sentAt = GetTickCount();
    Send(request, reqTimeout);
    m_busLineUnsettled = true;
    std::string discarded;
    HRESULT result = PE_READ_TIMEOUT;
    int32_t echoed = NO_BUS_ADDRESS; // the address that a line just before named
    std::string line;
    for (;;) {
        const DWORD elapsed = GetTickCount() - sentAt;
        if (elapsed >= reqTimeout && !discarded.empty())
            break;
        if (!ReadReply(line, 1, elapsed < reqTimeout ? reqTimeout - elapsed : 0, FALSE))
            break;
        // Some readers echo their address on a line of its own before their identification.
        int32_t named;
        if (line.size() < 9 && ParseReplyAddress(line, named)) {
            if (named != address)
                KeepDiscarded(discarded, line);
            echoed = named;
            continue;
        }
        const bool otherEcho = echoed != NO_BUS_ADDRESS && echoed != address;
        echoed = NO_BUS_ADDRESS;
        if (line.size() < 4 || !Contains(line, "S/N:")) {
            KeepDiscarded(discarded, line);
            continue;
        }
        text = line;
        HRESULT hr = ReadIdentificationRest(text, sentAt, reqTimeout);
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        uint16_t code;
        uint32_t serial, version;
        if (!ParseReaderInfo(Widen(text), code, serial, version)) {
            if (!otherEcho && expectedSerial < 0) {
                // This address's own identification, whole but unreadable.
                m_busLineUnsettled = false;
                result = S_FALSE;
                break;
            }
        } else if (!otherEcho && (expectedSerial >= 0 ? serial == static_cast<uint32_t>(expectedSerial)
                                                       : !SerialOfAnotherAddress(address, serial))) {
            m_busLineUnsettled = false;
            result = S_OK;
            break;
        }
        // Another address's identification, asked for earlier.
        KeepDiscarded(discarded, text);
    }
    if (!discarded.empty())
        LogDiscarded(discarded);
    return result;
}

bool CReader::SerialOfAnotherAddress(int32_t address, uint32_t serial) const
{
    for (const auto& entry : m_addresses) {
        if (entry.first != address && entry.second.SerialNumber >= 0
            && static_cast<uint32_t>(entry.second.SerialNumber) == serial)
            return true;
    }
    return false;
}

BOOL CReader::IdentifyAt(int32_t address, uint16_t& modelCode, uint32_t& serialNumber,
                         uint32_t& firmwareVersion, DWORD reqTimeout, int32_t reqTries,
                         std::wstring& infoText)
{
    HRESULT failure = PE_READ_TIMEOUT;
    for (int32_t attempt = 0; attempt < reqTries; ++attempt) {
        // The address may have a new reader: its serial number is not known in advance, only
        // those of the other addresses, whose identifications are not this one's.
        std::string text;
        HRESULT hr = ExchangeIdentification(address, -1, reqTimeout, text);
        if (hr == S_FALSE) {
            SetError(PE_BAD_REPLY, nullptr);
            return FALSE;
        }
        if (FAILED(hr)) {
            failure = hr;
            continue;
        }
        infoText = Widen(text);
        ParseReaderInfo(infoText, modelCode, serialNumber, firmwareVersion);
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
    const int32_t serial = rec != m_addresses.end() ? rec->second.SerialNumber : -1;
    const bool numeric = version == NumericKeyFirmware409 || version == NumericKeyFirmware410;
    const DWORD timeout = m_cfg.ReqTimeout;
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        if (m_busLineUnsettled) {
            std::string identification;
            HRESULT hr = ExchangeIdentification(address, serial, timeout, identification);
            if (hr != S_OK) {
                SetError(hr, nullptr);
                return FALSE;
            }
        }
        DropStaleBusInput();
        Send(request, timeout);
        m_busLineUnsettled = true;
        std::string reply;
        if (!ReadReply(reply, 1, timeout, FALSE))
            return FALSE;
        std::wstring line = Widen(reply);
        TrimLineEnd(line);
        keyType = KEY_TYPE_UNKNOWN;
        key.Clear();
        bool decoded = false;
        bool noCard = false;
        int32_t named;
        if (numeric) {
            // These readers name the address they answer for: another address's reply (a late
            // one, or one from a reader that took the request for its own) is not this one's.
            if (ParseReplyAddress(reply, named) && named == address) {
                size_t blank = line.find(L' ');
                line.erase(0, blank == std::wstring::npos ? line.size() : blank + 1);
                noCard = EqualsNoCase(line, L"No card");
                if (!noCard && !line.empty() && line[0] >= L'0' && line[0] <= L'9') {
                    unsigned long number = wcstoul(line.c_str(), nullptr, 10);
                    uint8_t bytes[5] = {uint8_t(number), uint8_t(number >> 8), uint8_t(number >> 16),
                                        uint8_t(number >> 24), 0};
                    key.Assign(bytes, 5);
                    decoded = true;
                }
            }
        } else {
            noCard = EqualsNoCase(line, L"No card");
            decoded = !noCard && LooksLikeKeyLine(line)
                && ParseKeyText(line, keyType, key, m_modelIndex, m_firmwareVersion,
                                (m_flags & READER_FLAG_NO_CORRECTION) != 0);
        }
        if (noCard || decoded) {
            m_busLineUnsettled = false;
            // A card of a type that is not read counts as no card at all.
            if (decoded && !ReadKeys().WantsKeyType(keyType)) {
                keyType = KEY_TYPE_UNKNOWN;
                key.Clear();
            }
            return TRUE;
        }
        // Not this request's reply: the line stays unsettled, and the next try begins with an
        // identification.
        LogDiscarded(reply);
        SetError(PE_BAD_REPLY, nullptr);
    }
    SetError(PE_READ_TIMEOUT, nullptr);
    return FALSE;
}

void CReader::DropStaleBusInput(bool logNow)
{
    // Bus readers speak only when asked: whatever is on the line before a request is sent answers
    // an earlier one and would pass for the answer to this one. What comes between polls is told
    // in the log with what is dropped before the next request, in one line.
    KeepDiscarded(m_busDropped, m_rx);
    m_rx.clear();
    TakeQueuedInput();
    KeepDiscarded(m_busDropped, m_rx);
    m_rx.clear();
    m_droppingLine = false; // the next byte starts a line
    if (logNow && !m_busDropped.empty()) {
        LogDiscarded(m_busDropped);
        m_busDropped.clear();
    }
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
        // Bus readers speak only when asked: anything that came in between polls is stale (a
        // reply that came after its request timed out, say).
        DropStaleBusInput(false);
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
