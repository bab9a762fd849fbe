// irbench-cli base, nvffc, send-file and record: offline files against the library's
// own arithmetic, and a running irbench-sim for the file sender's flash and the
// recording of its numbered frames.
#include "NoShutterMath.h"
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <vector>

using irtest::CliResult;
using irtest::runCli;
using irtest::SimProcess;

namespace {

constexpr int kW = 48;
constexpr int kH = 32;

std::vector<uint16_t> frameOf(int f)
{
    std::vector<uint16_t> px(size_t(kW) * kH);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            px[size_t(y) * kW + size_t(x)] = uint16_t(5000 + 7 * x + 3 * y + (x * y + f) % 5);
    return px;
}

bool writeFrames(const QString& dir, int n)
{
    QDir().mkpath(dir);
    for (int f = 1; f <= n; ++f) {
        const std::vector<uint16_t> px = frameOf(f);
        QByteArray bytes(int(px.size() * 2), '\0');
        qToLittleEndian<uint16_t>(px.data(), qsizetype(px.size()), bytes.data());
        QFile file(dir + QStringLiteral("/Frame%1.frame").arg(f));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return false;
    }
    return true;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList net(const SimProcess& sim, QStringList rest)
{
    return QStringList{"--net", QString("127.0.0.1:%1").arg(sim.port()), "--pacing", "reply"} + rest;
}

} // namespace

TEST(CliNoShutter, BaseAndModelFilesFromFrameFiles)
{
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("frames");
    ASSERT_TRUE(writeFrames(dir, 5));
    const size_t n = size_t(kW) * kH;

    const CliResult base = runCli({"base", dir, "5", QString::number(kW), QString::number(kH), tmp.filePath("base1.bin")});
    ASSERT_EQ(base.exitCode, 0) << base.err.toStdString();
    std::vector<uint16_t> avg(n);
    for (int f = 1; f <= 5; ++f)
        noshutter::runningAverageStep(avg.data(), frameOf(f).data(), n, uint32_t(f - 1));
    QByteArray expected(int(n * 2), '\0');
    qToLittleEndian<uint16_t>(avg.data(), qsizetype(n), expected.data());
    EXPECT_EQ(readAll(tmp.filePath("base1.bin")), expected);

    const CliResult model = runCli({"nvffc", dir, "5", QString::number(kW), QString::number(kH), tmp.filePath("m.bin")});
    ASSERT_EQ(model.exitCode, 0) << model.err.toStdString();
    const QByteArray file = readAll(tmp.filePath("m.bin"));
    ASSERT_EQ(file.size(), int(n * 2 + 6));
    const uint32_t s = qFromLittleEndian<uint32_t>(file.constData() + n * 2);
    EXPECT_TRUE(model.out.startsWith(QStringLiteral("S %1,").arg(s))) << model.out.toStdString();
    EXPECT_GT(s, 0u);

    // A frame of another size is refused before anything is written.
    QFile::resize(dir + "/Frame3.frame", 100);
    const CliResult bad = runCli({"base", dir, "5", QString::number(kW), QString::number(kH), tmp.filePath("b2.bin")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains("Frame3.frame")) << bad.err.toStdString();
    EXPECT_FALSE(QFile::exists(tmp.filePath("b2.bin")));
}

TEST(CliNoShutter, SendFileToABaseSlotAndRefusalsBeforeConnecting)
{
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir tmp;
    QByteArray bytes(3000, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + 3);
    QFile f(tmp.filePath("b.bin"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    f.close();

    const CliResult r = runCli(net(sim, {"send-file", "2", "1", tmp.filePath("b.bin")}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("0x01b36000")) << r.out.toStdString();
    EXPECT_EQ(sim.control("flash 0x1B36000 3000"), "ok " + QString::fromLatin1(bytes.toHex()));

    const CliResult other = runCli(net(sim, {"send-file", "3", "0", tmp.filePath("b.bin")}));
    EXPECT_EQ(other.exitCode, 2);
    EXPECT_TRUE(other.err.contains(QStringLiteral("地址值不能为空"))) << other.err.toStdString();
    const CliResult custom = runCli(net(sim, {"send-file", "0", "4", tmp.filePath("b.bin"), "--address", "1A0000G"}));
    EXPECT_EQ(custom.exitCode, 2);
}

TEST(CliNoShutter, RecordingOfTheLiveStreamWithItsLog)
{
    SimProcess sim({"--preset", "res384", "--fps", "50"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir tmp;
    const CliResult r = runCli(net(sim, {"record", "2", "100", tmp.filePath("Occ")}), 30000);
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList files = QDir(tmp.filePath("Occ")).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files.size(), 2);
    const qint64 raw = QFileInfo(tmp.filePath("Occ/" + files[0])).size();
    const QList<QByteArray> lines = readAll(tmp.filePath("Occ/" + files[1])).split('\n');
    const qint64 frames = raw / (384 * 288 * 2);
    EXPECT_EQ(raw % (384 * 288 * 2), 0);
    EXPECT_GE(frames, 5);
    EXPECT_EQ(lines.size() - 1, frames);
    // 30 degrees FPA on a sensor of type 1 (fiftieths): the log is scaled by the core.
    EXPECT_TRUE(lines[0].startsWith("30.0\t1024\t2810\t")) << lines[0].toStdString();
}

TEST(CliNoShutter, AFullDiskStopsTheRecordingWithWholeFramesKept)
{
    SimProcess sim({"--preset", "res384", "--fps", "50"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir tmp;
    // 600 KiB: two frames of 384 x 288 fit, the third does not.
    const CliResult r = irtest::runCliWithFileLimit(net(sim, {"record", "5", "50", tmp.filePath("Occ")}), 600, 30000);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("写入录像文件失败"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("已录制 2 帧"))) << r.err.toStdString();
    EXPECT_LT(r.elapsedMs, 5000) << "stopped at the failure, not at the end";
}
