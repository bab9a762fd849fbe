#include "CModuleInfoDecoder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using D = CModuleInfoDecoder;

ModuleFields decode(std::initializer_list<unsigned char> bytes, int form, ModuleFields start = ModuleFields())
{
    unsigned char raw[D::kRawModuleBytes] = {0, 0, 0, 0, 0};
    int i = 0;
    for (unsigned char b : bytes)
        raw[i++] = b;
    D::decodeModule(raw, form, &start);
    return start;
}

TEST(ModuleDecoder, Form0Bytes1022)
{
    ModuleFields start;
    start.outputType = 3; // nibble 0 is not in the output table: must survive
    const ModuleFields f = decode({0x10, 0x22}, 0, start);
    EXPECT_EQ(f.moduleInfo, "1022");
    EXPECT_EQ(f.sensorTypeCode, 1);
    EXPECT_EQ(f.outputType, 3);
    EXPECT_FLOAT_EQ(f.frameRate, 50.0f);
    EXPECT_EQ(f.frameRateVariant, 0);
    EXPECT_EQ(f.resolutionIndex, 2);
    EXPECT_EQ(D::frameSizeOf(f.resolutionIndex), QSize(640, 512));
    EXPECT_EQ(f.coreClass, 0);
    EXPECT_EQ(f.coreFamily, 0);
}

TEST(ModuleDecoder, Form1UsesByteZeroAsFamilyAndShiftsNibbles)
{
    const ModuleFields f = decode({0x07, 0x33, 0x93, 0x00, 0x00}, 1);
    EXPECT_EQ(f.moduleInfo, "0733930000");
    EXPECT_EQ(f.coreFamily, 7);
    EXPECT_EQ(f.sensorTypeCode, 4);
    EXPECT_EQ(f.outputType, 1);
    EXPECT_FLOAT_EQ(f.frameRate, 8.3f);
    EXPECT_EQ(f.frameRateVariant, 1);
    EXPECT_EQ(f.resolutionIndex, 0);
    EXPECT_EQ(D::frameSizeOf(f.resolutionIndex), QSize(160, 120));
}

TEST(ModuleDecoder, Form0TextIgnoresTrailingBytesAndPadsWithZero)
{
    unsigned char raw[5] = {0x01, 0x0a, 0xff, 0xee, 0xdd};
    EXPECT_EQ(D::moduleInfoText(raw, 0), "010a");
    EXPECT_EQ(D::moduleInfoText(raw, 1), "010affeedd");
    EXPECT_EQ(D::moduleInfoText(raw, 2), "");
    EXPECT_EQ(D::moduleInfoText(raw, 3), "");
}

TEST(ModuleDecoder, FormsWithoutModuleBlockChangeNothing)
{
    for (int form : {2, 3, -1, 4}) {
        ModuleFields start;
        start.moduleInfo = "keep";
        start.sensorTypeCode = 2;
        const ModuleFields f = decode({0x10, 0x22, 0x51, 0x01, 0x01}, form, start);
        EXPECT_EQ(f.moduleInfo, "keep") << form;
        EXPECT_EQ(f.sensorTypeCode, 2) << form;
        EXPECT_EQ(f.resolutionIndex, 1) << form;
    }
    EXPECT_EQ(D::moduleRegister(2), -1);
    EXPECT_EQ(D::moduleRegister(3), -1);
}

TEST(ModuleDecoder, UnknownNibblesKeepPreviousFields)
{
    ModuleFields start;
    start.sensorTypeCode = 2;
    start.outputType = 1;
    start.frameRate = 30.0f;
    start.frameRateVariant = 1;
    start.resolutionIndex = 0;
    start.coreFamily = 4;
    // type nibble 4, output nibble 0xF, rate nibble 4, resolution nibble 0; family 0x0C
    const ModuleFields f = decode({0x0C, 0x4F, 0x40, 0x00, 0x00}, 1, start);
    EXPECT_EQ(f.sensorTypeCode, 2);
    EXPECT_EQ(f.outputType, 1);
    EXPECT_FLOAT_EQ(f.frameRate, 30.0f);
    EXPECT_EQ(f.frameRateVariant, 1);
    EXPECT_EQ(f.resolutionIndex, 0);
    EXPECT_EQ(f.coreFamily, 4);
    EXPECT_EQ(f.moduleInfo, "0c4f400000");
}

