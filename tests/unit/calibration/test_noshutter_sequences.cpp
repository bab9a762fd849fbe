// The no-shutter base, the NVFFC model and the file sender against the virtual camera
// in-process: what lands in its flash model byte for byte, the lid pattern it shows
// with its lid correction off, and what each failing step leaves behind.
#include "CFindFrame.h"
#include "CalibrationTree.h"
#include "NoShutterMath.h"
#include "NoShutterScene.h"
#include "NoShutterSequences.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QDir>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using transfertest::RecordingContext;
using transfertest::TransferRig;

const QString kReady = QStringLiteral("提示|数据采集完成,准备写入数据");
const QString kDone = QStringLiteral("提示|写入数据完毕");
const QString kNoFrames = QStringLiteral("警告|数据采集异常,请重新采集!");

QByteArray readAll(const QString& path)
{
    return irtest::readAll(path);
}

class NoShutter : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.ok()) << rig.error();
        tree = std::make_unique<CalibrationTree>(QStringLiteral("NS0001"));
    }
    // The core of `preset` streaming fast enough for 64-frame captures.
    void stream(const char* preset)
    {
        rig.core().setIdentity(*irsim::findPreset(preset));
        rig.camera().stream()->setFrameRate(100);
        ASSERT_TRUE(rig.link()->StartStream());
        frames = rig.link()->FrameBuffer();
        ASSERT_TRUE(frames);
        ASSERT_TRUE(irtest::waitFor([&] { return frames->FrameCount() > 2; }, 5000));
        rig.core().clearLog();
    }
    bool requested(const QString& line) const { return rig.requestLines().contains(line); }

    BaseJob baseJob(int index) const
    {
        BaseJob job;
        job.frames = frames;
        job.index = index;
        job.framesDir = tree->noShutterBaseDir(index + 1);
        job.basePath = tree->noShutterDir() + QStringLiteral("/base%1.bin").arg(index + 1);
        return job;
    }
    NvffcJob nvffcJob(int tec) const
    {
        NvffcJob job;
        job.frames = frames;
        job.tecIndex = tec;
        job.dir = tree->nvffcDir();
        return job;
    }

    irtest::ScopedDataRoot root;
    TransferRig rig;
    std::unique_ptr<CalibrationTree> tree;
    CFindFrame* frames = nullptr;
    RecordingContext ctx;
};

TEST(NoShutterAddresses, BaseNumberAgainstAddressAndSharedNvffcArea)
{
    // "本底一" is base 1 at the start of the area, "本底二十" base 20.
    EXPECT_EQ(baseAddress(0), 0x1B00000u);
    EXPECT_EQ(baseAddress(19), 0x1B00000u + 19u * 0x36000u);
    EXPECT_EQ(nvffcAddress(0), 0x1430000u);
    EXPECT_EQ(nvffcAddress(1), 0x14E0000u);
    EXPECT_EQ(nvffcAddress(2), 0x1590000u);
    EXPECT_EQ(nvffcAddress(3), 0x1590000u);
    EXPECT_EQ(QFileInfo(nvffcModelPath("d", 3)).fileName(), QStringLiteral("nvffc_mod4.bin"));
}

class BaseSlot : public NoShutter, public ::testing::WithParamInterface<int> {};

TEST_P(BaseSlot, CapturedAveragedAndWrittenByteForByte)
{
    stream("res384");
    const int index = GetParam();
    const BaseJob job = baseJob(index);
    ASSERT_TRUE(runBaseSequence(ctx, job)) << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages, QStringList({kReady, kDone}));
    EXPECT_TRUE(job.basePath.endsWith(QStringLiteral("/noshutter/base%1.bin").arg(index + 1)));

    // The base is the running average of the 16 frame files beside it.
    const size_t pixels = 384 * 286;
    std::vector<uint16_t> avg(pixels), frame(pixels);
    for (int i = 1; i <= kBaseFrames; ++i) {
        const QByteArray f = readAll(CalibrationTree::frameFile(job.framesDir, i));
        ASSERT_EQ(f.size(), int(pixels * 2)) << i;
        qFromLittleEndian<uint16_t>(f.constData(), qsizetype(pixels), frame.data());
        noshutter::runningAverageStep(avg.data(), frame.data(), pixels, uint32_t(i - 1));
    }
    const QByteArray base = readAll(job.basePath);
    ASSERT_EQ(base.size(), int(pixels * 2));
    EXPECT_EQ(std::memcmp(base.constData(), avg.data(), size_t(base.size())), 0);
    const uint32_t address = 0x1B00000u + uint32_t(index) * 0x36000u;
    EXPECT_EQ(rig.flash(address, base.size()), base);
    EXPECT_TRUE(requested(QStringLiteral("E3 %1").arg(address, 8, 16, QLatin1Char('0'))));
    EXPECT_TRUE(rig.lastRequestIsExit());
}
INSTANTIATE_TEST_SUITE_P(FirstAndLast, BaseSlot, ::testing::Values(0, 19));

