// A fake platform for the add-in's tests that speaks to the component the way a host built with
// Microsoft's compiler does: by slot number in each interface's vtable, with the component's
// secondary interfaces found at fixed offsets, and with connection and memory-manager objects whose
// vtables are plain tables of functions in Microsoft's slot order. Nothing here goes through the
// C++ declarations of the interfaces, so a slot or an offset that moves breaks these tests.
//
// On x64 both compilers pass `this` as the first argument of the one calling convention, so a
// slot is called as a plain function with the object first.
#pragma once
#include "NativeApi.h"
#include <windows.h>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <set>
#include <string>
#include <vector>

namespace slothost {

// Slot `slot` of the vtable at the start of `object`.
template <typename R, typename... Args>
R CallSlot(void* object, int slot, Args... args)
{
    void* const* vtable = *static_cast<void* const* const*>(object);
    using Fn = R (*)(void*, Args...);
    return reinterpret_cast<Fn>(vtable[slot])(object, args...);
}

// Byte offsets of the component's interface parts, as the platform expects them.
const ptrdiff_t LanguageExtenderOffset = 8;
const ptrdiff_t LocaleOffset = 16;

// An extra interface of the connection as the platform lays it out: its vtable pointer at 0 and
// the empty IInterface base at 8, which is what GetInterface hands out.
struct FakeMsgBox
{
    const void* const* Vtable;
    std::vector<std::wstring> Shown; // questions and alerts, in order
    bool Answer = true;

    FakeMsgBox();
    IInterface* Base() { return reinterpret_cast<IInterface*>(reinterpret_cast<char*>(this) + 8); }
};

struct FakePlatformInfo
{
    const void* const* Vtable;
    AppInfo Info{L"8.3.3", L"", 1};

    FakePlatformInfo();
    IInterface* Base() { return reinterpret_cast<IInterface*>(reinterpret_cast<char*>(this) + 8); }
};

// The connection object (IAddInDefBaseEx): records every call by its slot number.
struct FakeConnection
{
    struct Error
    {
        unsigned short Code;
        std::wstring Source;
        std::wstring Description;
        long Status;
    };
    struct Event
    {
        std::wstring Source;
        std::wstring Message;
        std::wstring Data;
    };

    const void* const* Vtable;
    std::vector<int> Calls;     // slot numbers in call order
    std::vector<long> Depths;   // arguments of SetEventBufferDepth
    std::vector<Error> Errors;  // AddError
    std::vector<Event> Events;  // ExternalEvent
    bool AcceptDepth = true;
    long Depth = 32;
    FakeMsgBox MsgBox;
    FakePlatformInfo PlatformInfo;

    FakeConnection();
    size_t CallsTo(int slot) const
    {
        size_t n = 0;
        for (int s : Calls)
            n += s == slot;
        return n;
    }
};

namespace detail {

inline std::wstring Text(const WCHAR_T* s)
{
    return s ? std::wstring(s) : std::wstring();
}
inline void* C0(FakeConnection* self, unsigned)
{
    self->Calls.push_back(0);
    return self;
}
inline bool C1(FakeConnection* self, unsigned short code, const WCHAR_T* source, const WCHAR_T* text, long status)
{
    self->Calls.push_back(1);
    self->Errors.push_back({code, Text(source), Text(text), status});
    return true;
}
inline bool C2(FakeConnection* self, WCHAR_T*, tVariant*, long*, WCHAR_T**)
{
    self->Calls.push_back(2);
    return false;
}
inline bool C3(FakeConnection* self, WCHAR_T*, tVariant*)
{
    self->Calls.push_back(3);
    return false;
}
inline bool C4(FakeConnection* self, WCHAR_T*)
{
    self->Calls.push_back(4);
    return false;
}
inline bool C5(FakeConnection* self, long depth)
{
    self->Calls.push_back(5);
    self->Depths.push_back(depth);
    if (self->AcceptDepth)
        self->Depth = depth;
    return self->AcceptDepth;
}
inline long C6(FakeConnection* self)
{
    self->Calls.push_back(6);
    return self->Depth;
}
inline bool C7(FakeConnection* self, WCHAR_T* source, WCHAR_T* message, WCHAR_T* data)
{
    self->Calls.push_back(7);
    self->Events.push_back({Text(source), Text(message), Text(data)});
    return true;
}
inline void C8(FakeConnection* self)
{
    self->Calls.push_back(8);
}
inline bool C9(FakeConnection* self, WCHAR_T*)
{
    self->Calls.push_back(9);
    return true;
}
inline void C10(FakeConnection* self)
{
    self->Calls.push_back(10);
}
inline void* C11(FakeConnection* self, int number)
{
    self->Calls.push_back(11);
    return number == 0 ? self->MsgBox.Base() : number == 1 ? self->PlatformInfo.Base() : nullptr;
}

inline const void* const* ConnectionTable()
{
    static const void* const table[] = {
        reinterpret_cast<const void*>(&C0), reinterpret_cast<const void*>(&C1),
        reinterpret_cast<const void*>(&C2), reinterpret_cast<const void*>(&C3),
        reinterpret_cast<const void*>(&C4), reinterpret_cast<const void*>(&C5),
        reinterpret_cast<const void*>(&C6), reinterpret_cast<const void*>(&C7),
        reinterpret_cast<const void*>(&C8), reinterpret_cast<const void*>(&C9),
        reinterpret_cast<const void*>(&C10), reinterpret_cast<const void*>(&C11),
    };
    return table;
}

inline bool B0(FakeMsgBox* self, const WCHAR_T* question, tVariant* answer)
{
    self->Shown.push_back(Text(question));
    std::memset(answer, 0, sizeof(*answer));
    answer->vt = VTYPE_BOOL;
    answer->bVal = self->Answer;
    return true;
}
inline bool B1(FakeMsgBox* self, const WCHAR_T* text)
{
    self->Shown.push_back(Text(text));
    return true;
}
inline const AppInfo* P0(FakePlatformInfo* self)
{
    return &self->Info;
}

inline const void* const* MsgBoxTable()
{
    static const void* const table[] = {reinterpret_cast<const void*>(&B0), reinterpret_cast<const void*>(&B1)};
    return table;
}

inline const void* const* PlatformInfoTable()
{
    static const void* const table[] = {reinterpret_cast<const void*>(&P0)};
    return table;
}

} // namespace detail

inline FakeMsgBox::FakeMsgBox() : Vtable(detail::MsgBoxTable()) {}
inline FakePlatformInfo::FakePlatformInfo() : Vtable(detail::PlatformInfoTable()) {}
inline FakeConnection::FakeConnection() : Vtable(detail::ConnectionTable()) {}

// The memory manager (IMemoryManager): blocks from the C heap, all freed with the manager.
struct FakeMemory
{
    const void* const* Vtable;
    std::set<void*> Blocks;
    size_t Allocations = 0;
    size_t Frees = 0;
    bool Refuse = false;