TEST(ModuleDecoder, SensorTypeTable)
{
    const int expected[16] = {0, 1, 2, 4, -1, 5, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    for (int raw = 0; raw < 16; ++raw) {
        int v = 99;
        EXPECT_EQ(D::decodeSensorType(raw, &v), expected[raw] >= 0) << raw;
        EXPECT_EQ(v, expected[raw] >= 0 ? expected[raw] : 99) << raw;
    }
}

TEST(ModuleDecoder, OutputTypeTable)
{
    for (int raw = 0; raw < 16; ++raw) {
        int v = 99;
        const bool known = raw == 2 || raw == 3;
        EXPECT_EQ(D::decodeOutputType(raw, &v), known) << raw;
        EXPECT_EQ(v, known ? raw - 2 : 99) << raw;
    }
}

TEST(ModuleDecoder, FrameRateTable)
{
    const float rates[16] = {25, 30, 50, 60, -1, 25, 30, 50, 60, 8.3f, -1, -1, -1, -1, -1, -1};
    const int variants[16] = {0, 0, 0, 0, -1, 1, 1, 1, 1, 1, -1, -1, -1, -1, -1, -1};
    for (int raw = 0; raw < 16; ++raw) {
        float rate = -7.f;
        int variant = 99;
        const bool known = rates[raw] > 0;
        EXPECT_EQ(D::decodeFrameRate(raw, &rate, &variant), known) << raw;
        EXPECT_FLOAT_EQ(rate, known ? rates[raw] : -7.f) << raw;
        EXPECT_EQ(variant, known ? variants[raw] : 99) << raw;
    }
}

TEST(ModuleDecoder, ResolutionTableAndFrameSizes)
{
    const int expected[16] = {-1, 1, 2, 0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
    for (int raw = 0; raw < 16; ++raw) {
        int v = 99;
        EXPECT_EQ(D::decodeResolution(raw, &v), expected[raw] >= 0) << raw;
        EXPECT_EQ(v, expected[raw] >= 0 ? expected[raw] : 99) << raw;
    }
    EXPECT_EQ(D::frameSizeOf(1), QSize(384, 288));
    EXPECT_EQ(D::frameSizeOf(3), QSize(0, 0));
    EXPECT_EQ(D::frameSizeOf(-1), QSize(0, 0));
}

TEST(ModuleDecoder, CoreFamilyTable)
{
    for (int raw = 0; raw < 256; ++raw) {
        int v = 99;
        const bool known = raw <= 9;
        EXPECT_EQ(D::decodeCoreFamily(raw, &v), known) << raw;
        EXPECT_EQ(v, known ? raw : 99) << raw;
    }
}

int cls(unsigned char b0, unsigned char b1, unsigned char b2, unsigned char b3, unsigned char b4)
{
    const unsigned char raw[5] = {b0, b1, b2, b3, b4};
    return D::coreClassOf(raw);
}

TEST(CoreClass, Class3Boundaries)
{
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 1, 1), 3);
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 1, 10), 3);
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 1, 0), 0);
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 1, 11), 0);
    EXPECT_EQ(cls(0x03, 0x22, 0x51, 1, 5), 0); // class 3 needs 0x71
}

TEST(CoreClass, Class4Boundaries)
{
    EXPECT_EQ(cls(0x03, 0x22, 0x51, 2, 16), 4);
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 2, 31), 4);
    EXPECT_EQ(cls(0x03, 0x22, 0x51, 2, 15), 0);
    EXPECT_EQ(cls(0x03, 0x22, 0x71, 2, 32), 0);
    EXPECT_EQ(cls(0x03, 0x22, 0x61, 2, 20), 0);
}

TEST(CoreClass, Class1Boundaries)
{
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 1, 1), 1);
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 1, 15), 1);
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 1, 0), 0);
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 1, 16), 0);
    EXPECT_EQ(cls(0x0A, 0x22, 0x71, 1, 5), 0); // class 1 needs 0x51
}

