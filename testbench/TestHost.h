// The test host: loads the add-in library as the 1C:Enterprise platform does, creates and
// initialises its component, and plays the platform's side of the Native API (the connection
// object, the memory manager, message boxes and platform information). Events and errors that the
// add-in raises on its own threads are queued under a lock and delivered on the host's thread to
// the registered listeners; the configurator calls the component by method name through it.
//
// Rules a reader must not break:
// - The base order and every slot of the Native API bases are the binary contract of NativeApi.h.
// - The platform-side operations may be called on any add-in thread and never let an exception
//   out; everything else (loading, unloading, delivery, listeners, calls by name, the open-device
//   list) runs on the thread that created the hidden window, the user-interface thread.
// - Listeners never run under the queue lock, and an add-in thread never waits for them.
#pragma once
#include "Lock.h"
#include "NativeApi.h"
#include "TestException.h"
#include "Thread.h"
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// An external event as the add-in raised it.
struct HostEvent
{
    uint32_t time = 0;  // local time of day in milliseconds when it was queued
    uint32_t level = 1; // always information
    std::wstring source;
    std::wstring message;
    std::wstring data;
};

// Milliseconds since local midnight: the clock of the events' times and of the test log.
uint32_t LocalTimeOfDay();

// An error as the add-in reported it through AddError.
struct HostError
{
    uint16_t code = 0; // the platform's error code (the add-in uses 1004)
    std::wstring source;
    std::wstring description;
    int32_t scode = 0; // the HRESULT-style status
};

enum HostListenKind : int32_t
{
    ListenEvent = 0,     // once per delivered event (CurrentEvent)
    ListenError = 1,     // once per delivered error (CurrentError)
    ListenComponent = 2, // after Create, after every Unload, after LoadSettings
    ListenDevices = 3,   // when the open-device list changes
};

// The name under which the key-format dialog's live test puts its format into the add-in.
extern const wchar_t TestFormatName[];

class CTestParvel;
typedef void (*HostCallback)(void* context, CTestParvel* host);

struct HostListener
{
    int32_t kind;
    void* context; // the registrant (not owned)
    HostCallback callback;
};

// How the host shows a box for the add-in's Confirm and Alert; returns the box's result (IDOK...).
typedef int (*HostMessageBoxFn)(const wchar_t* text, UINT flags, HWND owner);
int DefaultHostMessageBox(const wchar_t* text, UINT flags, HWND owner);

