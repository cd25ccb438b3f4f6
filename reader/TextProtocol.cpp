// The line-oriented text protocol: identification, the Kora Base output set-up, reading the card
// in the field, Ultralight page reads and writes, the text poll with its line handling, and the
// bookkeeping of the one key a text reader can have in its field.
#include "Reader.h"
#include "CodePage.h"
#include "Messages.h"
#include "Models.h"
#include "ReadKeys.h"
#include "ReaderText.h"
#include "ReplyParse.h"
#include "res/ReaderStrings.h"
#include <algorithm>
#include <cstdio>

using namespace readertext;

namespace {

// A line that never ends must not grow the receive buffer without bound; real lines are short.
const size_t MaxPendingLine = 4096;
// What one text poll takes from the port at most.
const size_t MaxPollBytes = 64 * 1024;

// A reader's identification is half a dozen short lines, sent at once.
const size_t MaxIdentificationText = 2048;
// After the first line, the rest of the identification may take as long again as the first
// line's time-out, and at least this long.
const DWORD IdentificationTailMs = 1000;

std::wstring Widen(const std::string& s)
{
    std::wstring w;
    AnsiToWide(w, s.data(), static_cast<int>(s.size()));
    return w;
}

} // namespace

BOOL CReader::Identify(uint16_t& deviceCode, uint32_t& serialNumber, uint32_t& firmwareVersion,
                       DWORD timeout, int32_t tries, std::wstring* replyText)
{
    m_rx.clear();
    HRESULT failure = PE_READ_TIMEOUT;
    for (int32_t attempt = 0; attempt < tries; ++attempt) {
        // What a try before left (the rest of a reply that never ended) is no reply to this one;
        // a key line among it is kept for the connection.
        if (attempt > 0)
            HoldReceivedLines();
        const DWORD sentAt = GetTickCount();
        Send("i", 1, timeout, FALSE);
        std::string text;
        if (!ReadReply(text, 1, timeout, TRUE))
            continue;
        if (text.size() < 4 || !Contains(text, "S/N:"))
            continue;
        HRESULT hr = ReadIdentificationRest(text, sentAt, timeout);
        if (FAILED(hr)) {
            failure = hr;
            continue;
        }
        std::wstring wide = Widen(text);
        if (replyText)
            *replyText = wide;
        if (!ParseReaderInfo(wide, deviceCode, serialNumber, firmwareVersion)) {
            SetError(PE_BAD_REPLY, nullptr);
            return FALSE;
        }
        return TRUE;
    }
    SetError(failure, nullptr);
    return FALSE;
}

HRESULT CReader::ReadIdentificationRest(std::string& text, DWORD sentAt, DWORD timeout)
{
    // A reader that goes on printing lines other than the last one must neither hold the
    // connection for ever nor grow the text: the whole identification is bounded in time and size.
    const DWORD limit = static_cast<DWORD>(
        std::min<uint64_t>(uint64_t(timeout) + std::max<DWORD>(timeout, IdentificationTailMs), 0xFFFFFFFEu));
    std::string line;
    for (;;) {
        const DWORD elapsed = GetTickCount() - sentAt;
        if (elapsed >= limit || !ReadReply(line, 1, std::min(timeout, limit - elapsed), TRUE))
            return PE_READ_TIMEOUT;
        if (text.size() + line.size() > MaxIdentificationText)
            return PE_BAD_REPLY;
        text += line;
        if (Contains(line, "Software version:") || Contains(line, "Build"))
            return S_OK;
    }
}

BOOL CReader::SetOutputFormat(const char* format)
{
    return SetupRequest(std::string("tFMT") + format);
}

BOOL CReader::SetOutputArgs(const char* args)
{
    return SetupRequest(std::string("tARG") + args);
}

BOOL CReader::SetNoCardText()
{
    return SetupRequest("tNOC" "No card\\r\\n");
}