TEST_F(NoShutter, BaseLargerThanItsSlotIsRefusedBeforeUpgradeMode)
{
    stream("res640"); // 640 x 510 image rows: 652,800 bytes, three times a slot
    ASSERT_FALSE(runBaseSequence(ctx, baseJob(4)));
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains("652800") && ctx.messages[0].contains("221184"))
        << ctx.messages[0].toStdString();
    EXPECT_FALSE(requested("F0E0=1"));
    // The next base stays as it was.
    EXPECT_EQ(rig.flash(baseAddress(5), 16), QByteArray(16, char(0xFF)));
}

TEST_F(NoShutter, CaptureWithoutFramesIsReportedBeforeAnyAveraging)
{
    stream("res384");
    rig.link()->StopStream();
    frames->SetCaptureStallMs(100);
    EXPECT_FALSE(runBaseSequence(ctx, baseJob(0)));
    EXPECT_EQ(ctx.messages, QStringList{kNoFrames});
    EXPECT_FALSE(QFile::exists(baseJob(0).basePath));
    EXPECT_FALSE(requested("F0E0=1"));

    // NVFFC: the lid correction comes back on.
    ctx.messages.clear();
    rig.core().clearLog();
    EXPECT_EQ(runNvffcSequence(ctx, nvffcJob(0)), NvffcOutcome::Failed);
    EXPECT_EQ(ctx.messages.last(), kNoFrames);
    EXPECT_EQ(rig.requestLines(), QStringList({"2001=0", "70C6=0", "70C6=1"}));
}

// Pearson correlation of two images.
double correlation(const std::vector<double>& a, const std::vector<double>& b)
{
    double ma = 0, mb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        ma += a[i];
        mb += b[i];
    }
    ma /= double(a.size());
    mb /= double(b.size());
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return sab / std::sqrt(saa * sbb);
}

