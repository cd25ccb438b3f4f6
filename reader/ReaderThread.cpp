// The reader thread: the run loop with its timers and wait set, the application of changes made
// by the control operations, connecting (open, identify, choose the protocol by model and
// settings) and disconnecting.
#include "Reader.h"
#include "CommandSlot.h"
#include "Messages.h"
#include "Models.h"
#include "Numbers.h"
#include "PeltoFrame.h"
#include "ReaderText.h"
#include "ResText.h"
#include "Settings.h"
#include "ThreadLanguage.h"
#include "WFormat.h"
#include "res/ReaderStrings.h"
#include <algorithm>

using namespace readertext;

namespace {

// The protocols that a model speaks after identification.
bool IsPlainTextModel(uint32_t model)
{
    return model == MODEL_KORA_USB || model == MODEL_LINTRA_MULTI || model == MODEL_KORA_DUO;
}

bool IsMifareModel(uint32_t model)
{
    return model == MODEL_KORA_USB_MF || model == MODEL_LINTRA_NET || model == MODEL_KORA_DESK_MF
        || model == MODEL_LINTRA_PLUS;
}

// Identifications in a row naming an unknown device code after which the reader is given up.
const uint32_t UnknownCodeRunsToGiveUp = 3;

} // namespace

DWORD CReader::Run()
{
    {
        CritSecLock lock(m_lock);
        m_runEnds = false;
    }
    for (;;) {
        if (!Running()) {
            DisconnectQuiet();
            // Nobody may wait for ever on a command that this thread will never run.
            std::shared_ptr<ReaderCommand> command;
            {
                CritSecLock lock(m_lock);
                if (m_cmdStatus == E_PENDING)
                    command = m_cmd;
            }
            if (command)
                CompleteCommand(command, E_ABORT);
            if (StopStands())
                return 0;
            continue;
        }
        try {
            bool changes;
            {
                CritSecLock lock(m_lock);
                changes = m_changeFlags != 0;
            }
            if (changes)
                ApplyChanges();
            CopySettings();

            DWORD wait = INFINITE;
            m_curAddress = NO_BUS_ADDRESS;

            bool commandPending;
            {
                CritSecLock lock(m_lock);
                commandPending = m_cmdStatus == E_PENDING;
            }
            if (commandPending)
                RunCommand();

            if (m_state != READER_STATE_CONNECTED
                && !(m_flags & (READER_FLAG_MODEL_UNSUPPORTED | READER_FLAG_RECONNECT_DUE))
                && m_cfg.ConnectPeriod != READER_PERIOD_NEVER) {
                DWORD since = GetTickCount() - m_lastConnectAttempt;
                if (since >= m_cfg.ConnectPeriod)
                    m_flags |= READER_FLAG_RECONNECT_DUE;
                else
                    wait = m_cfg.ConnectPeriod - since;
            }
            if (m_flags & READER_FLAG_RECONNECT_DUE) {
                m_flags &= ~READER_FLAG_RECONNECT_DUE;
                Disconnect(FALSE);
                if (!Connect() && m_cfg.ConnectPeriod != READER_PERIOD_NEVER)
                    wait = std::min(wait, m_cfg.ConnectPeriod);
            }
            if (m_state == READER_STATE_CONNECTED)
                ServeProtocol(wait);
            WaitEvents(wait);
        } catch (const CZPortException& e) {
            ReportError(ERROR_KIND_PORT, e.Code(), ExceptionLine(e));
        } catch (const COSException& e) {
            DWORD code = e.Code();
            HRESULT hr = static_cast<int32_t>(code) > 0 ? HRESULT_FROM_WIN32(code) : static_cast<HRESULT>(code);
            ReportError(ERROR_KIND_SYSTEM, hr, ExceptionLine(e));
        } catch (const std::exception& e) {
            ReportError(ERROR_KIND_OTHER, E_FAIL, ExceptionLine(e));
        }
    }
}

void CReader::CopySettings()
{
    CritSecLock lock(m_lock);
    m_cfg = m_conn;
}

