// The serial port and the reader under Windows' serial semantics (the Windows model), where Wine
// answers otherwise: what the model itself answers, the read bound of one pass against a device
// that never stops, the codes of pulled adapters, busy ports and slow Bluetooth ports, and the
// system calls an idle connected reader makes, per protocol, on the model and on the pty.
#include "ComPort.h"
#include "FramedTestRig.h"
#include "Messages.h"
#include "PortTestUtil.h"
#include "TestFolder.h"
#include "WaitUntil.h"
#include "WindowsComModel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ostream>
#include <vector>

using namespace porttest;
using namespace readertest;

namespace {

const wchar_t ModelPort[] = L"\\\\.\\COM39";

bool Signalled(HANDLE event)
{
    return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// The outcome of an overlapped operation as GetOverlappedResult (without waiting) reports it:
// 0 on success, ERROR_IO_INCOMPLETE while pending, else the error.
DWORD Outcome(CComCalls& calls, HANDLE device, OVERLAPPED& ov, DWORD* transferred = nullptr)
{
    DWORD n = 0;
    if (calls.GetOverlappedResult(device, &ov, &n, FALSE)) {
        if (transferred)
            *transferred = n;
        return 0;
    }
    return GetLastError();
}

// The system's comm calls, counted.
class CCountingComCalls : public CComCalls
{
public:
    unsigned long Total() const { return m_count.load(); }
    unsigned long Purges() const { return m_purges.load(); }
    void ResetCounts() { m_count = 0; m_purges = 0; }

    HANDLE CreateFileW(const wchar_t* p, DWORD a, DWORD s, DWORD d, DWORD f) override { return Note(), CComCalls::CreateFileW(p, a, s, d, f); }
    BOOL CloseHandle(HANDLE h) override { return Note(), CComCalls::CloseHandle(h); }
    BOOL GetCommState(HANDLE h, DCB* dcb) override { return Note(), CComCalls::GetCommState(h, dcb); }
    BOOL SetCommState(HANDLE h, DCB* dcb) override { return Note(), CComCalls::SetCommState(h, dcb); }
    BOOL SetupComm(HANDLE h, DWORD i, DWORD o) override { return Note(), CComCalls::SetupComm(h, i, o); }
    BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) override { return Note(), CComCalls::SetCommTimeouts(h, t); }
    BOOL SetCommMask(HANDLE h, DWORD m) override { return Note(), CComCalls::SetCommMask(h, m); }
    BOOL WaitCommEvent(HANDLE h, DWORD* m, OVERLAPPED* ov) override { return Note(), CComCalls::WaitCommEvent(h, m, ov); }
    BOOL ReadFile(HANDLE h, void* b, DWORD n, DWORD* g, OVERLAPPED* ov) override { return Note(), CComCalls::ReadFile(h, b, n, g, ov); }
    BOOL WriteFile(HANDLE h, const void* b, DWORD n, DWORD* s, OVERLAPPED* ov) override { return Note(), CComCalls::WriteFile(h, b, n, s, ov); }
    BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* n, BOOL w) override { return Note(), CComCalls::GetOverlappedResult(h, ov, n, w); }
    BOOL CancelIoEx(HANDLE h, OVERLAPPED* ov) override { return Note(), CComCalls::CancelIoEx(h, ov); }
    BOOL PurgeComm(HANDLE h, DWORD f) override { return ++m_purges, Note(), CComCalls::PurgeComm(h, f); }
    BOOL ClearCommError(HANDLE h, DWORD* e, COMSTAT* s) override { return Note(), CComCalls::ClearCommError(h, e, s); }

private:
    void Note() { ++m_count; }
    std::atomic<unsigned long> m_count{0};
    std::atomic<unsigned long> m_purges{0};
};

// The model's handle of the simulated reader's line, opened as the port opens it.
HANDLE OpenOnModel(CWindowsComModel& model, const std::wstring& port)
{
    return model.CreateFileW((L"\\\\.\\" + port).c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED);
}

unsigned long Purges(CWindowsComModel& model)
{
    return model.Count(CWindowsComModel::Purge);
}

unsigned long Purges(CCountingComCalls& counting)
{
    return counting.Purges();
}

} // namespace

// --- The model itself ------------------------------------------------------------------------

