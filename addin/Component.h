// The add-in's component object, CParvel ("ParvelExtension"): what the platform creates through
// GetClassObject and drives through the Native API, and the sink of every reader's events.
//
// Rules a reader must not break:
// - No exception leaves an interface slot: every slot catches what its body may throw.
// - A method handler returns false only when the call itself is to fail (missing or too few
//   parameters, DoAdditionalAction); every ordinary failure sets the last error and is reported in
//   the return variant while the call succeeds.
// - The component lock guards what reader threads touch (last key, format list while a key is
//   formatted, log settings, applied settings); it is never held while an external event is raised.
// - Inside CParvel the member SetLastError hides the Win32 function of that name: call the system's
//   as ::SetLastError() (and ::GetLastError() for symmetry).
// - Reader threads call in through the component's sink link (SinkLink.h), and Close, Done and
//   DestroyObject never wait on such a call: the platform may hold one in ExternalEvent for as
//   long as it likes. Done shuts the way out (the connection, the hidden window, the command
//   event) to calls still in flight, so that nothing reaches the platform once it has returned,
//   and the component's memory is freed only when the last of them has returned (Destroy).
// - Several components may live in one process (one per device of the platform's equipment
//   library): each reader follows the read-keys settings and the log of the component that opened
//   it. The newest component's read-keys block is also the process-wide default for readers
//   without a component.
#pragma once
#include "NativeApi.h"
#include "ComponentWindow.h"
#include "DamagedFile.h"
#include "ExternalEvents.h"
#include "KeyFormatter.h"
#include "LogWriter.h"
#include "PortEnum.h"
#include "Handles.h"
#include "KeyData.h"
#include "Lock.h"
#include "ReadKeys.h"
#include "Reader.h"
#include "ReaderEvents.h"
#include "Settings.h"
#include "VariantValues.h"
#include <windows.h>
#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <string>
#include <vector>

// Hexadecimal text to bytes, two characters a byte (the first the high nibble): "0"-"9" count as
// 0-9, "A"-"F" as 10-15, any other character c as (c - 87) modulo 16, so "a"-"f" give 10-15 and
// no character is refused; callers that must not take anything else check the text first.
// length -1: up to the terminator. Stops after `maximum` bytes; a last unpaired character is left
// out. Returns the number of bytes written.
int64_t HexToBytes(const wchar_t* text, int64_t length, uint8_t* bytes, int64_t maximum);

// Where Init looks for the library's folder and the user's data folder, and whether it treats
// its host as a GUI process. The defaults ask the system; tests point them elsewhere.
struct ComponentPlacement
{
    std::wstring ModuleFolder;  // empty: the folder of the library file (ModuleHandle)
    std::wstring AppDataFolder; // empty: the user's application-data folder
    int WindowHost = -1;        // -1: decide from the process's image; 0: no window; 1: window
};

// The system's sound players: PlaySoundW for ".wav" files and mciSendStringW for other media.
// Replaceable so that tests can record what would play instead of playing it; the component
// starts with the system's own (SystemSoundFunctions).
struct SoundFunctions
{
    BOOL(WINAPI* PlayWave)(LPCWSTR sound, HMODULE module, DWORD flags);
    DWORD(WINAPI* SendMciString)(LPCWSTR command, LPWSTR returnText, UINT returnLength, HWND callback);
};
SoundFunctions SystemSoundFunctions();

// Test hook: runs on a reader's thread on its way into the platform, just before the shut-off is
// looked at (Checking) and between its letting the call through and the call's entering the
// platform (Entering). Null in the library's own use, where it costs a load at each point.
enum class PlatformCallStage
{
    Checking,
    Entering,
};
extern std::atomic<void (*)(PlatformCallStage)> PlatformCallHook;

class CSearchReaders;
// Deletes a search object where its type is complete (it owns ports, sockets and Winsock).
struct SearchDeleter
{
    void operator()(CSearchReaders* search) const;
};

// Argument-type check of one method: one type code per parameter (0 = any), the number of
// parameters tested and the mask of those that may be VTYPE_NULL.
struct ParamCheck
{
    const TYPEVAR* Types;
    long Count;
    uint32_t NullMask;
};