void CReader::ApplyChanges()
{
    uint32_t changes;
    uint32_t flags;
    uint32_t speed;
    {
        CritSecLock lock(m_lock);
        // Reset inside the lock: the control operations set the cancel event inside it together
        // with their change flags, so a request is never consumed while its cancel survives to
        // abort the next port wait for nothing.
        ResetEvent(m_cancelEvent.Get());
        changes = m_changeFlags;
        m_changeFlags = 0;
        flags = m_conn.Flags;
        speed = m_conn.Speed;
        if (changes & READER_CHANGE_ADDRESSES)
            SyncAddressList();
        if (changes & READER_CHANGE_ADDRESS_RECONNECT) {
            for (auto& entry : m_addresses) {
                AddressRec& rec = entry.second;
                if (!rec.ChangeRequest)
                    continue;
                bool reconnect = (rec.ChangeRequest & 1) != 0;
                rec.ChangeRequest = 0;
                if (reconnect) {
                    rec.Model = 0;
                    rec.SerialNumber = -1;
                    rec.FirmwareVersion = 0;
                    rec.InfoText.clear();
                    rec.Flags |= ADDRESS_RECONNECT_DUE;
                }
            }
        }
    }
    // A stop requested while the cancel event was being reset must still abort the waits ahead.
    if (!Running() && Started())
        SetEvent(m_cancelEvent.Get());

    if (flags & SETTINGS_FLAG_NO_CORRECT_VM100)
        m_flags |= READER_FLAG_NO_CORRECTION;
    else
        m_flags &= ~READER_FLAG_NO_CORRECTION;
    if (changes & READER_CHANGE_LANGUAGE)
        SetThreadLanguage();
    if ((changes & READER_CHANGE_SPEED) && !(changes & READER_CHANGE_RECONNECT))
        SetReaderSpeed(speed);
    if (changes & READER_CHANGE_RECONNECT) {
        CritSecLock lock(m_lock);
        m_flags &= ~READER_FLAG_MODEL_UNSUPPORTED;
        m_unknownCodeRuns = 0;
        m_flags |= READER_FLAG_RECONNECT_DUE;
        m_modelIndex = 0;
        m_firmwareVersion = 0;
        m_infoText.clear();
    }
}

void CReader::SyncAddressList()
{
    for (auto& entry : m_addresses)
        entry.second.Flags |= ADDRESS_MARK;
    for (int32_t address : m_addressList) {
        auto rec = m_addresses.find(address);
        if (rec != m_addresses.end())
            rec->second.Flags &= ~ADDRESS_MARK;
        else
            m_addresses.emplace(address, AddressRec());
    }
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        if (it->second.Flags & ADDRESS_MARK)
            it = m_addresses.erase(it);
        else
            ++it;
    }
}

void CReader::ServeProtocol(DWORD& wait)
{
    switch (m_protocol) {
    case PROTOCOL_TEXT:
        // Lines that came in behind the reply to a request (at connection, in a command) were
        // received by that request's reads: no port event is left to announce them.
        if ((m_flags & READER_FLAG_DATA_READY) || m_rx.find('\n') != std::string::npos)
            PollText();
        if (m_cfg.RxPeriod != READER_PERIOD_NEVER) {
            DWORD since = GetTickCount() - m_lastTextPoll;
            if (since >= m_cfg.RxPeriod) {
                PollText();
                wait = std::min(wait, m_cfg.RxPeriod);
            } else {
                wait = std::min(wait, m_cfg.RxPeriod - since);
            }
        }
        break;
    case PROTOCOL_BINARY:
    case PROTOCOL_PELTO:
        if (m_flags & READER_FLAG_DATA_READY) {
            // Between polls the reader has nothing to say: what came unasked is dropped.
            m_flags &= ~READER_FLAG_DATA_READY;
            if (m_port)
                m_port->Purge(TRUE, FALSE);
        }
        if (m_pollPeriod != READER_PERIOD_NEVER) {
            DWORD since = GetTickCount() - m_lastPoll;
            if (since >= m_pollPeriod) {
                const DWORD pollStart = GetTickCount();
                bool answered = m_protocol == PROTOCOL_BINARY ? PollBinary(FALSE) : PollPelto(FALSE);
                wait = std::min(wait, m_pollPeriod);
                if (m_silence.Note(answered, pollStart, GetTickCount(), m_cfg.ConnectPeriod)) {
                    LoseSilentReader();
                    return;
                }
            } else {
                wait = std::min(wait, m_pollPeriod - since);
            }
        }
        if (m_protocol == PROTOCOL_BINARY && (m_flags & READER_FLAG_SIGNAL_TIMER)) {
            DWORD since = GetTickCount() - m_signalStart;
            if (since >= m_signalDuration) {
                SendIdleIndication();
                m_flags &= ~READER_FLAG_SIGNAL_TIMER;
            } else {
                wait = std::min(wait, m_signalDuration - since);
            }
        }
        break;
    case PROTOCOL_BUS:
        PollAddresses(wait);
        break;
    default:
        // Connect chooses only the protocols served here.
        break;
    }
}

