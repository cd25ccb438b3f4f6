// The reader thread's access to its port: opening and configuring it, receiving and sending with
// the traffic log, reading text replies, choosing the line speed, and reporting errors caught on
// the thread.
#include "Reader.h"
#include "CodePage.h"
#include "ComLine.h"
#include "ComPort.h"
#include "Messages.h"
#include "Models.h"
#include "ReaderText.h"
#include "ReplyParse.h"
#include "ResText.h"
#include "WFormat.h"
#include "res/ReaderStrings.h"

using namespace readertext;

namespace {

const DWORD BaudRates[6] = {9600, 19200, 38400, 57600, 115200, 230400};

// Bit i: the reader model runs at BaudRates[i].
uint32_t AllowedSpeeds(uint32_t model, uint32_t version)
{
    switch (model) {
    case MODEL_KORA_USB:
    case MODEL_KORA_DESK_MF:
    case MODEL_KORA_DUO:
    case MODEL_KORA_BASE:
    case MODEL_LINTRA_PLUS: // no faster rate is known for it; 9600 is what it answers at
        return 0x01;
    case MODEL_KORA_USB_MF:
        return (FirmwareMajor(version) == 1 && FirmwareMinor(version) == 8) ? 0x1F : 0x01;
    case MODEL_LINTRA_NET:
        return (FirmwareMajor(version) >= 3 || (FirmwareMajor(version) == 2 && FirmwareMinor(version) >= 10))
            ? 0x1F : 0x01;
    case MODEL_PELTO:
        return 0x10;
    default:
        return 0;
    }
}

} // namespace

BYTE ProtocolEventChar(uint32_t protocol)
{
    switch (protocol) {
    case PROTOCOL_BINARY:
        return 0;
    case PROTOCOL_PELTO:
        return 0xC0;
    default:
        return '\n';
    }
}

bool CReader::LogOn(uint32_t messageId)
{
    return m_sink && Sink()->IsLogEnabled(this, messageId);
}

DWORD CReader::SpeedCodeBaud(uint32_t code)
{
    return code < 6 ? BaudRates[code] : BaudRates[0];
}

const wchar_t* CReader::StopBitsText(BYTE stopBits)
{
    static const wchar_t* const texts[3] = {L"1", L"1.5", L"2"};
    return stopBits < 3 ? texts[stopBits] : texts[0];
}

BOOL CReader::OpenPort(const std::wstring& name, DWORD baud, BYTE stopBits, DWORD openTimeout,
                       DWORD waitSlice)
{
    if (m_port && name != m_port->GetName())
        m_port.reset();
    if (!(m_port && m_port->IsOpen()))
        return EnsurePortOpen(name, baud, stopBits, openTimeout, waitSlice);

    m_port->SetWaitSlice(waitSlice);
    return ApplyLineParams(baud, stopBits, ProtocolEventChar(PROTOCOL_NONE));
}