// What the tests below rely on the model for, as Microsoft documents the serial driver: reads,
// writes and waits that complete at once return TRUE and still set their event; a read with the
// time-outs MAXDWORD/0/0 returns at once with 0 bytes; one comm-event wait per handle, events
// kept for the next wait, SetCommMask ending a wait with mask 0; PurgeComm and CancelIoEx ending
// operations as aborted; a pulled adapter failing pending and later calls with its code.
TEST(WindowsComModel, AnswersAsWindowsDocumentsTheSerialDriver)
{
    CWindowsComModel model;
    model.noDeviceBehind = true;
    HANDLE h = model.CreateFileW(ModelPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(INVALID_HANDLE_VALUE,
              model.CreateFileW(ModelPort, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_OVERLAPPED));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());

    CHandle readDone = NewEvent(), commDone = NewEvent(), writeDone = NewEvent();
    OVERLAPPED read{}, comm{}, write{};
    read.hEvent = readDone.Get();
    comm.hEvent = commDone.Get();
    write.hEvent = writeDone.Get();
    char buffer[16];
    DWORD got = 99;

    COMMTIMEOUTS atOnce{};
    atOnce.ReadIntervalTimeout = MAXDWORD;
    ASSERT_TRUE(model.SetCommTimeouts(h, &atOnce));
    EXPECT_TRUE(model.ReadFile(h, buffer, sizeof buffer, &got, &read));
    EXPECT_EQ(0u, got);
    EXPECT_TRUE(Signalled(readDone.Get()));
    model.Inject("ab");
    ResetEvent(readDone.Get());
    EXPECT_TRUE(model.ReadFile(h, buffer, sizeof buffer, &got, &read));
    EXPECT_EQ(2u, got);
    EXPECT_TRUE(Signalled(readDone.Get()));
    EXPECT_TRUE(model.WriteFile(h, "x", 1, nullptr, &write));
    EXPECT_TRUE(Signalled(writeDone.Get()));

    DWORD mask = 0, second = 0;
    EXPECT_FALSE(model.WaitCommEvent(h, &mask, &comm));  // no events asked for yet
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    ASSERT_TRUE(model.SetCommMask(h, EV_RXCHAR));
    EXPECT_FALSE(model.WaitCommEvent(h, &mask, &comm));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    OVERLAPPED other{};
    other.hEvent = commDone.Get();
    EXPECT_FALSE(model.WaitCommEvent(h, &second, &other));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
    ASSERT_TRUE(model.SetCommMask(h, EV_RXCHAR));
    EXPECT_EQ(0u, Outcome(model, h, comm));
    EXPECT_EQ(0u, mask);
    model.Inject("c");  // no wait pending: kept for the next one
    ResetEvent(commDone.Get());
    EXPECT_TRUE(model.WaitCommEvent(h, &mask, &comm));
    EXPECT_EQ(static_cast<DWORD>(EV_RXCHAR), mask);
    EXPECT_TRUE(Signalled(commDone.Get()));

    COMMTIMEOUTS waiting{};  // reads wait for their bytes
    ASSERT_TRUE(model.SetCommTimeouts(h, &waiting));
    ASSERT_TRUE(model.PurgeComm(h, PURGE_RXCLEAR));
    EXPECT_FALSE(model.ReadFile(h, buffer, sizeof buffer, nullptr, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_INCOMPLETE), Outcome(model, h, read));
    ASSERT_TRUE(model.PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), Outcome(model, h, read));
    EXPECT_FALSE(model.ReadFile(h, buffer, sizeof buffer, nullptr, &read));
    ASSERT_TRUE(model.CancelIoEx(h, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), Outcome(model, h, read));
    EXPECT_FALSE(model.CancelIoEx(h, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), GetLastError());

    EXPECT_FALSE(model.WaitCommEvent(h, &mask, &comm));
    model.Unplug(ERROR_DEVICE_REMOVED);
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), Outcome(model, h, comm));
    EXPECT_FALSE(model.ReadFile(h, buffer, sizeof buffer, nullptr, &read));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), GetLastError());
    EXPECT_TRUE(model.CloseHandle(h));
    EXPECT_FALSE(model.AnyOpen());
}