// Orders port names and device identifiers without regard to case, as the system treats the names
// of ports ("com3" is COM3) and of hosts.
struct PortNameLess
{
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// Splits a device identifier into its port and its bus address: a port name alone (address -1),
// or a port name, a backslash and one to five decimal digits. False for anything else (an empty
// port, no digits, a sign, a blank or any other character after the backslash).
bool SplitDeviceIdentifier(const std::wstring& identifier, std::wstring& port, int32_t& address);

class CParvel final : public IComponentBase, public IReaderEvents
{
public:
    static const long MethodCount = 35;
    static const long PropCount = 27;

    explicit CParvel(const WCHAR_T* className);
    ~CParvel();
    CParvel(const CParvel&) = delete;
    CParvel& operator=(const CParvel&) = delete;

    // The newest component of the process, or null once it is gone (freed).
    static CParvel* Current();
    // DestroyObject and the deleting destructor slot: shuts the component down (as Done, within
    // its time) and frees it, here or, while a reader's call is still inside it (the platform holds
    // it in ExternalEvent, a disk holds a log write), on that call's thread once it has returned.
    // Plain delete waits for such a call instead.
    static void Destroy(CParvel* component);

    // Slot 0 of each of the three interfaces (Microsoft's scalar deleting destructor): bit 0 of
    // the flags deletes the component.
    void* DestructorSlot(unsigned int flags) override;

    // IInitDoneBase
    bool Init(void* connection) override;
    bool setMemManager(void* memoryManager) override;
    long GetInfo() override;
    void Done() override;

    // ILanguageExtenderBase
    bool RegisterExtensionAs(WCHAR_T** extensionName) override;
    long GetNProps() override;
    long FindProp(const WCHAR_T* name) override;
    const WCHAR_T* GetPropName(long number, long alias) override;
    bool GetPropVal(const long number, tVariant* value) override;
    bool SetPropVal(const long number, tVariant* value) override;
    bool IsPropReadable(const long number) override;
    bool IsPropWritable(const long number) override;
    long GetNMethods() override;
    long FindMethod(const WCHAR_T* name) override;
    const WCHAR_T* GetMethodName(const long number, const long alias) override;
    long GetNParams(const long method) override;
    bool GetParamDefValue(const long method, const long param, tVariant* value) override;
    bool HasRetVal(const long method) override;
    bool CallAsProc(const long method, tVariant* params, const long count) override;
    bool CallAsFunc(const long method, tVariant* result, tVariant* params, const long count) override;

    // LocaleBase
    void SetLocale(const WCHAR_T* locale) override;

    // IReaderEvents (reader threads)
    void OnTracksData(CReader* reader, uint32_t keyType, const KeyData& key, std::wstring& keyText) override;
    void OnNoCard(CReader* reader, uint32_t keyType, const KeyData& key, const std::wstring& keyText) override;
    void OnDriverError(CReader* reader, HRESULT code, const std::wstring& text) override;
    void OnDeviceConnect(CReader* reader) override;
    void OnDeviceDisconnect(CReader* reader) override;
    void OnCommand(CReader* reader) override;
    BOOL IsLogEnabled(CReader* reader, uint32_t messageId) override;
    void Log(CReader* reader, uint32_t level, uint32_t messageId, ...) override;

    // --- The error convention shared by every method ---------------------------------------

    // Code and text; without a text, the code's own text (empty for 0). length -1: up to the NUL.
    void SetLastError(HRESULT code, const wchar_t* text = nullptr, ptrdiff_t length = -1);
    HRESULT LastErrorCode() const { return m_lastErrorCode; }
    const std::wstring& LastErrorText() const { return m_lastErrorText; }
    // Reports to the platform through the connection (code 1004, source "Parvel"); a positive
    // Win32 code travels as 0x80070000 | (code & 0xFFFF). Nothing without a connection.
    void AddError(const wchar_t* text, long code);
    // An exception that ends a call the platform made: its text becomes the last error and is
    // reported to the platform (E_FAIL). Nothing escapes, not even a failure to report.
    void ReportException(const std::exception& e) noexcept;
    // The variant becomes a VTYPE_PWSTR copy of the text in memory from the memory manager.
    // Throws std::bad_alloc when there is no memory manager or it refuses.
    void MakeStringVariant(tVariant* variant, const wchar_t* text, ptrdiff_t length = -1);
    // The variant becomes a VTYPE_BLOB copy of the bytes (length 0 when the manager refuses).
    void MakeBlobVariant(tVariant* variant, const void* bytes, size_t length);
    // A 32-bit value from an integer-typed variant; false (out unchanged) for any other type.
    static bool VariantToUInt(const tVariant* variant, uint32_t& out);
    // Checks parameter types; the first mismatch sets 0x80040202 and gives false.
    bool CheckParams(const tVariant* params, const ParamCheck& check);

