// The drift fit against hand-made polynomials: the shared pseudo-inverse against a
// decomposition per pixel, the segment split, the rows the fit leaves out, the storage
// of c1..c4 and the 16-bit clipping.
#include "DriftFit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

using namespace driftfit;

// Sample images of `pixels` pixels following y = sum c_k(p) x^k (+ a little pseudo-noise).
struct Samples {
    std::vector<std::vector<uint16_t>> images;
    std::vector<const uint16_t*> ptrs;
    void finish()
    {
        ptrs.clear();
        for (auto& i : images)
            ptrs.push_back(i.data());
    }
};

Samples polySamples(const std::vector<float>& x, size_t pixels, const std::vector<double>& c, bool noise)
{
    Samples s;
    uint32_t r = 12345;
    for (float xi : x) {
        std::vector<uint16_t> img(pixels);
        for (size_t p = 0; p < pixels; ++p) {
            double y = 0, xp = 1;
            for (size_t k = 0; k < c.size(); ++k) {
                y += (c[k] + 0.01 * double(p % 17)) * xp;
                xp *= xi;
            }
            if (noise) {
                r = r * 1664525u + 1013904223u;
                y += double(r >> 24) / 64.0 - 2.0;
            }
            img[p] = uint16_t(std::lround(std::clamp(y, 0.0, 65535.0)));
        }
        s.images.push_back(std::move(img));
    }
    s.finish();
    return s;
}

std::vector<float> ramp(int n, float from, float step)
{
    std::vector<float> t;
    for (int i = 0; i < n; ++i)
        t.push_back(from + step * float(i));
    return t;
}

TEST(DriftFit, SharedOperatorMatchesPerPixelSolutionButForTruncationBoundary)
{
    const std::vector<float> t = ramp(60, 2200.f, 13.f);
    const size_t pixels = 3000;
    const Samples s = polySamples(t, pixels, {-9000.0, 3.1, 0.0011, 0.0, 0.0}, true);
    const SegmentFit shared = fitSegment(t.data(), 60, s.ptrs.data(), pixels, 5, 3);
    const SegmentFit single = fitSegmentPerPixel(t.data(), 60, s.ptrs.data(), pixels, 5, 3);
    ASSERT_TRUE(shared.fitted && single.fitted);
    int differing = 0, worst = 0;
    for (int j = 0; j < kArraysPerSegment; ++j)
        for (size_t p = 0; p < pixels; ++p) {
            const int d = std::abs(shared.arrays[size_t(j)][p] - single.arrays[size_t(j)][p]);
            differing += d != 0;
            worst = std::max(worst, d);
        }
    // Only a value within rounding of an integer can truncate the other way.
    EXPECT_LE(worst, 1);
    EXPECT_LE(differing, int(pixels * kArraysPerSegment / 1000));
}

TEST(DriftFit, RecoversPolynomialAndStoresC4TimesTen)
{
    // Type 1 keeps x as it is: y = 500 + 40.4 x - 3.4 x^2 over x = 0..9, three terms.
    const std::vector<float> t = ramp(10, 0.f, 1.f);
    Samples s = polySamples(t, 4, {500.0, 40.4, -3.4}, false);
    SegmentFit f = fitSegment(t.data(), 10, s.ptrs.data(), 4, 3, 1);
    ASSERT_TRUE(f.fitted);
    EXPECT_EQ(f.arrays[0][0], 40); // c1 (+ 0.01 x pixel: truncated away)
    EXPECT_EQ(f.arrays[1][0], -3);
    EXPECT_EQ(f.arrays[2][0], 0);
    EXPECT_EQ(f.arrays[3][0], 0);

    // Five terms: the fourth array is c4 x 10. y = 2000 + 2.5x + 0.55x^4 around x = -2..2.
    const std::vector<float> u = ramp(9, -2.f, 0.5f);
    const std::vector<double> c = {2000.0, 2.5, 0.0, 0.0, 0.55};
    s = polySamples(u, 1, c, false);
    // The first and last x sum to 0: the last sample is left out, eight rows remain.
    f = fitSegment(u.data(), 9, s.ptrs.data(), 1, 5, 1);
    ASSERT_TRUE(f.fitted);
    EXPECT_NEAR(f.arrays[3][0], 5, 1);
    EXPECT_NEAR(f.arrays[0][0], 2, 1);
}

