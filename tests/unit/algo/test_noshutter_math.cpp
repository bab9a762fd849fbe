// The no-shutter base and the NVFFC model against their direct forms, written from
// the definitions with rational arithmetic, a padded copy and every block summed.
#include "NoShutterMath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

using namespace noshutter;

std::vector<uint16_t> randomFrame(size_t n, uint32_t seed, int lo = 0, int hi = 16383)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(lo, hi);
    std::vector<uint16_t> f(n);
    for (auto& v : f)
        v = uint16_t(d(rng));
    return f;
}

// Nearest integer to a / b (b > 0, a >= 0), a half going up.
uint64_t nearestHalfUp(uint64_t a, uint64_t b)
{
    const uint64_t q = a / b, r = a % b;
    return 2 * r >= b ? q + 1 : q;
}

TEST(RunningAverage, EveryStepIsTheNearestIntegerOfTheExactValue)
{
    const size_t n = 4000;
    std::vector<std::vector<uint16_t>> frames;
    for (uint32_t f = 0; f < 16; ++f)
        frames.push_back(randomFrame(n, 100 + f));
    std::vector<uint16_t> fast(n);
    std::vector<uint64_t> slow(n);
    for (uint32_t i = 0; i < frames.size(); ++i) {
        runningAverageStep(fast.data(), frames[i].data(), n, i);
        for (size_t k = 0; k < n; ++k) {
            // i / (i + 1) x avg + floor(frame / (i + 1)) = (i x avg + (i + 1) x q) / (i + 1)
            const uint64_t q = frames[i][k] / (i + 1);
            slow[k] = i == 0 ? frames[i][k] : nearestHalfUp(i * slow[k] + (i + 1) * q, i + 1);
            ASSERT_EQ(fast[k], slow[k]) << "frame " << i << " pixel " << k;
        }
    }
}

struct HalfCase {
    uint32_t i;
    uint16_t avg;
    uint16_t frame;
    uint16_t expected;
};
class RunningAverageHalf : public ::testing::TestWithParam<HalfCase> {};

// Values that land exactly on a half. 5/6 x 3 = 2.5 comes out of a double product as
// 2.4999999999999996 in some orders of evaluation; the integer form rounds it up.
TEST_P(RunningAverageHalf, HalvesGoUp)
{
    const HalfCase c = GetParam();
    uint16_t avg = c.avg;
    runningAverageStep(&avg, &c.frame, 1, c.i);
    EXPECT_EQ(avg, c.expected);
}
INSTANTIATE_TEST_SUITE_P(Cases, RunningAverageHalf,
                         ::testing::Values(HalfCase{1, 3, 0, 2},          // 1.5
                                           HalfCase{1, 3, 1, 2},          // 1.5 + 0
                                           HalfCase{5, 3, 5, 3},          // 2.5 + 0
                                           HalfCase{3, 2, 7, 3},          // 1.5 + 1
                                           HalfCase{15, 16383, 16383, 16382}, // 15359.06 + 1023
                                           HalfCase{2, 1, 2, 1}));        // 0.667 + 0

TEST(MeanFreeModel, IsTheIntegerAverageLessItsIntegerMean)
{
    const size_t n = 333;
    std::vector<uint32_t> acc(n, 0);
    std::vector<std::vector<uint16_t>> frames;
    for (uint32_t f = 0; f < 7; ++f) {
        frames.push_back(randomFrame(n, 7 + f, 5000, 9000));
        accumulate(acc.data(), frames.back().data(), n);
    }
    std::vector<int16_t> model(n);
    ASSERT_TRUE(meanFreeModel(acc.data(), n, 7, model.data()));
    std::vector<int64_t> avg(n);
    int64_t sum = 0;
    for (size_t k = 0; k < n; ++k) {
        int64_t s = 0;
        for (const auto& f : frames)
            s += f[k];
        avg[k] = s / 7;
        sum += avg[k];
    }
    for (size_t k = 0; k < n; ++k)
        ASSERT_EQ(model[k], avg[k] - sum / int64_t(n)) << k;
    EXPECT_FALSE(meanFreeModel(acc.data(), n, 0, model.data())); // no frames: no division
}

// The direct smoothing: a padded copy, nine cells summed, the ceiling by floating point.
std::vector<int16_t> slowSmooth(const std::vector<int16_t>& in, int w, int h)
{
    std::vector<int> pad(size_t(w + 2) * size_t(h + 2));
    for (int y = -1; y <= h; ++y)
        for (int x = -1; x <= w; ++x) {
            const int sx = std::clamp(x, 0, w - 1), sy = std::clamp(y, 0, h - 1);
            pad[size_t(y + 1) * size_t(w + 2) + size_t(x + 1)] = in[size_t(sy) * size_t(w) + size_t(sx)];
        }
    std::vector<int16_t> out(in.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int s = 0;
            for (int dy = 0; dy < 3; ++dy)
                for (int dx = 0; dx < 3; ++dx)
                    s += pad[size_t(y + dy) * size_t(w + 2) + size_t(x + dx)];
            out[size_t(y) * size_t(w) + size_t(x)] = int16_t(std::ceil(s / 9.0));
        }
    return out;
}