    // --- Arguments of the card commands (CommandMethods.cpp) -------------------------------

    // The bytes to write into `size` bytes of pages or blocks: an integer's 32-bit value (low byte
    // first), the bytes of a byte string or blob, or hexadecimal text with blanks anywhere; short
    // data are padded with zero bytes and bytes beyond `size` are left out. PE_INVALID_PARAM_TYPE
    // for another type; E_INVALIDARG, with textId naming the text that says why, for text that is
    // not pairs of hexadecimal digits.
    static HRESULT CommandData(const tVariant& data, size_t size, std::vector<uint8_t>& out, UINT& textId);
    // CommandData for a write command; on failure the error is the component's last error and
    // the result is false.
    bool WriteCommandData(const tVariant& data, size_t size, std::vector<uint8_t>& out);
    // The 48-bit sector key of a Mifare Classic command: left out (NULL or empty) the default key,
    // VTYPE_UI8 its value, VTYPE_PWSTR a whole number text ("0x" hexadecimal, "0b" binary, another
    // leading "0" octal, else decimal). E_INVALIDARG for another type, a text that is not wholly such a number,
    // or a value beyond 48 bits.
    static HRESULT MifareKey(const tVariant& key, uint64_t& out);

    // --- Settings (ComponentSettings.cpp) ---------------------------------------------------

    // Loads or saves the given parts (SETTINGS_MAIN, SETTINGS_FORMATS) from or to the store that
    // Init chose. Store failures throw (COSException, CFileException); a failing load changes nothing.
    void LoadSettingsParts(uint32_t parts);
    void SaveSettingsParts(uint32_t parts);
    // A settings file kept because it was not read whole: one warning line in the log.
    void NoteDamage(const DamagedFileCopy& copy);

    // --- Reads for tests and the other parts of the component -------------------------------

    void SetPlacement(const ComponentPlacement& placement) { m_placement = placement; }
    const std::wstring& ClassName() const { return m_className; }
    bool Portable() const { return m_portable != 0; }
    const std::wstring& SettingsFolder() const { return m_settingsFolder; }
    const CReaderSettings& LoadedConnection() const { return m_loaded; }
    const CReaderSettings& WorkingConnection() const { return m_working; }
    const KeyFormatList& Formats() const { return m_formats; }
    bool RussianEvents() const { return m_russian != 0; }
    HWND Window() const { return m_window.Get(); }
    HANDLE CommandEvent() const { return m_commandEvent.Get(); }
    const ReadKeysBlock& ReadKeys() const { return *m_readKeys; }
    size_t OpenPortCount() const { return m_ports.size(); }
    size_t OpenDeviceCount() const { return m_devices.size(); }
    // External events that the platform refused (its event buffer was full); each is also logged.
    uint32_t RefusedEvents() const { return m_refusedEvents.load(); }

    // Where the reader search sends its converter discovery request: an IPv4 address and a UDP
    // port. Empty address (the default): the search's own default, the broadcast to port 9000.
    void SetDiscoveryTarget(const std::wstring& address, uint16_t port)
    {
        m_discoveryAddress = address;
        m_discoveryPort = port;
    }

    // --- Sounds and the hidden window (ComponentSound.cpp) ----------------------------------

    // Plays sound slot 0-3 (any thread; callers test SoundEnabled first).
    int PlaySoundSlot(int slot);
    // Replaces the system's sound players (set before any sound can play).
    void SetSoundFunctions(const SoundFunctions& functions) { m_sound = functions; }
    // On the window's thread: opens and plays the requested media slot.
    void PlayMciSound();
    // Closes an open media file (platform's thread).
    void CloseMedia();