BOOL CReader::SetupRequest(const std::string& request)
{
    if (m_cfg.ReqTries < 1) {
        SetError(PE_READ_TIMEOUT, nullptr);
        return FALSE;
    }
    // Whatever the reader printed before (a late identification line) is not this reply; a key
    // line among it is reported once the connection is made.
    HoldReceivedLines();
    Send(request + "\r\n", m_cfg.ReqTimeout);
    std::string reply;
    if (!ReadReply(reply, 1, m_cfg.ReqTimeout, TRUE))
        return FALSE;
    reply = Lowered(reply);
    if (reply.size() >= 3 && Contains(reply, "err")) {
        SetError(PE_READER_ERROR, nullptr);
        return FALSE;
    }
    return TRUE;
}

BOOL CReader::ReadCardText(uint32_t& keyType, KeyData& key)
{
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        m_rx.clear();
        Send("r\n", m_cfg.ReqTimeout);
        std::string reply;
        if (!ReadReply(reply, 1, m_cfg.ReqTimeout, FALSE))
            return FALSE;
        std::wstring line = Widen(reply);
        TrimLineEnd(line);
        if (line == L"No card") {
            keyType = 0;
            key.Clear();
            return TRUE;
        }
        if (LooksLikeKeyLine(line)
            && ParseKeyText(line, keyType, key, m_modelIndex, m_firmwareVersion,
                            (m_flags & READER_FLAG_NO_CORRECTION) != 0))
            return TRUE;
        SetError(PE_BAD_REPLY, nullptr);
    }
    SetError(PE_READ_TIMEOUT, nullptr);
    return FALSE;
}

bool CReader::IsUnsolicitedLine(const std::wstring& line, bool& noCard)
{
    noCard = EqualsNoCase(line, L"No card");
    if (noCard)
        return true;
    // Only a line that decodes is a key: identification lines may hold "[" without ":" too.
    uint32_t keyType = 0;
    KeyData key;
    return LooksLikeKeyLine(line)
        && ParseKeyText(line, keyType, key, m_modelIndex, m_firmwareVersion,
                        (m_flags & READER_FLAG_NO_CORRECTION) != 0);
}

void CReader::DivertLine(const std::string& line, bool noCard)
{
    // While a connection is being made a departure belongs to the key of the connection before,
    // which is still recorded: it is reported at once, unless lines kept before it must come
    // first. Anything else waits until the connection is made or the request is over.
    if (noCard && m_heldLines.empty() && m_state != READER_STATE_CONNECTED) {
        bool recorded;
        {
            CritSecLock lock(m_lock);
            recorded = !m_keys.empty();
        }
        if (recorded) {
            ReportKey(KeyEntry(), TRUE, TRUE);
            return;
        }
    }
    if (m_heldLines.size() + line.size() >= MaxPendingLine)
        return; // a reader that prints nothing else; real lines are few and short
    m_heldLines += line;
    m_heldLines += '\n';
}

void CReader::HoldReceivedLines()
{
    size_t end = m_rx.rfind('\n');
    if (end == std::string::npos)
        return;
    std::string complete = m_rx.substr(0, end + 1);
    m_rx.erase(0, end + 1);
    std::string line;
    while (TakeLine(complete, line)) {
        if (line.empty())
            continue;
        bool noCard;
        if (IsUnsolicitedLine(Widen(line), noCard) && m_heldLines.size() + line.size() < MaxPendingLine) {
            m_heldLines += line;
            m_heldLines += '\n';
        }
    }
}

void CReader::ReleaseHeldLines()
{
    if (m_heldLines.empty() || m_state != READER_STATE_CONNECTED)
        return;
    m_rx.insert(0, m_heldLines);
    m_heldLines.clear();
}

BOOL CReader::ReadPage(uint32_t page, uint8_t data[16])
{
    // The key line that asked for these pages may have others behind it (a departure, the
    // next key); they are handled after the read, not taken for its reply nor thrown away.
    TakeQueuedInput();
    HoldReceivedLines();
    BOOL ok = RequestPages(page, data);
    ReleaseHeldLines();
    return ok;
}

