// The reader object's control operations: everything other threads call. Each takes the reader's
// lock briefly, stores values or raises change flags, and wakes the thread; none calls the sink.
#include "Reader.h"
#include "Exceptions.h"
#include "Messages.h"
#include "ReaderText.h"
#include "Settings.h"
#include <algorithm>
#include <set>

using namespace readertext;

namespace {

HANDLE CreateManualEvent()
{
    HANDLE h = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!h)
        ThrowOSException(GetLastError(), L"CreateEvent");
    return h;
}

} // namespace

namespace {

// The reader thread formats keys and calls the platform's ExternalEvent, whose stack needs are not
// ours to know, so it reserves what Windows gives a thread by default. Only a reservation: Windows
// commits the pages the thread really touches.
const SIZE_T ReaderStackReservation = 1024 * 1024;

// How long each look waits for a thread that has settled to end and only has to return.
const DWORD ExitCheckMs = 50;

// The sink of a reader whose owner has let it go: hears everything, passes nothing on.
class CNoReaderEvents final : public IReaderEvents
{
public:
    void OnTracksData(CReader*, uint32_t, const KeyData&, std::wstring&) override {}
    void OnNoCard(CReader*, uint32_t, const KeyData&, const std::wstring&) override {}
    void OnDriverError(CReader*, HRESULT, const std::wstring&) override {}
    void OnDeviceConnect(CReader*) override {}
    void OnDeviceDisconnect(CReader*) override {}
    void OnCommand(CReader*) override {}
    BOOL IsLogEnabled(CReader*, uint32_t) override { return FALSE; }
    void Log(CReader*, uint32_t, uint32_t, ...) override {}
};

CNoReaderEvents NoReaderEvents;

// Port names compared as the system compares them: without regard to case.
struct PortNameNoCase
{
    bool operator()(const std::wstring& a, const std::wstring& b) const
    {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                    TRUE) == CSTR_LESS_THAN;
    }
};

// The ports that readers left to end alone still hold (or are still opening), one entry a reader.
CCriticalSection& RetiredPortsLock()
{
    static CCriticalSection lock;
    return lock;
}

std::multiset<std::wstring, PortNameNoCase>& RetiredPorts()
{
    static std::multiset<std::wstring, PortNameNoCase> ports;
    return ports;
}

} // namespace

CReader::SinkCall::SinkCall(CSinkLink& link, const std::atomic<IReaderEvents*>& sink) : m_link(link)
{
    IReaderEvents* current = link.Enter(sink);
    m_inFlight = current != nullptr;
    m_sink = current ? current : &NoReaderEvents;
}

CReader::SinkCall::~SinkCall()
{
    if (m_inFlight)
        m_link.Leave();
}

CReader::CReader()
{
    SetStackReservation(ReaderStackReservation);
}

CReader::~CReader()
{
    Stop();
    if (m_holdsRetiredPort) {
        CritSecLock lock(RetiredPortsLock());
        auto held = RetiredPorts().find(m_portName);
        if (held != RetiredPorts().end())
            RetiredPorts().erase(held);
    }
}

void CReader::DetachSink()
{
    m_link->CutOff(m_sink);
}

bool CReader::PortHeldByRetired(const std::wstring& name)
{
    CritSecLock lock(RetiredPortsLock());
    return RetiredPorts().count(name) != 0;
}

bool CReader::Retire(std::unique_ptr<CReader> reader, DWORD timeoutMs)
{
    if (!reader)
        return true;
    if (reader->Started()) {
        reader->RequestStop();
        // On the reader's own thread the owner is inside one of the reader's sink calls, which
        // returns into the reader: the thread ends once it has. Elsewhere the thread may be inside a
        // call that has not returned (opening a port whose driver takes tens of seconds, an
        // operation the driver does not end, an event the platform holds). From here on the thread
        // is on its own: it owns the reader and deletes it when it ends.
        if (reader->OnOwnThread() || !reader->StopThread(timeoutMs)) {
            reader->DetachSink();
            {
                CritSecLock lock(RetiredPortsLock());
                RetiredPorts().insert(reader->m_portName);
                reader->m_holdsRetiredPort = true;
            }
            reader.release()->Abandon();
            return false;
        }
    }
    reader.reset(); // disconnects
    return true;
}

void CReader::Init(IReaderEvents* sink, const wchar_t* portName, std::shared_ptr<CSinkLink> link)
{
    if (link)
        m_link = std::move(link);
    m_sink = sink;
    m_portName = portName ? portName : L"";
    {
        CritSecLock lock(m_lock);
        m_changeFlags |= READER_CHANGE_LANGUAGE;
    }
    m_cancelEvent.Reset(CreateManualEvent());
    m_wakeEvent.Reset(CreateManualEvent());
    m_writeDoneEvent.Reset(CreateManualEvent());
    m_readDoneEvent.Reset(CreateManualEvent());
    m_commEvent.Reset(CreateManualEvent());
}