TEST_F(NoShutter, NvffcModelRecoversTheLidAndIsWrittenToTheSharedTec34Area)
{
    stream("res384");
    // A uniform blackbody after a shutter correction: noise and the gain spread stay.
    rig.camera().stream()->setFlatField(true);
    rig.camera().stream()->onRegisterWrite(false, irsim::FrameStreamer::kShutterCorrect, 0);
    CaptureSize size;
    ASSERT_EQ(runNvffcSequence(ctx, nvffcJob(3), &size), NvffcOutcome::Written)
        << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages, QStringList({QStringLiteral("提示|NVFFC数据采集,大约需要20secs!"), kReady, kDone}));
    ASSERT_EQ(size.width, 384);
    ASSERT_EQ(size.height, 286);
    const int pixels = 384 * 286;
    const QByteArray file = readAll(nvffcModelPath(tree->nvffcDir(), 3));
    ASSERT_EQ(file.size(), pixels * 2 + 6);
    EXPECT_EQ(readAll(nvffcDebugPath(tree->nvffcDir())).size(), pixels * 2 + 6);
    EXPECT_EQ(rig.flash(0x1590000, file.size()), file);

    // The injected dead, hot and noisy pixels are the bad-pixel table's business; the
    // model is compared with the lid away from their smoothed neighbourhoods.
    std::vector<bool> defect(static_cast<size_t>(pixels), false);
    auto* cam = rig.camera().stream();
    for (const auto& list : {cam->deadPixels(), cam->hotPixels(), cam->noisyPixels()})
        for (const auto& p : list)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    defect[size_t((p.second + dy) * 384 + p.first + dx)] = true;
    std::vector<double> model, lid, allModel, allLid;
    const std::vector<float> truth = irsim::lidPattern(384, 286, 400.0);
    for (int i = 0; i < pixels; ++i) {
        const double m = qFromLittleEndian<int16_t>(file.constData() + 2 * i);
        allModel.push_back(m);
        allLid.push_back(truth[size_t(i)]);
        if (!defect[size_t(i)]) {
            model.push_back(m);
            lid.push_back(truth[size_t(i)]);
        }
    }
    const double r = correlation(model, lid);
    std::printf("NVFFC model against the lid pattern: r = %.4f (all pixels %.4f)\n", r, correlation(allModel, allLid));
    EXPECT_GT(r, 0.99);
    const uint32_t s = qFromLittleEndian<uint32_t>(file.constData() + 2 * pixels);
    EXPECT_GT(s, 0u);
    EXPECT_EQ(file.right(2), QByteArray(2, '\0'));

    // Lid correction off for the capture only; the model taken after the write.
    const QStringList lines = rig.requestLines();
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines.mid(0, 2), QStringList({"2001=0", "70C6=0"}));
    EXPECT_EQ(lines.mid(lines.size() - 3), QStringList({"E6", "F042=0", "70C6=1"}));
    EXPECT_EQ(rig.core().longRegister(0x70C6), 1u);
}

TEST_F(NoShutter, FlatModelIsSavedWithScaleZeroAndNotWritten)
{
    stream("res384");
    rig.camera().stream()->setUniform(true);
    rig.camera().stream()->setLidCounts(0);
    ASSERT_TRUE(irtest::waitFor([&] {
        std::vector<uint16_t> f;
        int w = 0, h = 0;
        return frames->GetFrame(&f, &w, &h) && std::all_of(f.begin(), f.end(), [&](uint16_t v) { return v == f[0]; });
    }));
    EXPECT_EQ(runNvffcSequence(ctx, nvffcJob(0)), NvffcOutcome::Flat);
    ASSERT_EQ(ctx.messages.size(), 3);
    EXPECT_TRUE(ctx.messages[2].contains(QStringLiteral("平坦"))) << ctx.messages[2].toStdString();
    const QByteArray file = readAll(nvffcModelPath(tree->nvffcDir(), 0));
    ASSERT_EQ(file.size(), 384 * 286 * 2 + 6);
    EXPECT_EQ(file, QByteArray(file.size(), '\0')); // a zero model and S = 0
    EXPECT_EQ(rig.requestLines(), QStringList({"2001=0", "70C6=0", "70C6=1"}));
}

TEST_F(NoShutter, CoreModeAsksTheCoreAndWaitsForItsCompletion)
{
    EXPECT_TRUE(runCoreNvffc(ctx, 2));
    EXPECT_EQ(ctx.messages, QStringList({QStringLiteral("提示|NVFFC数据采集,请等待!"),
                                         QStringLiteral("提示|操作完成,机芯正常返回!")}));
    EXPECT_EQ(rig.requestLines().first(), QStringLiteral("F026=3"));
}

struct StepFault {
    const char* rule;
    const char* text;
};
class BaseStepFailure : public NoShutter, public ::testing::WithParamInterface<StepFault> {};

TEST_P(BaseStepFailure, IsToldThenOnlyTheExitStep)
{
    stream("res384");
    ASSERT_TRUE(rig.fault(GetParam().rule));
    EXPECT_FALSE(runBaseSequence(ctx, baseJob(2)));
    ASSERT_EQ(ctx.messages.size(), 2) << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages[1], QStringLiteral("提示|") + QString::fromUtf8(GetParam().text));
    EXPECT_TRUE(rig.lastRequestIsExit());
    // Ending would commit a part of the base into flash.
    if (QByteArray(GetParam().rule).contains("0xEE"))
        EXPECT_FALSE(requested("E5"));
    EXPECT_EQ(rig.flash(baseAddress(2), 16), QByteArray(16, char(0xFF)));
}
INSTANTIATE_TEST_SUITE_P(Steps, BaseStepFailure,
                         ::testing::Values(StepFault{"zero@0xF0E0", "进入升级模式失败"},
                                           StepFault{"zero@0xF0E1", "进入升级模式写入失败"},
                                           StepFault{"zero@block:0xE3", "发送升级地址失败"},
                                           StepFault{"zero@block:0xE4", "发送文件大小失败"},
                                           StepFault{"zero@block:0xEE#3", "文件写入失败"},
                                           StepFault{"zero@block:0xE5", "升级结束失败"}));