void CReader::WaitEvents(DWORD wait)
{
    HANDLE events[4] = {m_wakeEvent.Get(), m_writeDoneEvent.Get(), m_readDoneEvent.Get(),
                        m_commEvent.Get()};
    DWORD r = WaitForMultipleObjects(4, events, FALSE, wait);
    if (r == WAIT_FAILED)
        ThrowOSException(::GetLastError(), L"WaitForMultipleObjects");
    if (r >= WAIT_OBJECT_0 + 4)
        return;
    DWORD index = r - WAIT_OBJECT_0;
    ResetEvent(events[index]);
    if (index == 0 || m_state != READER_STATE_CONNECTED || !m_port)
        return;
    HRESULT hr = index == 1 ? m_port->OnWriteComplete()
               : index == 2 ? m_port->OnReadComplete()
                            : m_port->OnCommEvent();
    if (FAILED(hr))
        ThrowZPortException(hr, m_portName.c_str());
    // Data is waiting only when the port holds some. On Windows every read that completes at once
    // (an empty one too) and every write signals its event, and the characters of a reply raise
    // the comm event after the exchange has read them: taking each of those wakes for data would
    // make the text poll read again at once, for ever, and the binary and Pelto readers purge the
    // line at every poll.
    if (index == 1)
        return;
    DWORD queued = 0;
    hr = m_port->GetInQueue(&queued);
    if (FAILED(hr))
        ThrowZPortException(hr, m_portName.c_str());
    if (queued)
        m_flags |= READER_FLAG_DATA_READY;
}

BOOL CReader::Connect()
{
    m_lastConnectAttempt = GetTickCount();
    if (m_state == READER_STATE_CONNECTED)
        return TRUE;
    m_state = READER_STATE_CONNECTING;
    m_heldLines.clear();
    bool bus;
    {
        CritSecLock lock(m_lock);
        m_cfg = m_conn;
        bus = !m_addresses.empty();
    }
    const ConnValues cfg = m_cfg;
    std::wstring info;
    BOOL ok = FALSE;
    try {
        if (bus) {
            ok = OpenPort(m_portName, 9600, cfg.StopBits, cfg.ConnectTimeout, cfg.RxPeriod);
            if (ok) {
                CritSecLock lock(m_lock);
                m_modelIndex = 0;
                m_serialNumber = static_cast<uint32_t>(-1);
                m_firmwareVersion = 0;
            }
        } else {
            ok = OpenAndIdentify(m_portName, cfg.StopBits, cfg.Model, cfg.ConnectTimeout,
                                 cfg.RxPeriod, cfg.ReqTimeout, cfg.ReqTries, info);
        }
        if (ok) {
            if (cfg.Flags & SETTINGS_FLAG_NO_CORRECT_VM100)
                m_flags |= READER_FLAG_NO_CORRECTION;
            else
                m_flags &= ~READER_FLAG_NO_CORRECTION;
            {
                CritSecLock lock(m_lock);
                m_keys.clear();
            }
            ok = SetupProtocol(bus);
        }
    } catch (const CZPortException& e) {
        SetError(e.Code(), ExceptionLine(e).c_str());
        ok = FALSE;
    } catch (const std::exception& e) {
        SetError(E_FAIL, ExceptionLine(e).c_str());
        ok = FALSE;
    }
    m_curAddress = NO_BUS_ADDRESS;

    if (ok) {
        {
            CritSecLock lock(m_lock);
            m_infoText = info;
            m_state = READER_STATE_CONNECTED;
        }
        m_silence.Reset();
        m_lastTextPoll = m_lastConnectAttempt;
        if (m_sink && m_modelIndex != 0) {
            if (LogOn(IDS_LOG_CONNECTED)) {
                std::wstring version;
                VersionToText(version, m_firmwareVersion);
                Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_CONNECTED, ReaderModelName(m_modelIndex),
                            static_cast<int>(m_serialNumber), version.c_str());
            }
            Sink()->OnDeviceConnect(this);
        }
        LogConverterWay(true);
        // Key lines and departures that came while connecting are handled now, after the
        // connection event; a framed protocol sees the cards in its field by its own poll.
        if (m_protocol == PROTOCOL_TEXT)
            ReleaseHeldLines();
        else
            m_heldLines.clear();
        return TRUE;
    }
    m_heldLines.clear();

    if (m_state == READER_STATE_CONNECTING) {
        LeaveFramedMode();
        ClosePort();
        CritSecLock lock(m_lock);
        m_state = READER_STATE_DISCONNECTED;
        for (auto& entry : m_addresses)
            entry.second.State = READER_STATE_DISCONNECTED;
    }
    HRESULT code;
    std::wstring text;
    GetLastError(NO_BUS_ADDRESS, code, text);
    if (m_sink) {
        if (code != E_ABORT)
            Sink()->OnDriverError(this, code, LoadResString(IDS_UNABLE_TO_CONNECT) + L" " + text);
        if (LogOn(IDS_LOG_CONNECT_FAILED))
            Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_CONNECT_FAILED, text.c_str());
    }
    std::shared_ptr<ReaderCommand> command;
    {
        CritSecLock lock(m_lock);
        if (m_cmdStatus == E_PENDING)
            command = m_cmd;
    }
    if (command)
        CompleteCommand(command, code);
    return FALSE;
}

