#include "CTwoPointNuc.h"
#include "NaiveCalib.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Frame = std::vector<uint16_t>;

std::vector<Frame> randomFrames(int count, size_t pixels, int lo, int hi, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(lo, hi);
    std::vector<Frame> frames(size_t(count), Frame(pixels, 0));
    for (Frame& f : frames)
        for (uint16_t& v : f)
            v = uint16_t(dist(rng));
    return frames;
}

bool load(CTwoPointNuc& nuc, CTwoPointNuc::Set set, const std::vector<Frame>& frames)
{
    std::vector<const uint16_t*> ptrs;
    for (const Frame& f : frames)
        ptrs.push_back(f.data());
    return nuc.LoadSet(set, ptrs.data(), int(ptrs.size()));
}

} // namespace

TEST(TwoPointNuc, StateMachineAndGainsOnlyInStateFour)
{
    CTwoPointNuc nuc;
    EXPECT_FALSE(nuc.BeginSet(CTwoPointNuc::LowSet)) << "no size yet";
    EXPECT_FALSE(nuc.SetSize(0, 4));
    EXPECT_FALSE(nuc.SetSize(1281, 1080)) << "larger than one frame slot";
    ASSERT_TRUE(nuc.SetSize(2, 2));
    const Frame lo(4, 100), hi(4, 200);

    EXPECT_FALSE(nuc.Compute());
    EXPECT_FALSE(nuc.AddFrame(lo.data())) << "no set begun";
    ASSERT_TRUE(nuc.BeginSet(CTwoPointNuc::LowSet));
    EXPECT_FALSE(nuc.EndSet()) << "a set without frames";
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateEmpty);

    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {lo}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateLow);
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {lo}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateLow);
    EXPECT_FALSE(nuc.Compute());
    ASSERT_TRUE(load(nuc, CTwoPointNuc::HighSet, {hi}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateBoth);
    ASSERT_TRUE(load(nuc, CTwoPointNuc::HighSet, {hi}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateBoth);
    EXPECT_EQ(nuc.Gains(), nullptr);
    EXPECT_TRUE(nuc.GainFileBytes().empty());
    ASSERT_TRUE(nuc.Compute());
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateGain);
    ASSERT_NE(nuc.Gains(), nullptr);

    // Reloading one set after a computation starts over from that set.
    ASSERT_TRUE(load(nuc, CTwoPointNuc::HighSet, {hi}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateHigh);
    EXPECT_EQ(nuc.Gains(), nullptr);
    EXPECT_FALSE(nuc.Compute());
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {lo}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateBoth);
    ASSERT_TRUE(nuc.Compute());
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {lo}));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateLow);

    // A set holds at most 128 frames; the 129th is refused and not counted.
    ASSERT_TRUE(nuc.BeginSet(CTwoPointNuc::HighSet));
    for (int i = 0; i < CTwoPointNuc::kMaxFrames; ++i)
        ASSERT_TRUE(nuc.AddFrame(hi.data()));
    EXPECT_FALSE(nuc.AddFrame(hi.data()));
    EXPECT_EQ(nuc.framesInSet(), CTwoPointNuc::kMaxFrames);
    ASSERT_TRUE(nuc.EndSet());
    EXPECT_EQ(nuc.Average(CTwoPointNuc::HighSet)[0], 200);
}

TEST(TwoPointNuc, ClampLimitsAndEqualAverages)
{
    // Means 1000 apart: K = trunc(32768 x 1000 / (d + 0.01)).
    EXPECT_EQ(CTwoPointNuc::GainFor(728, 0, 2000.0, 1000.0), 45000); // 45010.4
    EXPECT_EQ(CTwoPointNuc::GainFor(729, 0, 2000.0, 1000.0), 44948); // 44948.6, cut toward zero
    EXPECT_EQ(CTwoPointNuc::GainFor(1310, 0, 2000.0, 1000.0), 25013);
    EXPECT_EQ(CTwoPointNuc::GainFor(1311, 0, 2000.0, 1000.0), 25000); // 24994.5
    EXPECT_EQ(CTwoPointNuc::GainFor(1000, 0, 2000.0, 1000.0), 32767);

    // H one below L: negative ratio, lower limit.
    EXPECT_EQ(CTwoPointNuc::GainFor(99, 100, 2000.0, 1000.0), 25000);
    // H = L: the ratio is divided by 0.01 and saturates, however far apart the means
    // (700 counts would overflow a 32-bit integer before the clamp).
    EXPECT_EQ(CTwoPointNuc::GainFor(500, 500, 1000.1, 1000.0), 45000);
    EXPECT_EQ(CTwoPointNuc::GainFor(500, 500, 1700.0, 1000.0), 45000);
    EXPECT_EQ(CTwoPointNuc::GainFor(500, 500, 1000.0, 1000.0), 25000);

    // The same through the whole computation, with the file bytes high byte first.
    CTwoPointNuc nuc;
    ASSERT_TRUE(nuc.SetSize(4, 1));
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {Frame{1000, 1000, 1000, 1000}}));
    ASSERT_TRUE(load(nuc, CTwoPointNuc::HighSet, {Frame{2000, 2000, 1000, 3000}}));
    EXPECT_DOUBLE_EQ(nuc.Mean(CTwoPointNuc::LowSet), 1000.0);
    EXPECT_DOUBLE_EQ(nuc.Mean(CTwoPointNuc::HighSet), 2000.0);
    ASSERT_TRUE(nuc.Compute());
    const std::vector<uint16_t> k(nuc.Gains(), nuc.Gains() + 4);
    EXPECT_EQ(k, (std::vector<uint16_t>{32767, 32767, 45000, 25000}));
    EXPECT_EQ(nuc.GainFileBytes(), (std::vector<uint8_t>{0x7F, 0xFF, 0x7F, 0xFF, 0xAF, 0xC8, 0x61, 0xA8}));
}

