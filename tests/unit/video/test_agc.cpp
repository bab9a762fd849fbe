// The three AGC mappings on small frames whose statistics are worked out by hand.
#include "AgcProcessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

struct Agc {
    AgcProcessor p;
    std::vector<uint8_t> out;
    Agc(int w, int h, int mode)
    {
        EXPECT_EQ(p.Create(w, h), AgcProcessor::Ok);
        EXPECT_EQ(p.SetMode(mode), AgcProcessor::Ok);
        out.resize(size_t(w) * size_t(h));
    }
    void run(const std::vector<uint16_t>& in) { ASSERT_EQ(p.Process(in.data(), out.data()), AgcProcessor::Ok); }
};

// 1000 pixels, ten of each value 5000 .. 5099. With clips of 20 per mille: low = 5002,
// top = 5098, high = 5097, mean = 5049 (all worked out from the counts).
std::vector<uint16_t> narrowRamp()
{
    std::vector<uint16_t> v(1000);
    for (int i = 0; i < 1000; ++i)
        v[size_t(i)] = uint16_t(5000 + i / 10);
    return v;
}

TEST(Agc, MemoryPresetsAndResultCodes)
{
    int bytes = 0;
    EXPECT_EQ(AgcProcessor::QueryMemory(nullptr), AgcProcessor::ErrNull);
    EXPECT_EQ(AgcProcessor::QueryMemory(&bytes), AgcProcessor::Ok);
    EXPECT_EQ(bytes, 49280);

    AgcProcessor a;
    uint8_t out[4];
    const uint16_t in[4] = {1, 2, 3, 4};
    EXPECT_EQ(a.Process(in, out), AgcProcessor::ErrNull) << "not created";
    EXPECT_EQ(a.Create(0, 5), AgcProcessor::ErrNull);
    ASSERT_EQ(a.Create(2, 2), AgcProcessor::Ok);
    EXPECT_EQ(a.params().mode, 1);
    EXPECT_EQ(a.params().gain, 256);
    EXPECT_EQ(a.params().brightness, 100);
    EXPECT_EQ(a.params().contrast, 220);
    EXPECT_EQ(a.Process(nullptr, out), AgcProcessor::ErrNull);
    EXPECT_EQ(a.Process(in, nullptr), AgcProcessor::ErrNull);

    EXPECT_EQ(a.SetMode(3), AgcProcessor::Ok);
    EXPECT_EQ(a.params().lowClip, 10);
    EXPECT_EQ(a.params().brightness, 80);
    EXPECT_EQ(a.params().contrast, 150);
    EXPECT_EQ(a.params().minRange, 120);
    EXPECT_EQ(a.SetMode(2), AgcProcessor::Ok);
    EXPECT_EQ(a.params().brightness, 96);
    EXPECT_EQ(a.params().minRange, 160);
    EXPECT_EQ(a.params().contrast, 150) << "Histeq keeps the contrast it finds";
    for (int bad : {0, 4, -1})
        EXPECT_EQ(a.SetMode(bad), AgcProcessor::ErrMode);
    EXPECT_EQ(a.params().mode, 2) << "a refused mode leaves the old one";
}

TEST(Agc, LineUniformNarrowAndOverRange)
{
    Agc flat(20, 10, 1);
    flat.run(std::vector<uint16_t>(200, 7777));
    EXPECT_TRUE(std::all_of(flat.out.begin(), flat.out.end(), [](uint8_t g) { return g == 100; }));

    // A scene narrower than 160 counts is stretched as if it were 160 wide.
    Agc line(100, 10, 1);
    const auto ramp = narrowRamp();
    line.run(ramp);
    EXPECT_EQ(line.p.lastStats().low, 5002);
    EXPECT_EQ(line.p.lastStats().high, 5097);
    EXPECT_EQ(line.p.lastStats().mean, 5049);
    EXPECT_EQ(line.p.params().gain, 220 * 256 / 160);
    EXPECT_EQ(line.out[490], 100) << "the mean gets the brightness";
    const int spread = line.out[999] - line.out[0];
    EXPECT_NEAR(spread, 99 * 220 / 160, 1);

    // Values above 14 bits count as 16383.
    std::vector<uint16_t> hot = ramp;
    hot[5] = 0xFFFF;
    hot[6] = 16383;
    line.run(hot);
    EXPECT_EQ(line.out[5], line.out[6]);
    EXPECT_EQ(line.p.histogram()[16383], 2);
    EXPECT_EQ(line.out[5], 255);
}

TEST(Agc, HisteqScalesNarrowScenesDown)
{
    Agc eq(100, 10, 2);
    eq.run(narrowRamp());
    const int e = (5097 - 5002) * 256 / 160;
    EXPECT_EQ(eq.p.params().gain, e);
    EXPECT_EQ(eq.out[490], 96) << "the mean gets the brightness";
    const auto [lo, hi] = std::minmax_element(eq.out.begin(), eq.out.end());
    EXPECT_NEAR(*hi - *lo, 255 * e / 256, 3) << "the equalised table shrinks by range / 160";

    // A wide scene (400 levels, five pixels each) uses the whole table, anchored at
    // the mean: low 3008, high 3391, mean 3199, table(mean) = 1000 x 255 / 2000 = 127.
    std::vector<uint16_t> wide(2000);
    for (int i = 0; i < 2000; ++i)
        wide[size_t(i)] = uint16_t(3000 + i / 5);
    Agc full(100, 20, 2);
    full.run(wide);
    EXPECT_EQ(full.p.params().gain, 256);
    EXPECT_EQ(full.p.lastStats().mean, 3199);
    EXPECT_EQ(full.p.lut()[3199], 96);
    EXPECT_EQ(full.p.lut()[3399], 96 + 255 - 127);
    EXPECT_EQ(full.p.lut()[3000], 0);
}

TEST(Agc, SpecialKneeAndItsGuard)
{
    // Background ramp and a small hot object far above it.
    std::vector<uint16_t> scene(10000);
    for (int i = 0; i < 9500; ++i)
        scene[size_t(i)] = uint16_t(5000 + i % 100);
    for (int i = 9500; i < 10000; ++i)
        scene[size_t(i)] = uint16_t(9000 + i % 100);
    Agc sp(100, 100, 3);
    sp.run(scene);
    const AgcProcessor::Stats s = sp.p.lastStats();
    const uint8_t* lut = sp.p.lut();
    EXPECT_EQ(lut[s.mean], 80) << "the mean gets the brightness";
    EXPECT_EQ(lut[9099], 255);
    for (int i = 1; i < AgcProcessor::kLevels; ++i)
        ASSERT_GE(lut[i], lut[i - 1]) << i;
    std::set<int> objectGreys(sp.out.begin() + 9500, sp.out.end());
    EXPECT_GT(objectGreys.size(), 20u) << "the object is equalised above the knee, not clipped";
    EXPECT_LT(lut[5099], lut[9000]);

    // Nothing above the knee: the equalised part would divide by zero; the linear
    // curve is used instead.
    Agc flat(10, 10, 3);
    flat.p.params().brightness = 254;
    flat.p.params().contrast = 255;
    flat.run(std::vector<uint16_t>(100, 4000));
    EXPECT_TRUE(std::all_of(flat.out.begin(), flat.out.end(), [](uint8_t g) { return g == 254; }));
    EXPECT_EQ(flat.p.params().gain, 255 * 256 / 120);
}

} // namespace
