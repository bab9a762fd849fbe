// Frame mean and the cursor's 5 x 5 window on small hand-made pictures: edges, a
// short buffer, the info rows left out by the caller's height, no picture at all.
#include "PixelMath.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// 4 x 3 image rows 1..12, then two info rows of 16383 that must never count.
std::vector<uint16_t> frameWithInfoRows()
{
    std::vector<uint16_t> f;
    for (int i = 1; i <= 12; ++i)
        f.push_back(uint16_t(i));
    f.insert(f.end(), 8, 16383);
    return f;
}

TEST(FrameMean, ImageRowsOnlyAndNeverPastTheBuffer)
{
    const std::vector<uint16_t> f = frameWithInfoRows();
    double mean = -1;
    ASSERT_TRUE(pixelmath::frameMean(f.data(), f.size(), 4, 3, &mean));
    EXPECT_DOUBLE_EQ(mean, 6.5);
    // A geometry larger than the buffer: the buffer's words.
    ASSERT_TRUE(pixelmath::frameMean(f.data(), 12, 640, 512, &mean));
    EXPECT_DOUBLE_EQ(mean, 6.5);
    // Sums past 32 bits: 2,764,800 pixels of 16383.
    const std::vector<uint16_t> big(1920u * 1440u, 16383);
    ASSERT_TRUE(pixelmath::frameMean(big.data(), big.size(), 1920, 1440, &mean));
    EXPECT_DOUBLE_EQ(mean, 16383.0);
}

struct Degenerate {
    bool nullPixels;
    size_t size;
    int width;
    int height;
};

class FrameMeanRefuses : public ::testing::TestWithParam<Degenerate> {};

TEST_P(FrameMeanRefuses, NothingToAverage)
{
    const std::vector<uint16_t> f = frameWithInfoRows();
    const Degenerate d = GetParam();
    double mean = -1;
    EXPECT_FALSE(pixelmath::frameMean(d.nullPixels ? nullptr : f.data(), d.size, d.width, d.height, &mean));
    EXPECT_EQ(mean, -1) << "untouched";
    int sums[pixelmath::kWindowCells] = {};
    int maxI = 7, minI = 7;
    EXPECT_FALSE(pixelmath::accumulateWindow(d.nullPixels ? nullptr : f.data(), d.size, d.width, d.height, 1, 1,
                                             sums, &maxI, &minI));
    EXPECT_EQ(maxI, 7);
    EXPECT_EQ(minI, 7);
    EXPECT_EQ(sums[12], 0);
}

INSTANTIATE_TEST_SUITE_P(Geometry, FrameMeanRefuses,
                         ::testing::Values(Degenerate{true, 12, 4, 3}, Degenerate{false, 0, 4, 3},
                                           Degenerate{false, 12, 0, 3}, Degenerate{false, 12, 4, 0},
                                           Degenerate{false, 12, -4, 3}, Degenerate{false, 12, 4, -1}));

struct WindowCase {
    int x, y;
    std::vector<int> sums; // 25 cells, row by row
    int maxIndex, minIndex;
};

class CursorWindow : public ::testing::TestWithParam<WindowCase> {};

TEST_P(CursorWindow, CoveredCellsOnlyWithTheirExtremes)
{
    const std::vector<uint16_t> f = frameWithInfoRows();
    const WindowCase c = GetParam();
    int sums[pixelmath::kWindowCells] = {};
    int maxI = -2, minI = -2;
    ASSERT_TRUE(pixelmath::accumulateWindow(f.data(), f.size(), 4, 3, c.x, c.y, sums, &maxI, &minI));
    EXPECT_EQ(std::vector<int>(sums, sums + 25), c.sums);
    EXPECT_EQ(maxI, c.maxIndex);
    EXPECT_EQ(minI, c.minIndex);
}

// Image:  1  2  3  4 /  5  6  7  8 /  9 10 11 12; the info rows below stay out.
INSTANTIATE_TEST_SUITE_P(
    Edges, CursorWindow,
    ::testing::Values(
        // Top-left corner: the window's lower right 3 x 3 only.
        WindowCase{0, 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 5, 6, 7, 0, 0, 9, 10, 11}, 24, 12},
        // Bottom-right image pixel: the rows below it are info rows, not image.
        WindowCase{3, 2, {2, 3, 4, 0, 0, 6, 7, 8, 0, 0, 10, 11, 12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 12, 0},
        // Outside the picture: nothing covered.
        WindowCase{10, 10, std::vector<int>(25, 0), -1, -1}));

TEST(CursorWindowSums, AddsUpAndTiesGoToTheLaterCell)
{
    const std::vector<uint16_t> flat(9, 5); // 3 x 3 of 5
    int sums[pixelmath::kWindowCells] = {};
    int maxI = -1, minI = -1;
    ASSERT_TRUE(pixelmath::accumulateWindow(flat.data(), flat.size(), 3, 3, 1, 1, sums, &maxI, &minI));
    ASSERT_TRUE(pixelmath::accumulateWindow(flat.data(), flat.size(), 3, 3, 1, 1, sums, &maxI, &minI));
    EXPECT_EQ(sums[6], 10);
    EXPECT_EQ(sums[18], 10);
    EXPECT_EQ(sums[0], 0);
    EXPECT_EQ(maxI, 18);
    EXPECT_EQ(minI, 18);
    // A buffer shorter than its geometry: the missing row is not read.
    int shortSums[pixelmath::kWindowCells] = {};
    ASSERT_TRUE(pixelmath::accumulateWindow(flat.data(), 6, 3, 3, 1, 1, shortSums, nullptr, nullptr));
    EXPECT_EQ(shortSums[11], 5);
    EXPECT_EQ(shortSums[16], 0);
    EXPECT_FALSE(pixelmath::accumulateWindow(nullptr, 9, 3, 3, 1, 1, shortSums, nullptr, nullptr));
}

} // namespace