TEST(TwoPointNuc, AveragesTruncateAndMeansCutToOneDecimal)
{
    CTwoPointNuc nuc;
    ASSERT_TRUE(nuc.SetSize(3, 1));
    // Sums 5, 65535 x 2 + 65534 and 3 over three frames.
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, {Frame{1, 65535, 1}, Frame{2, 65535, 1}, Frame{2, 65534, 1}}));
    const uint16_t* avg = nuc.Average(CTwoPointNuc::LowSet);
    ASSERT_NE(avg, nullptr);
    EXPECT_EQ(avg[0], 1);
    EXPECT_EQ(avg[1], 65534);
    EXPECT_EQ(avg[2], 1);
    // (1 + 65534 + 1) / 3 = 21845.33.. -> 21845.3
    EXPECT_DOUBLE_EQ(nuc.Mean(CTwoPointNuc::LowSet), 21845.3);
    EXPECT_EQ(nuc.Average(CTwoPointNuc::HighSet), nullptr);
}

TEST(TwoPointNuc, StreamingMatchesFramesHeldInMemoryBitForBit)
{
    const int w = 37, h = 23;
    const size_t px = size_t(w) * h;
    // Wide ranges so that sums exceed 16 bits and averages truncate.
    const std::vector<Frame> low = randomFrames(9, px, 3000, 9000, 1);
    const std::vector<Frame> high = randomFrames(14, px, 6000, 16383, 2);
    const Frame expected = naive::gains(low, high, px);

    CTwoPointNuc nuc;
    ASSERT_TRUE(nuc.SetSize(w, h));
    // File bytes for one set, pixels for the other.
    ASSERT_TRUE(nuc.BeginSet(CTwoPointNuc::HighSet));
    for (const Frame& f : high) {
        std::vector<uint8_t> le;
        for (uint16_t v : f) {
            le.push_back(uint8_t(v));
            le.push_back(uint8_t(v >> 8));
        }
        ASSERT_TRUE(nuc.AddFrameBytes(le.data()));
    }
    ASSERT_TRUE(nuc.EndSet());
    ASSERT_TRUE(load(nuc, CTwoPointNuc::LowSet, low));
    ASSERT_TRUE(nuc.Compute());
    EXPECT_EQ(Frame(nuc.Gains(), nuc.Gains() + px), expected);
    int inside = 0;
    for (uint16_t k : expected)
        inside += (k > 25000 && k < 45000);
    EXPECT_GT(inside, 0) << "the data must reach the unclamped range to test the formula";

    const std::vector<uint8_t> file = nuc.GainFileBytes();
    ASSERT_EQ(file.size(), px * 2);
    for (size_t i = 0; i < px; ++i)
        ASSERT_EQ((file[2 * i] << 8) | file[2 * i + 1], expected[i]) << i;
}

TEST(TwoPointNuc, HoldsAFewFramesNotTheSets)
{
    const int w = 64, h = 48;
    const size_t frameBytes = size_t(w) * h * 2;
    const Frame f(size_t(w) * h, 1234);
    CTwoPointNuc nuc;
    ASSERT_TRUE(nuc.SetSize(w, h));
    size_t peak = 0;
    for (int round = 0; round < 2; ++round) {
        for (auto set : {CTwoPointNuc::HighSet, CTwoPointNuc::LowSet}) {
            ASSERT_TRUE(nuc.BeginSet(set));
            for (int i = 0; i < CTwoPointNuc::kMaxFrames; ++i) {
                ASSERT_TRUE(nuc.AddFrame(f.data()));
                peak = std::max(peak, nuc.MemoryBytes());
            }
            ASSERT_TRUE(nuc.EndSet());
            peak = std::max(peak, nuc.MemoryBytes());
        }
        ASSERT_TRUE(nuc.Compute());
        peak = std::max(peak, nuc.MemoryBytes());
    }
    EXPECT_LE(peak, 5 * frameBytes);
    // After the computation: two averages and the gains.
    EXPECT_EQ(nuc.MemoryBytes(), 3 * frameBytes);
}
