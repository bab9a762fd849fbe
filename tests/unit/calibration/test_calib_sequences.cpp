// The calibration page's blocking steps without the page: the gain correction from
// frame files (against the plain per-frame formulas), the gain-based bad-pixel table,
// the frame mean and the core's answers to its own one-key commands.
#include "CFindFrame.h"
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"
#include "CalibrationSequences.h"
#include "DataExchange.h"
#include "FileTransfer.h"
#include "CoreTableTransfer.h"
#include "NaiveCalib.h"
#include "StreamPacket.h"
#include "TransferRig.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>


namespace {

using transfertest::RecordingContext;

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFrame(const QString& dir, int i, const naive::Frame& frame)
{
    QDir().mkpath(dir);
    QByteArray bytes(int(frame.size() * 2), '\0');
    qToLittleEndian<uint16_t>(frame.data(), qsizetype(frame.size()), bytes.data());
    QFile f(QStringLiteral("%1/Frame%2.frame").arg(dir).arg(i));
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Frames with per-pixel gain and offset and a little frame-to-frame change: pixel
// (x, y) of frame f in front of a blackbody of `level` counts.
naive::Frame sceneFrame(int w, int h, int level, int f)
{
    naive::Frame out(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double gain = 1.0 + 0.002 * ((x * 7 + y * 13) % 21 - 10);
            const int offset = (x * 31 + y * 17) % 90;
            out[size_t(y) * size_t(w) + size_t(x)] = uint16_t(level * gain + offset + (x + y + f) % 3);
        }
    return out;
}

class GainCorrection : public ::testing::Test {
protected:
    static constexpr int kW = 24;
    static constexpr int kH = 10;
    static constexpr int kFrames = 5;

    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        job.lowDir = dir.filePath("Raw/2/LowFrame");
        job.highDir = dir.filePath("Raw/2/HighFrame");
        job.backupPath = dir.filePath("Pixel/FinalPixel.bak");
        job.gainPath = dir.filePath("NUC/K2.bin");
        job.width = kW;
        job.height = kH;
        job.count = kFrames;
        for (int f = 0; f < kFrames; ++f) {
            low.push_back(sceneFrame(kW, kH, 4000, f));
            high.push_back(sceneFrame(kW, kH, 7000, f));
            ASSERT_TRUE(writeFrame(job.lowDir, f + 1, low.back()));
            ASSERT_TRUE(writeFrame(job.highDir, f + 1, high.back()));
        }
    }

    QTemporaryDir dir;
    GainJob job;
    std::vector<naive::Frame> low;
    std::vector<naive::Frame> high;
    RecordingContext ctx;
};

TEST_F(GainCorrection, GainFileMatchesThePlainFormulaAndBackupHoldsTheFixedRecord)
{
    // A stuck pixel (same in both sets) must land on a clamp.
    for (int f = 0; f < kFrames; ++f) {
        low[size_t(f)][37] = high[size_t(f)][37] = 16000;
        ASSERT_TRUE(writeFrame(job.lowDir, f + 1, low[size_t(f)]));
        ASSERT_TRUE(writeFrame(job.highDir, f + 1, high[size_t(f)]));
    }
    // Frames beyond the count belong to an older, longer run and must not be read.
    ASSERT_TRUE(writeFrame(job.highDir, kFrames + 1, naive::Frame(size_t(kW * kH), 0)));

    CTwoPointNuc nuc;
    ASSERT_TRUE(runGainCorrection(ctx, job, &nuc)) << ctx.messages.join("; ").toStdString();
    EXPECT_TRUE(ctx.messages.isEmpty());
    EXPECT_EQ(readAll(job.backupPath), QByteArray::fromHex("00010143"));

    const naive::Frame expected = naive::gains(low, high, size_t(kW * kH));
    const QByteArray file = readAll(job.gainPath);
    ASSERT_EQ(file.size(), kW * kH * 2);
    for (int i = 0; i < kW * kH; ++i) {
        const uint16_t k = qFromBigEndian<uint16_t>(file.constData() + 2 * i);
        ASSERT_EQ(k, expected[size_t(i)]) << "pixel " << i;
    }
    EXPECT_EQ(expected[37], CTwoPointNuc::kGainMax);
    ASSERT_EQ(nuc.state(), CTwoPointNuc::StateGain);
    EXPECT_EQ(nuc.width(), uint32_t(kW));
    EXPECT_EQ(nuc.Gains()[37], CTwoPointNuc::kGainMax);
    EXPECT_EQ(ctx.progress.last(), 100);
}

TEST_F(GainCorrection, MissingShortOrSwappedSetsAreReportedAndWriteNoGains)
{
    const QByteArray oldGains("earlier K file");
    QDir().mkpath(dir.filePath("NUC"));
    QFile old(job.gainPath);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(oldGains);
    old.close();

    // One frame more than captured: the missing file is named.
    GainJob more = job;
    more.count = kFrames + 1;
    CTwoPointNuc nuc;
    EXPECT_FALSE(runGainCorrection(ctx, more, &nuc));
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].startsWith("提示|")) << ctx.messages[0].toStdString();
    EXPECT_TRUE(ctx.messages[0].contains(QStringLiteral("Frame%1.frame").arg(kFrames + 1)));
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateEmpty);

    // A frame of another size (an older capture of another core).
    ctx.messages.clear();
    ASSERT_TRUE(writeFrame(job.lowDir, 3, naive::Frame(size_t(kW * (kH - 1)), 100)));
    EXPECT_FALSE(runGainCorrection(ctx, job, &nuc));
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains("Frame3.frame"));
    ASSERT_TRUE(writeFrame(job.lowDir, 3, low[2]));

    // Sets swapped: every gain would be clamped.
    ctx.messages.clear();
    GainJob swapped = job;
    std::swap(swapped.lowDir, swapped.highDir);
    EXPECT_FALSE(runGainCorrection(ctx, swapped, &nuc));
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains(QStringLiteral("不高于"))) << ctx.messages[0].toStdString();

    // No capture yet this session.
    ctx.messages.clear();
    GainJob noSize = job;
    noSize.width = 0;
    EXPECT_FALSE(runGainCorrection(ctx, noSize, &nuc));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|请先采集低温点和高温点!")});

    EXPECT_EQ(readAll(job.gainPath), oldGains) << "a failed correction keeps the K file";
    EXPECT_EQ(nuc.state(), CTwoPointNuc::StateEmpty);
}

