// A converter's link that goes dead without a FIN or RST reaching the add-in, end to end: a text
// reader, which sends nothing while it waits for cards, connected over a real TCP connection whose
// packets stop passing. Run by tests/reader/dead-link.sh, which plays the dead link by taking down
// the loopback interface of a network namespace of its own (a Wine prefix's wineserver makes the
// program's sockets, so it runs inside that namespace too); skipped anywhere else. The two sides
// meet through files in the folder the script names.
#include "FramedTestRig.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <fstream>

using namespace readertest;

namespace {

std::string MarkPath(const std::string& dir, const char* name)
{
    return dir + "\\" + name;
}

void Mark(const std::string& dir, const char* name)
{
    std::ofstream(MarkPath(dir, name)) << name;
}

bool WaitForMark(const std::string& dir, const char* name, DWORD timeoutMs)
{
    return WaitUntil([&] { return GetFileAttributesA(MarkPath(dir, name).c_str()) != INVALID_FILE_ATTRIBUTES; },
                     timeoutMs);
}

} // namespace

TEST(ReaderDeadLink, AnIdleConnectionThatWentDeadIsFoundWithin45Seconds)
{
    const char* folder = getenv("PARVEL_DEAD_LINK_DIR");
    if (!folder)
        GTEST_SKIP() << "run by dead-link.sh, in a network namespace of its own";
    const std::string dir = folder;
    simctl::CSimControl sim;
    CRecordingSink sink;
    ReadKeysGuard keys;
    SimReader s(sim, UnpacedSim(), 0);
    Timings t;
    t.ConnectPeriod = 5000;
    auto reader = StartReader(sink, s.Port(), t);
    ASSERT_TRUE(sink.WaitCount(EventKind::Connect, 1, 8000));
    Mark(dir, "connected");
    ASSERT_TRUE(WaitForMark(dir, "dropped", 30000)) << "the script never took the link down";
    const DWORD dropped = GetTickCount();
    const bool found = sink.WaitCount(EventKind::Disconnect, 1, 70000);
    const DWORD took = GetTickCount() - dropped;
    // The simulator's control channel runs over the same link: it must be back before the
    // simulated reader is destroyed.
    Mark(dir, "measured");
    EXPECT_TRUE(WaitForMark(dir, "restored", 10000));
    printf("the dead connection was %s after %lu ms\n", found ? "dropped" : "still kept",
           static_cast<unsigned long>(took));
    ASSERT_TRUE(found) << "a connection that can carry nothing was kept";
    EXPECT_LE(took, 45000u);
    ASSERT_GE(sink.Count(EventKind::DriverError), 1u);
    const HRESULT code = sink.Events(EventKind::DriverError)[0].Code;
    printf("reported as 0x%08lX\n", static_cast<unsigned long>(code));
    EXPECT_TRUE(FAILED(code));
}