    FakeMemory();
    ~FakeMemory()
    {
        for (void* block : Blocks)
            std::free(block);
    }
    FakeMemory(const FakeMemory&) = delete;
    FakeMemory& operator=(const FakeMemory&) = delete;
};

namespace detail {

inline void* M0(FakeMemory* self, unsigned)
{
    return self;
}
inline bool M1(FakeMemory* self, void** memory, unsigned long bytes)
{
    if (!memory || self->Refuse)
        return false;
    *memory = std::malloc(bytes ? bytes : 1);
    self->Blocks.insert(*memory);
    ++self->Allocations;
    return true;
}
inline void M2(FakeMemory* self, void** memory)
{
    if (memory && *memory) {
        self->Blocks.erase(*memory);
        std::free(*memory);
        *memory = nullptr;
        ++self->Frees;
    }
}

inline const void* const* MemoryTable()
{
    static const void* const table[] = {
        reinterpret_cast<const void*>(&M0),
        reinterpret_cast<const void*>(&M1),
        reinterpret_cast<const void*>(&M2),
    };
    return table;
}

} // namespace detail

inline FakeMemory::FakeMemory() : Vtable(detail::MemoryTable()) {}

// The component as the platform sees it: a pointer to its first interface part.
class Component
{
public:
    Component() = default;
    explicit Component(void* object) : m_base(object) {}
    void* Base() const { return m_base; }

    // IInitDoneBase
    void* DestructorSlot(unsigned flags) { return CallSlot<void*>(m_base, 0, flags); }
    bool Init(void* connection) { return CallSlot<bool>(m_base, 1, connection); }
    bool SetMemManager(void* memory) { return CallSlot<bool>(m_base, 2, memory); }
    long GetInfo() { return CallSlot<long>(m_base, 3); }
    void Done() { CallSlot<void>(m_base, 4); }

    // ILanguageExtenderBase
    bool RegisterExtensionAs(WCHAR_T** name) { return CallSlot<bool>(Lang(), 1, name); }
    long GetNProps() { return CallSlot<long>(Lang(), 2); }
    long FindProp(const WCHAR_T* name) { return CallSlot<long>(Lang(), 3, name); }
    const WCHAR_T* GetPropName(long n, long alias) { return CallSlot<const WCHAR_T*>(Lang(), 4, n, alias); }
    bool GetPropVal(long n, tVariant* v) { return CallSlot<bool>(Lang(), 5, n, v); }
    bool SetPropVal(long n, tVariant* v) { return CallSlot<bool>(Lang(), 6, n, v); }
    bool IsPropReadable(long n) { return CallSlot<bool>(Lang(), 7, n); }
    bool IsPropWritable(long n) { return CallSlot<bool>(Lang(), 8, n); }
    long GetNMethods() { return CallSlot<long>(Lang(), 9); }
    long FindMethod(const WCHAR_T* name) { return CallSlot<long>(Lang(), 10, name); }
    const WCHAR_T* GetMethodName(long n, long alias) { return CallSlot<const WCHAR_T*>(Lang(), 11, n, alias); }
    long GetNParams(long n) { return CallSlot<long>(Lang(), 12, n); }
    bool GetParamDefValue(long n, long p, tVariant* v) { return CallSlot<bool>(Lang(), 13, n, p, v); }
    bool HasRetVal(long n) { return CallSlot<bool>(Lang(), 14, n); }
    bool CallAsProc(long n, tVariant* params, long count) { return CallSlot<bool>(Lang(), 15, n, params, count); }
    bool CallAsFunc(long n, tVariant* result, tVariant* params, long count)
    {
        return CallSlot<bool>(Lang(), 16, n, result, params, count);
    }