// A line behind the model that refuses every read at once (here a file opened for writing only)
// is an adapter gone, as a line whose other end closed is: the port hears of it, and its close
// returns at once. Wine leaves a read that failed at once pending for ever, and a pump that waited
// for it heard nothing and held the close, and the whole test program, for good.
TEST(WindowsComModel, ALineThatRefusesReadsIsAPulledAdapterAndClosesAtOnce)
{
    TestFolder folder;
    const std::wstring path = folder.File(L"line");
    CFileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.Valid());
    file.Reset();

    CWindowsComModel model;
    model.unplugError = ERROR_DEVICE_REMOVED;
    HANDLE h = model.CreateFileW(path.c_str(), GENERIC_WRITE, 0, OPEN_EXISTING, FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_TRUE(WaitUntil(
        [&] {
            DWORD errors = 0;
            COMSTAT stat{};
            return !model.ClearCommError(h, &errors, &stat) && GetLastError() == ERROR_DEVICE_REMOVED;
        },
        2000));
    const DWORD start = GetTickCount();
    EXPECT_TRUE(model.CloseHandle(h));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_FALSE(model.AnyOpen());
}

// An adapter pulled out while the driver's queue is full (the owner has not read for a while) is
// heard of at once, as a driver hears of its removal, not only once the owner has made room.
TEST(WindowsComModel, AnAdapterPulledWhileTheQueueIsFullIsHeardOf)
{
    CWindowsComModel model;
    model.unplugError = ERROR_DEVICE_NOT_CONNECTED;
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 33);
    sim.Silent(s.Id(), true);
    HANDLE h = OpenOnModel(model, s.Port());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    model.Inject(std::string(64 * 1024, 'q'));
    sim.Disconnect(s.Id());
    EXPECT_TRUE(WaitUntil(
        [&] {
            DWORD errors = 0;
            COMSTAT stat{};
            return !model.ClearCommError(h, &errors, &stat) && GetLastError() == ERROR_DEVICE_NOT_CONNECTED;
        },
        2000));
    EXPECT_TRUE(model.CloseHandle(h));
}

// A device that sends far more than the driver queue holds while nobody reads: the line is held
// while the queue is full (a serial line at its speed never outruns a port that reads), so every
// byte comes, in order, once the port reads.
TEST(WindowsComModel, ALineIsHeldWhileTheDriverQueueIsFull)
{
    CWindowsComModel model;
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 89);
    sim.Silent(s.Id(), true);
    HANDLE h = OpenOnModel(model, s.Port());
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    COMMTIMEOUTS atOnce{};
    atOnce.ReadIntervalTimeout = MAXDWORD;
    ASSERT_TRUE(model.SetCommTimeouts(h, &atOnce));
    const size_t total = 192 * 1024;
    simctl::Bytes sent(total);
    for (size_t i = 0; i < total; ++i)
        sent[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xFF);
    sim.SendBytes(s.Id(), sent, false);
    Sleep(1500); // the queue fills, and the line waits

    CHandle readDone = NewEvent();
    OVERLAPPED read{};
    read.hEvent = readDone.Get();
    std::vector<uint8_t> got;
    char buffer[4096];
    const DWORD start = GetTickCount();
    while (got.size() < total && GetTickCount() - start < 10000) {
        DWORD n = 0;
        ASSERT_TRUE(model.ReadFile(h, buffer, sizeof buffer, &n, &read));
        got.insert(got.end(), buffer, buffer + n);
        if (n == 0)
            Sleep(5);
    }
    std::printf("  %zu of %zu bytes after the queue was full\n", got.size(), total);
    EXPECT_EQ(total, got.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin())) << "out of order";
    EXPECT_TRUE(model.CloseHandle(h));
}

// --- The serial port on the model ------------------------------------------------------------

class ComPortOnWindowsModel : public testing::Test
{
protected:
    ComPortOnWindowsModel() { model.noDeviceBehind = true; }

    CWindowsComModel model;
    CCallSeamScope<CComCalls> scope{model};
    PortEvents events;
};

// A device that always has more: one pass of reads takes at most 16 KB (16 reads of 1 KB) and
// then leaves the rest to the owner's wait, with the comm event set so that it comes back.
TEST_F(ComPortOnWindowsModel, APassReadsAtMostSixteenKilobytesOfADeviceThatNeverStops)
{
    model.endlessReadBytes = 1024;
    PortRef port(MakePort(L"COM39", events));
    ASSERT_EQ(S_OK, port->Open(INFINITE));
    ResetEvent(events.comm.Get());
    model.ResetCounts();
    std::string got;
    ASSERT_EQ(S_OK, port->Read(got, 1 << 20, 0));
    EXPECT_LE(model.Count(CWindowsComModel::Read), 16u);
    EXPECT_LE(got.size(), 16u * 1024u);
    EXPECT_TRUE(Signalled(events.comm.Get()));
}