BOOL CReader::RequestPages(uint32_t page, uint8_t data[16])
{
    if (m_cfg.ReqTries < 1) {
        SetError(PE_READ_TIMEOUT, nullptr);
        return FALSE;
    }
    char request[16];
    snprintf(request, sizeof request, "get %.2x\r", page & 0xFF);
    HRESULT failure = PE_READ_TIMEOUT;
    for (int32_t attempt = 0; attempt < m_cfg.ReqTries; ++attempt) {
        // What is left from a failed try is no reply to the next one.
        if (attempt > 0)
            m_rx.clear();
        Send(request, m_cfg.ReqTimeout);
        std::string first;
        if (!ReadReply(first, 1, m_cfg.ReqTimeout, TRUE))
            return FALSE;
        std::string lower = Lowered(first);
        if (Contains(lower, "no card")) {
            SetError(PE_NO_KEY, nullptr);
            return FALSE;
        }
        if (Contains(lower, "err")) {
            SetError(PE_READER_ERROR, nullptr);
            return FALSE;
        }
        std::string more;
        if (!ReadReply(more, 4, 500, FALSE))
            return FALSE;
        // Lines of other pages, or values that are no bytes, are no reply to this request.
        if (ParsePageReply(first + more, page, data))
            return TRUE;
        SetError(PE_BAD_REPLY, nullptr);
        failure = PE_BAD_REPLY;
    }
    SetError(failure, nullptr);
    return FALSE;
}

BOOL CReader::WritePage(uint32_t page, const uint8_t data[4])
{
    // A key line or a stale reply waiting on the line is not the reply: taken for it, a refused
    // write would pass for a success.
    TakeQueuedInput();
    HoldReceivedLines();
    BOOL ok = RequestPageWrite(page, data);
    ReleaseHeldLines();
    return ok;
}

BOOL CReader::RequestPageWrite(uint32_t page, const uint8_t data[4])
{
    if (m_cfg.ReqTries < 1) {
        SetError(PE_READ_TIMEOUT, nullptr);
        return FALSE;
    }
    char request[32];
    snprintf(request, sizeof request, "put %.2x %.2x %.2x %.2x %.2x\r", page & 0xFF, data[0], data[1],
             data[2], data[3]);
    Send(request, m_cfg.ReqTimeout);
    std::string reply;
    if (!ReadReply(reply, 1, m_cfg.ReqTimeout, TRUE))
        return FALSE;
    std::string lower = Lowered(reply);
    if (Contains(lower, "no card")) {
        SetError(PE_NO_KEY, nullptr);
        return FALSE;
    }
    if (Contains(lower, "err")) {
        SetError(Contains(lower, "page lock") ? PE_KEY_LOCKED : PE_READER_ERROR, nullptr);
        return FALSE;
    }
    // Only the reader's report of the written page is a success; anything else leaves the page
    // in doubt.
    if (!IsPageWritten(reply)) {
        SetError(PE_BAD_REPLY, nullptr);
        return FALSE;
    }
    return TRUE;
}

void CReader::PollText()
{
    m_flags &= ~READER_FLAG_DATA_READY;
    m_lastTextPoll = GetTickCount();
    if (m_cfg.RxPeriod == READER_PERIOD_NEVER) {
        DWORD queued = InQueue();
        if (queued)
            Receive(queued, 0, FALSE);
    } else {
        // Bounded, so that a reader that never stops sending still lets the loop run; the port
        // signals what it still holds.
        size_t taken = 0;
        while (taken < MaxPollBytes) {
            size_t before = m_rx.size();
            size_t after = Receive(64, 0, FALSE);
            if (after == before)
                break;
            taken += after - before;
        }
    }
    if (!m_rx.empty())
        ParseTextLines();
}

void CReader::ParseTextLines()
{
    std::string line;
    bool dropped = false;
    while (TakeReceivedLine(line, &dropped)) {
        if (line.empty())
            continue;
        std::wstring wide = Widen(line);
        if (wide.compare(0, 7, L"No card") == 0) {
            KeyEntry gone;
            ReportKey(gone, TRUE, TRUE);
            continue;
        }
        if (LooksLikeKeyLine(wide) && ParseKeyLine(wide))
            continue;
        ReportUnrecognized();
    }
    if (dropped)
        ReportUnrecognized();
}

void CReader::ReportUnrecognized()
{
    if (m_flags & READER_FLAG_UNRECOGNIZED_SEEN)
        return;
    m_flags |= READER_FLAG_UNRECOGNIZED_SEEN;
    if (m_sink)
        Sink()->OnDriverError(this, PE_UNRECOGNIZED, ErrorLine(PE_UNRECOGNIZED));
}