BOOL CReader::SetupProtocol(bool bus)
{
    if (bus) {
        m_protocol = PROTOCOL_BUS;
        for (auto& entry : m_addresses) {
            if (!Running())
                break;
            if (entry.second.State != READER_STATE_CONNECTED)
                continue;
            m_curAddress = entry.first;
            PollAddress(TRUE, entry.second);
        }
        m_curAddress = NO_BUS_ADDRESS;
        return TRUE;
    }

    const uint32_t model = m_modelIndex;
    if (IsPlainTextModel(model)) {
        m_protocol = PROTOCOL_TEXT;
        SetupText();
        return TRUE;
    }
    if (IsMifareModel(model)) {
        // From here on the reader may be in binary mode or at another rate: whatever ends this
        // connection puts it back.
        m_linkModel = model;
        DWORD baud = 0;
        m_port->GetParams(&baud, nullptr, nullptr);
        if (!ConfigurePort(baud, m_cfg.StopBits, ProtocolEventChar(PROTOCOL_BINARY)))
            return FALSE;
        if (m_cfg.Flags & SETTINGS_FLAG_BINARY) {
            m_protocol = PROTOCOL_BINARY;
            if (!SetBinaryMode(FALSE, -1) || !SetReaderSpeed(m_cfg.Speed))
                return FALSE;
            // The end-of-scan request proves that the reader now speaks frames.
            static const uint8_t zero = 0;
            uint32_t status;
            if (!BinaryRequest(0x24, &zero, 1, status))
                return FALSE;
            if (status != 0x55) {
                SetError(PE_READER_ERROR, nullptr);
                return FALSE;
            }
            PollBinary(TRUE);
            return TRUE;
        }
        m_protocol = PROTOCOL_TEXT;
        if (!SetReaderSpeed(m_cfg.Speed))
            return FALSE;
        m_port->GetParams(&baud, nullptr, nullptr);
        if (!ConfigurePort(baud, m_cfg.StopBits, ProtocolEventChar(PROTOCOL_TEXT)))
            return FALSE;
        SetupText();
        return TRUE;
    }
    if (model == MODEL_KORA_BASE) {
        m_protocol = PROTOCOL_TEXT;
        bool ok = (m_cfg.Flags & SETTINGS_FLAG_WIEGAND)
            ? SetOutputFormat("Em-Marine[%.2X%.2X] %.3d,%.5d\\r\\n") && SetOutputArgs("b4 b3 b2 w01")
            : SetOutputFormat("DALLAS[%.2X%.2X%.2X%.2X%.2X%.2X%.2X%.2X] 000,00000\\r\\n")
                  && SetOutputArgs("b7 b6 b5 b4 b3 b2 b1 b0");
        return ok && SetNoCardText();
    }
    if (model == MODEL_PELTO) {
        m_protocol = PROTOCOL_PELTO;
        if (!ConfigurePort(115200, m_cfg.StopBits, ProtocolEventChar(PROTOCOL_PELTO)))
            return FALSE;
        // A key's 0xFF behind a converter that has not shown its way is read as the frame's
        // check shows it.
        m_port->SetFrameCheck(&PeltoConverterFrameCheck());
        PollPelto(TRUE);
        return TRUE;
    }
    SetError(E_FAIL, nullptr);
    return FALSE;
}

