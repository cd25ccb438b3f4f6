// The thread, socket and lock bases, the thread-language switch and the serial-port list.
#include "Exceptions.h"
#include "Lock.h"
#include "ModuleState.h"
#include "ScratchRegistry.h"
#include "SerialPorts.h"
#include "Socket.h"
#include "Thread.h"
#include "ThreadLanguage.h"
#include "WinVersion.h"
#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <thread>
#include <gtest/gtest.h>

namespace {

class LoopThread : public CThread
{
public:
    ~LoopThread() override { StopThread(); }
    std::atomic<int> runs{0};
    std::atomic<bool> sawRunning{false};

protected:
    DWORD Run() override
    {
        ++runs;
        sawRunning = Running();
        while (Running())
            Sleep(5);
        return 7;
    }
};

ULONGLONG Now() { return GetTickCount64(); }

// Wine accepts SetThreadUILanguage but keeps reporting the user's UI language, so the thread's UI
// language can only be checked on Windows.
bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

} // namespace

TEST(Thread, StartOnceAndJoinOnDestruction)
{
    auto* t = new LoopThread;
    t->Start();
    HANDLE first = t->ThreadHandle();
    t->Start(); // no second thread
    EXPECT_EQ(first, t->ThreadHandle());
    Sleep(50);
    EXPECT_EQ(1, t->runs.load());
    EXPECT_TRUE(t->sawRunning.load());
    ULONGLONG start = Now();
    delete t;
    EXPECT_LT(Now() - start, 1000u);
}

TEST(Thread, NeverStartedDoesNotBlock)
{
    ULONGLONG start = Now();
    {
        LoopThread t;
        EXPECT_FALSE(t.Started());
        t.StopThread();
    }
    EXPECT_LT(Now() - start, 100u);
}

