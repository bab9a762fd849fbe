// Acceptance figures on hand-made frames, each against a direct two-pass form written
// from the definitions, plus the verdict against its limits.
#include "QualityFigures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr int W = 12;
constexpr int R = 9;
constexpr int N = 4;

struct Case {
    const char* name;
    std::function<uint16_t(int x, int y, int k)> pixel;
    std::function<bool(int x, int y)> flagged; // in the table
    int cluster;                               // expected largest cluster
    int outliers;                              // expected unflagged outliers
};

// Direct form: mean over frames with a plain loop, variances by the textbook two-pass sum.
QualityFigures slowForm(const std::vector<std::vector<uint16_t>>& fr, const std::vector<uint8_t>& map)
{
    QualityFigures f;
    std::vector<double> a(W * R, 0);
    double sumVar = 0, sumA = 0;
    long good = 0;
    for (int i = 0; i < W * R; ++i) {
        for (int k = 0; k < N; ++k)
            a[i] += fr[k][i];
        a[i] /= N;
        if (map[i])
            continue;
        double v = 0;
        for (int k = 0; k < N; ++k)
            v += (fr[k][i] - a[i]) * (fr[k][i] - a[i]);
        sumVar += v / N;
        sumA += a[i];
        ++good;
    }
    f.mean = sumA / good;
    f.temporalNoise = std::sqrt(sumVar / good);
    double V = 0;
    for (int i = 0; i < W * R; ++i)
        if (!map[i])
            V += (a[i] - f.mean) * (a[i] - f.mean);
    V /= good;
    f.spatialNoise = std::sqrt(std::max(0.0, V - f.temporalNoise * f.temporalNoise / N));
    f.nonuniformityPercent = 100 * f.spatialNoise / f.mean;
    f.correctability = f.temporalNoise > 0 ? f.spatialNoise / f.temporalNoise : 0;
    f.operabilityPercent = 100.0 * good / (W * R);
    return f;
}

class QualityFiguresCase : public ::testing::TestWithParam<Case> {};

TEST_P(QualityFiguresCase, MatchesTheDirectForm)
{
    const Case& c = GetParam();
    std::vector<std::vector<uint16_t>> frames(N, std::vector<uint16_t>(W * R));
    std::vector<uint8_t> map(W * R, 0);
    for (int y = 0; y < R; ++y)
        for (int x = 0; x < W; ++x) {
            map[y * W + x] = c.flagged(x, y) ? 1 : 0;
            for (int k = 0; k < N; ++k)
                frames[k][y * W + x] = c.pixel(x, y, k);
        }
    std::vector<const uint16_t*> ptr;
    for (const auto& f : frames)
        ptr.push_back(f.data());
    QualityFigures got;
    ASSERT_TRUE(computeQualityFigures(ptr.data(), N, W, R, map.data(), &got));
    const QualityFigures want = slowForm(frames, map);
    EXPECT_NEAR(got.mean, want.mean, 1e-9);
    EXPECT_NEAR(got.temporalNoise, want.temporalNoise, 1e-9);
    EXPECT_NEAR(got.spatialNoise, want.spatialNoise, 1e-6);
    EXPECT_NEAR(got.nonuniformityPercent, want.nonuniformityPercent, 1e-6);
    EXPECT_NEAR(got.correctability, want.correctability, 1e-6);
    EXPECT_DOUBLE_EQ(got.operabilityPercent, want.operabilityPercent);
    EXPECT_EQ(got.largestCluster, c.cluster);
    EXPECT_EQ(got.unflaggedOutliers, c.outliers);
}

// Noise: +-2 alternating by frame and pixel, so every pixel has variance 4 and mean 0.
uint16_t noise(int x, int y, int k)
{
    return uint16_t(((x + y + k) % 2) ? 2 : -2);
}

