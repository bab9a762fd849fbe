// Soak: register round trips and flash writes against a core whose replies go wrong
// at random on about a tenth of the commands, alternating the two pacings. Whatever
// fails must say so; nothing may succeed with a wrong value, and no write may be
// reported done that the core does not hold.
#include "DataExchange.h"
#include "TransferRig.h"
#include "UpgradeWriter.h"

#include <gtest/gtest.h>

#include <random>

using namespace transfertest;

TEST(Soak, RandomReplyFaultsNeverGiveAWrongSuccess)
{
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    // A refusal (zero) is a valid answer: only where it means "not done", the blocks.
    for (const char* f : {"flip%2", "badsum%1", "badend%1", "echo%1", "noise%2", "split=5%1", "noreply%1", "zero@block%2"})
        ASSERT_TRUE(rig.fault(f)) << f;
    DataExchange* dx = DataExchange::instance();
    std::mt19937 rng(20261208);
    constexpr uint32_t kScratch = 0x1234;
    int failedWrites = 0, failedReads = 0;
    for (int i = 0; i < 500; ++i) {
        DataExchange::setPacing(i % 2 ? DataExchange::Pacing::Reply : DataExchange::Pacing::Fixed);
        const uint32_t v = rng();
        if (dx->writeRegister(int(kScratch), int(v)))
            ASSERT_EQ(rig.core().longRegister(kScratch), v) << "write " << i << " reported done";
        else
            ++failedWrites;
        unsigned got = 0;
        if (dx->readRegister(int(kScratch), &got))
            ASSERT_EQ(got, rig.core().longRegister(kScratch)) << "read " << i;
        else
            ++failedReads;
    }

    int writesDone = 0, writesFailed = 0;
    for (int i = 0; i < 10; ++i) {
        DataExchange::setPacing(i % 2 ? DataExchange::Pacing::Reply : DataExchange::Pacing::Fixed);
        QByteArray data(3000 + i * 111, '\0');
        for (char& c : data)
            c = char(rng());
        RecordingContext ctx;
        MemorySource source(data.constData(), data.size());
        const UpgradeResult r = writeUpgrade(ctx, 0x1A00000, source);
        if (r.ok) {
            ++writesDone;
            EXPECT_EQ(rig.flash(0x1A00000, data.size()), data) << "write " << i << " reported done";
        } else {
            ++writesFailed;
            EXPECT_FALSE(ctx.messages.isEmpty()) << "write " << i << " failed without a word";
        }
    }
    DataExchange::setPacing(DataExchange::Pacing::Fixed);
    // The faults really fired, and the bench still got work done through them.
    EXPECT_GT(failedWrites + failedReads, 20);
    EXPECT_LT(failedWrites + failedReads, 400);
    std::printf("soak: %d/500 writes and %d/500 reads failed; %d of 10 flash writes done, %d failed\n", failedWrites,
                failedReads, writesDone, writesFailed);
}