TEST(DriftFit, LastRowLeftOutWhenFirstAndLastSumToZero)
{
    // x = -2, -1, 1, 2: the last sample is not used, so a wild last value changes nothing.
    const std::vector<float> x = {-2.f, -1.f, 1.f, 2.f};
    Samples s = polySamples(x, 1, {1000.0, 10.3, 2.2}, false);
    const SegmentFit clean = fitSegment(x.data(), 4, s.ptrs.data(), 1, 3, 1);
    s.images[3][0] = 60000;
    s.finish();
    const SegmentFit wild = fitSegment(x.data(), 4, s.ptrs.data(), 1, 3, 1);
    ASSERT_TRUE(clean.fitted && wild.fitted);
    EXPECT_EQ(clean.arrays[0][0], wild.arrays[0][0]);
    EXPECT_EQ(clean.arrays[1][0], wild.arrays[1][0]);
    EXPECT_NEAR(wild.arrays[0][0], 10, 1);
    EXPECT_NEAR(wild.arrays[1][0], 2, 1);

    // x = -1, 0, 1 with three terms: two rows are left, too few; zeros and a reason.
    const std::vector<float> y = {-1.f, 0.f, 1.f};
    const Samples s3 = polySamples(y, 2, {1000.0, 10.0, 2.0}, false);
    const SegmentFit few = fitSegment(y.data(), 3, s3.ptrs.data(), 2, 3, 1);
    EXPECT_FALSE(few.fitted);
    EXPECT_FALSE(few.reason.empty());
    EXPECT_EQ(few.arrays[0][0], 0);
}

TEST(DriftFit, CoefficientsOutsideSixteenBitsSaturateAndAreCounted)
{
    const std::vector<float> x = ramp(5, 0.f, 0.001f);
    const Samples s = polySamples(x, 3, {100.0, 50000.0}, false);
    const SegmentFit f = fitSegment(x.data(), 5, s.ptrs.data(), 3, 3, 1);
    ASSERT_TRUE(f.fitted);
    EXPECT_EQ(f.arrays[0][0], 32767);
    EXPECT_GE(f.saturated, 3);
    int16_t w = 0;
    EXPECT_FALSE(truncate16(-40000.7, &w));
    EXPECT_EQ(w, -32768);
    EXPECT_TRUE(truncate16(-12.9, &w));
    EXPECT_EQ(w, -12);
}

TEST(DriftFit, TypeThreeTrailerAndThreeTermSegmentsLeaveUpperArraysZero)
{
    const std::vector<float> t = {2700.f, 2710.f, 2725.f, 2740.f};
    const Samples s = polySamples(t, 6, {0.0, 1.0}, false);
    const SegmentFit f = fitSegment(t.data(), 4, s.ptrs.data(), 6, 3, 3);
    ASSERT_TRUE(f.fitted);
    EXPECT_TRUE(std::all_of(f.arrays[2].begin(), f.arrays[2].end(), [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(f.arrays[3].begin(), f.arrays[3].end(), [](int16_t v) { return v == 0; }));
    const std::array<int16_t, 4> tr = trailer(f, 0);
    EXPECT_EQ(tr[0], 2718);                 // mean 2718.75, truncated
    EXPECT_EQ(tr[1], int16_t(std::trunc(std::sqrt((18.75 * 18.75 + 8.75 * 8.75 + 6.25 * 6.25 + 21.25 * 21.25) / 4))));
    double sum = 0;
    for (int16_t v : f.arrays[0])
        sum += v;
    EXPECT_EQ(tr[2], int16_t(std::trunc(sum / 6)));
}

struct SplitCase {
    std::vector<float> temps;
    int16_t split;
    std::vector<std::pair<int, int>> segments;
};

class DriftSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(DriftSplit, Segments)
{
    const SplitCase& c = GetParam();
    const std::vector<Segment> got = splitSegments(c.temps, c.split);
    ASSERT_EQ(got.size(), c.segments.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].begin, c.segments[i].first) << i;
        EXPECT_EQ(got[i].end, c.segments[i].second) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, DriftSplit,
    ::testing::Values(SplitCase{{2400, 2500, 2700, 2800}, 2650, {{0, 2}, {2, 4}}},
                      // Nothing above the split: every sample in segment 0.
                      SplitCase{{2400, 2500, 2600, 2650}, 2650, {{0, 4}, {4, 4}}},
                      SplitCase{{2700, 2800}, 2650, {{0, 0}, {0, 2}}},
                      SplitCase{{10, 20, 30}, kNoSplit, {{0, 3}}}));

TEST(DriftFit, ConfigurationOfTheSensorTypes)
{
    const int codes[] = {0, 1, 2, 3, 4, 5, 6};
    const int types[] = {0, 1, 2, -1, 3, 4, -1};
    for (size_t i = 0; i < 7; ++i)
        EXPECT_EQ(fitTypeOfSensor(codes[i]), types[i]) << codes[i];
    FitConfig c;
    c.samples = 12;
    c.width = 160;
    c.height = 120;
    ASSERT_TRUE(configForType(3, &c));
    const auto b = packConfig(c);
    EXPECT_EQ(b[0], 3);
    EXPECT_EQ(b[1], 12);
    EXPECT_EQ(b[2], 160);
    EXPECT_EQ(b[6], 120);
    EXPECT_EQ((std::vector<int>{b[10], b[11], b[12]}), (std::vector<int>{5, 3, 3}));
    EXPECT_EQ(b[14] | (b[15] << 8), 2650);
    EXPECT_EQ(b[16] | (b[17] << 8), 255);
    EXPECT_FALSE(configForType(2, &c));
    EXPECT_FALSE(configForType(4, &c));
}

} // namespace
