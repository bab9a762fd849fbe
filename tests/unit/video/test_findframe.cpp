// The stream's frame buffer: reassembly, resynchronisation, CRC, untrusted geometry,
// capture with its bound, and the crosshair window.
#include "CFindFrame.h"
#include "TestSupport.h"
#include "VideoTestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

using vtest::makeFrame;
using vtest::packet;

constexpr int W = 40;
constexpr int H = 12; // 10 image rows

class FindFrameTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ff.SetLayoutProvider([] { return AddInfoLayout(); });
        ff.SetAddInfoSink([this](const FrameAddInfo& info) { last = info; ++records; });
    }
    bool feed(const std::vector<uint8_t>& bytes, size_t from = 0, size_t len = size_t(-1))
    {
        len = std::min(len, bytes.size() - from);
        return ff.InputData(bytes.data() + from, int(len));
    }
    std::vector<uint16_t> image()
    {
        std::vector<uint16_t> img;
        int w = 0, h = 0;
        EXPECT_TRUE(ff.GetFrame(&img, &w, &h));
        EXPECT_EQ(w, W);
        EXPECT_EQ(h, H - 2);
        return img;
    }
    static std::vector<uint16_t> imageOf(const std::vector<uint16_t>& frame)
    {
        return std::vector<uint16_t>(frame.begin(), frame.begin() + W * (H - 2));
    }

    CFindFrame ff;
    FrameAddInfo last;
    int records = 0;
};

TEST_F(FindFrameTest, SplitPacketsAndTwoInOneChunk)
{
    std::vector<uint16_t> none;
    int w = 0, h = 0;
    EXPECT_FALSE(ff.GetFrame(&none, &w, &h)) << "no frame before the first packet";
    EXPECT_FALSE(ff.InputData(nullptr, 10));

    const auto f1 = makeFrame(W, H, 1);
    const auto p1 = packet(f1, W, H);
    // Byte by byte in uneven pieces: only the last piece completes the frame.
    size_t pos = 0;
    int completions = 0;
    for (size_t step = 1; pos < p1.size(); step = step % 13 + 1) {
        completions += feed(p1, pos, step) ? 1 : 0;
        pos += step;
        if (pos < p1.size()) {
            EXPECT_EQ(ff.FrameCount(), 0u);
        }
    }
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(image(), imageOf(f1));
    EXPECT_EQ(records, 1);

    // The end of one packet and the start of the next in one chunk, then the rest.
    const auto f2 = makeFrame(W, H, 2), f3 = makeFrame(W, H, 3);
    auto p2 = packet(f2, W, H), p3 = packet(f3, W, H);
    std::vector<uint8_t> joined = p2;
    joined.insert(joined.end(), p3.begin(), p3.end());
    EXPECT_FALSE(feed(joined, 0, 100));
    EXPECT_TRUE(feed(joined, 100, p2.size() - 100 + 30));
    EXPECT_EQ(image(), imageOf(f2));
    EXPECT_TRUE(feed(joined, p2.size() + 30));
    EXPECT_EQ(image(), imageOf(f3));

    // Two whole packets in one chunk: both are taken, the newest is the second.
    const auto f4 = makeFrame(W, H, 4), f5 = makeFrame(W, H, 5);
    std::vector<uint8_t> two = packet(f4, W, H);
    const auto p5 = packet(f5, W, H);
    two.insert(two.end(), p5.begin(), p5.end());
    const quint64 before = ff.FrameCount();
    EXPECT_TRUE(feed(two));
    EXPECT_EQ(ff.FrameCount(), before + 2);
    EXPECT_EQ(image(), imageOf(f5));
}

TEST_F(FindFrameTest, GarbageBeforeHeaderAndHeaderAtTheEnd)
{
    const auto f1 = makeFrame(W, H, 9);
    const auto p1 = packet(f1, W, H);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = uint8_t(i * 37 + 11);
    garbage[100] = 0x78; // a lone first magic byte
    garbage[101] = 0x56;
    // Garbage then the first 30 header bytes: the header waits at the buffer's end.
    std::vector<uint8_t> chunk = garbage;
    chunk.insert(chunk.end(), p1.begin(), p1.begin() + 30);
    EXPECT_FALSE(feed(chunk));
    EXPECT_FALSE(feed(p1, 30, 40));
    EXPECT_TRUE(feed(p1, 70));
    EXPECT_EQ(image(), imageOf(f1));
    EXPECT_EQ(last.VIEC, 9 * 100 + 3) << "add-info block of that frame";
}

