// The virtual camera's no-shutter bench: the uniform picture with the lid's bowl that
// 0x70C6 switches, the frame number in every picture, the frame-size change, and the
// control lines that set them.
#include "FrameStreamer.h"
#include "NoShutterScene.h"
#include "Presets.h"
#include "SimControl.h"
#include "StreamPacket.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint16_t> words;
};

Picture unpack(const std::vector<uint8_t>& packet)
{
    Picture p;
    const streampacket::HeaderInfo h = streampacket::parseHeader(packet.data());
    p.width = h.width;
    p.height = h.height;
    const uint8_t* b = packet.data() + streampacket::kHeaderBytes;
    p.words.resize(size_t(h.width) * h.height);
    for (size_t i = 0; i < p.words.size(); ++i)
        p.words[i] = uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return p;
}

TEST(SimNoShutter, UniformPictureShowsExactlyTheLidWhileItsCorrectionIsOff)
{
    irsim::StreamOptions opt;
    opt.scene.uniform = true;
    const irsim::Identity id = *irsim::findPreset("res160");
    irsim::FrameStreamer streamer(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    const int w = id.width, rows = id.height - 2;

    const Picture flat = unpack(streamer.makePacket(0.0));
    ASSERT_EQ(flat.width, uint32_t(w));
    const uint16_t level = flat.words[0];
    for (int i = 0; i < w * rows; ++i)
        ASSERT_EQ(flat.words[size_t(i)], level) << i;

    streamer.onRegisterWrite(false, irsim::FrameStreamer::kLidCorrection, 0);
    streamer.setLidCounts(250);
    const Picture lid = unpack(streamer.makePacket(0.0));
    const std::vector<float> truth = irsim::lidPattern(w, rows, 250);
    for (int i = 0; i < w * rows; ++i)
        ASSERT_EQ(lid.words[size_t(i)], uint16_t(std::lround(level + truth[size_t(i)]))) << i;
    EXPECT_EQ(lid.words[0] - level, 250); // a corner

    // The number of each frame, one up from the last.
    EXPECT_EQ(irsim::readFrameCounter(lid.words.data(), w, rows), irsim::readFrameCounter(flat.words.data(), w, rows) + 1);

    streamer.setGeometry(384, 288);
    EXPECT_EQ(unpack(streamer.makePacket(0.0)).width, 384u);
    streamer.setGeometry(0, 0);
    EXPECT_EQ(unpack(streamer.makePacket(0.0)).width, uint32_t(w));
}

TEST(SimNoShutter, ControlLinesTakeOnlyWhatTheyCanUse)
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.timeScale = 0.01;
    irsim::VirtualCamera cam(o);
    std::string err;
    ASSERT_TRUE(cam.start(&err)) << err;
    irsim::SimControl control(cam);
    std::string reply;
    for (const char* good : {"uniform on", "uniform off", "lid 0", "lid 4000", "lid 12.5", "geometry 384x288",
                             "geometry off"}) {
        ASSERT_TRUE(control.run(good, &reply));
        EXPECT_EQ(reply, "ok") << good;
    }
    for (const char* bad : {"uniform", "uniform yes", "lid", "lid -1", "lid 4001", "lid x", "geometry",
                            "geometry 384", "geometry 384x", "geometry 384x288x", "geometry 384x288 1",
                            "geometry 8x8", "geometry 99999x288", "geometry -384x288"}) {
        ASSERT_TRUE(control.run(bad, &reply)) << bad;
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << bad << " -> " << reply;
    }
    cam.stop();
}

} // namespace