// Whatever code the driver of a pulled USB adapter fails calls with, the port is disconnected,
// and so is a Bluetooth port whose remote device stops answering (its semaphore times out); a port
// that another program holds is busy with either code Windows gives; a Bluetooth port that takes
// its time to open and then gives up is disconnected too.
TEST_F(ComPortOnWindowsModel, PulledAdaptersAreDisconnectedAndPortsInUseAreBusy)
{
    for (DWORD code : {ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED,
                       ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED, ERROR_SEM_TIMEOUT}) {
        SCOPED_TRACE(code);
        PortRef port(MakePort(L"COM39", events));
        ASSERT_EQ(S_OK, port->Open(INFINITE));
        model.Unplug(code);
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->OnCommEvent());
        std::string got;
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->Read(got, 1, 0));
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->Write("x", 1, 0));
        DWORD queued = 0;
        EXPECT_EQ(PE_PORT_DISCONNECTED, port->GetInQueue(&queued));
        EXPECT_EQ(S_OK, port->Close());
    }

    PortRef holder(MakePort(L"COM39", events));
    ASSERT_EQ(S_OK, holder->Open(INFINITE));
    for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
        SCOPED_TRACE(code);
        model.busyError = code;
        PortEvents other;
        PortRef second(MakePort(L"COM39", other));
        EXPECT_EQ(PE_PORT_BUSY, second->Open(INFINITE));
    }
    holder->Close();

    model.openDelayMs = 300;
    model.openError = ERROR_SEM_TIMEOUT;
    PortRef bluetooth(MakePort(L"COM39", events));
    const DWORD start = GetTickCount();
    EXPECT_EQ(PE_PORT_DISCONNECTED, bluetooth->Open(INFINITE));
    EXPECT_GE(GetTickCount() - start, 250u);  // the tick count moves in steps
    EXPECT_FALSE(bluetooth->IsOpen());
}

// --- Readers on the model and on the pty -----------------------------------------------------

namespace {

struct IdleCase
{
    const char* name;
    const char* protocol;   // the simulator's
    DWORD rxPeriod;
    uint32_t flags;
    int com;
    // The most system calls a second that the idle reader may make: a text poll costs a read, its
    // result and a look at the queue; a framed poll three exchanges; the key's line about ten.
    unsigned long budget;
    // The type of a key presented as the count starts: a reader that waits for the line's own
    // characters reads only then, and must be idle again afterwards.
    const char* keyType = nullptr;
};

void PrintTo(const IdleCase& c, std::ostream* os)
{
    *os << c.name;
}

const IdleCase IdleCases[] = {
    {"TextEventDriven", "text", READER_PERIOD_NEVER, 0, 34, 15, "EM"},
    {"TextPolled200", "text", 200, 0, 35, 30},
    {"Binary", "binary", READER_PERIOD_NEVER, ReaderFlagBinary, 36, 150},
    {"Pelto", "pelto", READER_PERIOD_NEVER, 0, 37, 100},
    {"Bus", "bus", READER_PERIOD_NEVER, 0, 38, 60},
};

simctl::SimReaderConfig IdleSim(const IdleCase& c)
{
    simctl::SimReaderConfig config = UnpacedSim();
    config.protocol = c.protocol;
    if (std::string(c.protocol) == "binary")
        config = MifareSim();
    if (std::string(c.protocol) == "bus") {
        simctl::SimBusAddress address;
        address.address = 12;
        config.addresses.push_back(address);
    }
    return config;
}

} // namespace

class IdleReader : public testing::TestWithParam<std::tuple<IdleCase, const char*>>
{
protected:
    const IdleCase& Case() const { return std::get<0>(GetParam()); }
    bool OnModel() const { return std::string(std::get<1>(GetParam())) == "model"; }

    // Calls a second over two seconds of an idle reader, once it has connected and settled.
    struct Idle
    {
        double callsPerSecond;
        unsigned long purges;
    };

    template <class Calls>
    Idle IdleCalls(Calls& calls)
    {
        const IdleCase& c = Case();
        SimReader s(sim, IdleSim(c), c.com);
        Timings t;
        t.RxPeriod = c.rxPeriod;
        std::vector<int32_t> addresses;
        if (std::string(c.protocol) == "bus")
            addresses.push_back(12);
        auto reader = StartReader(sink, s.Port(), t, c.flags, 0, addresses);
        EXPECT_TRUE(sink.WaitCount(EventKind::Connect, 1, FramedWaitMs));
        Sleep(500);
        calls.ResetCounts();
        const DWORD start = GetTickCount();
        if (c.keyType)
            sim.PresentKey(s.Id(), c.keyType, {0x01, 0x02, 0x03, 0x04, 0x05});
        Sleep(2000);
        const unsigned long made = calls.Total();
        const Idle idle{made * 1000.0 / (GetTickCount() - start), Purges(calls)};
        EXPECT_EQ(0u, sink.Count(EventKind::DriverError));
        reader.reset();
        return idle;
    }

    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
};