class CTestParvel : public CObject,
                    public IAddInDefBaseEx,
                    public IMemoryManager,
                    public IMsgBox,
                    public IPlatformInfo
{
public:
    CTestParvel();
    ~CTestParvel() override;
    CTestParvel(const CTestParvel&) = delete;
    CTestParvel& operator=(const CTestParvel&) = delete;

    // The hidden (message-only) window through which queued records reach this thread; made once,
    // after the listeners are registered. Throws COSException ("CreateWindowEx").
    void CreateHostWindow();
    HWND Window() const { return m_window; }

    // --- the library and the component ----------------------------------------------------------
    // The library to load: a path given here, or by default the rule of AddInPathFor over the
    // program's own file name.
    void SetLibraryPath(const std::wstring& path) { m_libraryPath = path; }
    std::wstring LibraryPath() const;
    // The add-in beside a program: "Parvel.dll" in the program's folder, carrying the characters by
    // which the program's file name is longer than "ConfigParvel.exe" before ".dll".
    static std::wstring AddInPathFor(const std::wstring& programPath);

    // Nothing when loaded; throws CFileException. Under Wine the first load of a library also
    // takes a reference that the process keeps (a loader fault of Wine's; see TestHost.cpp).
    void LoadAddIn();
    // Whether libraries loaded under Wine stay mapped for the rest of the process; on unless a
    // program turns it off before loading. Only a program whose libraries never open a serial port
    // may (the host's own tests, which check that Unload really frees the library).
    static void SetKeepLoadedUnderWine(bool keep);
    void FreeAddIn();
    // Loads the library when needed and creates and initialises the component as the platform
    // does. Throws CFileException or CTestParvelException; on failure nothing stays loaded.
    void Create();
    // Ends the component, frees the library, empties the open-device list and notifies.
    void Unload();

    bool IsLoaded() const { return m_library != nullptr; }
    HMODULE Library() const { return m_library; }
    IComponentBase* Component() const { return m_component; }
    ILanguageExtenderBase* Extender() const { return m_component; }
    LocaleBase* Locale() const { return m_component; }

    // The language whose locale the next Create gives the component.
    LANGID HostLanguage() const { return m_language; }
    void SetHostLanguage(LANGID language) { m_language = language; }
    // Gives a live component the host language as the platform does: Russian or English, the
    // calling thread's locale set to it for the component's SetLocale.
    void ApplyLanguage();
    void SetMessageBoxFunction(HostMessageBoxFn function) { m_messageBox = function ? function : DefaultHostMessageBox; }

    // --- platform side: IAddInDefBase / IAddInDefBaseEx --------------------------------------------
    bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description, long scode) override;
    bool Read(WCHAR_T* name, tVariant* value, long* errorCode, WCHAR_T** errorText) override;
    bool Write(WCHAR_T* name, tVariant* value) override;
    bool RegisterProfileAs(WCHAR_T* profileName) override;
    bool SetEventBufferDepth(long depth) override;
    long GetEventBufferDepth() override;
    bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) override;
    void CleanEventBuffer() override;
    bool SetStatusLine(WCHAR_T* text) override;
    void ResetStatusLine() override;
    // The global name: the private base of IMsgBox and IPlatformInfo hides it in this class.
    ::IInterface* GetInterface(InterfaceNumber number) override;
    // --- IMemoryManager ---------------------------------------------------------------------------
    bool AllocMemory(void** memory, unsigned long bytes) override;
    void FreeMemory(void** memory) override;
    // --- IMsgBox ------------------------------------------------------------------------------------
    bool Confirm(const WCHAR_T* question, tVariant* answer) override;
    bool Alert(const WCHAR_T* text) override;
    // --- IPlatformInfo --------------------------------------------------------------------------------
    const AppInfo* GetPlatformInfo() override;

    IMemoryManager* MemoryManager() { return this; }

    // --- delivery and listeners (user-interface thread) ------------------------------------------
    // Delivers everything queued: events first, then errors, oldest first. A listener that throws
    // is skipped for that record; every other listener and record is still served.
    void PumpQueues();
    void AddListener(int32_t kind, void* context, HostCallback callback);
    void RemoveListeners(void* context);
    void Notify(int32_t kind);
    size_t ListenerCount() const { return m_listeners.size(); }
    const HostEvent& CurrentEvent() const { return m_currentEvent; }
    const HostError& CurrentError() const { return m_currentError; }

    // The last error with code 1004 that the add-in reported (code 0 after a call by name that
    // reported none).
    int32_t LastErrorCode() const;
    std::wstring LastErrorDescription() const;
    std::wstring LastErrorSource() const;

    // --- calls by name (user-interface thread; need a live component) ------------------------------
    // Each throws CTestParvelException when the name is unknown or the add-in's call fails; the
    // text then ends with the add-in's own error text when it reported one.
    void CallAsProc(const wchar_t* method, tVariant* params, long count);
    bool CallAsFunc(const wchar_t* method, tVariant* result, tVariant* params, long count);
    void SetPort(tVariant* value);
    // The text of the add-in's `Port` property (empty when it holds no text); throws like SetPort.
    std::wstring GetPort();
    void SetProperty(const wchar_t* name, tVariant* value);
    // The same for the property of that number, `name` naming it in the failure's text.
    void SetPropertyAt(long number, const wchar_t* name, tVariant* value);
    void GetPropName(std::wstring& out, long number, long alias);
    void GetMethodName(std::wstring& out, long number, long alias);

    // --- wrappers of the add-in's methods -----------------------------------------------------------
    bool IsConnected();
    int32_t GetLastError(std::wstring& text);
    bool SetParameter(const wchar_t* name, const wchar_t* value);
    bool Open(std::wstring& device);
    bool Close(const std::wstring& device);
    void CloseAll();
    bool Reconnect(const std::wstring& device);
    void LoadSettings();
    // The format methods work on the format of the given name, the key-format dialog's temporary
    // "FormatTemp" unless another is named.
    int32_t FindFormat(const wchar_t* name = TestFormatName);
    bool DeleteFormat(int32_t index);
    bool InsertFormat(int32_t& index, const wchar_t* formatTemplate, const wchar_t* params, uint32_t keyTypes,
                      int32_t keySize, const wchar_t* name = TestFormatName);
    bool SetFormat(int32_t index, const wchar_t* formatTemplate, const wchar_t* params, uint32_t keyTypes,
                   int32_t keySize, const wchar_t* name = TestFormatName);
    bool CheckFormat(const wchar_t* formatTemplate, const wchar_t* params, int32_t& errorPosition);

    // The devices the test bench opened, in the order of opening.
    const std::vector<std::wstring>& Devices() const { return m_devices; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Wake(); // under the queue lock
    void DeliverTo(int32_t kind);
    long FindMethodOrThrow(const wchar_t* method);
    [[noreturn]] void ThrowCallFailed(const wchar_t* method);
    void FillFormatArgs(class CVariantArray& args, int32_t index, const wchar_t* name, const wchar_t* formatTemplate,
                        const wchar_t* params, uint32_t keyTypes, int32_t keySize);

    HMODULE m_library = nullptr;
    GetClassObjectFn m_getClassObject = nullptr;
    DestroyObjectFn m_destroyObject = nullptr;
    GetClassNamesFn m_getClassNames = nullptr;
    SetPlatformCapabilitiesFn m_setPlatformCapabilities = nullptr;
    IComponentBase* m_component = nullptr;

    std::atomic<long> m_depth{32};
    std::vector<HostEvent> m_events; // oldest first
    std::vector<HostError> m_errors; // oldest first
    mutable CCriticalSection m_queueLock;

    int32_t m_lastErrorCode = 0;
    std::wstring m_lastErrorDescription;
    std::wstring m_lastErrorSource;

    LANGID m_language;
    ATOM m_classAtom = 0;
    HWND m_window = nullptr;
    std::vector<HostListener> m_listeners;
    HostEvent m_currentEvent;
    HostError m_currentError;
    AppInfo m_platformInfo;
    std::vector<std::wstring> m_devices;

    std::wstring m_libraryPath;
    HostMessageBoxFn m_messageBox = DefaultHostMessageBox;
};
