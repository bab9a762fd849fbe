// The stream's decoding thread: what it drops when it falls behind, how the frame
// buffer picks up after the gap, and that the link's serial replies never wait for it.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CStreamDecoder.h"
#include "DataExchange.h"
#include "TestSupport.h"
#include "VideoTestUtil.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kW = 64, kH = 12;
// Nominal ms per decoded frame that stands for "stalled" (Pace scales it in tests).
constexpr double kStall = 1e7;

std::vector<uint8_t> framePacket(int seed)
{
    // No CRC: only the resynchronisation can keep a spliced packet out.
    return vtest::packet(vtest::makeFrame(kW, kH, seed), kW, kH, false);
}

// The add-info record a lone decode of the packet gives: tells frames apart.
uint16_t recordOf(const std::vector<uint8_t>& pkt)
{
    CFindFrame ff;
    uint16_t tec = 0;
    ff.SetAddInfoSink([&](const FrameAddInfo& a) { tec = a.TEC; });
    ff.InputData(pkt.data(), int(pkt.size()));
    return tec;
}

TEST(StreamDecoder, StalledDecoderDropsOldestWholeChunksCountsThemAndResynchronises)
{
    CFindFrame ff;
    std::mutex lock;
    std::vector<uint16_t> seen;
    ff.SetAddInfoSink([&](const FrameAddInfo& a) {
        std::lock_guard<std::mutex> g(lock);
        seen.push_back(a.TEC);
    });
    CStreamDecoder decoder(&ff, nullptr);
    decoder.SetQueueLimit(1u << 20, 2);
    decoder.Start();
    decoder.SetFrameDelayMs(kStall);

    const auto a = framePacket(1), b = framePacket(2), c = framePacket(3), d = framePacket(4);
    // Frame A whole and the first half of B in one chunk: the decoder completes A, holds
    // half of B, and stalls.
    std::vector<uint8_t> first(a);
    first.insert(first.end(), b.begin(), b.begin() + long(b.size() / 2));
    ASSERT_TRUE(decoder.Push(first.data(), int(first.size())));
    ASSERT_TRUE(irtest::waitFor([&] { return decoder.DecodedChunks() == 1; }));
    ASSERT_EQ(ff.FrameCount(), 1u);

    // The rest of B, then C and D whole: the queue holds two, B's rest goes.
    const std::vector<uint8_t> bRest(b.begin() + long(b.size() / 2), b.end());
    EXPECT_TRUE(decoder.Push(bRest.data(), int(bRest.size())));
    EXPECT_TRUE(decoder.Push(c.data(), int(c.size())));
    EXPECT_FALSE(decoder.Push(d.data(), int(d.size()))) << "a chunk had to go";
    const StreamQueueCounts counts = decoder.Counts();
    EXPECT_EQ(counts.droppedChunks, 1u);
    EXPECT_EQ(counts.droppedBytes, bRest.size());
    EXPECT_EQ(counts.queuedChunks, 4u);

    decoder.SetFrameDelayMs(0);
    ASSERT_TRUE(irtest::waitFor([&] { return decoder.DecodedChunks() == 3; }));
    std::lock_guard<std::mutex> g(lock);
    // B's first half is thrown away at the gap, not completed with C's bytes.
    EXPECT_EQ(seen, (std::vector<uint16_t>{recordOf(a), recordOf(c), recordOf(d)}));
    EXPECT_EQ(ff.FrameCount(), 3u);
}

TEST(StreamDecoder, ChunkLargerThanTheQueueGoesAloneAndStopEndsAStall)
{
    CFindFrame ff;
    CStreamDecoder decoder(&ff, nullptr);
    const auto a = framePacket(1);
    decoder.SetQueueLimit(a.size() - 1, 16);
    EXPECT_TRUE(decoder.Push(a.data(), int(a.size()))) << "not running: nothing queued, nothing dropped";
    EXPECT_EQ(decoder.Counts().queuedChunks, 0u);
    decoder.Start();
    EXPECT_FALSE(decoder.Push(a.data(), int(a.size())));
    EXPECT_EQ(decoder.Counts().droppedChunks, 1u);
    EXPECT_EQ(decoder.PendingChunks(), 0u);

    decoder.SetQueueLimit(1u << 20, 16);
    decoder.SetFrameDelayMs(kStall);
    ASSERT_TRUE(decoder.Push(a.data(), int(a.size())));
    ASSERT_TRUE(irtest::waitFor([&] { return ff.FrameCount() == 1; }));
    // Stop inside the stall's wait: joins at once instead of after the stall.
    auto stopped = std::async(std::launch::async, [&] { decoder.Stop(); });
    EXPECT_EQ(stopped.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(decoder.IsRunning());
    // Restartable: the next chunk is decoded.
    decoder.SetFrameDelayMs(0);
    decoder.Start();
    ASSERT_TRUE(decoder.Push(a.data(), int(a.size())));
    EXPECT_TRUE(irtest::waitFor([&] { return ff.FrameCount() == 2; }));
}

// Over real TCP: a 640 x 512 stream at 50 frames/s into a decoder that needs far longer
// per frame than the camera gives it. The replies on the same socket come back as
// without a stream, and closing the link does not wait for the stalled decoder.
TEST(StreamDecoder, RepliesDoNotWaitForAStalledDecoderAndCloseDoesNot)
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.timeScale = 0.01;
    o.stream.frameRate = 50;
    irsim::VirtualCamera cam(o);
    std::string err;
    ASSERT_TRUE(cam.start(&err)) << err;
    auto net = std::make_unique<CNetConnect>();
    NetLoginParams p;
    p.ip = "127.0.0.1";
    p.port = cam.port();
    p.user = p.password = "admin";
    ASSERT_TRUE(net->Login(p));
    CDevice::SetConnect(net.get());
    DataExchange* dx = DataExchange::instance();
    unsigned quiet = 0;
    ASSERT_TRUE(dx->readRegister(0xF0E3, &quiet) && dx->lastReplyReceived());

    ASSERT_TRUE(net->StartStream());
    ASSERT_NE(net->StreamDecoder(), nullptr);
    net->StreamDecoder()->SetFrameDelayMs(kStall);
    ASSERT_TRUE(irtest::waitFor([&] { return net->StreamDropCounts().droppedChunks > 0; }, 10000))
        << "the decoder never fell behind";
    for (int i = 0; i < 20; ++i) {
        unsigned v = 0;
        ASSERT_TRUE(dx->readRegister(0xF0E3, &v)) << "round trip " << i;
        ASSERT_TRUE(dx->lastReplyReceived()) << "round trip " << i;
        EXPECT_EQ(v, quiet);
    }
    EXPECT_LE(net->FrameBuffer()->FrameCount(), 1u) << "the decoder was stalled throughout";

    auto closed = std::async(std::launch::async, [&] { net->Close(); });
    EXPECT_EQ(closed.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    CDevice::SetConnect(nullptr);
    closed.wait();
    net.reset();
    cam.stop();
}

} // namespace
