// The events list's rows over the test log: newest first, the cache and its hints.
#include "LogRowCache.h"
#include "TestFolder.h"
#include <gtest/gtest.h>

namespace {

class LogRowCacheTest : public ::testing::Test
{
protected:
    void SetUp() override { log.Open(folder.Path() + L"\\TestParvel.log"); }
    void Write(uint32_t time, int32_t level, const wchar_t* message)
    {
        LogEntry e;
        e.time = time;
        e.level = level;
        e.source = L"COM41";
        e.message = message;
        e.data = L"0012345";
        log.Write(e);
    }
    TestFolder folder;
    CTestLog log;
    CLogRowCache cache;
};

} // namespace

TEST_F(LogRowCacheTest, RowsNewestFirstWithTimeAndImage)
{
    EXPECT_EQ(0, cache.ItemCount()); // no log attached
    EXPECT_EQ(0, cache.Row(0).level);
    EXPECT_EQ(-1, cache.Row(0).image);
    cache.Attach(&log);
    EXPECT_EQ(0, cache.ItemCount());
    Write(((1 * 60 + 2) * 60 + 3) * 1000 + 4, LogLevelInfo, L"DeviceConnect");
    Write(0, LogLevelError, L"Failure");
    Write(5000, 7, L"TracksData");
    EXPECT_EQ(3, cache.ItemCount());
    EXPECT_EQ(L"TracksData", cache.Row(0).message);
    EXPECT_EQ(-1, cache.Row(0).image); // level 7 reads back as unknown
    EXPECT_EQ(L"", cache.Row(1).time); // time 0 shows no time
    EXPECT_EQ(2, cache.Row(1).image);
    const LogRow& oldest = cache.Row(2);
    EXPECT_EQ(L"01:02:03.004", oldest.time);
    EXPECT_EQ(0, oldest.image);
    EXPECT_EQ(L"COM41", oldest.source);
    EXPECT_EQ(L"0012345", oldest.data);

    // An error text's trailing line break is not part of the message column.
    Write(6000, LogLevelError, L"Port busy.\r\n");
    cache.Refill();
    EXPECT_EQ(L"Port busy.", cache.Row(0).message);
}

TEST_F(LogRowCacheTest, CacheHintKeepsRowsAndIsClamped)
{
    cache.Attach(&log);
    for (int i = 0; i < 10; ++i)
        Write(1000 + i, LogLevelInfo, std::to_wstring(i).c_str());
    cache.CacheHint(2, 4);
    EXPECT_EQ(2, cache.CacheFirst());
    EXPECT_EQ(3, cache.CacheSize());
    EXPECT_EQ(L"7", cache.Row(2).message);
    EXPECT_EQ(&cache.Row(3), &cache.Row(3)); // from the cache, not the scratch row

    cache.CacheHint(3, 4); // covered: unchanged
    EXPECT_EQ(2, cache.CacheFirst());

    // An end before the start must not wrap the size: only the start row is kept.
    cache.CacheHint(6, 1);
    EXPECT_EQ(6, cache.CacheFirst());
    EXPECT_EQ(1, cache.CacheSize());
    EXPECT_EQ(L"3", cache.Row(6).message);

    // Rows beyond the log are not built; a hint wholly beyond it keeps nothing.
    cache.CacheHint(8, 100);
    EXPECT_EQ(2, cache.CacheSize());
    cache.CacheHint(50, 60);
    EXPECT_EQ(0, cache.CacheSize());
    cache.CacheHint(-5, 0);
    EXPECT_EQ(1, cache.CacheSize());
    EXPECT_EQ(L"9", cache.Row(0).message);

    // New lines shift every row; a refill rebuilds the cached range from the file.
    cache.CacheHint(0, 1);
    Write(2000, LogLevelWarning, L"new");
    EXPECT_EQ(L"9", cache.Row(0).message); // stale until refilled
    cache.Refill();
    EXPECT_EQ(L"new", cache.Row(0).message);
    EXPECT_EQ(L"9", cache.Row(1).message);

    log.Clear();
    cache.Refill();
    EXPECT_EQ(0, cache.ItemCount());
    EXPECT_EQ(0, cache.CacheSize());
}