    // --- Key formats (FormatMethods.cpp) ----------------------------------------------------

    // Index of the first format that accepts the key, -1 when none does.
    int64_t FindFormatForKey(uint32_t keyType, const KeyData* key) const;
    // The check behind CheckFormat: 0 or the failure's code, its position and its text.
    HRESULT CheckFormatText(const wchar_t* templ, const wchar_t* params, uint64_t& position,
                            std::wstring& text);

    // --- Devices (DeviceMethods.cpp) --------------------------------------------------------

    // Stops every reader and waits for their threads, then deletes them.
    void CloseAllReaders();
    // Searches for one reader on the ports that have no reader yet (and on the network when the
    // search flags ask for it); false when none answers.
    bool FindAutoPort(std::wstring& port);

    // --- Log (ComponentLog.cpp) -------------------------------------------------------------

    // Hands one line (with the header first when the log path is empty) to the writer of the log
    // file of the settings folder; never waits for the file. Never throws; a line that cannot be
    // written is lost.
    void WriteLog(const std::wstring& source, uint32_t level, uint32_t messageId, va_list args);
    void WriteLogLine(const std::wstring& source, uint32_t level, uint32_t messageId, ...);
    // Waits until the lines handed over so far are written (or given up), at most timeoutMs; holds
    // the lock meanwhile, so it is for tests and never for a call of the platform's.
    bool FlushLog(DWORD timeoutMs);

    using MethodHandler = bool (CParvel::*)(tVariant* result, tVariant* params, long count);

private:
    struct MethodEntry
    {
        const wchar_t* English;
        const wchar_t* Russian;
        long Params;
        bool Returns;
        MethodHandler Handler;
    };
    struct PropEntry
    {
        const wchar_t* English;
        const wchar_t* Russian;
    };
    static const MethodEntry Methods[MethodCount];
    static const PropEntry Props[PropCount];

    // The one reader of a port, with the connection values it was given (SetLocale gives them
    // again so that the reader's thread takes up the new language).
    struct ReaderEntry
    {
        std::unique_ptr<CReader> Reader;
        BYTE StopBits = 0;
        uint32_t Flags = 0;
        uint32_t Model = 0;
        uint32_t Speed = 0;
    };
    // A device names a reader (owned by its port) and a bus address (-1 for none).
    struct DeviceEntry
    {
        int32_t Address = NO_BUS_ADDRESS;
        CReader* Reader = nullptr;
    };

    // --- Component.cpp ---
    bool Dispatch(long method, tVariant* result, tVariant* params, long count, bool function);
    bool FailMethod(const std::wstring& text, tVariant* result, bool function);
    void Shutdown();
    bool InitSteps();
    void DecideLocation(const std::wstring& moduleFolder);
    bool WindowWanted() const;
    const WCHAR_T* CopyName(const wchar_t* name);
    void SwitchLog(uint32_t on);
    // Shutdown's part for the log: the writer writes what it holds within its time (ComponentLog.cpp).
    void FinishLog();

    // --- ComponentTables.cpp ---
    static bool FillParamDefault(CParvel& self, long method, long param, tVariant* value);

    // --- ComponentEvents.cpp ---
    std::wstring EventSource(CReader* reader) const;
    void RaiseEvent(const std::wstring& source, ExternalEventId event, const std::wstring& data);
    // A reader's way into the platform: the connection, counted as entering until EnterPlatform,
    // or null once Done has shut the way out.
    IAddInDefBase* StartPlatformCall();
    void EnterPlatform();
    // After the way out is shut: waits until every call let through has entered the platform.
    void WaitPlatformCallsEntered();
    void PlayEventSound(int slot);
    void LogTransferFailed(CReader* reader, const std::wstring& reason);

    // --- DeviceMethods.cpp ---
    bool WorkingDeviceIdentifier(std::wstring& identifier);

    // --- SearchMethods.cpp ---
    void ListFoundReaders();
    // The candidate ports of a search: enumerated with the search flags, sorted by name, without
    // the ports on which this component runs a reader.
    void CandidatePorts(std::vector<PortInfo>& ports) const;
    // Starts a search over the given ports with the search settings of this moment.
    void StartSearch(CSearchReaders& search, const std::vector<PortInfo>& ports);