class Smooth : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(Smooth, MatchesThePaddedDirectFormWithNegativeValues)
{
    const auto [w, h] = GetParam();
    std::mt19937 rng(uint32_t(w * 1000 + h));
    std::uniform_int_distribution<int> d(-900, 900);
    std::vector<int16_t> in(size_t(w) * size_t(h));
    for (auto& v : in)
        v = int16_t(d(rng));
    std::vector<int16_t> out(in.size());
    smooth3x3(in.data(), w, h, out.data());
    EXPECT_EQ(out, slowSmooth(in, w, h));
}
INSTANTIATE_TEST_SUITE_P(Sizes, Smooth,
                         ::testing::Values(std::make_pair(1, 1), std::make_pair(1, 7), std::make_pair(9, 1),
                                           std::make_pair(2, 3), std::make_pair(37, 19), std::make_pair(160, 118)));

// Every whole block's mean rounded down, squared steps within each block row.
uint64_t slowBlockSum(const std::vector<int16_t>& m, int w, int h)
{
    uint64_t sum = 0;
    for (int by = 0; by + 16 <= h; by += 16) {
        bool first = true;
        double prev = 0;
        for (int bx = 0; bx + 16 <= w; bx += 16) {
            double s = 0;
            for (int y = by; y < by + 16; ++y)
                for (int x = bx; x < bx + 16; ++x)
                    s += m[size_t(y) * size_t(w) + size_t(x)];
            const double mean = std::floor(s / 256.0);
            if (!first)
                sum += uint64_t((mean - prev) * (mean - prev));
            prev = mean;
            first = false;
        }
    }
    return sum;
}

TEST(BlockScale, MatchesTheDirectFormAndLeavesPartialBlocksOut)
{
    // 168 x 118: 10 whole blocks a row and 7 block rows; the last 8 columns and 6 rows
    // (the partial block row of a 160 x 120 core) are left out.
    const int w = 168, h = 118;
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> d(-300, 300);
    std::vector<int16_t> m(size_t(w) * size_t(h));
    for (auto& v : m)
        v = int16_t(d(rng));
    const BlockScale s = blockScale(m.data(), w, h);
    ASSERT_EQ(s.result, ScaleResult::Ok);
    EXPECT_EQ(s.sum, slowBlockSum(m, w, h));
    EXPECT_EQ(s.scale, uint32_t(kScaleNumerator / s.sum));

    // Whatever the partial last block row and column hold, S stays.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (y >= 112 || x >= 160)
                m[size_t(y) * size_t(w) + size_t(x)] = int16_t(30000 - x);
    EXPECT_EQ(blockScale(m.data(), w, h).sum, s.sum);
}

struct ScaleCase {
    int step; // mean step between the two blocks of one block row
    ScaleResult result;
    uint32_t scale;
};
class BlockScaleEdge : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(BlockScaleEdge, FlatOverflowAndTheLastSumThatFits)
{
    const ScaleCase c = GetParam();
    // Two block rows of two blocks: the sum is twice the square of the step.
    std::vector<int16_t> m(32 * 32, 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 16; x < 32; ++x)
            m[size_t(y) * 32 + size_t(x)] = int16_t(c.step);
    const BlockScale s = blockScale(m.data(), 32, 32);
    EXPECT_EQ(s.sum, uint64_t(2 * c.step * c.step));
    EXPECT_EQ(s.result, c.result);
    EXPECT_EQ(s.scale, c.scale);
}
INSTANTIATE_TEST_SUITE_P(Cases, BlockScaleEdge,
                         ::testing::Values(ScaleCase{0, ScaleResult::Flat, 0},
                                           ScaleCase{8, ScaleResult::Overflow, 0}, // 2^39 / 128 = 2^32
                                           ScaleCase{-8, ScaleResult::Overflow, 0},
                                           ScaleCase{9, ScaleResult::Ok, uint32_t(kScaleNumerator / 162)}));

TEST(ModelFile, ValuesLittleEndianThenScaleLowHalfFirstThenTwoZeroBytes)
{
    const std::vector<int16_t> m = {-2, 0x1234, 7};
    const std::vector<uint8_t> f = modelFileBytes(m.data(), m.size(), 0xA1B2C3D4u);
    const std::vector<uint8_t> expected = {0xFE, 0xFF, 0x34, 0x12, 0x07, 0x00, 0xD4, 0xC3, 0xB2, 0xA1, 0x00, 0x00};
    EXPECT_EQ(f, expected);
}

} // namespace
