#include "CPixelDetector.h"
#include "NaiveCalib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Point = CPixelDetector::Point;

std::vector<uint16_t> flat(int w, int h, uint16_t v)
{
    return std::vector<uint16_t>(size_t(w) * h, v);
}

std::vector<Point> v10(const std::vector<uint16_t>& img, int w, int h, int bright, int dark)
{
    CPixelDetector det;
    det.SetThresholds(bright, dark);
    std::vector<Point> bad;
    EXPECT_TRUE(det.DetectV10(img.data(), w, h, &bad));
    return bad;
}

std::vector<uint8_t> v20(const std::vector<uint16_t>& img, int w, int h, int bright, std::vector<uint8_t> map = {})
{
    if (map.empty())
        map.assign(size_t(w) * h, 0);
    CPixelDetector det;
    det.SetThresholds(bright, 9999); // the dark threshold plays no part
    EXPECT_TRUE(det.DetectV20(img.data(), w, h, map.data()));
    return map;
}

std::vector<uint16_t> noisy(int w, int h, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 18);
    std::uniform_int_distribution<int> defect(0, 199);
    std::vector<uint16_t> img(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double v = 6000 + 20 * x + 7 * y + noise(rng); // gradient, noise, defects
            const int d = defect(rng);
            if (d == 0)
                v = 16383;
            else if (d == 1)
                v = 0;
            else if (d == 2)
                v += 90;
            img[size_t(y) * w + x] = uint16_t(std::max(0.0, std::min(65535.0, v)));
        }
    return img;
}

} // namespace

TEST(PixelTable, RecordBytesAndNeighbourMasks)
{
    std::vector<uint8_t> map(640 * 512, 0);
    map[0] = 1;                 // (0, 0): neighbours 0, 1, 2, 3, 5 lie outside
    map[20 * 640 + 300] = 1;    // (300, 20), alone
    map[511 * 640 + 639] = 1;   // last pixel
    map[100 * 640 + 100] = 1;   // (100, 100) with (101, 100) and (99, 101) bad
    map[100 * 640 + 101] = 1;
    map[101 * 640 + 99] = 1;
    Bytes rec;
    ASSERT_TRUE(CPixelDetector::EncodeMap(map.data(), 640, 512, &rec));
    ASSERT_EQ(rec.size(), 6u * 4);
    EXPECT_EQ(Bytes(rec.begin(), rec.begin() + 4), (Bytes{0x2F, 0x00, 0x10, 0x01}));
    EXPECT_EQ(Bytes(rec.begin() + 4, rec.begin() + 8), (Bytes{0x00, 0x01, 0x51, 0x2D}));
    // Scan order: (100, 100), (101, 100), (99, 101), then the last pixel.
    EXPECT_EQ(Bytes(rec.begin() + 8, rec.begin() + 12), (Bytes{0x10 | 0x20, 0x06, 0x50, 0x65}));
    EXPECT_EQ(rec[12], 0x08);                       // (101, 100): left neighbour only
    EXPECT_EQ(rec[16], 0x04);                       // (99, 101): upper right neighbour
    EXPECT_EQ(Bytes(rec.begin() + 20, rec.end()), (Bytes{0xF4, 0x20, 0x02, 0x80}));

    // Every record decodes back to its pixel.
    std::vector<uint8_t> back(640 * 512, 0);
    CPixelDetector::TableStats s;
    ASSERT_TRUE(CPixelDetector::DecodeTable(rec.data(), rec.size(), 640, 512, back.data(), &s));
    EXPECT_EQ(back, map);
    EXPECT_EQ(s.records, 6u);
    EXPECT_EQ(s.outside + s.duplicates + s.trailing, 0u);
}

