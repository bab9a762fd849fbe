// The virtual core as a detector-configuration bench sees it: one preset per vendor,
// identity and configuration-code areas kept in flash, detector registers, the long
// commands' late answers and failures, the picture corrections the one-key
// configuration switches off, and the control lines that read what landed.
#include "SimTestUtil.h"

#include "CModuleInfoDecoder.h"
#include "FrameSource.h"
#include "FrameStreamer.h"
#include "Presets.h"
#include "SimControl.h"
#include "StreamPacket.h"
#include "VirtualCamera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <ostream>
#include <set>
#include <string>

using namespace simtest;

namespace {

using Clock = std::chrono::steady_clock;

// The host side of a register or block exchange with the core.
struct Host {
    irsim::CoreModel& core;
    std::shared_ptr<RecordingPeer> peer = std::make_shared<RecordingPeer>();
    Bytes reply(const Bytes& req, int timeoutMs = 2000) { return transact(core, peer, req, timeoutMs); }
    uint32_t value(const Bytes& req) { return valueOf(reply(req)); }
};

std::unique_ptr<irsim::VirtualCamera> startCamera(const char* preset)
{
    irsim::CameraOptions o;
    o.net.port = 0; // any free port; nothing connects
    o.preset = preset;
    o.timeScale = 0.01;
    o.stream.scene.flatField = true;
    auto cam = std::make_unique<irsim::VirtualCamera>(o);
    std::string err;
    EXPECT_TRUE(cam->start(&err)) << err;
    return cam;
}

// ---- presets ---------------------------------------------------------------

struct PresetCase {
    const char* preset;
    int sensorTypeCode; // as identification decodes it
    const char* sensorId; // as identification shows it
};

void PrintTo(const PresetCase& c, std::ostream* os)
{
    *os << c.preset;
}

class SimVendorPreset : public ::testing::TestWithParam<PresetCase> {};

// Reads the identity the way identification does and decodes it with the host's own
// decoder, so a preset cannot claim a type the host would read differently.
TEST_P(SimVendorPreset, IdentifiesAsItsVendorsSensorType)
{
    const PresetCase& c = GetParam();
    const irsim::Identity* id = irsim::findPreset(c.preset);
    ASSERT_NE(id, nullptr);
    irsim::CoreModel core;
    core.setIdentity(*id);
    Host host{core};

    const Bytes form1 = payloadOf(host.reply(padded(shortRead(6), 11)));
    ASSERT_EQ(form1.size(), 5u);
    ModuleFields fields;
    CModuleInfoDecoder::decodeModule(form1.data(), 1, &fields);
    EXPECT_EQ(fields.sensorTypeCode, c.sensorTypeCode);
    EXPECT_EQ(id->sensorType, c.sensorTypeCode) << "what --list-presets tells";
    EXPECT_EQ(CModuleInfoDecoder::frameSizeOf(fields.resolutionIndex), QSize(id->width, id->height));

    QString sensorId;
    if (fields.sensorTypeCode == 5) {
        const Bytes raw = payloadOf(host.reply(longRead(0xF0E3)));
        sensorId = CModuleInfoDecoder::textFromBytes(reinterpret_cast<const char*>(raw.data()), int(raw.size()));
    } else {
        const uint32_t high = host.value(longRead(0xF0E3));
        const uint32_t low = host.value(longRead(0xF0E4));
        sensorId = CModuleInfoDecoder::sensorIdFromWords(high, low, fields.sensorTypeCode);
    }
    EXPECT_EQ(sensorId.toStdString(), c.sensorId);
}

INSTANTIATE_TEST_SUITE_P(Vendors, SimVendorPreset,
                         ::testing::Values(PresetCase{"gwic", 0, "6100000100"}, PresetCase{"iray", 1, "6200000101"},
                                           PresetCase{"pico", 2, "6300000102"}, PresetCase{"dali", 4, "DL0424"},
                                           PresetCase{"wy", 5, "WY05"}, PresetCase{"type7", 7, "7700000107"},
                                           PresetCase{"type0", 0, "a000012345"}, PresetCase{"default", 1, "20240815"},
                                           PresetCase{"type2", 2, "777a0b"}, PresetCase{"type4", 4, "IRB0123"},
                                           PresetCase{"type5", 5, "S5A1"}),
                         [](const ::testing::TestParamInfo<PresetCase>& info) { return std::string(info.param.preset); });

// ---- flash areas and registers ---------------------------------------------

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

TEST(SimDetectorConfig, IdentityAndCodeAreasAndRegistersKeepWhatWasWritten)
{
    irsim::CoreModel core;
    Host host{core};
    struct Area {
        uint32_t address;
        Bytes bytes;
    };
    // The identity strings, then one configuration code (more than one block) into
    // all four code areas inside one upgrade mode.
    const Bytes code = pattern(2500, 0x21);
    const std::vector<Area> areas = {{0x0142C000, Bytes{'D', 'L', '0', '4', '2', '4'}},
                                     {0x0142E000, Bytes{'T', '6', '4', '0', 'A'}},
                                     {0x0142F000, Bytes{'B', '2', '0', '2', '6', '1', '2'}},
                                     {0x01420000, code}, {0x01421000, code}, {0x01422000, code}, {0x01423000, code}};
    ASSERT_EQ(host.value(longWrite(0xF0E0, 1)), 1u);
    ASSERT_EQ(host.value(longWrite(0xF0E1, 1)), 1u);
    for (const Area& a : areas) {
        SCOPED_TRACE(a.address);
        ASSERT_EQ(host.value(blockFrame(0xE3, be32(a.address))), 1u);
        ASSERT_EQ(host.value(blockFrame(0xE4, be32(uint32_t(a.bytes.size())))), 1u);
        for (size_t at = 0; at < a.bytes.size(); at += 1000) {
            const size_t n = std::min<size_t>(1000, a.bytes.size() - at);
            ASSERT_EQ(host.value(blockFrame(0xEE, Bytes(a.bytes.begin() + at, a.bytes.begin() + at + n))), 1u);
        }
        ASSERT_EQ(host.value(blockFrame(0xE5)), 1u);
    }
    ASSERT_EQ(host.value(blockFrame(0xE6)), 1u);
    for (const Area& a : areas) {
        SCOPED_TRACE(a.address);
        EXPECT_EQ(core.readFlash(a.address, a.bytes.size()), a.bytes);
        // Nothing past the text: the next byte is still erased.
        EXPECT_EQ(core.readFlash(a.address + uint32_t(a.bytes.size()), 1), Bytes{0xFF});
    }

    const uint32_t registers[] = {0xF027, 0xF040, 0xF02A, 0xF02C, 0xF02D, 0xF02E, 0x7012, 0x7080, 0x70C6, 0x7015};
    uint32_t v = 0x1234;
    for (uint32_t r : registers) {
        ASSERT_EQ(host.value(longWrite(r, v + r)), 1u);
        EXPECT_EQ(core.longRegister(r), v + r);
        EXPECT_EQ(host.value(longRead(r)), v + r) << std::hex << r;
        v += 0x10001;
    }
}

// ---- long commands -----------------------------------------------------------

class SimLongCommand : public ::testing::TestWithParam<uint32_t> {};

// NTCC (0xF021) and automatic correction (0xF029) answer only after their work, and
// a refused one too: a host that gave up early would never see the failure.
TEST_P(SimLongCommand, AnswersLateAndFailsLateUnderAFault)
{
    const uint32_t reg = GetParam();
    irsim::CoreModel core;
    core.setTimeScale(0.05);
    core.setLongCommandDelayMs(3000); // 150 ms here
    irsim::FaultRule rule;
    std::string why;
    char text[32];
    std::snprintf(text, sizeof text, "zero@0x%X#1", unsigned(reg));
    ASSERT_TRUE(irsim::FaultRule::parse(text, &rule, &why)) << why;
    core.faults().add(rule);
    auto peer = std::make_shared<RecordingPeer>();

    for (uint32_t expected : {0u, 1u}) {
        SCOPED_TRACE(expected);
        const Bytes req = longWrite(reg, 1);
        const auto t0 = Clock::now();
        core.receive(peer, req.data(), req.size());
        EXPECT_TRUE(peer->chunks().empty()) << "answered before the work was done";
        ASSERT_TRUE(peer->waitChunks(1, 3000));
        EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count(), 140);
        EXPECT_EQ(valueOf(peer->takeAll()), expected);
    }
    EXPECT_EQ(core.longRegister(reg), 1u) << "only the accepted command is stored";
}