BOOL CReader::EnsurePortOpen(const std::wstring& name, DWORD baud, BYTE stopBits, DWORD openTimeout,
                             DWORD waitSlice)
{
    if (m_port) {
        if (name == m_port->GetName()) {
            if (m_port->IsOpen())
                m_port->Close();
        } else {
            m_port.reset();
        }
    }
    // A reader that its owner left to end alone may still hold the port, or be opening it: the
    // driver would refuse a second opener, or make it wait as long.
    if (PortHeldByRetired(name) && !m_holdsRetiredPort) {
        SetError(PE_PORT_BUSY, nullptr);
        return FALSE;
    }
    if (!m_port) {
        CZPort* port = CreateZPort(name.c_str());
        port->AddRef();
        m_port.reset(port);
        HRESULT hr = m_port->Init(name.c_str(), m_cancelEvent.Get(), m_writeDoneEvent.Get(),
                                  m_readDoneEvent.Get(), m_commEvent.Get());
        if (FAILED(hr)) {
            m_port.reset();
            SetError(hr, nullptr);
            if (LogOn(IDS_LOG_PORT_OPEN_FAILED)) {
                HRESULT code;
                std::wstring text;
                GetLastError(NO_BUS_ADDRESS, code, text);
                Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_PORT_OPEN_FAILED, name.c_str(), (int)baud,
                            L'N', 8, stopBits == 2 ? 2 : 1, (unsigned)code, text.c_str());
            }
            return FALSE;
        }
    }
    m_port->SetWaitSlice(waitSlice);
    const bool serial = IsSerialPortName(name.c_str());
    // The reader's own thread waits for a serial port's driver as long as it takes (its owner does
    // not wait for the thread: Stop and Retire give up on it in time). On the owner's thread (the
    // device test) a serial open may take the connect time-out at most (with none, the default
    // one); it then ends alone, and the port stays busy until it has. A converter's connect has
    // its time-out on every thread.
    DWORD bound = openTimeout;
    if (serial)
        bound = Started() ? INFINITE : (openTimeout != 0 ? openTimeout : ConnValues().ConnectTimeout);
    HRESULT hr = m_port->SetParams(baud, stopBits, ProtocolEventChar(PROTOCOL_NONE));
    if (SUCCEEDED(hr) && !m_port->IsOpen())
        hr = m_port->Open(bound);
    if (FAILED(hr)) {
        if (serial && hr == COM_OPEN_TIMED_OUT) {
            std::wstring text;
            FormatResString(text, IDS_PORT_OPEN_TIMED_OUT, name.c_str(), static_cast<unsigned>(bound));
            SetError(hr, text.c_str());
        } else {
            SetError(hr, nullptr);
        }
        return FALSE;
    }
    // What the line really runs with is logged: a serial line of 8 data bits cannot take 1.5
    // stop bits, and a driver may keep its own queue sizes.
    if (serial && stopBits == ONE5STOPBITS && LogOn(IDS_LOG_STOPBITS_MAPPED))
        Sink()->Log(this, LOG_LEVEL_WARNING, IDS_LOG_STOPBITS_MAPPED, name.c_str());
    if (const DWORD queueError = m_port->QueueSizeError()) {
        if (LogOn(IDS_LOG_PORT_QUEUES)) {
            std::wstring text;
            GetErrorText(text, nullptr, queueError);
            while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r'))
                text.pop_back();
            Sink()->Log(this, LOG_LEVEL_WARNING, IDS_LOG_PORT_QUEUES, name.c_str(),
                        (unsigned)HRESULT_FROM_WIN32(queueError), text.c_str());
        }
    }
    if (LogOn(IDS_LOG_PORT_OPEN))
        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_PORT_OPEN, name.c_str(), (int)baud, L'N', 8,
                    StopBitsText(serial ? EffectiveStopBits(stopBits) : stopBits));
    return TRUE;
}

BOOL CReader::ConfigurePort(DWORD baud, BYTE stopBits, BYTE eventChar)
{
    DWORD current = 0;
    m_port->GetParams(&current, nullptr, nullptr);
    if (baud != current)
        m_flags |= READER_FLAG_RESYNC;
    return ApplyLineParams(baud, stopBits, eventChar);
}

BOOL CReader::ApplyLineParams(DWORD baud, BYTE stopBits, BYTE eventChar)
{
    HRESULT hr = m_port->SetParams(baud, stopBits, eventChar);
    if (FAILED(hr)) {
        SetError(hr, nullptr);
        if (LogOn(IDS_LOG_PORT_CONFIG_FAILED)) {
            HRESULT code;
            std::wstring text;
            GetLastError(NO_BUS_ADDRESS, code, text);
            Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_PORT_CONFIG_FAILED, (int)baud, L'N', 8,
                        StopBitsText(stopBits), (unsigned)code, text.c_str());
        }
        return FALSE;
    }
    if (LogOn(IDS_LOG_PORT_CONFIGURED))
        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_PORT_CONFIGURED, (int)baud, L'N', 8,
                    StopBitsText(stopBits));
    return TRUE;
}

void CReader::LogOmittedTraffic(uint32_t omitted, DWORD spanMs)
{
    if (omitted > 0 && LogOn(IDS_LOG_TRAFFIC_OMITTED))
        Sink()->Log(this, LOG_LEVEL_WARNING, IDS_LOG_TRAFFIC_OMITTED, static_cast<unsigned>(omitted),
                    static_cast<unsigned>(spanMs));
}

