// Our declarations of the 1C:Enterprise Native API: the tagged value tVariant, the component's
// interfaces (implemented here) and the platform's interfaces (implemented by the host: the
// platform, or the configurator's test bench, which uses this same header).
//
// Rules a reader must not break:
// - The platform is built with Microsoft's compiler, so the binary contract is Microsoft's x64
//   layout. Every slot order below is part of that contract; never insert, remove or reorder a
//   virtual function, and never add a virtual destructor to an interface: GCC gives a virtual
//   destructor two vtable slots where Microsoft's compiler gives one. Each interface therefore
//   declares DestructorSlot in slot 0 instead (Microsoft's scalar deleting destructor: `this`,
//   a flags word, returns `this`), and objects are deleted through their own class.
// - Integers that cross the boundary are 32-bit `long` (counts, sizes, depths, codes), texts are
//   16-bit WCHAR_T, results are 1-byte `bool`. The static_asserts guard every size and offset.
// - Interface functions must not let an exception out: the other side is not C++ of this compiler.
// - Self-contained: only standard C headers, so the host's side can include it anywhere.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <cwchar>

static_assert(sizeof(long) == 4, "Native API counts and codes are 32-bit long (LLP64)");
static_assert(sizeof(bool) == 1, "Native API results are 1-byte bool");
static_assert(sizeof(void*) == 8, "the Native API layout here is the 64-bit one");

// Texts of the interface: UTF-16 code units.
typedef wchar_t WCHAR_T;
static_assert(sizeof(WCHAR_T) == 2, "WCHAR_T is a 16-bit code unit");

// ---------------------------------------------------------------------------------------------
// The tagged value.

// Type codes of tVariant::vt.
typedef uint16_t TYPEVAR;
enum : TYPEVAR
{
    VTYPE_EMPTY = 0,
    VTYPE_NULL = 1,
    VTYPE_I2 = 2,        // int16
    VTYPE_I4 = 3,        // int32
    VTYPE_R4 = 4,        // float
    VTYPE_R8 = 5,        // double
    VTYPE_DATE = 6,      // double, days since 30 December 1899
    VTYPE_TM = 7,        // struct tm
    VTYPE_PSTR = 8,      // narrow text: pointer and byte count
    VTYPE_INTERFACE = 9, // interface pointer and its identifier
    VTYPE_ERROR = 10,    // int32 error code
    VTYPE_BOOL = 11,     // bool
    VTYPE_VARIANT = 12,  // pointer to another tVariant
    VTYPE_I1 = 13,       // int8
    VTYPE_UI1 = 14,      // uint8
    VTYPE_UI2 = 15,      // uint16
    VTYPE_UI4 = 16,      // uint32
    VTYPE_I8 = 17,       // int64
    VTYPE_UI8 = 18,      // uint64
    VTYPE_INT = 19,      // int32
    VTYPE_UINT = 20,     // uint32
    VTYPE_HRESULT = 21,  // int32 HRESULT
    VTYPE_PWSTR = 22,    // wide text: pointer and count of WCHAR_T (without the terminator)
    VTYPE_BLOB = 23,     // bytes: pointer and byte count (the narrow-text fields)
    VTYPE_CLSID = 24,    // 16-byte class identifier
};