TEST_F(NoShutter, NvffcChunkFailureStillTurnsTheLidCorrectionBackOn)
{
    stream("res384");
    rig.camera().stream()->setFlatField(true);
    ASSERT_TRUE(rig.fault("zero@block:0xEE#2"));
    EXPECT_EQ(runNvffcSequence(ctx, nvffcJob(1)), NvffcOutcome::Failed);
    EXPECT_EQ(ctx.messages.last(), QStringLiteral("提示|文件写入失败"));
    const QStringList lines = rig.requestLines();
    EXPECT_FALSE(lines.contains("E5"));
    EXPECT_FALSE(lines.contains("F042=0"));
    EXPECT_EQ(lines.mid(lines.size() - 2), QStringList({"E6", "70C6=1"}));
}

struct SendCase {
    int kind;
    int index;
    const char* hex;
    uint32_t address;
};
class SendFile : public NoShutter, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendFile, EachKindLandsAtItsAddress)
{
    const SendCase c = GetParam();
    uint32_t address = 0;
    QString why;
    ASSERT_TRUE(sendFileAddress(c.kind, c.index, QString::fromLatin1(c.hex), &address, &why)) << why.toStdString();
    ASSERT_EQ(address, c.address);
    const QByteArray bytes = transfertest::pattern(2500, c.kind * 31 + c.index);
    const QString path = root.file(QStringLiteral("send.nuc"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();
    ASSERT_TRUE(runSendFile(ctx, address, path)) << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages, QStringList{kDone});
    EXPECT_EQ(rig.flash(address, bytes.size()), bytes);
}
INSTANTIATE_TEST_SUITE_P(Kinds, SendFile,
                         ::testing::Values(SendCase{SendNucFile, 1, "", 0xD00000u},
                                           SendCase{SendNucFile, kCustomAddressIndex, "1A00000", 0x1A00000u},
                                           SendCase{SendPixelTable, 0, "", 0x1400000u},
                                           SendCase{SendBaseFile, 19, "", 0x1B00000u + 19u * 0x36000u},
                                           SendCase{SendOtherFile, 0, "0x1A10000", 0x1A10000u}));

TEST_F(NoShutter, SendRefusesBadAddressesMissingFilesAndFilesLargerThanTheirSlot)
{
    uint32_t address = 0xDEAD;
    QString why;
    // An empty or wrong address must not fall back to 0, the FPGA image "Logic 0".
    EXPECT_FALSE(sendFileAddress(SendOtherFile, 0, "", &address, &why));
    EXPECT_EQ(why, QStringLiteral("地址值不能为空！"));
    EXPECT_FALSE(sendFileAddress(SendOtherFile, 0, "12G4", &address, &why));
    EXPECT_FALSE(sendFileAddress(SendNucFile, kCustomAddressIndex, "  ", &address, &why));
    EXPECT_FALSE(sendFileAddress(SendOtherFile, 0, "2000000", &address, &why));
    EXPECT_EQ(address, 0xDEADu);

    EXPECT_FALSE(runSendFile(ctx, 0x1A00000, root.file("missing.nuc")));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|文件打开失败")});

    ctx.messages.clear();
    const QString big = root.file("big.bin");
    QFile f(big);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(0x36001, 'b')) == 0x36001);
    f.close();
    EXPECT_FALSE(runSendFile(ctx, baseAddress(0), big));
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains("221185")) << ctx.messages[0].toStdString();
    EXPECT_TRUE(rig.requestLines().isEmpty());
}

} // namespace