void CReader::Disconnect(BOOL afterError)
{
    if (!m_port)
        return;
    if (IsMifareModel(m_linkModel))
        LeaveFramedMode();
    else if (!Started())
        ResetEvent(m_cancelEvent.Get());
    ClosePort();
    SetEvent(m_wakeEvent.Get());

    if (m_state != READER_STATE_CONNECTED)
        return;
    m_state = READER_STATE_DISCONNECTED;
    m_curAddress = NO_BUS_ADDRESS;
    std::wstring reason;
    if (afterError) {
        HRESULT code;
        GetLastError(NO_BUS_ADDRESS, code, reason);
    } else {
        reason = LoadResString(IDS_ON_COMMAND);
    }
    // A bus announces its addresses, never the port itself (its connection raised no event).
    if (m_sink && m_protocol != PROTOCOL_BUS) {
        if (LogOn(IDS_LOG_DISCONNECTED))
            Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_DISCONNECTED, reason.c_str());
        Sink()->OnDeviceDisconnect(this);
    }
    for (auto& entry : m_addresses) {
        if (entry.second.State != READER_STATE_CONNECTED)
            continue;
        m_curAddress = entry.first;
        {
            CritSecLock lock(m_lock);
            entry.second.State = READER_STATE_DISCONNECTED;
        }
        if (m_sink) {
            if (LogOn(IDS_LOG_DISCONNECTED))
                Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_DISCONNECTED, reason.c_str());
            Sink()->OnDeviceDisconnect(this);
        }
    }
    m_curAddress = NO_BUS_ADDRESS;
}

void CReader::LeaveFramedMode()
{
    // The model is the one the connection was made with: a reconnection request has already
    // cleared the identified model by the time the old connection is closed.
    const uint32_t model = m_linkModel;
    m_linkModel = 0;
    if (!IsMifareModel(model) || !m_port)
        return;
    // The switch back is a courtesy: its own failures must not replace the error that ends the
    // connection, which the disconnection and the failed connection report.
    HRESULT code;
    std::wstring text;
    GetLastError(NO_BUS_ADDRESS, code, text);
    ResetEvent(m_cancelEvent.Get());
    try {
        DWORD baud = 0;
        BYTE stopBits = 0, eventChar = 0;
        m_port->GetParams(&baud, &stopBits, &eventChar);
        if (eventChar)
            m_port->SetParams(baud, stopBits, 0);
        // The reader is left as others expect to find it: in text mode at 9600 Bd.
        if (m_protocol == PROTOCOL_BINARY)
            BinarySignal(0x95, 1);
        SetBinaryMode(TRUE, 0);
    } catch (const std::exception&) {
    }
    SetError(code, text.c_str());
}

void CReader::LoseSilentReader()
{
    // No switch back to text mode: a reader that answers nothing would only make it wait out its
    // time-outs. One that hung starts in text mode again when it is restarted.
    m_linkModel = 0;
    SetError(PE_READ_TIMEOUT, nullptr);
    Disconnect(TRUE);
}

bool CReader::LastRequestTimedOut()
{
    return LastErrorCode() == PE_READ_TIMEOUT;
}

void CReader::DisconnectQuiet()
{
    try {
        Disconnect(FALSE);
    } catch (...) {
    }
}

