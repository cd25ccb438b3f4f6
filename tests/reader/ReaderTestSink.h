// A reader-events sink for tests: records every event (with the source a component would name and
// the time it came) and every log line, thread-safely, and lets a test wait for what it expects
// with a time-out. Keys get the text "key<n>" (n counts the keys), which the reader must hand back
// when the key leaves. With READER_TEST_TRACE set, lines and events are printed as they come; a
// failed test prints them all when its sink goes.
#pragma once
#include "Reader.h"
#include "ResText.h"
#include "WFormat.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <condition_variable>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace readertest {

enum class EventKind { TracksData, NoCard, DriverError, Connect, Disconnect, Command };

struct ReaderEvent
{
    EventKind Kind;
    uint32_t KeyType = 0;
    KeyData Key;
    std::wstring Text;
    HRESULT Code = S_OK;
    std::wstring Source; // port name, with "\address" while a bus address is current
    DWORD Tick = 0;
};

class CRecordingSink : public IReaderEvents
{
public:
    CRecordingSink() = default;
    // A failed test shows what the reader did.
    ~CRecordingSink()
    {
        if (!testing::Test::HasFailure())
            return;
        for (const auto& line : m_log)
            printf("  log %ls\n", line.c_str());
        for (const auto& e : m_events)
            printf("  event %d %u code 0x%08lX source %ls text %ls\n", (int)e.Kind, e.KeyType,
                   (unsigned long)e.Code, e.Source.c_str(), e.Text.c_str());
    }
    CRecordingSink(const CRecordingSink&) = delete;
    CRecordingSink& operator=(const CRecordingSink&) = delete;

    void OnTracksData(CReader* reader, uint32_t keyType, const KeyData& key, std::wstring& keyText) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        keyText = L"key" + std::to_wstring(++m_keyCount);
        Add(reader, EventKind::TracksData, keyType, key, keyText, S_OK);
    }
    void OnNoCard(CReader* reader, uint32_t keyType, const KeyData& key, const std::wstring& keyText) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Add(reader, EventKind::NoCard, keyType, key, keyText, S_OK);
    }
    void OnDriverError(CReader* reader, HRESULT code, const std::wstring& text) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Add(reader, EventKind::DriverError, 0, KeyData(), text, code);
    }
    void OnDeviceConnect(CReader* reader) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Add(reader, EventKind::Connect, 0, KeyData(), L"", S_OK);
    }
    void OnDeviceDisconnect(CReader* reader) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Add(reader, EventKind::Disconnect, 0, KeyData(), L"", S_OK);
    }
    void OnCommand(CReader* reader) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Add(reader, EventKind::Command, 0, KeyData(), L"", S_OK);
    }
    BOOL IsLogEnabled(CReader*, uint32_t) override { return TRUE; }
    void Log(CReader*, uint32_t level, uint32_t messageId, ...) override
    {
        std::wstring line = L"[" + std::to_wstring(messageId) + L"] ";
        std::wstring format = LoadResString(messageId);
        va_list args;
        va_start(args, messageId);
        AppendFormatV(line, format.c_str(), args);
        va_end(args);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (getenv("READER_TEST_TRACE"))
                printf("%lu log %ls\n", GetTickCount(), line.c_str());
            m_log.push_back(line);
        }
        m_changed.notify_all();
    }

    std::vector<ReaderEvent> Events()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    std::vector<ReaderEvent> Events(EventKind kind)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::vector<ReaderEvent> out;
        for (const auto& e : m_events)
            if (e.Kind == kind)
                out.push_back(e);
        return out;
    }
    size_t Count(EventKind kind) { return Events(kind).size(); }
    std::vector<std::wstring> LogLines()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_log;
    }
    bool HasLogLine(const std::wstring& part)
    {
        for (const auto& line : LogLines())
            if (line.find(part) != std::wstring::npos)
                return true;
        return false;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
        m_log.clear();
    }

    // Waits until the recorded events satisfy `done`; false after timeoutMs.
    bool WaitFor(const std::function<bool(const std::vector<ReaderEvent>&)>& done, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return done(m_events); });
    }
    // Waits until at least `count` log lines begin with `prefix` ("[151]", say); the reader may log
    // after the traffic a test waits for, so a test that counts lines waits for them first.
    bool WaitLogCount(const std::wstring& prefix, size_t count, DWORD timeoutMs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            size_t n = 0;
            for (const auto& line : m_log)
                n += line.compare(0, prefix.size(), prefix) == 0;
            return n >= count;
        });
    }
    // Waits until at least `count` events of `kind` were recorded.
    bool WaitCount(EventKind kind, size_t count, DWORD timeoutMs)
    {
        return WaitFor([&](const std::vector<ReaderEvent>& events) {
            size_t n = 0;
            for (const auto& e : events)
                n += e.Kind == kind;
            return n >= count;
        }, timeoutMs);
    }

private:
    void Add(CReader* reader, EventKind kind, uint32_t keyType, const KeyData& key,
             const std::wstring& text, HRESULT code)
    {
        ReaderEvent e;
        e.Kind = kind;
        e.KeyType = keyType;
        e.Key = key;
        e.Text = text;
        e.Code = code;
        e.Source = reader->PortName();
        int32_t address = reader->CurrentAddress();
        if (address != NO_BUS_ADDRESS)
            e.Source += L"\\" + std::to_wstring(address);
        e.Tick = GetTickCount();
        if (getenv("READER_TEST_TRACE"))
            printf("%lu event %d %u code 0x%08lX source %ls text %ls\n", e.Tick, (int)e.Kind,
                   e.KeyType, (unsigned long)e.Code, e.Source.c_str(), e.Text.c_str());
        m_events.push_back(e);
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<ReaderEvent> m_events;
    std::vector<std::wstring> m_log;
    int m_keyCount = 0;
};

inline std::vector<uint8_t> Bytes(const KeyData& key)
{
    return std::vector<uint8_t>(key.Bytes, key.Bytes + key.ByteCount());
}

} // namespace readertest