void CReader::SetConnection(BYTE stopBits, uint32_t flags, uint32_t model, uint32_t speed, BOOL notify)
{
    CritSecLock lock(m_lock);
    uint32_t changed = flags ^ m_conn.Flags;
    bool reconnect = stopBits != m_conn.StopBits
        || (m_modelIndex == 7 && (changed & SETTINGS_FLAG_WIEGAND))
        || (changed & SETTINGS_FLAG_BINARY)
        || model != m_conn.Model;
    if (reconnect)
        m_changeFlags |= READER_CHANGE_RECONNECT;
    if (speed != m_conn.Speed)
        m_changeFlags |= READER_CHANGE_SPEED;
    m_changeFlags |= READER_CHANGE_LANGUAGE;
    m_conn.StopBits = stopBits;
    m_conn.Flags = flags;
    m_conn.Model = model;
    m_conn.Speed = speed;
    if (notify) {
        if (reconnect && m_cancelEvent)
            SetEvent(m_cancelEvent.Get());
        if (m_wakeEvent)
            SetEvent(m_wakeEvent.Get());
    }
}

void CReader::SetTimings(DWORD connectTimeout, DWORD connectPeriod, DWORD rxPeriod, DWORD reqTimeout,
                         int32_t reqTries)
{
    CritSecLock lock(m_lock);
    m_conn.ConnectTimeout = connectTimeout;
    m_conn.ConnectPeriod = connectPeriod;
    m_conn.RxPeriod = rxPeriod;
    m_conn.ReqTimeout = reqTimeout;
    m_conn.ReqTries = reqTries;
}

void CReader::AddAddress(int32_t address)
{
    CritSecLock lock(m_lock);
    m_addressList.push_back(address);
    m_changeFlags |= READER_CHANGE_ADDRESSES;
    if (m_wakeEvent)
        SetEvent(m_wakeEvent.Get());
}

void CReader::RemoveAddress(int32_t address)
{
    CritSecLock lock(m_lock);
    auto it = std::find(m_addressList.begin(), m_addressList.end(), address);
    if (it == m_addressList.end())
        return;
    m_addressList.erase(it);
    m_changeFlags |= READER_CHANGE_ADDRESSES;
    if (m_wakeEvent)
        SetEvent(m_wakeEvent.Get());
}

int32_t CReader::GetState(int32_t address)
{
    if (address == NO_BUS_ADDRESS)
        return static_cast<int32_t>(m_state.load());
    CritSecLock lock(m_lock);
    auto rec = m_addresses.find(address);
    if (rec != m_addresses.end())
        return static_cast<int32_t>(rec->second.State);
    if (std::find(m_addressList.begin(), m_addressList.end(), address) != m_addressList.end())
        return READER_STATE_DISCONNECTED;
    return READER_STATE_UNKNOWN;
}

void CReader::Reconnect(int32_t address)
{
    CritSecLock lock(m_lock);
    if (address == NO_BUS_ADDRESS) {
        m_changeFlags |= READER_CHANGE_RECONNECT;
        if (m_cancelEvent)
            SetEvent(m_cancelEvent.Get());
    } else {
        auto rec = m_addresses.find(address);
        if (rec == m_addresses.end())
            return;
        rec->second.ChangeRequest |= 1;
        m_changeFlags |= READER_CHANGE_ADDRESS_RECONNECT;
    }
    if (m_wakeEvent)
        SetEvent(m_wakeEvent.Get());
}

void CReader::RequestStop()
{
    SetRunning(false);
    if (m_cancelEvent)
        SetEvent(m_cancelEvent.Get());
    if (m_wakeEvent)
        SetEvent(m_wakeEvent.Get());
}

void CReader::Stop()
{
    if (Started()) {
        RequestStop();
        StopThread();
    }
    if (m_port)
        Disconnect(FALSE);
}

void CReader::GetLastKey(int32_t address, int32_t index, uint32_t& keyType, KeyData& key,
                         std::wstring& text)
{
    keyType = 0;
    key.Clear();
    text.clear();
    CritSecLock lock(m_lock);
    if (address == NO_BUS_ADDRESS) {
        if (index < 0 || static_cast<size_t>(index) >= m_keys.size())
            return;
        const KeyEntry& e = m_keys[index];
        keyType = e.KeyType;
        if (e.DataStatus == KEY_DATA_NONE)
            key = e.Uid;
        else if (e.DataStatus == KEY_DATA_READ)
            key = e.Data;
        text = e.Text;
        return;
    }
    if (index != 0)
        return;
    auto rec = m_addresses.find(address);
    if (rec == m_addresses.end())
        return;
    keyType = rec->second.LastKeyType;
    key = rec->second.LastKey;
    text = rec->second.LastKeyText;
}

void CReader::SetError(HRESULT code, const wchar_t* text)
{
    std::wstring t;
    if (text) {
        t = text;
        TrimLineEnd(t);
    } else {
        t = ErrorLine(code);
    }
    CritSecLock lock(m_lock);
    m_lastError = code;
    m_lastErrorText = t;
    if (m_addresses.empty())
        return;
    int32_t current = m_curAddress.load();
    if (current != NO_BUS_ADDRESS) {
        auto rec = m_addresses.find(current);
        if (rec != m_addresses.end()) {
            rec->second.LastError = code;
            rec->second.LastErrorText = t;
        }
        return;
    }
    for (auto& entry : m_addresses) {
        entry.second.LastError = code;
        entry.second.LastErrorText = t;
    }
}