TEST_F(FindFrameTest, CrcIsCheckedOnceTheStreamCarriesOne)
{
    const auto a = makeFrame(W, H, 1), b = makeFrame(W, H, 2), c = makeFrame(W, H, 3);
    // Without a CRC tag a damaged frame cannot be told apart.
    auto p = packet(a, W, H, false);
    p[streampacket::kHeaderBytes + 10] ^= 0x01;
    EXPECT_TRUE(feed(p));
    // With one, a single flipped bit drops the frame and the stream goes on.
    auto good = packet(b, W, H, true);
    EXPECT_TRUE(feed(good));
    EXPECT_EQ(image(), imageOf(b));
    auto bad = packet(c, W, H, true);
    bad[streampacket::kHeaderBytes + 333] ^= 0x20;
    EXPECT_FALSE(feed(bad));
    EXPECT_EQ(ff.counters().crcDrops, 1u);
    EXPECT_EQ(image(), imageOf(b));
    EXPECT_FALSE(feed(packet(c, W, H, true, true))) << "corrupt CRC tag";
    EXPECT_TRUE(feed(packet(c, W, H, true)));
    EXPECT_EQ(image(), imageOf(c));
}

TEST_F(FindFrameTest, UntrustedGeometryIsNeverCopied)
{
    const auto f = makeFrame(W, H, 4);
    EXPECT_TRUE(feed(packet(f, W, H)));
    // Headers claiming frames the buffers cannot hold, or none at all.
    for (auto geo : {std::pair<uint32_t, uint32_t>{4000, 4000}, {0xFFFFFFFFu, 2}, {0, 100}, {100, 0}, {64, 2},
                     {65536, 65536}}) {
        std::vector<uint8_t> hdr = packet(f, W, H);
        std::memcpy(hdr.data() + 12 + 12, &geo.first, 4);
        std::memcpy(hdr.data() + 12 + 16, &geo.second, 4);
        EXPECT_FALSE(feed(hdr)) << geo.first << "x" << geo.second;
    }
    EXPECT_GE(ff.counters().geometryDrops, 6u);
    EXPECT_EQ(image(), imageOf(f));
    // A tag-area length that points far past the header is bounded by the header.
    std::vector<uint8_t> wild = packet(makeFrame(W, H, 5), W, H);
    const uint32_t huge = 0x7FFFFFF0u;
    std::memcpy(wild.data() + 8, &huge, 4);
    EXPECT_TRUE(feed(wild));
    // Chunks larger than the receive buffer clear it; the stream recovers.
    std::vector<uint8_t> flood(CFindFrame::kBufferBytes - 50, 0x11);
    EXPECT_FALSE(feed(flood, 0, 100));
    EXPECT_FALSE(feed(flood));
    EXPECT_EQ(ff.counters().overflowClears, 1u);
    const auto g = makeFrame(W, H, 6);
    EXPECT_TRUE(feed(packet(g, W, H)));
    EXPECT_EQ(image(), imageOf(g));
}

TEST_F(FindFrameTest, AnotherFrameSizeReplacesTheFrameAndTheCaptureStore)
{
    const auto big = makeFrame(64, 20, 1);
    EXPECT_TRUE(feed(packet(big, 64, 20)));
    const auto small = makeFrame(W, H, 2);
    EXPECT_TRUE(feed(packet(small, W, H)));
    EXPECT_EQ(ff.FrameSize(), QSize(W, H - 2));
    ff.ReadFrame([](const uint16_t* frame, int w, int h) {
        // Nothing of the bigger frame is left behind the smaller one.
        EXPECT_EQ(frame[size_t(w) * size_t(h)], 0);
        EXPECT_EQ(frame[64 * 20 - 1], 0);
    });

    std::atomic<bool> stop{false};
    std::thread producer([&] {
        int seed = 10;
        while (!stop) {
            const int w = seed < 14 ? 64 : W, h = seed < 14 ? 20 : H;
            feed(packet(makeFrame(w, h, seed++), w, h));
            irtest::waitFor([&] { return stop.load(); }, 2); // a camera's pace
        }
    });
    ASSERT_TRUE(ff.StartCapture(3));
    ASSERT_TRUE(ff.StartCapture(5));
    stop = true;
    producer.join();
    std::vector<std::vector<uint16_t>> run;
    int w = 0, h = 0;
    ASSERT_TRUE(ff.GetCapturedFrames(&run, &w, &h));
    ASSERT_EQ(run.size(), 5u);
    EXPECT_EQ(w, W);
    EXPECT_EQ(h, H - 2);
    for (size_t i = 1; i < run.size(); ++i) {
        ASSERT_EQ(run[i].size(), size_t(W * (H - 2)));
        EXPECT_EQ(run[i][0], run[i - 1][0] + 1) << "consecutive frames in order";
    }
    FrameAddInfo end;
    ASSERT_TRUE(ff.GetFrameAddInfoEx(&end, 1));
    EXPECT_EQ(end.VIEC, uint16_t(run.back()[0] * 100 + 3)) << "capture-end block is the last captured frame's";
    FrameAddInfo untouched;
    untouched.VIEC = 77;
    EXPECT_FALSE(ff.GetFrameAddInfoEx(&untouched, 2));
    EXPECT_EQ(untouched.VIEC, 77);
}