// An idle connected reader makes a few system calls a second, on Windows' semantics as on Wine's:
// a poll that finds the line quiet does not wake the reader into another poll at once, and the
// framed protocols do not purge the line after their own exchanges (nothing came unasked).
TEST_P(IdleReader, MakesAFewSystemCallsASecond)
{
    Idle idle{};
    if (OnModel()) {
        CWindowsComModel model;
        CCallSeamScope<CComCalls> scope(model);
        idle = IdleCalls(model);
    } else {
        CCountingComCalls counting;
        CCallSeamScope<CComCalls> scope(counting);
        idle = IdleCalls(counting);
    }
    std::printf("  idle %s reader on the %s: %.1f comm calls a second, %lu purges in 2 s\n", Case().name,
                OnModel() ? "Windows model" : "pty", idle.callsPerSecond, idle.purges);
    EXPECT_LE(idle.callsPerSecond, static_cast<double>(Case().budget));
    EXPECT_EQ(0u, idle.purges);
}

INSTANTIATE_TEST_SUITE_P(Protocols, IdleReader,
                         testing::Combine(testing::ValuesIn(IdleCases), testing::Values("model", "pty")),
                         [](const testing::TestParamInfo<IdleReader::ParamType>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" + std::get<1>(info.param);
                         });

// A reader whose adapter is pulled out reports the add-in's "disconnected" error whatever code the
// driver fails with, and connects again once the port opens again.
TEST(ReaderOnWindowsModel, PulledAdapterIsReportedDisconnectedForEveryDriverCode)
{
    CWindowsComModel model;
    CCallSeamScope<CComCalls> scope(model);
    simctl::CSimControl sim;
    CRecordingSink sink;
    SimReader s(sim, UnpacedSim(), 39);
    auto reader = StartReader(sink, s.Port());
    size_t connects = 1;
    const DWORD codes[] = {ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_ACCESS_DENIED, ERROR_DEVICE_NOT_CONNECTED,
                           ERROR_DEVICE_REMOVED, ERROR_OPERATION_ABORTED};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; ++i) {
        SCOPED_TRACE(codes[i]);
        ASSERT_TRUE(sink.WaitCount(EventKind::Connect, connects, 5000));
        model.Unplug(codes[i]);
        ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, i + 1, 5000));
        ReaderEvent error = sink.Events(EventKind::DriverError).back();
        EXPECT_EQ(PE_PORT_DISCONNECTED, error.Code);
        EXPECT_NE(std::wstring::npos, error.Text.find(L"Port is disconnected.")) << error.Text;
        ++connects;
    }
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, connects, 5000));
    EXPECT_EQ(sizeof codes / sizeof codes[0], sink.Count(EventKind::Disconnect));
}

// A COM port that another program holds (Windows opens one handle per port; the code is either of
// two) keeps the reader out with the add-in's "busy" error, which Wine's ptys cannot show.
TEST(ReaderOnWindowsModel, PortHeldByAnotherProgramIsBusy)
{
    CWindowsComModel model;
    CCallSeamScope<CComCalls> scope(model);
    simctl::CSimControl sim;
    SimReader s(sim, UnpacedSim(), 39);
    HANDLE other = model.CreateFileW((L"\\\\.\\" + s.Port()).c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                     FILE_FLAG_OVERLAPPED);
    ASSERT_NE(INVALID_HANDLE_VALUE, other);
    for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}) {
        SCOPED_TRACE(code);
        model.busyError = code;
        CRecordingSink sink;
        auto reader = StartReader(sink, s.Port());
        ASSERT_TRUE(sink.WaitCount(EventKind::DriverError, 1, 5000));
        ReaderEvent error = sink.Events(EventKind::DriverError).front();
        EXPECT_EQ(PE_PORT_BUSY, error.Code);
        EXPECT_NE(std::wstring::npos, error.Text.find(L"Port is busy.")) << error.Text;
        EXPECT_EQ(0u, sink.Count(EventKind::Connect));
    }
    model.CloseHandle(other);
}