    // --- ComponentSettings.cpp ---
    bool ReadStoredLoadAtStartup() const;
    std::wstring SettingsFile() const;
    void AddDefaultFormat();

    // --- Method handlers, numbered as the method table ---
    // DriverMethods.cpp
    bool MethodGetVersion(tVariant* result, tVariant* params, long count);             // 0
    bool MethodGetDescription(tVariant* result, tVariant* params, long count);         // 1
    bool MethodGetLastError(tVariant* result, tVariant* params, long count);           // 2
    bool MethodGetParameters(tVariant* result, tVariant* params, long count);          // 3
    bool MethodSetParameter(tVariant* result, tVariant* params, long count);           // 4
    bool MethodGetAdditionalActions(tVariant* result, tVariant* params, long count);   // 8
    bool MethodDoAdditionalAction(tVariant* result, tVariant* params, long count);     // 9
    // DeviceMethods.cpp
    bool MethodOpen(tVariant* result, tVariant* params, long count);                   // 5
    bool MethodClose(tVariant* result, tVariant* params, long count);                  // 6
    bool MethodDeviceTest(tVariant* result, tVariant* params, long count);             // 7
    bool MethodGetStatus(tVariant* result, tVariant* params, long count);              // 10
    bool MethodReconnect(tVariant* result, tVariant* params, long count);              // 11
    bool MethodGetReaderInfo(tVariant* result, tVariant* params, long count);          // 12
    // ComponentSettings.cpp
    bool MethodLoadSettings(tVariant* result, tVariant* params, long count);           // 13
    bool MethodSaveSettings(tVariant* result, tVariant* params, long count);           // 14
    // FormatMethods.cpp
    bool MethodFindFormat(tVariant* result, tVariant* params, long count);             // 15
    bool MethodGetFormat(tVariant* result, tVariant* params, long count);              // 16
    bool MethodSetFormat(tVariant* result, tVariant* params, long count);              // 17
    bool MethodInsertFormat(tVariant* result, tVariant* params, long count);           // 18
    bool MethodDeleteFormat(tVariant* result, tVariant* params, long count);           // 19
    bool MethodClearFormats(tVariant* result, tVariant* params, long count);           // 20
    bool MethodCheckFormat(tVariant* result, tVariant* params, long count);            // 21
    bool MethodFormat(tVariant* result, tVariant* params, long count);                 // 22
    // ComponentLog.cpp
    bool MethodClearLog(tVariant* result, tVariant* params, long count);               // 23
    // SearchMethods.cpp
    bool MethodFindNext(tVariant* result, tVariant* params, long count);               // 24
    bool MethodFindClose(tVariant* result, tVariant* params, long count);              // 25
    // CommandMethods.cpp
    bool MethodReadMifareUL(tVariant* result, tVariant* params, long count);           // 26
    bool MethodWriteMifareUL(tVariant* result, tVariant* params, long count);          // 27
    bool MethodReadMifareC(tVariant* result, tVariant* params, long count);            // 28
    bool MethodWriteMifareC(tVariant* result, tVariant* params, long count);           // 29
    bool MethodGetCommandStatus(tVariant* result, tVariant* params, long count);       // 30
    bool MethodBreakCommand(tVariant* result, tVariant* params, long count);           // 31
    bool MethodGetCommandResult(tVariant* result, tVariant* params, long count);       // 32
    bool MethodGetKeyInfo(tVariant* result, tVariant* params, long count);             // 33
    bool MethodSignal(tVariant* result, tVariant* params, long count);                 // 34

    // The common start of the command methods: types, then the device. Null when the call is
    // not to go on (the last error says why).
    const DeviceEntry* CommandDevice(const tVariant* params, const ParamCheck& check, bool refuseBus);
    // Places a card command on the reader (ending the one still pending there) and, with a
    // time-out other than 0, waits for its completion; false with the slot's status as the last
    // error unless it completed successfully. outcome: the slot as it is then.
    bool RunCardCommand(CReader& reader, std::shared_ptr<ReaderCommand> command, DWORD timeout,
                        ReaderCommandSnapshot& outcome);
    // Waits on the command event until the reader's command is no longer pending or the time-out
    // (READER_PERIOD_NEVER: none) has passed.
    void WaitForCommand(CReader& reader, DWORD timeout);
    // ReadMifareUL (code 1) and WriteMifareUL (code 2).
    bool UltralightCommand(tVariant* result, tVariant* params, long count, uint32_t code);
    // ReadMifareC (code 3) and WriteMifareC (code 4).
    bool ClassicCommand(tVariant* result, tVariant* params, long count, uint32_t code);
    // The common start of the device and command methods: the device of a VTYPE_PWSTR identifier,
    // or null with 0x80040233 set.
    const DeviceEntry* FindDevice(const tVariant& identifier);