TEST(CoreClass, Class2Boundaries)
{
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 2, 0), 2);
    EXPECT_EQ(cls(0x0A, 0x22, 0x71, 2, 15), 2);
    EXPECT_EQ(cls(0x0A, 0x22, 0x71, 2, 16), 0);
    EXPECT_EQ(cls(0x0A, 0x22, 0x51, 3, 0), 0);
}

TEST(CoreClass, OtherBytesGiveZeroAndHelpersGroupClasses)
{
    EXPECT_EQ(cls(0x03, 0x23, 0x71, 1, 1), 0);
    EXPECT_EQ(cls(0x0B, 0x22, 0x51, 1, 1), 0);
    EXPECT_EQ(cls(0x0A, 0x22, 0, 0, 0), 0); // what a form-0 reply can carry
    for (int c = 0; c <= 4; ++c) {
        EXPECT_EQ(D::isClass3or4(c), c >= 3) << c;
        EXPECT_EQ(D::isClass1or2(c), c == 1 || c == 2) << c;
    }
}

TEST(CoreClass, DerivedByModuleDecode)
{
    EXPECT_EQ(decode({0x03, 0x22, 0x51, 0x02, 0x12}, 1).coreClass, 4);
    ModuleFields start;
    start.coreClass = 3;
    // A later read of another core recomputes the class, it does not keep it.
    EXPECT_EQ(decode({0x05, 0x10, 0x22, 0, 0}, 1, start).coreClass, 0);
}

TEST(SensorId, WordsAreJoinedAndCutBeforeFirstF)
{
    EXPECT_EQ(D::sensorIdFromWords(0x12AB, 0xF00CD, 1), "12ab000");
    EXPECT_EQ(D::sensorIdFromWords(0x2024, 0x0815FFFF, 1), "20240815");
    EXPECT_EQ(D::sensorIdFromWords(0xA0, 0x12345, 0), "a000012345");
    EXPECT_EQ(D::sensorIdFromWords(0, 0, 1), "000000000");
    EXPECT_EQ(D::sensorIdFromWords(0xF1, 0x1, 2), "");
    EXPECT_EQ(D::sensorIdFromWords(0xFFFFFFFFu, 0xFFFFFFFFu, 2), "");
}

TEST(SensorId, TypeFourSpellsAsciiPairwise)
{
    EXPECT_EQ(D::sensorIdFromWords(0x495242, 0x30313233, 4), "IRB0123");
    // Cut first, then decode: "4952" + "42" then f.
    EXPECT_EQ(D::sensorIdFromWords(0x4952, 0x42F00000, 4), "IRB");
    // The same words on another sensor type stay hex.
    EXPECT_EQ(D::sensorIdFromWords(0x495242, 0x30313233, 1), "49524230313233");
    EXPECT_EQ(D::pairwiseDecode("414243"), "ABC");
    EXPECT_EQ(D::pairwiseDecode("41424"), "AB"); // lone digit dropped
    EXPECT_EQ(D::pairwiseDecode("4100423"), "A"); // "00" ends the text
    EXPECT_EQ(D::pairwiseDecode(""), "");
}

TEST(SensorId, RawBytesStopAtNul)
{
    const char bytes[] = {'S', '5', 'A', '\0', 'x'};
    EXPECT_EQ(D::textFromBytes(bytes, 5), "S5A");
    EXPECT_EQ(D::textFromBytes("K5A001", 6), "K5A001");
    EXPECT_EQ(D::textFromBytes("K5A001", 0), "");
    EXPECT_EQ(D::textFromBytes(nullptr, 4), "");
}

TEST(Versions, Formatting)
{
    EXPECT_EQ(D::versionTriple(0x010203), "1.2.3");
    EXPECT_EQ(D::versionTriple(0xAB0C1F0D), "c.1f.d"); // the top byte is not part of it
    EXPECT_EQ(D::versionTriple(0), "0.0.0");
    EXPECT_EQ(D::versionHex(0x20241105), "20241105");
    EXPECT_EQ(D::versionHex(0), "0");
    EXPECT_EQ(D::serialFromValue(0x2024A001ull), "2024a001");
    EXPECT_EQ(D::serialFromValue(0x123456789ABCDEF0ull), "123456789abcdef0");
    EXPECT_EQ(D::defaultVersions(),
              QStringList({"0.0.0", "20170101", "0.0.0", "20170101", "20170101", "20170101"}));
}

} // namespace