TEST(PixelTable, DecodeOfAHandMadeTableSkipsWhatLiesOutside)
{
    // 160 x 120 core: (2, 1); the reset entry (322, 15) lies beyond its 160 columns; a
    // record with row field 0; (159, 119); (2, 1) again; two stray bytes.
    const Bytes table{0x00, 0x00, 0x20, 0x03, 0x00, 0x01, 0x01, 0x43, 0x00, 0x00, 0x00, 0x05,
                      0x00, 0x07, 0x80, 0xA0, 0xFF, 0x00, 0x20, 0x03, 0x12, 0x34};
    std::vector<uint8_t> map(160 * 120, 0);
    CPixelDetector::TableStats s;
    ASSERT_TRUE(CPixelDetector::DecodeTable(table.data(), table.size(), 160, 120, map.data(), &s));
    EXPECT_EQ(s.records, 5u);
    EXPECT_EQ(s.outside, 2u);
    EXPECT_EQ(s.duplicates, 1u);
    EXPECT_EQ(s.trailing, 2u);
    std::vector<uint8_t> expected(160 * 120, 0);
    expected[1 * 160 + 2] = 1;
    expected[119 * 160 + 159] = 1;
    EXPECT_EQ(map, expected);

    int x = -1, y = -1;
    uint8_t mask = 1;
    ASSERT_TRUE(CPixelDetector::DecodeRecord(CPixelDetector::kResetRecord, &x, &y, &mask));
    EXPECT_EQ(x, 322);
    EXPECT_EQ(y, 15);
    EXPECT_EQ(mask, 0);
}

TEST(PixelTable, MergeCollapsesDuplicatesIntoScanOrder)
{
    Bytes a(4), b(4), c(4), d(4);
    CPixelDetector::EncodeRecord(5, 3, 0xAA, a.data()); // stale masks are recomputed
    CPixelDetector::EncodeRecord(1, 0, 0x00, b.data());
    CPixelDetector::EncodeRecord(6, 3, 0x00, c.data());
    CPixelDetector::EncodeRecord(300, 3, 0x00, d.data()); // outside 8 x 4
    Bytes t1 = a;
    t1.insert(t1.end(), a.begin(), a.end()); // the same pixel twice in one file
    t1.insert(t1.end(), d.begin(), d.end());
    Bytes t2 = c;
    t2.insert(t2.end(), b.begin(), b.end());
    t2.insert(t2.end(), a.begin(), a.end());

    Bytes out;
    CPixelDetector::TableStats s;
    ASSERT_TRUE(CPixelDetector::MergeTables({{t1.data(), t1.size()}, {t2.data(), t2.size()}}, 8, 4, &out, &s));
    Bytes expected(12);
    CPixelDetector::EncodeRecord(1, 0, 0x07, expected.data());      // top row: 0, 1, 2 outside
    CPixelDetector::EncodeRecord(5, 3, 0xE0 | 0x10, expected.data() + 4); // bottom row, (6, 3) bad
    CPixelDetector::EncodeRecord(6, 3, 0xE0 | 0x08, expected.data() + 8);
    EXPECT_EQ(out, expected);
    EXPECT_EQ(s.duplicates, 2u);
    EXPECT_EQ(s.outside, 1u);
}

TEST(PixelTable, GainLimitsMarkBadPixelsAndSizesAreBounded)
{
    const std::vector<uint16_t> k{25000, 25001, 44999, 45000, 32768, 0};
    std::vector<uint8_t> map;
    ASSERT_TRUE(CPixelDetector::MapFromGains(k.data(), 3, 2, &map));
    EXPECT_EQ(map, (std::vector<uint8_t>{1, 0, 0, 1, 0, 1}));

    EXPECT_TRUE(CPixelDetector::SizeSupported(1920, 1440));
    EXPECT_TRUE(CPixelDetector::SizeSupported(4095, 675));
    EXPECT_FALSE(CPixelDetector::SizeSupported(1921, 1440));
    EXPECT_FALSE(CPixelDetector::SizeSupported(4096, 1)) << "the column must fit 12 bits";
    EXPECT_FALSE(CPixelDetector::SizeSupported(0, 10));
    const std::vector<uint16_t> img(4096, 100);
    std::vector<Point> bad{{1, 1}};
    CPixelDetector det;
    EXPECT_FALSE(det.DetectV10(img.data(), 4096, 1, &bad));
    EXPECT_TRUE(bad.empty());
    Bytes rec{1};
    std::vector<uint8_t> m(4096, 1);
    EXPECT_FALSE(CPixelDetector::EncodeMap(m.data(), 4096, 1, &rec));
    EXPECT_TRUE(rec.empty());
}