    // LocaleBase
    void SetLocale(const WCHAR_T* locale) { CallSlot<void>(Locale(), 1, locale); }

    // Conveniences over the slots.
    bool Func(long n, tVariant& result, std::vector<tVariant>& params)
    {
        return CallAsFunc(n, &result, params.empty() ? nullptr : params.data(), static_cast<long>(params.size()));
    }
    bool Proc(long n, std::vector<tVariant>& params)
    {
        return CallAsProc(n, params.empty() ? nullptr : params.data(), static_cast<long>(params.size()));
    }

private:
    void* Lang() const { return static_cast<char*>(m_base) + LanguageExtenderOffset; }
    void* Locale() const { return static_cast<char*>(m_base) + LocaleOffset; }

    void* m_base = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Variants as a host builds them. Texts point at the caller's storage (the component only reads
// arguments); values the component returns come from the FakeMemory.

inline tVariant Var(TYPEVAR type)
{
    tVariant v;
    std::memset(&v, 0, sizeof(v));
    v.vt = type;
    return v;
}
inline tVariant Empty() { return Var(VTYPE_EMPTY); }
inline tVariant Null() { return Var(VTYPE_NULL); }
inline tVariant I4(int32_t x) { tVariant v = Var(VTYPE_I4); v.i32Val = x; return v; }
inline tVariant UI4(uint32_t x) { tVariant v = Var(VTYPE_UI4); v.ui32Val = x; return v; }
inline tVariant I2(int16_t x) { tVariant v = Var(VTYPE_I2); v.i16Val = x; return v; }
inline tVariant I1(int8_t x) { tVariant v = Var(VTYPE_I1); v.i8Val = x; return v; }
inline tVariant UI1(uint8_t x) { tVariant v = Var(VTYPE_UI1); v.ui8Val = x; return v; }
inline tVariant UI2(uint16_t x) { tVariant v = Var(VTYPE_UI2); v.ui16Val = x; return v; }
inline tVariant I8(int64_t x) { tVariant v = Var(VTYPE_I8); v.i64Val = x; return v; }
inline tVariant UI8(uint64_t x) { tVariant v = Var(VTYPE_UI8); v.ui64Val = x; return v; }
inline tVariant Int(int32_t x) { tVariant v = Var(VTYPE_INT); v.i32Val = x; return v; }
inline tVariant UInt(uint32_t x) { tVariant v = Var(VTYPE_UINT); v.ui32Val = x; return v; }
inline tVariant R8(double x) { tVariant v = Var(VTYPE_R8); v.r8Val = x; return v; }
inline tVariant Bool(bool x) { tVariant v = Var(VTYPE_BOOL); v.bVal = x; return v; }
inline tVariant Str(const wchar_t* s)
{
    tVariant v = Var(VTYPE_PWSTR);
    v.wstr.ptr = const_cast<WCHAR_T*>(s);
    v.wstr.len = static_cast<uint32_t>(wcslen(s));
    return v;
}
inline tVariant Blob(const void* bytes, uint32_t length)
{
    tVariant v = Var(VTYPE_BLOB);
    v.bytes.ptr = static_cast<char*>(const_cast<void*>(bytes));
    v.bytes.len = length;
    return v;
}

inline std::wstring Text(const tVariant& v)
{
    return v.wstr.ptr ? std::wstring(v.wstr.ptr, v.wstr.len) : std::wstring();
}
inline std::string Bytes(const tVariant& v)
{
    return v.bytes.ptr ? std::string(v.bytes.ptr, v.bytes.len) : std::string();
}

// A Linux path (a build folder's) as the Windows path Wine maps it to on drive Z:.
inline std::wstring WinePath(const std::string& unixPath)
{
    std::wstring path = L"Z:";
    for (char ch : unixPath)
        path += ch == '/' ? L'\\' : static_cast<wchar_t>(ch);
    return path;
}

// An export of `module` as a function pointer of type Fn (null when the module has none).
template <typename Fn>
Fn Export(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

} // namespace slothost