TEST(GainPixelTable, ClampedGainsBecomeRecordsInScanOrder)
{
    QTemporaryDir dir;
    const int w = 40, h = 30;
    std::vector<uint16_t> gains(size_t(w * h), 32768);
    gains[size_t(5 * w + 39)] = 45000; // right edge
    gains[size_t(0 * w + 3)] = 25000;
    gains[size_t(5 * w + 2)] = 25001;  // inside the limits: good
    gains[size_t(29 * w + 0)] = 44999; // good
    gains[size_t(29 * w + 1)] = 45000;
    const QString path = dir.filePath("Pixel/FinalPixel.bin");
    int bad = -1;
    ASSERT_EQ(writeGainPixelTable(gains.data(), w, h, path, &bad), GainTableResult::Written);
    EXPECT_EQ(bad, 3);
    const QByteArray table = readAll(path);
    ASSERT_EQ(table.size(), 12);
    const int want[3][2] = {{3, 0}, {39, 5}, {1, 29}};
    for (int i = 0; i < 3; ++i) {
        int x = -1, y = -1;
        uint8_t mask = 0;
        ASSERT_TRUE(CPixelDetector::DecodeRecord(reinterpret_cast<const uint8_t*>(table.constData()) + 4 * i, &x, &y,
                                                 &mask));
        EXPECT_EQ(x, want[i][0]);
        EXPECT_EQ(y, want[i][1]);
    }
    // (39, 5) has its right-hand neighbours outside: bits 2, 4, 7.
    EXPECT_EQ(uint8_t(table[4]), 0x04 | 0x10 | 0x80);

    // No gains, or a frame beyond the detector: nothing is written.
    QFile::remove(path);
    EXPECT_EQ(writeGainPixelTable(nullptr, w, h, path, &bad), GainTableResult::NoGains);
    EXPECT_EQ(writeGainPixelTable(gains.data(), 1921, 1441, path, &bad), GainTableResult::UnsupportedSize);
    EXPECT_FALSE(QFile::exists(path));
}