// A 16-byte interface or class identifier, laid out as the system's GUID.
struct tVarGuid
{
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
static_assert(sizeof(tVarGuid) == 16, "identifiers are 16 bytes");

// 48 bytes: a 40-byte value union, the element count at 40 and the type code at 44.
// Texts and byte arrays are allocated through the host's IMemoryManager.
struct tVariant
{
    union
    {
        int8_t i8Val;
        int16_t i16Val;
        int32_t i32Val;     // VTYPE_I4, VTYPE_INT, VTYPE_ERROR
        int64_t i64Val;
        uint8_t ui8Val;
        uint16_t ui16Val;
        uint32_t ui32Val;   // VTYPE_UI4, VTYPE_UINT
        uint64_t ui64Val;
        int32_t hresVal;    // VTYPE_HRESULT
        float r4Val;
        double r8Val;
        double dateVal;
        bool bVal;
        tVariant* varVal;   // VTYPE_VARIANT
        struct tm tmVal;    // VTYPE_TM
        tVarGuid guidVal;   // VTYPE_CLSID
        struct
        {
            void* ptr;
            tVarGuid iid;
        } iface;            // VTYPE_INTERFACE
        struct
        {
            char* ptr;
            uint32_t len;   // bytes
        } bytes;            // VTYPE_PSTR, VTYPE_BLOB
        struct
        {
            WCHAR_T* ptr;
            uint32_t len;   // WCHAR_T units, without the terminator
        } wstr;             // VTYPE_PWSTR
    };
    uint32_t cbElements;    // element count of arrays; 0 for plain values
    TYPEVAR vt;
};

static_assert(sizeof(struct tm) == 36, "struct tm is nine 32-bit fields, as on the platform's side");
static_assert(offsetof(tVariant, i32Val) == 0, "values start the variant");
static_assert(offsetof(tVariant, bytes) == 0 && offsetof(tVariant, wstr) == 0, "pointers at 0");
static_assert(sizeof(tVariant::bytes) == 16 && sizeof(tVariant::wstr) == 16, "pointer + length");
static_assert(offsetof(tVariant, tmVal) == 0 && offsetof(tVariant, iface) == 0, "union members at 0");
static_assert(offsetof(tVariant, cbElements) == 40, "element count at 40");
static_assert(offsetof(tVariant, vt) == 44, "type code at 44");
static_assert(sizeof(tVariant) == 48, "tVariant is 48 bytes");

// ---------------------------------------------------------------------------------------------
// Interfaces the host implements and the component calls.

// The host's allocator for every text and byte array that crosses the boundary in a variant.
class IMemoryManager
{
public:
    virtual void* DestructorSlot(unsigned int /*flags*/) { return this; } // slot 0
    // *memory receives a block of `bytes` bytes; false when the host cannot give it.
    virtual bool AllocMemory(void** memory, unsigned long bytes) = 0;             // slot 1
    // Frees *memory and sets it to null.
    virtual void FreeMemory(void** memory) = 0;                                   // slot 2

protected:
    ~IMemoryManager() = default;
};

// The connection object that the host gives to Init.
class IAddInDefBase
{
public:
    virtual void* DestructorSlot(unsigned int /*flags*/) { return this; }             // slot 0
    // Reports an error; `code` is the platform's error code, `scode` an HRESULT-style status.
    virtual bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description,
                          long scode) = 0;                                          // slot 1
    virtual bool Read(WCHAR_T* name, tVariant* value, long* errorCode, WCHAR_T** errorText) = 0; // 2
    virtual bool Write(WCHAR_T* name, tVariant* value) = 0;                       // slot 3
    virtual bool RegisterProfileAs(WCHAR_T* profileName) = 0;                     // slot 4
    virtual bool SetEventBufferDepth(long depth) = 0;                             // slot 5
    virtual long GetEventBufferDepth() = 0;                                       // slot 6
    virtual bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) = 0; // slot 7
    virtual void CleanEventBuffer() = 0;                                          // slot 8
    virtual bool SetStatusLine(WCHAR_T* text) = 0;                                // slot 9
    virtual void ResetStatusLine() = 0;                                           // slot 10

protected:
    ~IAddInDefBase() = default;
};

// The base of the extra interfaces a connection can hand out; it has no slots of its own.
// IAddInDefBaseEx::GetInterface returns an extra interface as a pointer to this base, and the
// base does not lie where GCC puts it: convert only with the helpers after IPlatformInfo below.
class IInterface
{
protected:
    ~IInterface() = default;
};

// Numbers of the extra interfaces for IAddInDefBaseEx::GetInterface.
enum InterfaceNumber : int
{
    InterfaceMsgBox = 0,
    InterfacePlatformInfo = 1,
};

// The extended connection object: the base slots, then GetInterface.
class IAddInDefBaseEx : public IAddInDefBase
{
public:
    // Null for numbers the host does not know.
    virtual IInterface* GetInterface(InterfaceNumber number) = 0;                 // slot 11

protected:
    ~IAddInDefBaseEx() = default;
};

// Message boxes of the host (no destructor slot). The base is private so that no cast can reach
// it; see MsgBoxOf.
class IMsgBox : private IInterface
{
public:
    // Asks a question; *answer becomes a VTYPE_BOOL, true for OK.
    virtual bool Confirm(const WCHAR_T* question, tVariant* answer) = 0;          // slot 0
    virtual bool Alert(const WCHAR_T* text) = 0;                                  // slot 1

protected:
    ~IMsgBox() = default;
};

// What the host says about itself.
struct AppInfo
{
    const WCHAR_T* AppVersion;
    const WCHAR_T* UserAgentInformation;
    int32_t Application;
};
static_assert(sizeof(AppInfo) == 24, "two pointers and a 32-bit kind, padded");

class IPlatformInfo : private IInterface
{
public:
    virtual const AppInfo* GetPlatformInfo() = 0;                                 // slot 0

protected:
    ~IPlatformInfo() = default;
};

// Where the empty IInterface base lies in IMsgBox and IPlatformInfo. The platform's compiler lays
// out a class that has virtual functions but no base with a vtable pointer (Microsoft's x64 layout)
// with its own vtable pointer at offset 0 and its non-virtual bases after it, so the empty base
// lies at offset 8, and GetInterface returns the interface's address plus 8. GCC puts an empty
// base at offset 0, over the vtable pointer, so a C++ cast between the two would call the slots of
// whatever lies 8 bytes on. Hosts built here hand the interfaces out with PlatformInterface, and
// the add-in takes them back with MsgBoxOf and PlatformInfoOf.
const ptrdiff_t PlatformInterfaceBaseOffset = 8;