INSTANTIATE_TEST_SUITE_P(NtccAndAutoCorrection, SimLongCommand, ::testing::Values(0xF021u, 0xF029u));

// ---- picture corrections ---------------------------------------------------------

struct Picture {
    std::vector<uint16_t> image; // W x image rows
    int w = 0;
    int rows = 0;
};

Picture pictureOf(irsim::VirtualCamera& cam)
{
    Picture p;
    const irsim::Identity id = cam.core().identity();
    p.w = id.width;
    p.rows = id.height - 2;
    const std::vector<uint8_t> packet = cam.stream()->makePacket(0.0);
    const size_t n = size_t(p.w) * size_t(p.rows);
    if (packet.size() < streampacket::kHeaderBytes + n * 2)
        return p;
    const uint8_t* b = packet.data() + streampacket::kHeaderBytes;
    p.image.resize(n);
    for (size_t i = 0; i < n; ++i)
        p.image[i] = uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return p;
}

bool stuck(uint16_t v) { return v <= 100 || v >= irsim::FrameSource::kMaxCount; }

// Spatial standard deviation of the working pixels.
double pixelSpread(const Picture& p)
{
    double s = 0, s2 = 0;
    size_t n = 0;
    for (uint16_t v : p.image) {
        if (stuck(v))
            continue;
        s += v;
        s2 += double(v) * v;
        ++n;
    }
    const double mean = s / double(n);
    return std::sqrt(std::max(0.0, s2 / double(n) - mean * mean));
}