INSTANTIATE_TEST_SUITE_P(
    HandMade, QualityFiguresCase,
    ::testing::Values(
        Case{"flat", [](int x, int y, int k) { return uint16_t(8000 + noise(x, y, k)); },
             [](int, int) { return false; }, 0, 0},
        Case{"hot_unflagged", [](int x, int y, int k) { return uint16_t((x == 5 && y == 4 ? 16383 : 8000) + noise(x, y, k)); },
             [](int, int) { return false; }, 0, 1},
        Case{"hot_flagged", [](int x, int y, int k) { return uint16_t((x == 5 && y == 4 ? 16383 : 8000) + noise(x, y, k)); },
             [](int x, int y) { return x == 5 && y == 4; }, 1, 0},
        // A plus of four and one diagonal neighbour: 8-connected, five.
        Case{"cluster_of_five", [](int x, int y, int k) { return uint16_t(8000 + noise(x, y, k)); },
             [](int x, int y) {
                 static const std::set<std::pair<int, int>> c = {{3, 3}, {4, 3}, {3, 4}, {4, 4}, {5, 5}, {9, 1}};
                 return c.count({x, y}) > 0;
             },
             5, 0},
        Case{"gradient", [](int x, int y, int k) { return uint16_t(7000 + 40 * x + 3 * y + noise(x, y, k)); },
             [](int, int) { return false; }, 0, 0},
        Case{"column_flagged", [](int x, int y, int k) { return uint16_t((x == 7 ? 100 : 8000) + noise(x, y, k)); },
             [](int x, int) { return x == 7; }, R, 0}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

TEST(QualityFigures, NoiseIsNotCountedAsFixedPattern)
{
    // Pure temporal noise: V equals temporal^2 / N exactly, so nothing is left.
    std::vector<std::vector<uint16_t>> frames(N, std::vector<uint16_t>(W * R));
    for (int k = 0; k < N; ++k)
        for (int i = 0; i < W * R; ++i)
            frames[k][i] = uint16_t(8000 + ((i * 7 + k * 3) % 5) * 2);
    std::vector<const uint16_t*> ptr;
    for (const auto& f : frames)
        ptr.push_back(f.data());
    QualityFigures f;
    ASSERT_TRUE(computeQualityFigures(ptr.data(), N, W, R, nullptr, &f));
    EXPECT_GT(f.temporalNoise, 1.0);
    EXPECT_LT(f.correctability, 0.5);
}

TEST(QualityFigures, RefusesWhatCannotBeMeasured)
{
    std::vector<uint16_t> a(W * R, 1), b(W * R, 1);
    const uint16_t* two[2] = {a.data(), b.data()};
    const uint16_t* withNull[2] = {a.data(), nullptr};
    std::vector<uint8_t> all(W * R, 1);
    QualityFigures f;
    f.mean = -7;
    EXPECT_FALSE(computeQualityFigures(two, 1, W, R, nullptr, &f));      // one frame
    EXPECT_FALSE(computeQualityFigures(withNull, 2, W, R, nullptr, &f)); // missing frame
    EXPECT_FALSE(computeQualityFigures(two, 2, W, R, all.data(), &f));   // every pixel flagged
    EXPECT_FALSE(computeQualityFigures(two, 2, 0, R, nullptr, &f));
    EXPECT_EQ(f.mean, -7); // untouched
}

struct LimitCase {
    const char* key;
    std::function<void(QualityFigures&)> spoil;
};

class QualityVerdictCase : public ::testing::TestWithParam<LimitCase> {};

TEST_P(QualityVerdictCase, EachLimitFailsAloneAndIsNamed)
{
    QualityFigures f;
    f.mean = 8000;
    f.temporalNoise = 3;
    f.spatialNoise = 1;
    f.nonuniformityPercent = 0.0125;
    f.correctability = 1.0 / 3;
    f.operabilityPercent = 99.9;
    f.largestCluster = 4;     // at the limit: holds
    f.unflaggedOutliers = 0;
    const QualityLimits l;
    ASSERT_TRUE(judgeQuality(f, l).pass);
    GetParam().spoil(f);
    const QualityVerdict v = judgeQuality(f, l);
    EXPECT_FALSE(v.pass);
    EXPECT_EQ(v.failed, std::vector<std::string>{GetParam().key});
}

INSTANTIATE_TEST_SUITE_P(
    Limits, QualityVerdictCase,
    ::testing::Values(LimitCase{"nonuniformity_percent", [](QualityFigures& f) { f.nonuniformityPercent = 1.01; }},
                      LimitCase{"correctability", [](QualityFigures& f) { f.correctability = 1.2; }},
                      LimitCase{"operability_percent", [](QualityFigures& f) { f.operabilityPercent = 99.4; }},
                      LimitCase{"largest_cluster", [](QualityFigures& f) { f.largestCluster = 5; }},
                      LimitCase{"unflagged_outliers", [](QualityFigures& f) { f.unflaggedOutliers = 1; }},
                      LimitCase{"temporal_noise", [](QualityFigures& f) { f.temporalNoise = 6.5; }}),
    [](const ::testing::TestParamInfo<LimitCase>& i) { return std::string(i.param.key); });

// The limits' text form: what one writes the other reads back; a typo, a value that is
// not a number or a fractional count is refused and leaves the limits as they were.
TEST(QualityLimitsText, RoundTripsAndRefusesWhatWouldLoosenALimit)
{
    QualityLimits l;
    l.maxNonuniformityPercent = 0.5;
    l.maxLargestCluster = 9;
    l.maxTemporalNoise = 4.25;
    QualityLimits back;
    ASSERT_TRUE(parseQualityLimits(qualityLimitsText(l), &back, nullptr, nullptr));
    EXPECT_EQ(qualityLimitsText(back), qualityLimitsText(l));
    ASSERT_TRUE(parseQualityLimits("# only one\n  correctability : 0.8 # tighter\n", &back, nullptr, nullptr));
    EXPECT_EQ(back.maxCorrectability, 0.8);
    EXPECT_EQ(back.maxLargestCluster, 9); // keys left out keep their value

    for (const char* bad : {"nonuniformty_percent: 5", "correctability: 1.0abc", "temporal_noise: nan",
                            "largest_cluster: 4.5", "unflagged_outliers: -1", "operability_percent 99"}) {
        QualityLimits kept = back;
        int line = 0;
        std::string why;
        EXPECT_FALSE(parseQualityLimits(std::string("correctability: 0.1\n") + bad, &kept, &line, &why)) << bad;
        EXPECT_EQ(line, 2) << bad;
        EXPECT_FALSE(why.empty());
        EXPECT_EQ(qualityLimitsText(kept), qualityLimitsText(back)) << bad;
    }
}

} // namespace