inline IMsgBox* MsgBoxOf(IInterface* base)
{
    return base ? reinterpret_cast<IMsgBox*>(reinterpret_cast<char*>(base) - PlatformInterfaceBaseOffset) : nullptr;
}

inline IPlatformInfo* PlatformInfoOf(IInterface* base)
{
    return base ? reinterpret_cast<IPlatformInfo*>(reinterpret_cast<char*>(base) - PlatformInterfaceBaseOffset)
                : nullptr;
}

inline IInterface* PlatformInterface(IMsgBox* box)
{
    return box ? reinterpret_cast<IInterface*>(reinterpret_cast<char*>(box) + PlatformInterfaceBaseOffset) : nullptr;
}

inline IInterface* PlatformInterface(IPlatformInfo* info)
{
    return info ? reinterpret_cast<IInterface*>(reinterpret_cast<char*>(info) + PlatformInterfaceBaseOffset)
                : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Interfaces the component implements and the host calls. A component object starts with an
// IInitDoneBase part (offset 0), followed by its ILanguageExtenderBase part (offset 8) and its
// LocaleBase part (offset 16); the host reaches the latter two by those offsets.

class IInitDoneBase
{
public:
    virtual void* DestructorSlot(unsigned int /*flags*/) { return this; }             // slot 0
    virtual bool Init(void* connection) = 0;                                      // slot 1
    virtual bool setMemManager(void* memoryManager) = 0;                          // slot 2
    virtual long GetInfo() = 0;                                                   // slot 3
    virtual void Done() = 0;                                                      // slot 4

protected:
    ~IInitDoneBase() = default;
};

class ILanguageExtenderBase
{
public:
    virtual void* DestructorSlot(unsigned int /*flags*/) { return this; }             // slot 0
    virtual bool RegisterExtensionAs(WCHAR_T** extensionName) = 0;                // slot 1
    virtual long GetNProps() = 0;                                                 // slot 2
    virtual long FindProp(const WCHAR_T* name) = 0;                               // slot 3
    virtual const WCHAR_T* GetPropName(long number, long alias) = 0;              // slot 4
    virtual bool GetPropVal(const long number, tVariant* value) = 0;              // slot 5
    virtual bool SetPropVal(const long number, tVariant* value) = 0;              // slot 6
    virtual bool IsPropReadable(const long number) = 0;                           // slot 7
    virtual bool IsPropWritable(const long number) = 0;                           // slot 8
    virtual long GetNMethods() = 0;                                               // slot 9
    virtual long FindMethod(const WCHAR_T* name) = 0;                             // slot 10
    virtual const WCHAR_T* GetMethodName(const long number, const long alias) = 0; // slot 11
    virtual long GetNParams(const long method) = 0;                               // slot 12
    virtual bool GetParamDefValue(const long method, const long param, tVariant* value) = 0; // 13
    virtual bool HasRetVal(const long method) = 0;                                // slot 14
    virtual bool CallAsProc(const long method, tVariant* params, const long count) = 0; // slot 15
    virtual bool CallAsFunc(const long method, tVariant* result, tVariant* params,
                            const long count) = 0;                                // slot 16

protected:
    ~ILanguageExtenderBase() = default;
};

class LocaleBase
{
public:
    virtual void* DestructorSlot(unsigned int /*flags*/) { return this; }             // slot 0
    virtual void SetLocale(const WCHAR_T* locale) = 0;                            // slot 1

protected:
    ~LocaleBase() = default;
};

// The component as the exports hand it out.
class IComponentBase : public IInitDoneBase, public ILanguageExtenderBase, public LocaleBase
{
protected:
    ~IComponentBase() = default;
};

// ---------------------------------------------------------------------------------------------
// The library's exports (undecorated names, bound by name by the host).

// What the platform can do; the add-in needs nothing beyond the first version.
enum AppCapabilities : int
{
    AppCapabilitiesInvalid = -1,
    AppCapabilitiesVersion1 = 1,
};

extern "C" {
// Non-zero when an object was created into *component (which must hold null).
long GetClassObject(const WCHAR_T* className, IComponentBase** component);
// 0 after deleting *component and clearing it; -1 when it holds null.
long DestroyObject(IComponentBase** component);
// The class names, joined by "|"; the same pointer for the life of the process.
const WCHAR_T* GetClassNames();
AppCapabilities SetPlatformCapabilities(const AppCapabilities capabilities);
}

// The exports' types, for hosts that bind them at run time.
typedef long (*GetClassObjectFn)(const WCHAR_T*, IComponentBase**);
typedef long (*DestroyObjectFn)(IComponentBase**);
typedef const WCHAR_T* (*GetClassNamesFn)();
typedef AppCapabilities (*SetPlatformCapabilitiesFn)(const AppCapabilities);