// Standard deviation of the column means (stripes).
double columnSpread(const Picture& p)
{
    std::vector<double> col(size_t(p.w), 0);
    std::vector<int> count(size_t(p.w), 0);
    for (int y = 0; y < p.rows; ++y) {
        for (int x = 0; x < p.w; ++x) {
            const uint16_t v = p.image[size_t(y) * size_t(p.w) + size_t(x)];
            if (!stuck(v)) {
                col[size_t(x)] += v;
                ++count[size_t(x)];
            }
        }
    }
    double s = 0, s2 = 0;
    for (size_t x = 0; x < col.size(); ++x) {
        const double c = col[x] / std::max(count[x], 1);
        s += c;
        s2 += c * c;
    }
    const double mean = s / double(p.w);
    return std::sqrt(std::max(0.0, s2 / double(p.w) - mean * mean));
}

// Mean of the four 10 x 10 corners less the mean of the middle 10 x 10.
double cornerRise(const Picture& p)
{
    auto mean = [&](int x0, int y0) {
        double s = 0;
        int n = 0;
        for (int y = y0; y < y0 + 10; ++y) {
            for (int x = x0; x < x0 + 10; ++x) {
                const uint16_t v = p.image[size_t(y) * size_t(p.w) + size_t(x)];
                if (!stuck(v)) {
                    s += v;
                    ++n;
                }
            }
        }
        return s / std::max(n, 1);
    };
    const double corners =
        (mean(0, 0) + mean(p.w - 10, 0) + mean(0, p.rows - 10) + mean(p.w - 10, p.rows - 10)) / 4.0;
    return corners - mean(p.w / 2 - 5, p.rows / 2 - 5);
}

double stuckCount(const Picture& p)
{
    return double(std::count_if(p.image.begin(), p.image.end(), stuck));
}

struct SwitchCase {
    const char* name;
    uint32_t reg;
    std::function<double(const Picture&)> measure;
    double onBelow;  // with the correction on (power-up and after 1)
    double offAbove; // with it off
};

void PrintTo(const SwitchCase& c, std::ostream* os)
{
    *os << c.name;
}

class SimPictureSwitch : public ::testing::TestWithParam<SwitchCase> {};

// Writes go through the core as the host sends them; the picture follows from the
// next frame, shows what the correction hides, and comes back when it is on again.
TEST_P(SimPictureSwitch, OffShowsWhatTheCorrectionHidesAndOnRestoresIt)
{
    const SwitchCase& c = GetParam();
    auto cam = startCamera("res384");
    ASSERT_TRUE(cam && cam->stream());
    Host host{cam->core()};

    const Picture before = pictureOf(*cam);
    ASSERT_FALSE(before.image.empty());
    const double on = c.measure(before);
    EXPECT_LT(on, c.onBelow);

    ASSERT_EQ(host.value(longWrite(c.reg, 0)), 1u);
    EXPECT_GT(c.measure(pictureOf(*cam)), c.offAbove);
    ASSERT_EQ(host.value(longWrite(c.reg, 7)), 1u); // not a switch value: stays off
    EXPECT_GT(c.measure(pictureOf(*cam)), c.offAbove);

    ASSERT_EQ(host.value(longWrite(c.reg, 1)), 1u);
    const double back = c.measure(pictureOf(*cam));
    EXPECT_LT(back, c.onBelow);
    EXPECT_NEAR(back, on, std::max(1.0, on * 0.1));
}

