// The virtual core's picture as a calibration bench sees it: a uniform blackbody, the
// per-pixel truth behind it, stuck and noisy pixels, and the shutter correction.
#include "CTwoPointNuc.h"
#include "FrameSource.h"
#include "FrameStreamer.h"
#include "Presets.h"
#include "StreamPacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

using irsim::FrameSource;
using irsim::FrameStreamer;
using irsim::SceneOptions;

namespace {

const irsim::Identity& preset(const char* name)
{
    const irsim::Identity* id = irsim::findPreset(name);
    EXPECT_NE(id, nullptr) << name;
    static irsim::Identity none;
    return id ? *id : none;
}

size_t indexOf(const std::pair<int, int>& p, int width)
{
    return size_t(p.second) * size_t(width) + size_t(p.first);
}

// Feeds `count` frames of the source at `celsius` into one set of the correction.
void loadSet(FrameSource& src, CTwoPointNuc& nuc, CTwoPointNuc::Set set, double celsius, int count,
             std::vector<std::vector<uint16_t>>* keep = nullptr)
{
    src.options().sceneTempC = celsius;
    ASSERT_TRUE(nuc.BeginSet(set));
    std::vector<uint16_t> frame;
    for (int k = 0; k < count; ++k) {
        src.renderWithFpa(30.0, frame);
        ASSERT_TRUE(nuc.AddFrame(frame.data())); // the info rows lie past the image
        if (keep)
            keep->push_back(frame);
    }
    ASSERT_TRUE(nuc.EndSet());
}

double imageMean(const std::vector<uint16_t>& frame, size_t pixels)
{
    double s = 0;
    for (size_t i = 0; i < pixels; ++i)
        s += frame[i];
    return s / double(pixels);
}

// The image of the packet the streamer made (info rows left out).
std::vector<uint16_t> imageOf(const std::vector<uint8_t>& packet, int width, int rows)
{
    std::vector<uint16_t> out;
    if (packet.size() < streampacket::kHeaderBytes + size_t(width) * size_t(rows) * 2)
        return out;
    const uint8_t* p = packet.data() + streampacket::kHeaderBytes;
    out.resize(size_t(width) * size_t(rows));
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = uint16_t(p[2 * i] | (p[2 * i + 1] << 8));
    return out;
}

double spread(const std::vector<uint16_t>& image, const std::set<size_t>& skip)
{
    double s = 0, s2 = 0;
    size_t n = 0;
    for (size_t i = 0; i < image.size(); ++i) {
        if (skip.count(i))
            continue;
        s += image[i];
        s2 += double(image[i]) * image[i];
        ++n;
    }
    const double mean = s / double(n);
    return std::sqrt(std::max(0.0, s2 / double(n) - mean * mean));
}

} // namespace

TEST(SimScene, TwoPointGainsOfAFlatFieldFollowTheTruth)
{
    SceneOptions scene;
    scene.flatField = true;
    FrameSource src(preset("res384"), scene);
    const int w = src.width(), rows = src.imageRows();
    ASSERT_EQ(src.deadPixels().size(), 6u);
    ASSERT_EQ(src.hotPixels().size(), 6u);
    ASSERT_EQ(src.noisyPixels().size(), 4u);

    CTwoPointNuc nuc;
    ASSERT_TRUE(nuc.SetSize(uint32_t(w), uint32_t(rows)));
    std::vector<std::vector<uint16_t>> low, high;
    loadSet(src, nuc, CTwoPointNuc::LowSet, 20.0, 16, &low);
    loadSet(src, nuc, CTwoPointNuc::HighSet, 60.0, 16, &high);
    ASSERT_TRUE(nuc.Compute());
    const uint16_t* k = nuc.Gains();
    ASSERT_NE(k, nullptr);

    // 40 degrees at 40 counts a degree apart.
    EXPECT_NEAR(nuc.Mean(CTwoPointNuc::HighSet) - nuc.Mean(CTwoPointNuc::LowSet), 1600.0, 40.0);

    std::set<size_t> stuck, noisy;
    for (const auto& p : src.deadPixels())
        stuck.insert(indexOf(p, w));
    for (const auto& p : src.hotPixels())
        stuck.insert(indexOf(p, w));
    for (const auto& p : src.noisyPixels())
        noisy.insert(indexOf(p, w));

    // Stuck pixels read the same in every frame at both temperatures, and their gain
    // lands on a clamp limit, which is what the bad-pixel step looks for.
    for (size_t i : stuck) {
        for (const auto& f : low)
            EXPECT_EQ(f[i], low[0][i]) << "pixel " << i;
        for (const auto& f : high)
            EXPECT_EQ(f[i], low[0][i]) << "pixel " << i;
        EXPECT_TRUE(k[i] >= CTwoPointNuc::kGainMax || k[i] <= CTwoPointNuc::kGainMin) << "pixel " << i << " K " << k[i];
    }

    // Every working pixel's gain is the inverse of its true response, scaled to the
    // picture's mean response: well inside the clamp limits.
    const std::vector<float>& gains = src.pixelGains();
    ASSERT_EQ(gains.size(), size_t(w) * size_t(rows));
    double meanGain = 0;
    for (size_t i = 0; i < gains.size(); ++i)
        if (!stuck.count(i))
            meanGain += gains[i];
    meanGain /= double(gains.size() - stuck.size());
    uint16_t kMin = 65535, kMax = 0;
    for (size_t i = 0; i < gains.size(); ++i) {
        if (stuck.count(i))
            continue;
        kMin = std::min(kMin, k[i]);
        kMax = std::max(kMax, k[i]);
        const double rel = double(k[i]) * gains[i] / 32768.0 / meanGain;
        EXPECT_NEAR(rel, 1.0, noisy.count(i) ? 0.05 : 0.005) << "pixel " << i;
    }
    EXPECT_GT(kMin, 28000);
    EXPECT_LT(kMax, 40000);
}