void CReader::LogConverterWay(bool atConnection)
{
    if (!m_port || (!atConnection && m_loggedWay == ConverterWay::None))
        return;
    const ConverterWay way = m_port->GetConverterWay();
    if (way == ConverterWay::None || way == m_loggedWay)
        return;
    m_loggedWay = way;
    std::string shownBy;
    bool byFrameCheck = false;
    m_port->GetConverterWay(&shownBy, &byFrameCheck);
    uint32_t message = IDS_LOG_CONVERTER_UNKNOWN;
    if (way == ConverterWay::Telnet)
        message = byFrameCheck ? IDS_LOG_CONVERTER_TELNET_CHECK : IDS_LOG_CONVERTER_TELNET;
    else if (way == ConverterWay::Raw)
        message = byFrameCheck ? IDS_LOG_CONVERTER_RAW_CHECK : IDS_LOG_CONVERTER_RAW;
    if (!LogOn(message))
        return;
    std::wstring bytes;
    BytesToHex(bytes, reinterpret_cast<const uint8_t*>(shownBy.data()), shownBy.size());
    Sink()->Log(this, LOG_LEVEL_INFO, message, m_portName.c_str(), bytes.c_str());
}

void CReader::ClosePort()
{
    m_droppingLine = false;  // the next connection starts at the start of a line
    m_loggedWay = ConverterWay::None;
    DWORD spanMs = 0;
    LogOmittedTraffic(m_rxLogBudget.Pending(GetTickCount(), spanMs), spanMs);
    if (!m_port)
        return;
    if (m_port->IsOpen()) {
        m_port->Close();
        if (LogOn(IDS_LOG_PORT_CLOSED))
            Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_PORT_CLOSED, m_portName.c_str());
    }
    m_port.reset();
}

size_t CReader::Receive(DWORD count, DWORD timeout, BOOL hex)
{
    if (!m_port)
        ThrowZPortException(PE_PORT_DISCONNECTED, m_portName.c_str());
    const size_t before = m_rx.size();
    HRESULT hr = m_port->Read(m_rx, count, timeout);
    if (FAILED(hr))
        ThrowZPortException(hr, m_portName.c_str());
    LogConverterWay(false);
    if (m_rx.size() > before && LogOn(IDS_LOG_RECEIVED)) {
        uint32_t omitted = 0;
        DWORD spanMs = 0;
        const size_t logged = m_rxLogBudget.Take(GetTickCount(), m_rx.size() - before, omitted, spanMs);
        LogOmittedTraffic(omitted, spanMs);
        if (logged > 0) {
            std::wstring text;
            if (hex)
                BytesToHex(text, reinterpret_cast<const uint8_t*>(m_rx.data() + before), logged);
            else
                EscapeForLog(text, m_rx.data() + before, static_cast<int>(logged));
            Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_RECEIVED, text.c_str());
        }
    }
    return m_rx.size();
}

void CReader::Send(const void* data, DWORD length, DWORD timeout, BOOL hex)
{
    if (!m_port)
        ThrowZPortException(PE_PORT_DISCONNECTED, m_portName.c_str());
    HRESULT hr = m_port->Write(data, length, timeout);
    if (FAILED(hr))
        ThrowZPortException(hr, m_portName.c_str());
    if (LogOn(IDS_LOG_SENT)) {
        std::wstring text;
        if (hex)
            BytesToHex(text, static_cast<const uint8_t*>(data), length);
        else
            EscapeForLog(text, static_cast<const char*>(data), static_cast<int>(length));
        Sink()->Log(this, LOG_LEVEL_INFO, IDS_LOG_SENT, text.c_str());
    }
}

DWORD CReader::InQueue()
{
    if (!m_port)
        ThrowZPortException(PE_PORT_DISCONNECTED, m_portName.c_str());
    DWORD count = 0;
    HRESULT hr = m_port->GetInQueue(&count);
    if (FAILED(hr))
        ThrowZPortException(hr, m_portName.c_str());
    return count;
}

bool CReader::TakeReceivedLine(std::string& line, bool* dropped)
{
    if (m_droppingLine) {
        // The rest of a line too long to be a reader's, up to its end.
        const size_t lf = m_rx.find('\n');
        if (lf == std::string::npos) {
            m_rx.clear();
            return false;
        }
        m_rx.erase(0, lf + 1);
        m_droppingLine = false;
    }
    if (TakeLine(m_rx, line))
        return true;
    if (m_rx.size() > MaxLineLength) {
        m_rx.clear();
        m_droppingLine = true;
        if (dropped)
            *dropped = true;
        if (LogOn(IDS_LOG_LINE_DROPPED))
            Sink()->Log(this, LOG_LEVEL_WARNING, IDS_LOG_LINE_DROPPED, static_cast<unsigned>(MaxLineLength));
    }
    return false;
}

void CReader::TakeQueuedInput()
{
    DWORD queued = InQueue();
    if (queued)
        Receive(queued, 0, FALSE);
}