// res384 flat at 45 degrees: 30 counts of residual offset spread and 3% gain spread
// (about 24 counts) with NUC on; 6 dead and 6 hot pixels are always there, the table's
// 8 show with the replacement off.
INSTANTIATE_TEST_SUITE_P(
    Corrections, SimPictureSwitch,
    ::testing::Values(SwitchCase{"Nuc", 0x7015, pixelSpread, 60.0, 200.0},
                      SwitchCase{"Stripes", 0x7080, columnSpread, 10.0, 50.0},
                      SwitchCase{"Lid", 0x70C6, cornerRise, 50.0, 300.0},
                      SwitchCase{"BadPixels", 0x7012, stuckCount, 12.5, 19.5}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

// 0x7012 is the crosshair register too: 2 shows it, 1 hides it and turns the
// replacement back on; 0 turns the replacement off and leaves the crosshair alone.
// A pixel the operator confirmed is replaced only while the replacement is on.
TEST(SimPictureSwitch, CrosshairAndReplacementShareTheirRegister)
{
    irsim::StreamOptions opt;
    opt.scene.flatField = true;
    const irsim::Identity id = *irsim::findPreset("res160");
    irsim::FrameStreamer streamer(opt, [](const uint8_t*, size_t) {}, [] { return false; }, [id] { return id; });
    const int w = id.width;
    const auto hot = streamer.hotPixels().front();
    const size_t hotAt = size_t(hot.second) * size_t(w) + size_t(hot.first);
    auto pixel = [&](size_t i) {
        const std::vector<uint8_t> packet = streamer.makePacket(0.0);
        const uint8_t* b = packet.data() + streampacket::kHeaderBytes;
        return uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
    };

    streamer.onRegisterWrite(false, irsim::FrameStreamer::kCursorMode, 15);
    streamer.onRegisterWrite(true, irsim::FrameStreamer::kCursorMove, uint32_t(hot.first + 1) << 16 | uint32_t(hot.second + 1));
    streamer.onRegisterWrite(true, irsim::FrameStreamer::kCursorConfirm, 13);
    streamer.onRegisterWrite(false, irsim::FrameStreamer::kCursorShow, 2);
    EXPECT_TRUE(streamer.cursor().visible);
    EXPECT_LT(pixel(hotAt), irsim::FrameSource::kMaxCount) << "confirmed pixel replaced";

    streamer.onRegisterWrite(false, irsim::FrameStreamer::kBadPixelReplace, 0);
    EXPECT_TRUE(streamer.cursor().visible);
    EXPECT_FALSE(streamer.corrections().badPixels);
    EXPECT_EQ(pixel(hotAt), irsim::FrameSource::kMaxCount) << "replacement off shows it";

    streamer.onRegisterWrite(false, irsim::FrameStreamer::kCursorShow, 2);
    EXPECT_FALSE(streamer.corrections().badPixels) << "showing the crosshair is no switch";
    streamer.onRegisterWrite(false, irsim::FrameStreamer::kCursorShow, 1);
    EXPECT_FALSE(streamer.cursor().visible);
    EXPECT_TRUE(streamer.corrections().badPixels);
    EXPECT_LT(pixel(hotAt), irsim::FrameSource::kMaxCount);
}

// ---- control lines -------------------------------------------------------------

TEST(SimControlReads, FlashAndRegisterLinesShowWhatLanded)
{
    auto cam = startCamera("dali");
    ASSERT_TRUE(cam);
    irsim::SimControl control(*cam);
    std::string reply;
    auto say = [&](const std::string& line) {
        reply.clear();
        return control.run(line, &reply);
    };
    Host host{cam->core()};
    ASSERT_EQ(host.value(longWrite(0xF0E0, 1)), 1u);
    ASSERT_EQ(host.value(longWrite(0xF0E1, 1)), 1u);
    ASSERT_EQ(host.value(blockFrame(0xE3, be32(0x0142C000))), 1u);
    ASSERT_EQ(host.value(blockFrame(0xE4, be32(3))), 1u);
    ASSERT_EQ(host.value(blockFrame(0xEE, {'D', 'L', 0x0A})), 1u);
    ASSERT_EQ(host.value(blockFrame(0xE5)), 1u);
    ASSERT_EQ(host.value(blockFrame(0xE6)), 1u);
    ASSERT_EQ(host.value(longWrite(0xF02C, 0x1A2B)), 1u);

    ASSERT_TRUE(say("flash 0x0142C000 4"));
    EXPECT_EQ(reply, "ok 444c0aff");
    ASSERT_TRUE(say("flash 21151744 2")); // decimal
    EXPECT_EQ(reply, "ok 444c");
    ASSERT_TRUE(say("flash 0x1FFFFFF 1")); // the device's last byte
    EXPECT_EQ(reply, "ok ff");
    ASSERT_TRUE(say("flash 0x01420000 4096"));
    EXPECT_EQ(reply, "ok " + std::string(8192, 'f'));
    ASSERT_TRUE(say("reg 0xF02C"));
    EXPECT_EQ(reply, "ok 0x00001a2b");
    ASSERT_TRUE(say("reg 0xf0e3")); // the identity's own words
    EXPECT_EQ(reply, "ok 0x0000444c");

    for (const char* bad : {"flash", "flash 0x0142C000", "flash 0x0142C000 0", "flash 0x0142C000 4097",
                            "flash 0x2000000 1", "flash 0x1FFFFFF 2", "flash zz 4", "flash 0x10 -1",
                            "flash 0x10 4 5", "reg", "reg 0xG1", "reg 0x100000000", "reg 1 2"}) {
        ASSERT_TRUE(say(bad)) << bad;
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << bad << " -> " << reply;
    }
}

} // namespace