TEST(SimScene, FlatFieldShowsOnlyThePixelsOwnResponse)
{
    SceneOptions scene;
    scene.flatField = true;
    scene.sceneTempC = 35.0;
    scene.noiseCounts = 0.0;
    scene.noisyPixels = 0;
    FrameSource src(preset("res160"), scene);
    const int w = src.width();
    std::set<size_t> stuck;
    for (const auto& p : src.deadPixels())
        stuck.insert(indexOf(p, w));
    for (const auto& p : src.hotPixels())
        stuck.insert(indexOf(p, w));

    std::vector<uint16_t> frame;
    src.renderWithFpa(32.0, frame);
    const std::vector<float>& g = src.pixelGains();
    const std::vector<float> off = src.pixelOffsets();
    const double signal = FrameSource::kCountsPerDegree * (35.0 - 25.0) + FrameSource::kFpaCountsPerDegree * 2.0;
    for (size_t i = 0; i < g.size(); ++i) {
        if (stuck.count(i))
            continue;
        // No disc, plate or gradient: pedestal, offset and gain explain every count.
        ASSERT_NEAR(frame[i], FrameSource::kPedestal + off[i] + g[i] * signal, 1.0) << "pixel " << i;
    }

    // The ordinary scene is not flat: only its disc is at the blackbody's temperature.
    src.options().flatField = false;
    src.renderWithFpa(32.0, frame);
    const size_t centre = size_t(src.imageRows() / 2) * size_t(w) + size_t(w / 2);
    EXPECT_NEAR(frame[centre], FrameSource::kPedestal + off[centre] + g[centre] * signal, 1.0);
    const size_t corner = size_t(w) * 3 + 3; // background near the top, 1.5 degrees below ambient
    EXPECT_LT(frame[corner], FrameSource::kPedestal + off[corner] + g[corner] * signal - 100.0);
}

TEST(SimScene, NoisyPixelsAreNoisierThanTheirNeighbours)
{
    SceneOptions scene;
    scene.flatField = true;
    FrameSource src(preset("res160"), scene);
    const int w = src.width();
    const int n = 64;
    std::vector<std::vector<uint16_t>> frames(n);
    for (auto& f : frames)
        src.renderWithFpa(30.0, f);
    auto temporalSd = [&](size_t i) {
        double s = 0, s2 = 0;
        for (const auto& f : frames) {
            s += f[i];
            s2 += double(f[i]) * f[i];
        }
        return std::sqrt(std::max(0.0, s2 / n - (s / n) * (s / n)));
    };
    ASSERT_FALSE(src.noisyPixels().empty());
    for (const auto& p : src.noisyPixels()) {
        EXPECT_GT(temporalSd(indexOf(p, w)), 25.0);
        EXPECT_LT(temporalSd(indexOf({p.first + 1, p.second}, w)), 6.0);
    }
}