BOOL CReader::OpenAndIdentify(const std::wstring& portName, BYTE stopBits, uint32_t model,
                              DWORD connectTimeout, DWORD rxPeriod, DWORD reqTimeout,
                              int32_t reqTries, std::wstring& infoText)
{
    uint16_t code = 0;
    uint32_t serial = 0;
    uint32_t version = 0;
    const int32_t address = m_curAddress.load();

    if (address != NO_BUS_ADDRESS) {
        if (!OpenPort(portName, 9600, stopBits, connectTimeout, rxPeriod))
            return FALSE;
        if (!IdentifyAt(address, code, serial, version, reqTimeout, reqTries, infoText))
            return FALSE;
        if (ModelFromCode(code) == MODEL_UNKNOWN)
            return UnsupportedModel(code);
        return TRUE;
    }

    BOOL ok;
    const bool mayBeBinary = (m_cfg.Flags & SETTINGS_FLAG_BINARY) && (model == MODEL_UNKNOWN || IsMifareModel(model));
    if (model == MODEL_UNKNOWN || model == MODEL_KORA_USB_MF) {
        if (!OpenPort(portName, 9600, stopBits, connectTimeout, rxPeriod))
            return FALSE;
        ok = IdentifyInEitherMode(mayBeBinary, code, serial, version, reqTimeout, reqTries, infoText);
        if (!ok) {
            HRESULT err;
            std::wstring text;
            GetLastError(NO_BUS_ADDRESS, err, text);
            if (err == PE_READ_TIMEOUT || err == PE_BAD_REPLY) {
                // Some readers are left at their fast rate; they answer there.
                if (!ConfigurePort(115200, stopBits, ProtocolEventChar(PROTOCOL_NONE)))
                    return FALSE;
                ok = Identify(code, serial, version, reqTimeout, reqTries, &infoText);
            }
        }
    } else if (model == MODEL_PELTO) {
        if (!OpenPort(portName, 115200, stopBits, connectTimeout, rxPeriod))
            return FALSE;
        ok = Identify(code, serial, version, reqTimeout, reqTries, &infoText);
    } else {
        if (!EnsurePortOpen(portName, 9600, stopBits, connectTimeout, rxPeriod))
            return FALSE;
        ok = IdentifyInEitherMode(mayBeBinary, code, serial, version, reqTimeout, reqTries, infoText);
    }
    if (!ok)
        return FALSE;

    uint32_t index = ModelFromCode(code);
    if (index == MODEL_UNKNOWN) {
        // One garbled identification is a failed one and is tried again at the connection period;
        // only a device that keeps naming a code we do not know is given up.
        if (++m_unknownCodeRuns >= UnknownCodeRunsToGiveUp) {
            m_flags |= READER_FLAG_MODEL_UNSUPPORTED;
            if (LogOn(IDS_LOG_MODEL_GIVEN_UP))
                Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_MODEL_GIVEN_UP, static_cast<unsigned>(code),
                            static_cast<unsigned>(m_unknownCodeRuns));
        }
        return UnsupportedModel(code);
    }
    m_unknownCodeRuns = 0;
    CritSecLock lock(m_lock);
    m_modelIndex = index;
    m_serialNumber = serial;
    m_firmwareVersion = version;
    return TRUE;
}

BOOL CReader::IdentifyInEitherMode(bool mayBeBinary, uint16_t& code, uint32_t& serial, uint32_t& version,
                                   DWORD reqTimeout, int32_t reqTries, std::wstring& infoText)
{
    if (Identify(code, serial, version, reqTimeout, reqTries, &infoText))
        return TRUE;
    if (!mayBeBinary || LastErrorCode() != PE_READ_TIMEOUT || !KeepGoing())
        return FALSE;
    // The switch back when the last connection ended never reached a reader whose link had
    // dropped; it is still in binary mode and answers only frames.
    if (!SetBinaryMode(TRUE, 0)) {
        SetError(PE_READ_TIMEOUT, nullptr);
        return FALSE;
    }
    return Identify(code, serial, version, reqTimeout, reqTries, &infoText);
}

BOOL CReader::UnsupportedModel(uint16_t code)
{
    std::wstring text;
    FormatResString(text, IDS_MODEL_NOT_SUPPORTED, static_cast<unsigned>(code));
    SetError(E_FAIL, text.c_str());
    return FALSE;
}