    // --- Data ---
    std::wstring m_className;
    std::wstring m_lastErrorText;
    HRESULT m_lastErrorCode = S_OK;
    IAddInDefBase* m_connection = nullptr; // not owned
    IMemoryManager* m_memory = nullptr;    // not owned
    std::atomic<uint32_t> m_russian{0}; // read by reader threads (event names)
    uint32_t m_portable = 0;
    std::wstring m_settingsFolder;

    std::atomic<uint32_t> m_soundEnabled{0}; // read by reader threads
    std::array<std::wstring, 4> m_soundFiles; // under the lock: reader threads play them
    std::atomic<int32_t> m_openMediaSlot{-1};      // window's thread and platform's thread
    std::atomic<int32_t> m_requestedMediaSlot{-1}; // written by reader threads
    SoundFunctions m_sound = SystemSoundFunctions();

    std::map<std::wstring, ReaderEntry, PortNameLess> m_ports;   // port name -> its one reader
    std::map<std::wstring, DeviceEntry, PortNameLess> m_devices; // device identifier -> device
    // The link its readers call it through: it knows which calls are still inside the component.
    std::shared_ptr<CSinkLink> m_readerLink = std::make_shared<CSinkLink>();
    // Done shuts, under this lock, what reader calls reach outside the component's memory: the
    // connection (ExternalEvent), the hidden window and the command event; a call still in flight
    // touches none of them afterwards. Held only to look and to post or set, never across a call
    // into the platform, so Done never waits on a reader's call held there (only, briefly, on one
    // let through and not yet inside: m_platformCallsEntering).
    CCriticalSection m_shutLock;
    bool m_shut = false;
    // Reader calls let through to the platform that have not entered it yet (under m_shutLock).
    // Done waits for these, which run only the component's own code, so that none enters after it
    // has returned; a call that has entered is the platform's and is not waited for.
    uint32_t m_platformCallsEntering = 0;

    CReaderSettings m_loaded;  // as last loaded from the store
    CReaderSettings m_working; // what properties, SetParameter, Open and the search use

    CHandle m_commandEvent;
    std::atomic<CReader*> m_waitingReader{nullptr}; // read by reader threads (OnCommand)

    uint32_t m_searchFlags = 14;
    uint32_t m_findIpTimeout = 3000;
    int32_t m_findIpTries = 1;
    std::unique_ptr<CSearchReaders, SearchDeleter> m_search; // FindNext's search, null when none
    std::wstring m_discoveryAddress; // empty: the search's default target
    uint16_t m_discoveryPort = 0;

    KeyFormatList m_formats;
    CKeyFormatCache m_formatCache; // under the lock: the formats compiled for key events
    uint32_t m_lastKeyType = 0;
    KeyData m_lastKey;

    CMediaAlias m_mediaAlias;
    CWindowClass m_windowClass;
    CWindowHandle m_window;

    CCriticalSection m_lock;

    std::atomic<uint32_t> m_log{0};      // read by reader threads (log filter)
    std::atomic<uint32_t> m_logFlags{7};
    std::wstring m_logPath;              // under the lock
    std::unique_ptr<CLogWriter> m_logWriter; // under the lock; made by the first line
    CHandle m_leftLogWriter; // under the lock: the thread of a writer that Done left to end alone
    std::atomic<uint32_t> m_refusedEvents{0};

    // Shared with this component's readers, which read it live; a reader left to end alone keeps
    // it alive.
    std::shared_ptr<ReadKeysBlock> m_readKeys = std::make_shared<ReadKeysBlock>();

    ComponentPlacement m_placement;
};