TEST(PixelDetect, ThresholdsAtSixtyCounts)
{
    const int w = 40, h = 30;
    for (int dir : {+1, -1}) {
        std::vector<uint16_t> img = flat(w, h, 1000);
        img[size_t(15) * w + 20] = uint16_t(1000 + dir * 60);
        img[0] = uint16_t(1000 + dir * 60); // corner: a 13 x 13 window
        SCOPED_TRACE(dir > 0 ? "hot" : "cold");

        // V10: the window mean includes the pixel, so it is 1001 (hot) or 1000 (cold).
        const std::vector<Point> found = v10(img, w, h, 50, 50);
        EXPECT_EQ(found, (std::vector<Point>{{0, 0}, {20, 15}}));
        EXPECT_TRUE(v10(img, w, h, 70, 70).empty());
        // Only the threshold of the defect's direction counts.
        EXPECT_EQ(v10(img, w, h, dir > 0 ? 50 : 70, dir > 0 ? 70 : 50).size(), 2u);
        EXPECT_TRUE(v10(img, w, h, dir > 0 ? 70 : 50, dir > 0 ? 50 : 70).empty());

        std::vector<uint8_t> expected(size_t(w) * h, 0);
        expected[0] = 1;
        expected[size_t(15) * w + 20] = 1;
        EXPECT_EQ(v20(img, w, h, 50), expected);
        EXPECT_EQ(v20(img, w, h, 70), std::vector<uint8_t>(size_t(w) * h, 0));
    }
}

TEST(PixelDetect, V20ExcludesPixelsAlreadyFound)
{
    // Two adjacent hot pixels: both found, the second's window without the first.
    std::vector<uint16_t> img = flat(12, 12, 100);
    img[5 * 12 + 5] = img[5 * 12 + 6] = 300;
    std::vector<uint8_t> map = v20(img, 12, 12, 50);
    EXPECT_EQ(map[5 * 12 + 5], 1);
    EXPECT_EQ(map[5 * 12 + 6], 1);
    EXPECT_EQ(std::count(map.begin(), map.end(), 1), 2);

    // A hot cluster at the edge of a 6 x 4 image: (5, 0) has five hot pixels among its
    // nine neighbours, so it passes unless (3, 0), found before it, has left its window.
    img = flat(6, 4, 100);
    for (int i : {3, 5, 9, 10, 15})
        img[size_t(i)] = 300;
    map = v20(img, 6, 4, 50);
    std::vector<uint8_t> expected(24, 0);
    for (int i : {3, 5, 9, 10, 15})
        expected[size_t(i)] = 1;
    EXPECT_EQ(map, expected);

    // Pixels of the core's table are neither tested again nor part of any window.
    img = flat(6, 4, 100);
    img[3] = 300;
    std::vector<uint8_t> base(24, 0);
    base[3] = 1;
    EXPECT_EQ(v20(img, 6, 4, 50, base), base);
}

TEST(PixelDetect, FastFormsMatchTheDirectDefinitions)
{
    // Sizes around the window sizes, including frames narrower than a window.
    const int sizes[][2] = {{1, 1}, {3, 40}, {24, 26}, {25, 25}, {57, 31}, {160, 120}};
    unsigned seed = 3;
    for (const auto& s : sizes) {
        const int w = s[0], h = s[1];
        const std::vector<uint16_t> img = noisy(w, h, seed++);
        SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));

        const std::vector<Point> fast = v10(img, w, h, 50, 40);
        const std::vector<naive::Pt> slow = naive::detectV10(img.data(), w, h, 50, 40);
        ASSERT_EQ(fast.size(), slow.size());
        for (size_t i = 0; i < fast.size(); ++i)
            ASSERT_TRUE(fast[i].x == slow[i].x && fast[i].y == slow[i].y) << i;

        std::vector<uint8_t> base(size_t(w) * h, 0);
        for (size_t i = 0; i < base.size(); i += 97)
            base[i] = 1;
        std::vector<uint8_t> slowMap = base;
        const int slowFound = naive::detectV20(img.data(), w, h, 40, slowMap.data());
        std::vector<uint8_t> fastMap = base;
        CPixelDetector det;
        det.SetThresholds(40, 0);
        int fastFound = -1;
        ASSERT_TRUE(det.DetectV20(img.data(), w, h, fastMap.data(), &fastFound));
        EXPECT_EQ(fastMap, slowMap);
        EXPECT_EQ(fastFound, slowFound);
        if (w * h > 1000) {
            EXPECT_GT(slowFound, 0) << "the image must hold defects to compare anything";
            EXPECT_FALSE(fast.empty());
        }
    }
}