BOOL CReader::ParseKeyLine(const std::wstring& line)
{
    uint32_t keyType = 0;
    KeyData key;
    if (!ParseKeyText(line, keyType, key, m_modelIndex, m_firmwareVersion,
                      (m_flags & READER_FLAG_NO_CORRECTION) != 0))
        return FALSE;
    if (!ReadKeys().WantsKeyType(keyType))
        return TRUE;
    if (LogOn(IDS_LOG_KEY_READ))
        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_KEY_READ, KeyTypeName(keyType),
                    KeyToText(key, keyType).c_str());
    KeyEntry entry;
    entry.KeyType = keyType;
    entry.Uid = key;
    entry.DataStatus = KEY_DATA_NONE;
    ReadUltralightData(entry);
    ReportKey(entry, TRUE, TRUE);
    return TRUE;
}

void CReader::ReadUltralightData(KeyEntry& entry)
{
    if (entry.KeyType != KEY_TYPE_MIFARE_UL)
        return;
    const ReadULSettings ul = ReadKeys().GetReadUL();
    if (!ul.Enabled)
        return;
    if (ul.Page > 15 || ul.Count < 1) {
        entry.DataStatus = static_cast<uint32_t>(E_INVALIDARG);
        return;
    }
    uint8_t pages[16];
    if (ReadPage(ul.Page, pages)) {
        // Four pages are read; a key record holds 15 bytes of them at most.
        size_t count = ul.Count >= 4 ? KEY_DATA_MAX : ul.Count * 4;
        entry.Data.Assign(pages, std::min(count, KEY_DATA_MAX));
        entry.DataStatus = KEY_DATA_READ;
    } else {
        HRESULT code;
        std::wstring text;
        GetLastError(NO_BUS_ADDRESS, code, text);
        entry.DataStatus = static_cast<uint32_t>(code);
    }
}

void CReader::ReportKey(const KeyEntry& entry, BOOL notify, BOOL force)
{
    KeyEntry previous;
    bool arrived = false;
    bool gone = false;
    {
        CritSecLock lock(m_lock);
        if (!m_keys.empty())
            previous = m_keys.front();
        if (entry.KeyType != KEY_TYPE_UNKNOWN) {
            if (!force && entry.KeyType == previous.KeyType && CompareKeyData(entry.Uid, previous.Uid) == 0)
                return;
            m_keys.assign(1, entry);
            arrived = force != FALSE;
        } else if (force || !m_keys.empty()) {
            m_keys.clear();
            gone = true;
        }
    }
    if (!notify || !m_sink)
        return;
    if (arrived) {
        if (entry.DataStatus == KEY_DATA_NONE || entry.DataStatus == KEY_DATA_READ) {
            // The data read after detection is the key when there is one, as in every protocol.
            const KeyData& key = entry.DataStatus == KEY_DATA_READ ? entry.Data : entry.Uid;
            std::wstring text;
            Sink()->OnTracksData(this, entry.KeyType, key, text);
            // The text is stored under the lock, where the owner's threads may be copying it.
            CritSecLock lock(m_lock);
            if (!m_keys.empty() && m_keys.front().KeyType == entry.KeyType
                && CompareKeyData(m_keys.front().Uid, entry.Uid) == 0)
                m_keys.front().Text = text;
        } else {
            HRESULT code = static_cast<HRESULT>(entry.DataStatus);
            Sink()->OnDriverError(this, code, ErrorLine(code));
        }
    }
    if (gone && (previous.DataStatus == KEY_DATA_NONE || previous.DataStatus == KEY_DATA_READ)) {
        const KeyData& key = previous.DataStatus == KEY_DATA_READ ? previous.Data : previous.Uid;
        Sink()->OnNoCard(this, previous.KeyType, key, previous.Text);
    }
}

void CReader::SetupText()
{
    uint32_t keyType = 0;
    KeyData key;
    if (!ReadCardText(keyType, key))
        return;
    KeyEntry entry;
    entry.KeyType = keyType;
    entry.Uid = key;
    entry.DataStatus = KEY_DATA_NONE;
    ReadUltralightData(entry);
    ReportKey(entry, FALSE, FALSE);
}