TEST_F(FindFrameTest, CaptureIsBoundedWhenFramesStop)
{
    EXPECT_FALSE(ff.StartCapture(0));
    EXPECT_FALSE(ff.StartCapture(129));
    ff.SetCaptureStallMs(150);
    EXPECT_TRUE(feed(packet(makeFrame(W, H, 1), W, H)));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(ff.StartCapture(2)) << "no frames arrive";
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));

    // A capture of 1 returns after the next frame.
    std::atomic<bool> done{false};
    std::thread camera([&] {
        for (int seed = 2; !done; ++seed) {
            feed(packet(makeFrame(W, H, seed), W, H));
            irtest::waitFor([&] { return done.load(); }, 2);
        }
    });
    ff.SetCaptureStallMs(5000);
    EXPECT_TRUE(ff.StartCapture(1));
    done = true;
    camera.join();
    EXPECT_EQ(ff.CapturedCount(), 1);

    // Cancelled from outside, a capture ends at once, not when frames have stopped
    // for the stall time.
    ff.SetCaptureStallMs(600000);
    std::atomic<bool> returned{false};
    bool captured = true;
    std::thread capture([&] {
        captured = ff.StartCapture(4);
        returned = true;
    });
    EXPECT_TRUE(irtest::waitFor([&] { return ff.CapturedCount() == 0; })) << "the run began";
    ff.CancelCapture();
    EXPECT_TRUE(irtest::waitFor([&] { return returned.load(); }, 2000)) << "cancel ignored";
    for (int seed = 20; !returned; ++seed) // frames end a capture that ignored it
        feed(packet(makeFrame(W, H, seed), W, H));
    capture.join();
    EXPECT_FALSE(captured);
}

TEST_F(FindFrameTest, CrosshairWindowAtTheBorders)
{
    const auto f = makeFrame(W, H, 100);
    ASSERT_TRUE(feed(packet(f, W, H)));
    auto px = [&](int x, int y) { return int(f[size_t(y) * W + size_t(x)]); };
    int sums[25] = {};
    int maxI = -9, minI = -9;
    // (1, 1) is the top-left pixel: 2 rows and 2 columns of the window stay empty.
    ff.SetCrossPoint(QPoint(1, 1));
    ASSERT_TRUE(ff.AccumulateCross(sums, &maxI, &minI));
    for (int i = 0; i < 25; ++i) {
        const int r = i / 5, c = i % 5;
        EXPECT_EQ(sums[i], (r < 2 || c < 2) ? 0 : px(c - 2, r - 2)) << i;
    }
    EXPECT_EQ(sums[12], px(0, 0));
    EXPECT_EQ(maxI, 24);
    EXPECT_EQ(minI, 12) << "smallest covered cell, not an empty one";

    // The last image row and column: only 3 rows and 3 columns are covered.
    std::fill(std::begin(sums), std::end(sums), 0);
    ff.SetCrossPoint(QPoint(W, H - 2));
    ASSERT_TRUE(ff.AccumulateCross(sums, &maxI, &minI));
    for (int i = 0; i < 25; ++i) {
        const int r = i / 5, c = i % 5;
        const bool covered = r <= 2 && c <= 2;
        EXPECT_EQ(sums[i], covered ? px(W - 3 + c, H - 5 + r) : 0) << i;
    }
    // Second-last row and column: 4 of each; sums accumulate across calls.
    int twice[25] = {};
    ff.SetCrossPoint(QPoint(W - 1, H - 3));
    ff.AccumulateCross(twice, nullptr, nullptr);
    ff.AccumulateCross(twice, nullptr, nullptr);
    EXPECT_EQ(twice[18], 2 * px(W - 1, H - 3));
    EXPECT_EQ(twice[19], 0);
    EXPECT_EQ(twice[23], 0);
    // Ties go to the later cell.
    const std::vector<uint16_t> flat(size_t(W) * H, 500);
    feed(packet(flat, W, H));
    std::fill(std::begin(sums), std::end(sums), 0);
    ff.SetCrossPoint(QPoint(10, 5));
    ff.AccumulateCross(sums, &maxI, &minI);
    EXPECT_EQ(maxI, 24);
    EXPECT_EQ(minI, 24);
}

} // namespace