TEST(Thread, StopThreadTwiceAndExitCode)
{
    LoopThread t;
    t.Start();
    HANDLE dup = nullptr;
    DuplicateHandle(GetCurrentProcess(), t.ThreadHandle(), GetCurrentProcess(), &dup, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    t.StopThread();
    t.StopThread();
    EXPECT_FALSE(t.Started());
    DWORD code = 0;
    GetExitCodeThread(dup, &code);
    EXPECT_EQ(7u, code);
    CloseHandle(dup);
}

// The stack a thread reserves, seen from inside it: the size of the reservation its stack lies in.
SIZE_T OwnStackReservation()
{
    MEMORY_BASIC_INFORMATION info{};
    int local = 0;
    VirtualQuery(&local, &info, sizeof(info));
    const char* base = static_cast<const char*>(info.AllocationBase);
    SIZE_T size = 0;
    for (const char* at = base; VirtualQuery(at, &info, sizeof(info)) == sizeof(info) && info.AllocationBase == base;
         at += info.RegionSize)
        size += info.RegionSize;
    return size;
}

TEST(Thread, StackReservationIsTheOneAskedFor)
{
    struct Measuring : CThread
    {
        explicit Measuring(SIZE_T reservation) { SetStackReservation(reservation); }
        ~Measuring() override { StopThread(); }
        DWORD Run() override
        {
            reserved = OwnStackReservation();
            return 0;
        }
        SIZE_T reserved = 0;
    };
    Measuring byDefault(0);
    byDefault.Start();
    byDefault.StopThread();
    Measuring small(256 * 1024);
    small.Start();
    small.StopThread();
    ASSERT_GT(byDefault.reserved, 0u);
    // Windows gives what is asked; Wine gives at least 1 MB, still less than the default.
    EXPECT_LT(small.reserved, byDefault.reserved);
    EXPECT_LE(small.reserved, 1024u * 1024 + 64 * 1024);
}

TEST(Lock, LeavesOnExceptionAndIsReentrant)
{
    CCriticalSection cs;
    try {
        CritSecLock outer(cs);
        CritSecLock inner(cs);
        throw 1;
    } catch (int) {
    }
    // Another thread can take the section: both scopes left it.
    std::atomic<bool> taken{false};
    struct Taker : CThread
    {
        CCriticalSection* cs;
        std::atomic<bool>* taken;
        ~Taker() override { StopThread(); }
        DWORD Run() override
        {
            CritSecLock l(*cs);
            *taken = true;
            return 0;
        }
    } taker;
    taker.cs = &cs;
    taker.taken = &taken;
    taker.Start();
    for (int i = 0; i < 100 && !taken; ++i)
        Sleep(5);
    EXPECT_TRUE(taken.load());
}

TEST(Socket, ClosesOwnedHandleOnly)
{
    WSADATA wsa;
    ASSERT_EQ(0, WSAStartup(MAKEWORD(2, 2), &wsa));
    SOCKET raw = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(INVALID_SOCKET, raw);
    {
        CSocket owner(raw);
        CSocket moved(std::move(owner));
        EXPECT_FALSE(owner.Valid());
        EXPECT_TRUE(moved.Valid());
    }
    // Closed once by the moved-to owner: a second close reports a bad socket.
    EXPECT_EQ(SOCKET_ERROR, closesocket(raw));
    { CSocket none; }
    WSACleanup();
}

// A thread of the add-in may take up Russian number formatting for itself (where the runtime has
// per-thread locales), never for the process: the host's own thread goes on printing "1.5".
TEST(ThreadLanguage, AnAddinThreadsSwitchLeavesTheProcessLocaleAlone)
{
    const LCID saved = MessageLcid;
    MessageLcid = 1049;
    char host[16] = {};
    char own[16] = {};
    std::thread worker([&] {
        SetThreadLanguage();
        snprintf(own, sizeof own, "%.1f", 1.5);
    });
    worker.join();
    snprintf(host, sizeof host, "%.1f", 1.5);
    MessageLcid = saved;
    EXPECT_STREQ("1.5", host);
    EXPECT_TRUE(strcmp(own, "1,5") == 0 || strcmp(own, "1.5") == 0) << own;
}

TEST(ThreadLanguage, RussianAndEnglish)
{
    LCID saved = MessageLcid;
    MessageLcid = 1049;
    // The configurator's form sets its process's locale (the add-in's form is tested above).
    EXPECT_NO_THROW(SetThreadLanguage(MessageLcid));
    const char* name = setlocale(LC_ALL, nullptr);
    ASSERT_NE(nullptr, name);
    EXPECT_NE(nullptr, strstr(name, "Russian")) << name;
    if (IsVistaOrLater() && !RunningOnWine()) {
        EXPECT_EQ(1049, GetThreadUILanguage());
    }

    EXPECT_NO_THROW(SetThreadLanguage(1033));
    name = setlocale(LC_ALL, nullptr);
    EXPECT_NE(nullptr, strstr(name, "English")) << name;
    if (IsVistaOrLater() && !RunningOnWine()) {
        EXPECT_EQ(1033, GetThreadUILanguage());
    }

    // A locale the runtime may not know throws nothing.
    EXPECT_NO_THROW(SetThreadLanguage(0x0C01));
    MessageLcid = saved;
    SetThreadLanguage(1033);
}

TEST(SerialPorts, ListFromScratchKey)
{
    ScratchRegistry hklm(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(hklm.Ok());
    std::vector<std::wstring> ports = {L"KEEP"};
    EnumSerialPorts(ports); // no SERIALCOMM key: nothing added, no error
    ASSERT_EQ(1u, ports.size());

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(hklm.Key(), L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    auto setSz = [&](const wchar_t* name, const wchar_t* value) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    };
    setSz(L"\\Device\\Serial0", L"com1");
    DWORD dword = 5;
    RegSetValueExW(key, L"\\Device\\Odd", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), 4);
    setSz(L"\\Device\\Empty", L"");
    setSz(L"\\Device\\VCP0", L"COM12");
    // A value that fills the whole data buffer, without room for a terminator.
    std::wstring full(256, L'A');
    RegSetValueExW(key, L"\\Device\\Full", 0, REG_SZ, reinterpret_cast<const BYTE*>(full.c_str()), 512);
    // Longer than any port name (the other enumeration passes such a value over too).
    std::wstring tooLong(600, L'B');
    RegSetValueExW(key, L"\\Device\\Long", 0, REG_SZ, reinterpret_cast<const BYTE*>(tooLong.c_str()),
                   static_cast<DWORD>((tooLong.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    ports.clear();
    ASSERT_NO_THROW(EnumSerialPorts(ports));
    // The registry's enumeration order stands (Windows: order of creation, Wine: by name).
    std::sort(ports.begin(), ports.end());
    std::vector<std::wstring> expected = {full, L"COM1", L"COM12"};
    EXPECT_EQ(expected, ports);
}