TEST(SimScene, StreamerSceneChangesReachTheNextFrame)
{
    irsim::StreamOptions opt;
    opt.scene.flatField = true;
    opt.scene.sceneTempC = 20.0;
    const irsim::Identity id = preset("res160");
    FrameStreamer streamer(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    const int w = id.width, rows = id.height - 2;
    const size_t pixels = size_t(w) * size_t(rows);

    const auto at20 = imageOf(streamer.makePacket(0.0), w, rows);
    ASSERT_EQ(at20.size(), pixels);
    EXPECT_NEAR(imageMean(at20, pixels), 6000.0 - 5 * 40.0, 20.0);

    streamer.setSceneTemp(60.0);
    const auto at60 = imageOf(streamer.makePacket(0.04), w, rows);
    EXPECT_NEAR(imageMean(at60, pixels), 6000.0 + 35 * 40.0, 20.0);

    // Back to the ordinary scene: the disc at 60 in a 25-degree room.
    streamer.setFlatField(false);
    const auto scene = imageOf(streamer.makePacket(0.08), w, rows);
    const size_t centre = size_t(rows / 2) * size_t(w) + size_t(w / 2);
    EXPECT_GT(scene[centre], 7200);
    EXPECT_LT(scene[size_t(w) * 3 + 3], 6100);

    // The truth is there before the stream ever ran and matches what it renders.
    EXPECT_EQ(streamer.pixelGains().size(), pixels);
    EXPECT_EQ(streamer.deadPixels().size(), 6u);
    for (const auto& p : streamer.hotPixels())
        EXPECT_EQ(at20[indexOf(p, w)], FrameSource::kMaxCount);
}

TEST(SimScene, ShutterCorrectionFlattensTheFixedOffsets)
{
    irsim::StreamOptions opt;
    opt.scene.flatField = true;
    opt.scene.sceneTempC = 25.0;
    opt.scene.fpaTempC = 30.0;
    const irsim::Identity id = preset("res384");
    FrameStreamer streamer(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    const int w = id.width, rows = id.height - 2;
    std::set<size_t> skip;
    for (const auto& p : streamer.deadPixels())
        skip.insert(indexOf(p, w));
    for (const auto& p : streamer.hotPixels())
        skip.insert(indexOf(p, w));
    for (const auto& p : streamer.noisyPixels())
        skip.insert(indexOf(p, w));

    const double before = spread(imageOf(streamer.makePacket(0.0), w, rows), skip);
    EXPECT_GT(before, 20.0); // 30 counts of offset spread over 3 counts of noise

    // Another value of the register is not a shutter correction.
    streamer.onRegisterWrite(false, FrameStreamer::kShutterCorrect, 1);
    EXPECT_EQ(streamer.shutterCorrections(), 0);
    streamer.onRegisterWrite(false, FrameStreamer::kShutterCorrect, 0);
    EXPECT_EQ(streamer.shutterCorrections(), 1);
    const double after = spread(imageOf(streamer.makePacket(0.04), w, rows), skip);
    EXPECT_LT(after, 5.0);

    auto worstOffset = [](const std::vector<float>& off) {
        float worst = 0;
        for (float v : off)
            worst = std::max(worst, std::fabs(v));
        return worst;
    };
    EXPECT_LT(worstOffset(streamer.pixelOffsets()), 1.0f);

    // A correction before the first frame holds for the picture made later.
    FrameStreamer early(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    early.onRegisterWrite(false, FrameStreamer::kShutterCorrect, 0);
    EXPECT_LT(worstOffset(early.pixelOffsets()), 1.0f);
}

TEST(SimScene, CoreAveragesThePresentPicture)
{
    irsim::StreamOptions opt;
    opt.scene.flatField = true;
    opt.scene.sceneTempC = 40.0;
    const irsim::Identity id = preset("res160");
    FrameStreamer streamer(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    std::vector<uint16_t> avg;
    int w = 0, rows = 0;
    EXPECT_FALSE(streamer.averagePicture(id, 0, &avg, &w, &rows));
    ASSERT_TRUE(streamer.averagePicture(id, 8, &avg, &w, &rows));
    ASSERT_EQ(w, 160);
    ASSERT_EQ(rows, 118);
    ASSERT_EQ(avg.size(), size_t(w) * size_t(rows));
    const std::vector<float> g = streamer.pixelGains();
    const std::vector<float> off = streamer.pixelOffsets();
    std::set<size_t> skip;
    for (const auto& p : streamer.deadPixels())
        skip.insert(indexOf(p, w));
    for (const auto& p : streamer.hotPixels())
        skip.insert(indexOf(p, w));
    for (const auto& p : streamer.noisyPixels())
        skip.insert(indexOf(p, w));
    for (size_t i = 0; i < avg.size(); ++i) {
        if (skip.count(i))
            continue;
        // 3 counts of noise over 8 frames, and the truncating division.
        ASSERT_NEAR(avg[i], FrameSource::kPedestal + off[i] + g[i] * 600.0, 6.0) << "pixel " << i;
    }
}
