// The operations a serial port gives up on: the bounded wait for their end, and the records left
// to the system, freed once their operation ends and capped in number. An operation that never
// ends is stood in for by a record that stays pending.
#include "IoGraveyard.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<ComIoRecord> PendingRecord()
{
    auto record = std::make_unique<ComIoRecord>();
    record->ov.Internal = STATUS_PENDING;
    return record;
}

} // namespace

TEST(IoGraveyard, WaitForAnEndThatNeverComesIsBounded)
{
    auto record = PendingRecord();
    DWORD start = GetTickCount();
    EXPECT_FALSE(WaitForIoEnd(record->ov, start, 150));
    DWORD took = GetTickCount() - start;
    EXPECT_GE(took, 140u);
    EXPECT_LT(took, 600u);

    // The limit counts from the start given: a close shares one limit among its operations.
    start = GetTickCount();
    EXPECT_FALSE(WaitForIoEnd(record->ov, start - 1000, 150));
    EXPECT_LT(GetTickCount() - start, 100u);

    record->ov.Internal = 0;
    start = GetTickCount();
    EXPECT_TRUE(WaitForIoEnd(record->ov, start, 5000));
    EXPECT_LT(GetTickCount() - start, 100u);
}

TEST(IoGraveyard, RecordsAreFreedOnceTheirOperationEndsAndCapped)
{
    CIoGraveyard graveyard(2);
    EXPECT_FALSE(graveyard.Full());
    graveyard.Abandon(std::make_unique<ComIoRecord>());  // already ended: not held
    EXPECT_EQ(0u, graveyard.Sweep());

    auto first = PendingRecord();
    ComIoRecord* firstView = first.get();
    graveyard.Abandon(std::move(first));
    graveyard.Abandon(PendingRecord());
    EXPECT_EQ(2u, graveyard.Sweep());
    EXPECT_TRUE(graveyard.Full()) << "a third port would add a record beyond the cap";

    firstView->ov.Internal = 0;  // the system ends the first operation at last
    EXPECT_EQ(1u, graveyard.Sweep());
    EXPECT_FALSE(graveyard.Full());
}
