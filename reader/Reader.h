// The reader object: one per port, owning one worker thread that does all traffic on that port
// (connecting, identifying, polling in the reader's protocol, keeping the connection alive) and
// reports through IReaderEvents. Other threads talk to it only through the control operations,
// which set fields under the reader's lock, raise change flags and wake the thread.
//
// Rules a reader of this code must not break:
// - The sink is never called while the reader's lock is held.
// - Port traffic, key reporting and command execution happen only on the reader's thread (or, for
//   IdentifyNow, on the caller's thread after the reader's thread has been stopped).
// - Fields that other threads read are written under the lock or are atomic; the thread works on
//   its own copy of the connection values, taken under the lock at the top of every pass.
// - Every sink call goes through Sink(), which passes it through the owner's sink link
//   (SinkLink.h) and holds no lock while it runs: the owner may call back into the reader from
//   inside a call, even close it. A reader whose owner lets it go (Retire) is cut off at the link,
//   so no call the thread starts afterwards reaches the owner; the call in flight then goes on.
#pragma once
#include "TrafficLogBudget.h"
#include "Handles.h"
#include "KeyData.h"
#include "Lock.h"
#include "PollSilence.h"
#include "ReadKeys.h"
#include "ReaderEvents.h"
#include "SinkLink.h"
#include "Thread.h"
#include "ZPort.h"
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Connection state of a reader or of one bus address (also the device status the component
// reports; 0 is "unknown device").
enum ReaderState : uint32_t
{
    READER_STATE_UNKNOWN = 0,
    READER_STATE_DISCONNECTED = 1,
    READER_STATE_CONNECTING = 2,
    READER_STATE_CONNECTED = 3,
};

// The protocol a connected reader is served in; chosen at connection by model and settings.
enum ProtocolClass : uint32_t
{
    PROTOCOL_NONE = 0, // not connected yet
    PROTOCOL_TEXT = 1,
    PROTOCOL_BINARY = 2,
    PROTOCOL_PELTO = 3,
    PROTOCOL_BUS = 4,
};

// The event character that the port wakes its reader on while `protocol` is spoken on the line:
// the line feed of text lines (also while nothing is connected: identification is text), the
// frame start of the Pelto protocol, none for binary frames, which hold any byte value.
BYTE ProtocolEventChar(uint32_t protocol);

const DWORD READER_PERIOD_NEVER = 0xFFFFFFFF; // a period that never elapses; a wait without limit
const int32_t NO_BUS_ADDRESS = -1;

// Change flags: raised by the control operations, consumed whole by the thread.
const uint32_t READER_CHANGE_RECONNECT = 0x01;
const uint32_t READER_CHANGE_SPEED = 0x02;
const uint32_t READER_CHANGE_LANGUAGE = 0x04;
const uint32_t READER_CHANGE_ADDRESSES = 0x08;
const uint32_t READER_CHANGE_ADDRESS_RECONNECT = 0x10;

// Internal flags of the thread.
const uint32_t READER_FLAG_MODEL_UNSUPPORTED = 0x01;  // no periodic reconnection while set
const uint32_t READER_FLAG_NO_CORRECTION = 0x20;      // the CorrectVM100 setting is off
const uint32_t READER_FLAG_UNRECOGNIZED_SEEN = 0x40;  // an unrecognised line was reported (once a life)
const uint32_t READER_FLAG_RECONNECT_DUE = 0x80;
const uint32_t READER_FLAG_DATA_READY = 0x100;        // a port event fired; received data waits
const uint32_t READER_FLAG_SIGNAL_TIMER = 0x400;      // the idle-indication timer runs
const uint32_t READER_FLAG_RESYNC = 0x800;            // the port's baud rate changed

// Flags of an AddressRec.
const uint32_t ADDRESS_MODEL_UNSUPPORTED = 0x01;
const uint32_t ADDRESS_RECONNECT_DUE = 0x80;
const uint32_t ADDRESS_MARK = 0x200; // only while the address map is rebuilt
const uint32_t ADDRESS_LOST = 0x400; // stopped answering while connected: retried every period

// One polled bus address. Fields the owner reads (state, identification, last error, last key)
// are written under the reader's lock.
struct AddressRec
{
    uint32_t Model = 0;
    int32_t SerialNumber = -1;
    uint32_t FirmwareVersion = 0;
    std::wstring InfoText;
    uint32_t State = READER_STATE_DISCONNECTED;
    DWORD LastAttempt = 0; // tick of the last identification attempt or poll
    uint32_t Flags = ADDRESS_RECONNECT_DUE;
    uint32_t ChangeRequest = 0; // bit 0: reconnect
    HRESULT LastError = S_OK;
    std::wstring LastErrorText;
    uint32_t LastKeyType = 0;
    KeyData LastKey;
    std::wstring LastKeyText;
    CPollSilence Silence; // the thread's own
};

// A count that the reader thread raises while the owner may read it; reads as a plain u32.
class CommandProgress
{
public:
    CommandProgress() = default;
    CommandProgress(const CommandProgress&) = delete;
    CommandProgress& operator=(const CommandProgress&) = delete;
    operator uint32_t() const { return m_value.load(); }
    uint32_t load() const { return m_value.load(); }
    CommandProgress& operator=(uint32_t value)
    {
        m_value.store(value);
        return *this;
    }
    CommandProgress& operator+=(uint32_t steps)
    {
        m_value.fetch_add(steps);
        return *this;
    }

private:
    std::atomic<uint32_t> m_value{0};
};

// Header of a command placed in the reader's single command slot; the command kinds derive from
// it (CommandSlot.h). Code: 1 ReadMifareUL, 2 WriteMifareUL, 3 ReadMifareC, 4 WriteMifareC,
// 5 Signal.
struct ReaderCommand
{
    uint32_t Code = 0;
    CommandProgress Progress; // pages or blocks done so far
    uint32_t Total = 0;
    virtual ~ReaderCommand() = default;
};

struct ReaderCommandSnapshot; // CommandSlot.h

class CReader : public CThread
{
public:
    CReader();
    ~CReader() override;

    // --- Control operations (owner's threads) ---------------------------------------------

    // Stores the sink and the port name and creates the events. Call once, before Start. An owner
    // that lets readers go while their calls may be in flight passes the link of all its readers;
    // without one the reader has a link of its own. Throws COSException ("CreateEvent").
    void Init(IReaderEvents* sink, const wchar_t* portName, std::shared_ptr<CSinkLink> link = nullptr);
    // Stop bits (0 one, 1 one and a half, 2 two), connection flags (SETTINGS_FLAG_*), configured
    // model (0 = Auto) and speed (0 = the highest the model allows). With notify the thread is woken,
    // and a pending port wait is aborted when the change needs a reconnection.
    void SetConnection(BYTE stopBits, uint32_t flags, uint32_t model, uint32_t speed, BOOL notify);
    // The timing values, in ms (READER_PERIOD_NEVER: never / no limit); taken at the next pass.
    void SetTimings(DWORD connectTimeout, DWORD connectPeriod, DWORD rxPeriod, DWORD reqTimeout,
                    int32_t reqTries);
    void AddAddress(int32_t address);
    void RemoveAddress(int32_t address);
    // The reader's state for NO_BUS_ADDRESS, else the address's: 1 when added but not yet taken
    // over by the thread, 0 when unknown.
    int32_t GetState(int32_t address);
    // Reconnects the reader (NO_BUS_ADDRESS) or identifies one known bus address again; also the
    // way to make a started reader connect at once.
    void Reconnect(int32_t address);
    // Asks the thread to stop and wakes it, without waiting (for stopping many readers at once;
    // follow with Stop).
    void RequestStop();
    // Stops the thread, waits for it and disconnects. Safe to call again; never from a sink call
    // (that runs on the reader's own thread: Retire is the way from there).
    void Stop();
    // Stops the thread and deletes the reader, waiting for the thread at most `timeoutMs` (the
    // owner's thread is the platform's: it must not hang on a driver that does not return, nor on
    // a sink call the platform holds). A thread still inside a call by then, or the caller's own
    // thread (an owner that closes the reader from inside one of its sink calls), is left to end
    // alone: the reader is cut off from its sink at once, without waiting for the call in flight,
    // its port counts as busy for every other reader until the thread has let go of it, and the
    // thread deletes the reader when it ends. True when the thread ended in time.
    static bool Retire(std::unique_ptr<CReader> reader, DWORD timeoutMs);
    // The read-keys settings this reader follows, live (before Start). Without one it follows the
    // process-wide block (CurrentReadKeys). Shared, so that a thread left to end alone never reads
    // freed settings.
    void SetReadKeys(std::shared_ptr<const ReadKeysBlock> block) { m_readKeys = std::move(block); }
    // A present key (NO_BUS_ADDRESS and an index into the present-key list) or a bus address's
    // last key (index 0). Key type 0, an empty key and an empty text when there is none.
    void GetLastKey(int32_t address, int32_t index, uint32_t& keyType, KeyData& key,
                    std::wstring& text);
    // Records the last error: the text, or the code's own text when text is null; copied into the
    // current bus address's record (or every record when no address is current).
    void SetError(HRESULT code, const wchar_t* text);
    // Stops the thread for the device test, waiting for it at most `timeoutMs`. A thread still
    // inside a system call by then (a driver that takes tens of seconds over an open) is told to go
    // on instead, as if no stop had been asked for: it keeps its port and connects again once the
    // call returns, and the reader stays as it was; so does a reader asked on its own thread (from
    // inside one of its sink calls). True when the thread has stopped (or none ran).
    bool StopForTest(DWORD timeoutMs);
    // The device test: stops the thread (without limit: the owner that must not hang calls
    // StopForTest first), then opens the port and identifies the reader (or the bus address) on the
    // calling thread. The port stays open. False with the last error set.
    BOOL IdentifyNow(int32_t address, BYTE stopBits, uint32_t model, DWORD connectTimeout,
                     DWORD rxPeriod, DWORD reqTimeout, int32_t reqTries, std::wstring& infoText);

    // --- Reads for the owner (any thread; safe during sink calls) ---------------------------

    const std::wstring& PortName() const { return m_portName; }
    // The bus address being served now, NO_BUS_ADDRESS when none.
    int32_t CurrentAddress() const { return m_curAddress.load(); }
    // The reader's last error (NO_BUS_ADDRESS) or the address record's; false for an address
    // without a record.
    bool GetLastError(int32_t address, HRESULT& code, std::wstring& text);
    // Model index, serial number, firmware version and identification text of the reader or of
    // an address record; false (zeros, empty text) for an address without a record.
    bool GetReaderInfo(int32_t address, uint32_t& model, uint32_t& serialNumber,
                       uint32_t& firmwareVersion, std::wstring& infoText);
    int32_t PresentKeyCount();
    // Whether a reader left to end alone (Retire) still holds, or is still opening, the port of
    // this name (compared without regard to case).
    static bool PortHeldByRetired(const std::wstring& name);

    // --- Command slot (the records are in CommandSlot.h) -----------------------------------

    struct _CMD_MUL_INFO;  // Ultralight pages (codes 1 and 2)
    struct _CMD_MC_INFO;   // Mifare Classic blocks (codes 3 and 4)
    struct _CMD_SIGN_INFO; // signal pattern (code 5)

    // Places a command (progress 0, status E_PENDING) and wakes the thread. A command still
    // pending is ended as by BreakCommand: its executor stops without completing it.
    void PlaceCommand(std::shared_ptr<ReaderCommand> command);
    // Ends a pending command with E_ABORT; no event is raised.
    void BreakCommand();
    HRESULT GetCommandStatus();
    std::shared_ptr<ReaderCommand> GetCommand();
    // Status, header, data and answer word of the slot's record, copied in one locked step (the
    // reader thread appends data while a command runs).
    void GetCommandSnapshot(ReaderCommandSnapshot& out);

protected:
    DWORD Run() override;

private:
    // Connection values as the control operations store them; the thread works on a copy.
    struct ConnValues
    {
        BYTE StopBits = 0;
        uint32_t Speed = 0;
        uint32_t Flags = 0;
        uint32_t Model = 0;
        DWORD ConnectTimeout = 10000;
        DWORD ConnectPeriod = 3000;
        DWORD RxPeriod = READER_PERIOD_NEVER;
        DWORD ReqTimeout = 3000;
        int32_t ReqTries = 2;
    };

    struct PortReleaser
    {
        void operator()(CZPort* port) const { port->Release(); }
    };
    using PortPtr = std::unique_ptr<CZPort, PortReleaser>;

    // Kinds of errors caught on the thread.
    enum ErrorKind : uint32_t
    {
        ERROR_KIND_OTHER = 1,
        ERROR_KIND_SYSTEM = 2,
        ERROR_KIND_PORT = 3,
    };

    // --- Thread: run loop and connection (ReaderThread.cpp) ---
    void CopySettings();
    void ApplyChanges();
    void SyncAddressList();
    void ServeProtocol(DWORD& wait);
    void WaitEvents(DWORD wait);
    BOOL Connect();
    BOOL SetupProtocol(bool bus);
    void Disconnect(BOOL afterError);
    void DisconnectQuiet();
    void LeaveFramedMode();
    // Ends the connection of a reader whose polls time out, as a port failure would.
    void LoseSilentReader();
    void LoseSilentAddress(AddressRec& rec);
    bool LastRequestTimedOut();
    BOOL OpenAndIdentify(const std::wstring& portName, BYTE stopBits, uint32_t model,
                         DWORD connectTimeout, DWORD rxPeriod, DWORD reqTimeout, int32_t reqTries,
                         std::wstring& infoText);
    BOOL UnsupportedModel(uint16_t code);
    // Identifies in text; a Mifare reader that a lost link left in binary mode, and which so
    // ignores the text request, is switched back to text first and asked once more.
    BOOL IdentifyInEitherMode(bool mayBeBinary, uint16_t& code, uint32_t& serial, uint32_t& version,
                              DWORD reqTimeout, int32_t reqTries, std::wstring& infoText);

    // --- Thread: port access (ReaderPort.cpp) ---
    // One line for received bytes the log budget left out, when there were any.
    void LogOmittedTraffic(uint32_t omitted, DWORD spanMs);
    BOOL OpenPort(const std::wstring& name, DWORD baud, BYTE stopBits, DWORD openTimeout,
                  DWORD waitSlice);
    // Sets the open port's line parameters and logs the outcome (146 or 147).
    BOOL ApplyLineParams(DWORD baud, BYTE stopBits, BYTE eventChar);
    BOOL EnsurePortOpen(const std::wstring& name, DWORD baud, BYTE stopBits, DWORD openTimeout,
                        DWORD waitSlice);
    BOOL ConfigurePort(DWORD baud, BYTE stopBits, BYTE eventChar);
    // Logs how a network converter passes 0xFF: at the connection (even while it is not known
    // yet) and afterwards whenever the converter shows it anew. Nothing for a serial port.
    void LogConverterWay(bool atConnection);
    void ClosePort();
    size_t Receive(DWORD count, DWORD timeout, BOOL hex);
    void Send(const void* data, DWORD length, DWORD timeout, BOOL hex);
    void Send(const std::string& data, DWORD timeout) { Send(data.data(), (DWORD)data.size(), timeout, FALSE); }
    DWORD InQueue();
    // One wait for more of a reply that is due `timeout` ms after `start`. False once that time is
    // up and what arrived in time has been taken in once more: a device that never stops sending
    // must not keep a request from ending.
    bool ReceiveUntilDue(DWORD start, DWORD timeout, bool& overdue, BOOL hex);
    // Moves what the port holds now into the receive buffer, without waiting.
    void TakeQueuedInput();
    BOOL ReadReply(std::string& reply, uint32_t lines, DWORD timeout, BOOL divert);
    // Takes the next complete line out of the receive buffer (as TakeLine). Bytes that run past
    // MaxLineLength without a line feed are no reader's line: they are dropped up to the next
    // line feed, with one log line, and `dropped` (when given) is set.
    bool TakeReceivedLine(std::string& line, bool* dropped = nullptr);
    void ReportError(uint32_t kind, HRESULT code, const std::wstring& text);
    BOOL SetReaderSpeed(uint32_t speed);
    bool KeepGoing() const { return Running() || !Started(); }

    // One sink call, in flight at the link for its lifetime (see the rules above); a reader cut
    // off from its sink calls a sink that does nothing.
    class SinkCall
    {
    public:
        SinkCall(CSinkLink& link, const std::atomic<IReaderEvents*>& sink);
        ~SinkCall();
        SinkCall(const SinkCall&) = delete;
        SinkCall& operator=(const SinkCall&) = delete;
        IReaderEvents* operator->() const { return m_sink; }

    private:
        CSinkLink& m_link;
        IReaderEvents* m_sink;
        bool m_inFlight;
    };
    SinkCall Sink() { return SinkCall(*m_link, m_sink); }
    // Cuts the reader off from its sink. Never waits: a call in flight goes on.
    void DetachSink();
    // The thread's last look before Run returns on a stop: false when the stop was taken back
    // meanwhile (StopForTest), and the thread goes on.
    bool StopStands();
    const ReadKeysBlock& ReadKeys() const { return m_readKeys ? *m_readKeys : CurrentReadKeys(); }

    bool LogOn(uint32_t messageId);
    static const wchar_t* StopBitsText(BYTE stopBits);
    // The baud rate of a speed code 0-5 (9600 ... 230400).
    static DWORD SpeedCodeBaud(uint32_t code);

    // --- Text protocol (TextProtocol.cpp) ---
    BOOL Identify(uint16_t& deviceCode, uint32_t& serialNumber, uint32_t& firmwareVersion,
                  DWORD timeout, int32_t tries, std::wstring* replyText);
    // Appends identification lines to text, which holds the line with "S/N:", up to the one that
    // names the version or the build, within the bounds of one try of a request sent at sentAt.
    // S_OK, PE_READ_TIMEOUT, or PE_BAD_REPLY for a text beyond any reader's.
    HRESULT ReadIdentificationRest(std::string& text, DWORD sentAt, DWORD timeout);
    BOOL SetOutputFormat(const char* format);
    BOOL SetOutputArgs(const char* args);
    BOOL SetNoCardText();
    BOOL SetupRequest(const std::string& request);
    BOOL ReadCardText(uint32_t& keyType, KeyData& key);
    BOOL ReadPage(uint32_t page, uint8_t data[16]);
    BOOL RequestPages(uint32_t page, uint8_t data[16]);
    BOOL WritePage(uint32_t page, const uint8_t data[4]);
    BOOL RequestPageWrite(uint32_t page, const uint8_t data[4]);
    // "No card" (noCard set) or a line that decodes as a key line.
    bool IsUnsolicitedLine(const std::wstring& line, bool& noCard);
    // A key line or departure the reader printed while a request waits: kept for later, or a
    // departure of the last connection's key reported at once.
    void DivertLine(const std::string& line, bool noCard);
    // Before a request: keeps the complete key lines and departures received so far for later
    // and drops the other complete lines (stale replies); a partial line stays.
    void HoldReceivedLines();
    // Puts the kept lines back in front of the receive buffer, once the reader is connected.
    void ReleaseHeldLines();
    void PollText();
    void ParseTextLines();
    BOOL ParseKeyLine(const std::wstring& line);
    void ReadUltralightData(KeyEntry& entry);
    void ReportKey(const KeyEntry& entry, BOOL notify, BOOL force);
    void ReportUnrecognized();
    void SetupText();

    // --- Bus protocol (BusProtocol.cpp) ---
    BOOL IdentifyAt(int32_t address, uint16_t& modelCode, uint32_t& serialNumber,
                    uint32_t& firmwareVersion, DWORD reqTimeout, int32_t reqTries,
                    std::wstring& infoText);
    BOOL ReadKeyAt(int32_t address, uint32_t& keyType, KeyData& key);
    // One identification request and the hunt for its reply: the identification of `address`
    // (whose serial number must be `expectedSerial` unless that is negative, and must then not be
    // another address's). Every line before it is dropped and logged. S_OK settles the line, and
    // so does S_FALSE: an identification of its own that does not parse (only without an expected
    // serial number). Otherwise the line stays unsettled: PE_READ_TIMEOUT, or the failure of
    // reading the identification whole.
    HRESULT ExchangeIdentification(int32_t address, int32_t expectedSerial, DWORD reqTimeout, std::string& text);
    bool SerialOfAnotherAddress(int32_t address, uint32_t serial) const;
    // Discards what is on the bus line: before a request, logging it with what was dropped since
    // the last request; between polls, keeping it for that log line.
    void DropStaleBusInput(bool logNow = true);
    void LogDiscarded(const std::string& bytes);
    BOOL ConnectAddress(int32_t address, AddressRec& rec);
    void PollAddress(BOOL initial, AddressRec& rec);
    void PollAddresses(DWORD& wait);

    // --- Binary protocol (BinaryProtocol.cpp) ---
    BOOL BinaryRequest(uint8_t command, const uint8_t* data, int32_t length, uint32_t& status,
                       std::string* answer = nullptr);
    BOOL ReceiveBinaryFrame(std::string& payload, uint8_t command, DWORD timeout);
    BOOL SetBinaryMode(BOOL text, int32_t speedCode);
    BOOL BinarySignal(uint8_t code, uint8_t parameter, uint8_t* answer = nullptr);
    BOOL BinaryAuthenticate(uint8_t block, BOOL keyB, uint64_t key);
    BOOL BinaryAuthenticateStored(uint8_t block, BOOL keyB, uint32_t selector,
                                  uint32_t* answer = nullptr);
    BOOL BinaryReadBlock(uint8_t block, uint8_t data[16]);
    BOOL BinaryWriteBlock(uint8_t block, const uint8_t data[16]);
    BOOL BinaryWriteUlPage(uint8_t page, const uint8_t data[4]);
    BOOL BinarySelectCard(BOOL flag, uint32_t& keyType, KeyData& uid);
    BOOL BinaryStatusError(uint32_t status, uint32_t noKeyStatus);
    // The polls return false when the reader did not answer one of their requests in time.
    bool PollBinary(BOOL initial);
    void ReadBinaryCardData(KeyEntry& entry);
    void BinaryIndication(bool arrived);
    void SendIdleIndication();

    // --- Pelto protocol (PeltoProtocol.cpp) ---
    BOOL PeltoRequest(uint8_t command, const uint8_t* data, int32_t length, BOOL& success,
                      std::string* answer = nullptr);
    BOOL PeltoReceiveFrame(std::string& payload, uint8_t command, DWORD timeout);
    BOOL PeltoControl(uint8_t first, uint8_t second);
    BOOL PeltoReadKey(KeyData& emMarine, KeyData& temic);
    bool PollPelto(BOOL initial);

    // --- Present keys of the framed protocols (PresentKeys.cpp) ---
    // Index of the first of the first `limit` entries (all when negative) with this key type
    // and UID, or -1.
    static int32_t FindPresentKey(const std::vector<KeyEntry>& keys, uint32_t keyType,
                                  const KeyData& uid, int32_t limit = -1);
    // Reports what arrived and what left since the last poll and updates the present-key list;
    // true when a key arrived.
    bool ReportKeyChanges(const std::vector<KeyEntry>& taken);

    // --- Command slot (ReaderCommand.cpp, CardCommands.cpp, SignalCommand.cpp) ---
    void RunCommand();
    void CompleteCommand(const std::shared_ptr<ReaderCommand>& command, HRESULT code);
    void CompleteWithLastError(const std::shared_ptr<ReaderCommand>& command);
    bool CommandCurrent(const std::shared_ptr<ReaderCommand>& command);
    void AddCommandProgress(const std::shared_ptr<ReaderCommand>& command,
                            std::vector<uint8_t>* data, const uint8_t* bytes, size_t count,
                            uint32_t steps);
    HRESULT LastErrorCode();
    bool BinaryCommandModel() const;
    bool BeginBinaryCardCommand(const std::shared_ptr<ReaderCommand>& command, uint32_t& keyType);
    void EndBinaryCardCommand(const std::shared_ptr<ReaderCommand>& command);
    // BeginBinaryCardCommand for an Ultralight command: another card ends it with PE_NO_KEY.
    bool BeginBinaryULCommand(const std::shared_ptr<ReaderCommand>& command);
    // An Ultralight read's page range checked (else the command ends with E_INVALIDARG) and its
    // data emptied; false when the command has ended.
    bool StartULRead(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec);
    // The pages of an Ultralight command, read four at a time into rec.PageData or written one at
    // a time from it, over the binary protocol or the text one. False when the command ended on the
    // way: completed with the failure, or no longer the slot's.
    bool ReadULPages(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec, bool binary);
    bool WriteULPages(const std::shared_ptr<ReaderCommand>& command, const _CMD_MUL_INFO& rec, size_t pages,
                      bool binary);
    void ReadMifareULText(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec);
    void ReadMifareULBinary(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec);
    void WriteMifareUL(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec);
    void WriteMifareULBinary(const std::shared_ptr<ReaderCommand>& command, _CMD_MUL_INFO& rec);
    void AccessMifareC(const std::shared_ptr<ReaderCommand>& command, _CMD_MC_INFO& rec, bool write);
    void ReadMifareC(const std::shared_ptr<ReaderCommand>& command, _CMD_MC_INFO& rec)
    {
        AccessMifareC(command, rec, false);
    }
    void WriteMifareC(const std::shared_ptr<ReaderCommand>& command, _CMD_MC_INFO& rec)
    {
        AccessMifareC(command, rec, true);
    }
    void Signal(const std::shared_ptr<ReaderCommand>& command, _CMD_SIGN_INFO& rec);

    std::wstring m_portName;
    std::atomic<IReaderEvents*> m_sink{nullptr}; // after Init, emptied only through the link
    std::shared_ptr<CSinkLink> m_link = std::make_shared<CSinkLink>();
    std::shared_ptr<const ReadKeysBlock> m_readKeys;
    std::atomic<bool> m_holdsRetiredPort{false}; // left to end alone with its port open (or being opened)
    bool m_runEnds = false; // under the lock: Run has settled to return, a stop can no longer be taken back

    CHandle m_cancelEvent;
    CHandle m_wakeEvent;
    CHandle m_writeDoneEvent;
    CHandle m_readDoneEvent;
    CHandle m_commEvent;
    CCriticalSection m_lock;

    // Under the lock.
    ConnValues m_conn;
    uint32_t m_changeFlags = 0;
    std::map<int32_t, AddressRec> m_addresses; // changed only by the thread, under the lock
    std::vector<int32_t> m_addressList;
    uint32_t m_modelIndex = 0;        // written by the thread under the lock
    uint32_t m_serialNumber = 0;
    uint32_t m_firmwareVersion = 0;
    std::wstring m_infoText;
    HRESULT m_cmdStatus = S_OK;
    std::shared_ptr<ReaderCommand> m_cmd;
    std::vector<KeyEntry> m_keys; // present keys, in order of arrival
    HRESULT m_lastError = S_OK;
    std::wstring m_lastErrorText;

    // Read by other threads without the lock.
    std::atomic<uint32_t> m_state{READER_STATE_DISCONNECTED};
    std::atomic<int32_t> m_curAddress{NO_BUS_ADDRESS};

    // The thread's own.
    ConnValues m_cfg;
    const DWORD m_pollPeriod = 333;
    DWORD m_lastConnectAttempt = 0;
    std::string m_rx; // received and not yet consumed
    bool m_droppingLine = false;  // the rest of an over-long line is being dropped
    ConverterWay m_loggedWay = ConverterWay::None;  // as last logged on this connection (None: not yet)
    CTrafficLogBudget m_rxLogBudget;  // received bytes that may still go into the log
    // Key lines and departures (each ended by "\n") that came while a request waited for its
    // reply or while the connection was being made; handled, in order, once that is over.
    std::string m_heldLines;
    DWORD m_lastTextPoll = 0;
    uint32_t m_protocol = PROTOCOL_NONE;
    uint32_t m_flags = 0; // READER_FLAG_*
    uint32_t m_linkModel = 0;    // the model the open connection was set up for (0: none)
    uint32_t m_unknownCodeRuns = 0;  // identifications in a row that named an unknown device code
    uint8_t m_sequence = 0;      // binary-protocol sequence number of the last request
    bool m_busLineUnsettled = false; // a bus exchange ended without its reply, which may still come
    std::string m_busDropped;        // bus input dropped since the last request, not yet logged
    std::string m_request;       // the frame being sent (binary and Pelto)
    DWORD m_lastPoll = 0;        // last binary or Pelto poll
    CPollSilence m_silence;      // time-outs of the binary or Pelto poll
    DWORD m_signalStart = 0;     // idle-indication timer of the binary protocol
    DWORD m_signalDuration = 0;

    PortPtr m_port; // declared last: released before the events it borrows are closed
};