bool CReader::StopStands()
{
    CritSecLock lock(m_lock);
    if (Running())
        return false;
    m_runEnds = true;
    return true;
}

bool CReader::StopForTest(DWORD timeoutMs)
{
    if (!Started())
        return true;
    // Asked from inside one of the reader's own sink calls: the thread cannot stop under it.
    if (OnOwnThread())
        return false;
    RequestStop();
    if (StopThread(timeoutMs))
        return true;
    {
        CritSecLock lock(m_lock);
        if (!m_runEnds) {
            // Still inside the call: the thread sees the stop taken back when it comes out, or at
            // its last look before it would end. The cancel event set for the stop ends whatever
            // it was doing; the reconnection asked for here clears that event and connects anew.
            SetRunning(true);
            m_changeFlags |= READER_CHANGE_RECONNECT;
            SetEvent(m_wakeEvent.Get());
            return false;
        }
    }
    // The thread came out just in time and has settled to end: nothing that can block is left
    // between that and the end of Run.
    while (!StopThread(ExitCheckMs)) {
    }
    return true;
}

BOOL CReader::IdentifyNow(int32_t address, BYTE stopBits, uint32_t model, DWORD connectTimeout,
                          DWORD rxPeriod, DWORD reqTimeout, int32_t reqTries, std::wstring& infoText)
{
    if (Started()) {
        // The cancel event also ends a port wait in progress; it is cleared again before the
        // identification below uses the port.
        RequestStop();
        StopThread();
    }
    if (m_cancelEvent)
        ResetEvent(m_cancelEvent.Get());
    {
        CritSecLock lock(m_lock);
        m_changeFlags |= READER_CHANGE_RECONNECT;
    }
    m_state = READER_STATE_DISCONNECTED;
    m_curAddress = address;
    m_cfg.StopBits = stopBits;
    m_cfg.Model = model;
    m_cfg.ConnectTimeout = connectTimeout;
    m_cfg.RxPeriod = rxPeriod;
    m_cfg.ReqTimeout = reqTimeout;
    m_cfg.ReqTries = reqTries;
    BOOL ok = FALSE;
    try {
        ok = OpenAndIdentify(m_portName, stopBits, model, connectTimeout, rxPeriod, reqTimeout,
                             reqTries, infoText);
    } catch (const CZPortException& e) {
        SetError(e.Code(), ExceptionLine(e).c_str());
    } catch (const std::exception& e) {
        SetError(E_FAIL, ExceptionLine(e).c_str());
    }
    m_curAddress = NO_BUS_ADDRESS;
    return ok;
}

bool CReader::GetLastError(int32_t address, HRESULT& code, std::wstring& text)
{
    CritSecLock lock(m_lock);
    if (address == NO_BUS_ADDRESS) {
        code = m_lastError;
        text = m_lastErrorText;
        return true;
    }
    auto rec = m_addresses.find(address);
    if (rec == m_addresses.end()) {
        code = S_OK;
        text.clear();
        return false;
    }
    code = rec->second.LastError;
    text = rec->second.LastErrorText;
    return true;
}

bool CReader::GetReaderInfo(int32_t address, uint32_t& model, uint32_t& serialNumber,
                            uint32_t& firmwareVersion, std::wstring& infoText)
{
    CritSecLock lock(m_lock);
    if (address == NO_BUS_ADDRESS) {
        model = m_modelIndex;
        serialNumber = m_serialNumber;
        firmwareVersion = m_firmwareVersion;
        infoText = m_infoText;
        return true;
    }
    auto rec = m_addresses.find(address);
    if (rec == m_addresses.end()) {
        model = serialNumber = firmwareVersion = 0;
        infoText.clear();
        return false;
    }
    model = rec->second.Model;
    serialNumber = static_cast<uint32_t>(rec->second.SerialNumber);
    firmwareVersion = rec->second.FirmwareVersion;
    infoText = rec->second.InfoText;
    return true;
}

int32_t CReader::PresentKeyCount()
{
    CritSecLock lock(m_lock);
    return static_cast<int32_t>(m_keys.size());
}

void CReader::PlaceCommand(std::shared_ptr<ReaderCommand> command)
{
    CritSecLock lock(m_lock);
    // The record replaced here, pending or not, is no longer the slot's: its executor stops at its
    // next check without completing it, and its late completion is refused.
    if (command)
        command->Progress = 0;
    m_cmd = std::move(command);
    m_cmdStatus = m_cmd ? E_PENDING : S_OK;
    if (m_wakeEvent)
        SetEvent(m_wakeEvent.Get());
}

void CReader::BreakCommand()
{
    CritSecLock lock(m_lock);
    m_cmdStatus = E_ABORT;
}

HRESULT CReader::GetCommandStatus()
{
    CritSecLock lock(m_lock);
    return m_cmdStatus;
}

std::shared_ptr<ReaderCommand> CReader::GetCommand()
{
    CritSecLock lock(m_lock);
    return m_cmd;
}
