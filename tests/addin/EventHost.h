// A platform connection for tests whose events come from reader threads: records every external
// event and error thread-safely, lets a test wait for an event, can refuse events as a platform
// with a full event buffer does, and can check inside each event that the component's lock is free
// (another thread must be able to take it while the event is being raised). It can also play a
// platform that holds each event call (it queues events on a main thread that is busy), one that
// runs the event handler inside the call, and one that has freed the connection.
//
// Also the recorder of the sound seam: every sound the component would play, with the thread it
// came from, in one sequence with the events, so that tests can check what played when.
#pragma once
#include "Component.h"
#include "Handles.h"
#include <windows.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace eventhost {

// One entry of the sequence: an event ("event"), a .wav played ("wave") or a media-control string
// ("mci").
struct Entry
{
    std::wstring Kind;
    std::wstring Source; // events
    std::wstring Name;   // event name, file path or media-control string
    std::wstring Data;   // events
    DWORD Flags = 0;     // "wave": the PlaySound flags
    DWORD Thread = 0;
    bool LockFree = true; // events: another thread could take the component lock meanwhile
};

class CRecorder
{
public:
    static CRecorder& Instance()
    {
        static CRecorder recorder;
        return recorder;
    }

    void Add(const Entry& entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(entry);
        m_changed.notify_all();
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.clear();
    }
    std::vector<Entry> Entries(const wchar_t* kind = nullptr)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<Entry> out;
        for (const Entry& e : m_entries)
            if (!kind || e.Kind == kind)
                out.push_back(e);
        return out;
    }
    // Waits until `count` entries satisfy the test; false on time-out.
    bool WaitFor(const std::function<bool(const Entry&)>& test, size_t count, unsigned timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t n = 0;
            for (const Entry& e : m_entries)
                n += test(e) ? 1 : 0;
            return n >= count;
        });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Entry> m_entries;
};

inline BOOL WINAPI RecordWave(LPCWSTR sound, HMODULE, DWORD flags)
{
    Entry e;
    e.Kind = L"wave";
    e.Name = sound ? sound : L"";
    e.Flags = flags;
    e.Thread = GetCurrentThreadId();
    CRecorder::Instance().Add(e);
    return TRUE;
}

inline DWORD WINAPI RecordMci(LPCWSTR command, LPWSTR, UINT, HWND)
{
    Entry e;
    e.Kind = L"mci";
    e.Name = command ? command : L"";
    e.Thread = GetCurrentThreadId();
    CRecorder::Instance().Add(e);
    return 0;
}

inline SoundFunctions RecordingSounds()
{
    return SoundFunctions{&RecordWave, &RecordMci};
}

class CEventHost : public IAddInDefBase
{
public:
    CEventHost() = default;
    ~CEventHost() { JoinProbes(); }
    CEventHost(const CEventHost&) = delete;
    CEventHost& operator=(const CEventHost&) = delete;

    // With a component, every event checks that its lock is free.
    void ProbeLockOf(CParvel* component) { m_probed = component; }
    void SetRefuse(bool refuse) { m_refuse = refuse; }

    // Every event call from now on stays inside the host until ReleaseEvents, or capMs at most (the
    // platform's own limit, which also ends a test whose component waits for the call).
    void HoldEvents(DWORD capMs = 12000)
    {
        m_holdCapMs = capMs;
        ResetEvent(m_release.Get());
        m_holding = true;
    }
    void ReleaseEvents()
    {
        m_holding = false;
        SetEvent(m_release.Get());
    }
    // Event calls inside the host now.
    int Inside() const { return m_inside.load(); }
    // Runs inside each event call, on the raising thread, before the call returns (or is held).
    void SetHandler(std::function<void(const Entry&)> handler)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handler = std::move(handler);
    }
    // The platform has freed the connection: every call that begins afterwards counts as late.
    void MarkFreed() { m_freed = true; }
    int LateCalls() const { return m_lateCalls.load(); }

    bool AddError(unsigned short code, const WCHAR_T* source, const WCHAR_T* description, long status) override
    {
        NoteCall();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_errors.push_back(description ? description : L"");
        return true;
    }
    bool Read(WCHAR_T*, tVariant*, long*, WCHAR_T**) override { return false; }
    bool Write(WCHAR_T*, tVariant*) override { return false; }
    bool RegisterProfileAs(WCHAR_T*) override { return false; }
    bool SetEventBufferDepth(long depth) override
    {
        NoteCall();
        m_depth = depth;
        return true;
    }
    long GetEventBufferDepth() override { return m_depth; }
    bool ExternalEvent(WCHAR_T* source, WCHAR_T* message, WCHAR_T* data) override
    {
        NoteCall();
        Entry e;
        e.Kind = L"event";
        e.Source = source ? source : L"";
        e.Name = message ? message : L"";
        e.Data = data ? data : L"";
        e.Thread = GetCurrentThreadId();
        if (m_probed)
            e.LockFree = LockIsFree(m_probed);
        CRecorder::Instance().Add(e);
        std::function<void(const Entry&)> handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            handler = m_handler;
        }
        if (handler)
            handler(e);
        if (m_holding) {
            ++m_inside;
            WaitForSingleObject(m_release.Get(), m_holdCapMs);
            --m_inside;
        }
        return !m_refuse;
    }
    void CleanEventBuffer() override {}
    bool SetStatusLine(WCHAR_T*) override { return false; }
    void ResetStatusLine() override {}

    std::vector<std::wstring> Errors()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_errors;
    }

    // Joins the lock probes; call before the probed component goes.
    void JoinProbes()
    {
        std::vector<std::thread> probes;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            probes.swap(m_probes);
        }
        for (auto& t : probes)
            t.join();
    }

private:
    void NoteCall()
    {
        if (m_freed)
            ++m_lateCalls;
    }

    // Reading LastKeyType takes the component lock; a thread of its own gets it only when no other
    // thread holds it. A probe that waits in vain is joined later, once the lock has been left.
    bool LockIsFree(CParvel* component)
    {
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> finished = done->get_future();
        std::thread probe([component, done] {
            tVariant value;
            value.vt = VTYPE_EMPTY;
            component->GetPropVal(20, &value);
            done->set_value();
        });
        const bool free = finished.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_probes.push_back(std::move(probe));
        return free;
    }

    std::mutex m_mutex;
    std::vector<std::wstring> m_errors;
    std::vector<std::thread> m_probes;
    std::atomic<bool> m_refuse{false};
    std::atomic<CParvel*> m_probed{nullptr};
    long m_depth = 32;
    std::function<void(const Entry&)> m_handler;
    std::atomic<bool> m_holding{false};
    std::atomic<DWORD> m_holdCapMs{0};
    CHandle m_release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<int> m_inside{0};
    std::atomic<bool> m_freed{false};
    std::atomic<int> m_lateCalls{0};
};

// Entries of the kind "event" with the given name.
inline bool IsEvent(const Entry& e, const wchar_t* name)
{
    return e.Kind == L"event" && e.Name == name;
}

} // namespace eventhost
