// Add-info decoding for every core class, against hand-made frames and against the
// virtual camera's own encoder.
#include "CFindFrame.h"
#include "FrameAddInfoDecoder.h"
#include "FrameSource.h"
#include "Presets.h"
#include "VideoTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool sameRecord(const FrameAddInfo& a, const FrameAddInfo& b)
{
    return a.tFPA == b.tFPA && a.tCavity == b.tCavity && a.tBoard == b.tBoard && a.VIEC == b.VIEC
        && a.EOCC == b.EOCC && a.TEC == b.TEC && a.TINT == b.TINT && a.SENS == b.SENS && a.BVAL == b.BVAL
        && a.BaseL == b.BaseL && a.Ival == b.Ival && a.INX == b.INX && a.HBV == b.HBV && a.LBV == b.LBV;
}

std::vector<uint8_t> blockOf(std::initializer_list<std::pair<int, uint16_t>> words)
{
    std::vector<uint8_t> b(60, 0);
    for (const auto& w : words) {
        b[size_t(2 * w.first)] = uint8_t(w.second);
        b[size_t(2 * w.first + 1)] = uint8_t(w.second >> 8);
    }
    return b;
}

TEST(AddInfoDecode, BlockLayoutScalesBySensorType)
{
    const auto b = blockOf({{0, 3000}, {1, 0x2005}, {2, 0x9000}, {3, 11}, {4, 12}, {5, 13}, {10, 14},
                            {11, 15}, {13, 16}, {16, 17}, {6, 99}});
    AddInfoLayout l;
    l.coreClass = 0;
    struct Case { int type; float fpa, cav, pcb; };
    // 0x2005 = 8197 stands for -5; 0x9000 stays negative as a signed word.
    for (const Case& c : {Case{0, 30.f, -0.05f, -286.72f}, Case{3, 30.f, -0.05f, -286.72f},
                          Case{7, 30.f, -0.05f, -286.72f}, Case{1, 60.f, -0.1f, -573.44f},
                          Case{4, 3000.f, -5.f, -28672.f}, Case{2, 3000.f, -5.f, 0.f}, Case{5, 3000.f, -5.f, 0.f}}) {
        l.sensorType = c.type;
        const FrameAddInfo a = decodeFrameAddInfo(l, nullptr, 0, b.data());
        EXPECT_FLOAT_EQ(a.tFPA, c.fpa) << "type " << c.type;
        EXPECT_FLOAT_EQ(a.tCavity, c.cav) << "type " << c.type;
        EXPECT_FLOAT_EQ(a.tBoard, c.pcb) << "type " << c.type;
    }
    const FrameAddInfo a = decodeFrameAddInfo(l, nullptr, 0, b.data());
    EXPECT_EQ(a.VIEC, 11);
    EXPECT_EQ(a.EOCC, 12);
    EXPECT_EQ(a.TEC, 13);
    EXPECT_EQ(a.TINT, 14);
    EXPECT_EQ(a.BVAL, 15);
    EXPECT_EQ(a.SENS, 16);
    EXPECT_EQ(a.BaseL, 17);
    EXPECT_EQ(a.Ival, 0) << "not carried by the block";
}

TEST(AddInfoDecode, TrailersOfClassesOneToFourStayInsideTheFrame)
{
    const int w = 16, h = 8;
    std::vector<uint16_t> f(w * h, 0);
    const uint16_t trailer[10] = {1, 2, 300, 301, 302, 303, 8200, 400, 401, 402};
    std::memcpy(f.data() + w * h - 10, trailer, sizeof trailer);
    const auto zeros = blockOf({{0, 1234}});
    AddInfoLayout l{1, 1, w, h};
    for (int cls : {1, 2, 4}) {
        l.coreClass = cls;
        const FrameAddInfo a = decodeFrameAddInfo(l, f.data(), f.size(), zeros.data());
        EXPECT_FLOAT_EQ(a.tFPA, -8.f) << "8200 stands for -8";
        EXPECT_EQ(a.Ival, 300);
        EXPECT_EQ(a.INX, 301);
        EXPECT_EQ(a.LBV, 302);
        EXPECT_EQ(a.HBV, 303);
        EXPECT_EQ(a.VIEC, 400);
        EXPECT_EQ(a.EOCC, 401);
        EXPECT_EQ(a.BVAL, 402);
        EXPECT_FLOAT_EQ(a.tCavity, 0.f);
    }
    l.coreClass = 3; // the last four words, tFPA unsigned
    FrameAddInfo a = decodeFrameAddInfo(l, f.data(), f.size(), zeros.data());
    EXPECT_FLOAT_EQ(a.tFPA, 8200.f) << "no sign rule for class 3";
    EXPECT_EQ(a.VIEC, 400);
    EXPECT_EQ(a.EOCC, 401);
    EXPECT_EQ(a.BVAL, 402);
    // A core geometry bigger than the frame (or smaller than the trailer) reads nothing.
    for (auto geo : {std::pair<int, int>{640, 512}, {1, 3}, {0, 0}, {-16, -8}}) {
        l.coreWidth = geo.first;
        l.coreHeight = geo.second;
        a = decodeFrameAddInfo(l, f.data(), f.size(), zeros.data());
        EXPECT_FLOAT_EQ(a.tFPA, 0.f) << geo.first;
        EXPECT_EQ(a.BVAL, 0) << geo.first;
    }
}

// What the virtual camera writes for a preset's core class is what the host reads.
TEST(AddInfoDecode, VirtualCameraLayoutsRoundTrip)
{
    for (const char* name : {"default", "type0", "type2", "type4", "class0", "class1", "class2", "class3",
                             "class4", "res160"}) {
        const irsim::Identity* id = irsim::findPreset(name);
        ASSERT_NE(id, nullptr) << name;
        irsim::SceneOptions scene;
        scene.fpaTempC = id->coreClass == 0 ? -3.5 : 31.25;
        irsim::FrameSource src(*id, scene);
        std::vector<uint16_t> frame;
        src.render(0.0, frame);

        CFindFrame ff;
        ff.SetLayoutProvider([id] { return AddInfoLayout{id->coreClass, id->sensorType, id->width, id->height}; });
        FrameAddInfo got;
        ff.SetAddInfoSink([&](const FrameAddInfo& a) { got = a; });
        const auto bytes = vtest::packet(frame, src.width(), src.height());
        ASSERT_TRUE(ff.InputData(bytes.data(), int(bytes.size()))) << name;
        const irsim::FrameSource::Housekeeping hk;
        EXPECT_EQ(got.VIEC, hk.viec) << name;
        EXPECT_EQ(got.BVAL, hk.bval) << name;
        switch (id->coreClass) {
        case 3:
            EXPECT_FLOAT_EQ(got.tFPA, 3125.f) << name;
            break;
        case 1: case 2: case 4:
            EXPECT_FLOAT_EQ(got.tFPA, 3125.f) << name;
            EXPECT_EQ(got.INX, hk.inx) << name;
            break;
        default: {
            const float step = id->sensorType == 1 ? 0.02f : (id->sensorType == 2 || id->sensorType >= 4 ? 1.f : 0.01f);
            EXPECT_NEAR(got.tFPA, -3.5f, step) << name;
            EXPECT_NEAR(got.tCavity, 3.0f, step) << name;
            EXPECT_EQ(got.TEC, hk.tec) << name;
            EXPECT_EQ(got.BaseL, hk.baseL) << name;
        }
        }
        FrameAddInfo again;
        ASSERT_TRUE(ff.GetFrameAddInfoEx(&again, 0));
        EXPECT_TRUE(sameRecord(again, got)) << name;
    }
}

} // namespace
