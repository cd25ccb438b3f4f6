// Committed memory per open reader (a benchmark, not a test): 32 readers at once, each connected
// to a simulated reader, first over TCP, then on serial ports. Prints the growth of the process's
// committed private memory per reader once all are connected. Goal: at most 1 MB each.
//
// Reading the figures under Wine 8: every thread commits at least about 2 MB there (a stack of at
// least 1 MB, committed whole, and about 1 MB of Wine's own), whatever it reserves, so the goal
// cannot be met by a reader that owns a thread; the "thread" line shows that floor. A serial port's
// pending comm-event wait adds a thread of Wine's own with the host program's default stack. On
// Windows a thread commits only the stack pages it touches.
//
// How to run: `ninja -C build reader_memory_bench` (runs it with a simulator hub), or by hand:
//     tools/with-readersim.sh build/wineprefix build/wine-run build/tools/bench/reader_memory_bench.exe
// Option: the number of readers (default 32).
#include "Reader.h"
#include "SimControl.h"

#include <windows.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// Counts connections; everything else is dropped.
class CountingSink : public IReaderEvents
{
public:
    void OnTracksData(CReader*, uint32_t, const KeyData&, std::wstring&) override {}
    void OnNoCard(CReader*, uint32_t, const KeyData&, const std::wstring&) override {}
    void OnDriverError(CReader*, HRESULT, const std::wstring&) override {}
    void OnDeviceConnect(CReader*) override { ++connected; }
    void OnDeviceDisconnect(CReader*) override {}
    void OnCommand(CReader*) override {}
    BOOL IsLogEnabled(CReader*, uint32_t) override { return FALSE; }
    void Log(CReader*, uint32_t, uint32_t, ...) override {}

    std::atomic<int> connected{0};
};

// The committed private memory of the process, from the system's own map of it: thread stacks
// count with what the system has committed of them.
SIZE_T Committed()
{
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION info{};
    for (const char* at = nullptr; VirtualQuery(at, &info, sizeof(info)) == sizeof(info);
         at = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += info.RegionSize;
        if (info.RegionSize == 0)
            break;
    }
    return total;
}

// Opens `count` readers on simulated readers (TCP, or COM ports from `firstCom`), waits until all
// are connected and returns the committed bytes per reader; -1 when not all connected.
double MeasureReaders(simctl::CSimControl& sim, int count, bool serial, int firstCom)
{
    simctl::SimReaderConfig config;
    config.pace = 0;
    std::vector<simctl::SimReaderInfo> sims;
    for (int i = 0; i < count; ++i)
        sims.push_back(serial ? sim.CreateSerial(firstCom + i, config) : sim.CreateTcp(config));

    CountingSink sink;
    const SIZE_T before = Committed();
    std::vector<std::unique_ptr<CReader>> readers;
    for (const auto& info : sims) {
        auto reader = std::make_unique<CReader>();
        std::wstring port(info.port.begin(), info.port.end());
        reader->Init(&sink, port.c_str());
        reader->SetConnection(0, 0, 0, 0, FALSE);
        reader->SetTimings(2000, 1000, READER_PERIOD_NEVER, 1000, 2);
        reader->Reconnect(NO_BUS_ADDRESS);
        reader->Start();
        readers.push_back(std::move(reader));
    }
    const DWORD start = GetTickCount();
    while (sink.connected < count && GetTickCount() - start < 30000)
        Sleep(50);
    Sleep(500);  // let every thread settle into its idle wait
    const SIZE_T after = Committed();
    const bool all = sink.connected == count;
    readers.clear();
    for (const auto& info : sims)
        sim.Destroy(info.id);
    if (!all)
        return -1;
    return static_cast<double>(after - before) / count;
}

DWORD WINAPI IdleThread(void* stop)
{
    WaitForSingleObject(stop, INFINITE);
    return 0;
}

// What one idle thread with the reader's stack reservation commits on this system: the floor of a
// reader that owns a thread. (Wine 8 reserves at least 1 MB of stack whatever is asked and commits
// it whole, and adds about 1 MB of its own per thread.)
double MeasureBareThread(int count)
{
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const SIZE_T before = Committed();
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i)
        threads.push_back(CreateThread(nullptr, 256 * 1024, &IdleThread, stop, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                       nullptr));
    Sleep(200);
    const SIZE_T after = Committed();
    SetEvent(stop);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    CloseHandle(stop);
    return static_cast<double>(after - before) / count;
}

} // namespace

int main(int argc, char** argv)
{
    const int count = argc > 1 ? std::atoi(argv[1]) : 32;
    try {
        simctl::CSimControl sim;
        const double tcp = MeasureReaders(sim, count, false, 0);
        const double serial = MeasureReaders(sim, count, true, 150);
        const double bare = MeasureBareThread(count);
        std::printf("committed memory per open reader, %d readers at once (goal: at most 1 MB)\n", count);
        std::printf("  %-6s %7.0f KB  (one idle thread of the same stack reservation, for comparison)\n",
                    "thread", bare / 1024);
        for (auto [name, bytes] : {std::pair<const char*, double>{"tcp", tcp}, {"serial", serial}}) {
            if (bytes < 0)
                std::printf("  %-6s not every reader connected\n", name);
            else
                std::printf("  %-6s %7.0f KB%s\n", name, bytes / 1024, bytes <= 1024 * 1024 ? "" : "  (above goal)");
        }
        return tcp < 0 || serial < 0 ? 1 : 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "reader_memory_bench: %s\n", e.what());
        return 2;
    }
}