bool CReader::ReceiveUntilDue(DWORD start, DWORD timeout, bool& overdue, BOOL hex)
{
    const DWORD elapsed = GetTickCount() - start;
    const DWORD queued = InQueue();
    if (elapsed >= timeout) {
        if (queued == 0 || overdue)
            return false;
        overdue = true;
    }
    Receive(queued ? queued : 1, elapsed < timeout ? timeout - elapsed : 0, hex);
    return true;
}

BOOL CReader::ReadReply(std::string& reply, uint32_t lines, DWORD timeout, BOOL divert)
{
    reply.clear();
    const DWORD start = GetTickCount();
    std::string line;
    bool overdue = false;
    while (KeepGoing()) {
        while (TakeReceivedLine(line)) {
            if (line.empty())
                continue;
            if (reply.empty() && divert) {
                std::wstring wide;
                AnsiToWide(wide, line.data(), static_cast<int>(line.size()));
                // Lines a reader prints by itself while a request waits belong to the key
                // handling, a departure as much as an arrival, so that none is lost. Bus readers
                // speak only when asked and have no present keys: there such lines are dropped.
                bool noCard;
                if (IsUnsolicitedLine(wide, noCard)) {
                    if (m_curAddress.load() == NO_BUS_ADDRESS)
                        DivertLine(line, noCard);
                    continue;
                }
            }
            reply += line;
            reply += "\r\n";
            if (--lines == 0)
                return TRUE;
        }
        if (!ReceiveUntilDue(start, timeout, overdue, FALSE))
            break;
        if (!reply.empty())
            timeout = 500;
    }
    SetError(PE_READ_TIMEOUT, nullptr);
    return FALSE;
}

void CReader::ReportError(uint32_t kind, HRESULT code, const std::wstring& text)
{
    SetError(code, text.c_str());
    std::shared_ptr<ReaderCommand> command;
    {
        CritSecLock lock(m_lock);
        if (m_cmdStatus == E_PENDING)
            command = m_cmd;
    }
    if (command)
        CompleteCommand(command, code);
    if (code == E_ABORT)
        return;
    if (kind == ERROR_KIND_PORT) {
        if (LogOn(IDS_LOG_PORT_ERROR))
            Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_PORT_ERROR, (unsigned)code, text.c_str());
        Disconnect(TRUE);
    } else if (kind == ERROR_KIND_SYSTEM) {
        if (LogOn(IDS_LOG_OS_ERROR))
            Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_OS_ERROR, (unsigned)code, text.c_str());
    } else {
        if (LogOn(IDS_LOG_ERROR))
            Sink()->Log(this, LOG_LEVEL_ERROR, IDS_LOG_ERROR, text.c_str());
    }
    if (m_sink)
        Sink()->OnDriverError(this, code, text);
    Sleep(100);
}

BOOL CReader::SetReaderSpeed(uint32_t speed)
{
    const uint32_t model = m_modelIndex;
    if (model == MODEL_UNKNOWN || !m_port)
        return FALSE;
    const uint32_t mask = AllowedSpeeds(model, m_firmwareVersion);
    if (!mask)
        return FALSE;
    int code = 0;
    if (speed == 0) {
        for (int i = 0; i < 6; ++i)
            if (mask >> i & 1)
                code = i;
    } else {
        while (!(mask >> code & 1))
            ++code;
        for (int i = code + 1; i < 6; ++i)
            if ((mask >> i & 1) && BaudRates[i] <= speed)
                code = i;
    }
    DWORD current = 0;
    BYTE stopBits = 0, eventChar = 0;
    HRESULT hr = m_port->GetParams(&current, &stopBits, &eventChar);
    if (FAILED(hr)) {
        SetError(hr, nullptr);
        return FALSE;
    }
    if (BaudRates[code] == current)
        return TRUE;
    if (mask != 0x01 && model != MODEL_PELTO) {
        // These readers change their rate on a framed command, which moves the port along. Its
        // reply is a frame whatever the mode: a text reader's line feed as event character
        // would leave it unseen until the request timed out on a system that wakes only on it.
        if (eventChar != 0 && !ApplyLineParams(current, stopBits, 0))
            return FALSE;
        if (!SetBinaryMode(m_protocol != PROTOCOL_BINARY, code))
            return FALSE;
        const BYTE spoken = ProtocolEventChar(m_protocol);
        if (spoken == 0)
            return TRUE;
        m_port->GetParams(&current, &stopBits, nullptr);
        return ApplyLineParams(current, stopBits, spoken);
    }
    return ConfigurePort(BaudRates[code], stopBits, eventChar);
}