// A frame buffer fed with hand-made packets.
class FedFrameBuffer {
public:
    FedFrameBuffer(int w, int h)
        : m_w(w)
        , m_h(h)
    {
        buffer.SetLayoutProvider([] { return AddInfoLayout(); });
        buffer.SetAddInfoSink([](const FrameAddInfo&) {});
    }
    static naive::Frame frame(int w, int h, int seed)
    {
        naive::Frame f(size_t(w) * size_t(h));
        for (size_t i = 0; i < f.size(); ++i)
            f[i] = uint16_t((seed * 1000 + i * 3) & 0x3FFF);
        return f;
    }
    void push(int seed)
    {
        const naive::Frame f = frame(m_w, m_h, seed);
        std::vector<uint8_t> packet;
        streampacket::appendPacket(packet, f.data(), uint32_t(m_w), uint32_t(m_h));
        buffer.InputData(packet.data(), int(packet.size()));
    }

    CFindFrame buffer;

private:
    int m_w;
    int m_h;
};

TEST(FrameMean, WholeCoreFrameAndNeverPastTheNewestFrame)
{
    FedFrameBuffer feed(10, 6);
    int mean = -1;
    EXPECT_FALSE(newestFrameMean(&feed.buffer, QSize(10, 6), &mean)) << "no frame yet";
    feed.push(2);
    const naive::Frame f = FedFrameBuffer::frame(10, 6, 2);
    uint64_t sum = 0;
    for (uint16_t v : f)
        sum += v; // info rows included, as the core's geometry says
    ASSERT_TRUE(newestFrameMean(&feed.buffer, QSize(10, 6), &mean));
    EXPECT_EQ(mean, int(sum / 60));
    // A geometry larger than the frame (another core's): the frame's own words.
    ASSERT_TRUE(newestFrameMean(&feed.buffer, QSize(640, 512), &mean));
    EXPECT_EQ(mean, int(sum / 60));
    // Unknown resolution: no mean instead of a division by zero.
    EXPECT_FALSE(newestFrameMean(&feed.buffer, QSize(), &mean));
}

class CoreCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rig.ok()) << rig.error();
        // 10 ms polls: the command's own acknowledgement must arrive within its
        // transaction, or it would be taken for the completion.
        DataExchange::setPollIntervalMs(1000);
    }
    void TearDown() override { DataExchange::setPollIntervalMs(200); }
    transfertest::TransferRig rig;
    RecordingContext ctx;
};

TEST_F(CoreCommand, CoreAnsweringFailureIsReportedAtOnce)
{
    rig.core().setCompletionDelayMs(5000);
    // Gains of TEC 2 without the two points: the core completes the step with 0.
    EXPECT_EQ(runCoreCommand(ctx, corecmd::kOneKeyRegister, 4), CoreWaitResult::Refused);
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|机芯返回失败,操作未完成!")});
}

TEST_F(CoreCommand, SilentCoreEndsInATimeOutAndCancelStopsTheWait)
{
    rig.core().setCompletionDelayMs(-1);
    // 3 s nominal: a few acknowledgement rounds at the test scale.
    EXPECT_EQ(runCoreCommand(ctx, corecmd::kBadPixelRegister, corecmd::kBadPixelDetectValue, 3000.0), CoreWaitResult::TimedOut);
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains(QStringLiteral("超时"))) << ctx.messages[0].toStdString();
    EXPECT_FALSE(ctx.messages[0].contains(QStringLiteral("正常返回")));

    RecordingContext cancelled;
    cancelled.cancel = true;
    EXPECT_EQ(waitCoreCompletion(cancelled), CoreWaitResult::Cancelled);
    EXPECT_TRUE(cancelled.messages.isEmpty());
}

// The table sequences against the virtual core: what reaches the flash, what the
// operator is told, and that the core always leaves upgrade mode.
class CoreTables : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(rig.ok()) << rig.error();
        DataExchange::setPollIntervalMs(int(transfertest::kPollMs));
    }
    void TearDown() override { DataExchange::setPollIntervalMs(200); }
    QString write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return path;
    }
    QTemporaryDir dir;
    transfertest::TransferRig rig;
    RecordingContext ctx;
};

TEST_F(CoreTables, FreshCoreGivesAnEmptyTableFileWhereTheConfigReadBackRefuses)
{
    const QString table = dir.filePath("FinalPixel.bin");
    ASSERT_TRUE(readCorePixelTable(ctx, table)) << ctx.messages.join("; ").toStdString();
    EXPECT_TRUE(ctx.messages.isEmpty());
    EXPECT_TRUE(QFileInfo(table).isFile());
    EXPECT_EQ(QFileInfo(table).size(), 0);
    EXPECT_TRUE(rig.lastRequestIsExit());

    RecordingContext config;
    EXPECT_FALSE(readBackToFile(config, 1, dir.filePath("config.bin")));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("config.bin")));
    EXPECT_EQ(config.messages.size(), 1);
}

TEST_F(CoreTables, EmptyTableIsSentAfterTheWarningAndResetLeavesTheFixedRecord)
{
    ASSERT_TRUE(writePixelTableToCore(ctx, write("empty.bin", QByteArray())));
    EXPECT_EQ(ctx.messages, QStringList({QStringLiteral("提示|坏点表为空,请检查阈值设置"),
                                          QStringLiteral("提示|写入数据完毕")}));
    EXPECT_TRUE(rig.blockData(0xEE).empty());
    EXPECT_EQ(rig.blockData(0xEC), std::vector<QByteArray>{QByteArray(1, '\x01')});

    ctx.messages.clear();
    ASSERT_TRUE(resetCorePixelTable(ctx));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|重置坏点表成功")});
    QByteArray back;
    ASSERT_TRUE(readBackToMemory(ctx, 1, &back));
    EXPECT_EQ(back, QByteArray::fromHex("00010143"));
    EXPECT_EQ(fixedPixelRecord(), back);
}

TEST_F(CoreTables, FailedBlockIsReportedNotCalledWrittenAndTheCoreLeavesUpgradeMode)
{
    // 2500 bytes: three blocks, the second refused.
    const QString table = write("big.bin", QByteArray(2500, '\x2f'));
    ASSERT_TRUE(rig.fault("zero@block:0xEE#2"));
    EXPECT_FALSE(writePixelTableToCore(ctx, table));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|文件写入失败")});
    EXPECT_TRUE(rig.lastRequestIsExit());

    RecordingContext gains;
    const QString k = write("K1.bin", QByteArray(1200, '\x11'));
    ASSERT_TRUE(rig.fault("zero@block:0xE3"));
    EXPECT_EQ(writeGainTableToCore(gains, 0, k), GainWriteResult::Failed);
    EXPECT_EQ(gains.messages, QStringList{QStringLiteral("提示|发送升级地址失败")});
    EXPECT_TRUE(rig.lastRequestIsExit());

    // No K file: told, and upgrade mode never entered.
    RecordingContext missing;
    const size_t before = rig.requests().size();
    EXPECT_EQ(writeGainTableToCore(missing, 2, dir.filePath("K3.bin")), GainWriteResult::MissingFile);
    EXPECT_EQ(rig.requests().size(), before);
    ASSERT_EQ(missing.messages.size(), 1);
    EXPECT_TRUE(missing.messages[0].contains("K3.bin"));
}

} // namespace
