// irbench-cli capture against a running irbench-sim: frame files from the live stream,
// their size and content, scene changes through the camera's control input, refused
// counts and a stream that never delivers.
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using irtest::CliResult;
using irtest::runCli;
using irtest::SimProcess;

namespace {

QStringList net(const SimProcess& sim, QStringList rest)
{
    return QStringList{"--net", QString("127.0.0.1:%1").arg(sim.port())} + rest;
}

// Mean of a frame file's 16-bit little-endian pixels; -1 when unreadable.
double fileMean(const QString& path, qint64* bytes = nullptr)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray raw = f.readAll();
    if (bytes)
        *bytes = raw.size();
    if (raw.size() < 2)
        return -1;
    double sum = 0;
    const auto* p = reinterpret_cast<const uint8_t*>(raw.constData());
    const qint64 n = raw.size() / 2;
    for (qint64 i = 0; i < n; ++i)
        sum += double(p[2 * i] | (p[2 * i + 1] << 8));
    return sum / double(n);
}

// Counts of a flat blackbody at `celsius` with the FPA at 30: pedestal 6000, 40 a degree.
double expectedMean(double celsius)
{
    return 6000.0 + 40.0 * (celsius - 25.0);
}

} // namespace

TEST(CliCapture, FramesOfTheLiveStreamBecomeFrameFiles)
{
    SimProcess sim({"--preset", "res384", "--flat", "--scene-temp", "40", "--fps", "50"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("core/Raw/1/LowFrame");
    ASSERT_TRUE(QDir().mkpath(dir));
    // An older, longer run's file past the new count stays as it was.
    {
        QFile old(QDir(dir).filePath("Frame9.frame"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("older");
    }

    const CliResult r = runCli(net(sim, {"capture", "8", dir}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count('\n'), 8) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Frame8.frame 384x286")) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("8/8")) << "progress on stderr: " << r.err.toStdString();

    for (int i = 1; i <= 8; ++i) {
        qint64 bytes = 0;
        const double mean = fileMean(QDir(dir).filePath(QString("Frame%1.frame").arg(i)), &bytes);
        EXPECT_EQ(bytes, 384 * 286 * 2) << "frame " << i << ": image rows only, no header";
        // Per-pixel gains average out; the six hot and six dead pixels move the mean
        // by well under a count.
        EXPECT_NEAR(mean, expectedMean(40.0), 15.0) << "frame " << i;
    }
    QFile old(QDir(dir).filePath("Frame9.frame"));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("older"));

    // The blackbody changes through the camera's control input; the next capture
    // sees it. The camera answers once the change is made and renders frames only for
    // a client that has started the stream, so every frame of that capture is new.
    ASSERT_EQ(sim.control("scene-temp 60"), "ok");
    const QString hot = tmp.filePath("other/Raw/2/HighFrame"); // parents made as needed
    const CliResult h = runCli(net(sim, {"capture", "2", hot}));
    ASSERT_EQ(h.exitCode, 0) << h.err.toStdString();
    for (int i = 1; i <= 2; ++i)
        EXPECT_NEAR(fileMean(QDir(hot).filePath(QString("Frame%1.frame").arg(i))), expectedMean(60.0), 15.0);
    EXPECT_FALSE(QFileInfo::exists(QDir(hot).filePath("Frame3.frame")));
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(CliCapture, CountsOutsideTheCaptureStoreAreRefused)
{
    SimProcess sim({"--fps", "50"});
    ASSERT_TRUE(sim.ok());
    QTemporaryDir tmp;
    for (const char* n : {"0", "129", "-1", "12x", ""}) {
        const QString dir = tmp.filePath(QString("run_%1").arg(n));
        const CliResult r = runCli(net(sim, {"capture", n, dir}));
        EXPECT_EQ(r.exitCode, 2) << n;
        EXPECT_TRUE(r.err.contains("1 到 128")) << n << ": " << r.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir)) << n << ": nothing made";
    }
    const CliResult serial = runCli({"--serial", "/dev/null", "capture", "4", tmp.filePath("s")});
    EXPECT_EQ(serial.exitCode, 2);
    EXPECT_TRUE(serial.err.contains("网络")) << serial.err.toStdString();
    // The usage text names the command.
    EXPECT_TRUE(runCli({"--help"}).out.contains("capture N OUTDIR"));
}

TEST(CliCapture, AStreamWithoutWholeFramesEndsWithinTheBound)
{
    // Every packet carries a wrong CRC: the host drops them all.
    SimProcess sim({"--fps", "50", "--stream-fault", "crc=1"});
    ASSERT_TRUE(sim.ok());
    QTemporaryDir tmp;
    const QString dir = tmp.filePath("out");
    const CliResult r = runCli(net(sim, {"capture", "4", dir}), 20000);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("未收到视频帧")) << r.err.toStdString();
    EXPECT_LT(r.elapsedMs, 10000);
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files).isEmpty()) << "no partial run left behind";
}

TEST(SimControlInput, EndOfInputKeepsServingAndQuitStops)
{
    // Returns the port from the banner, 0 when the program did not come up.
    auto start = [](QProcess& sim) {
        sim.start(IRBENCH_SIM_PATH, {"--port", "0", "--preset", "res160", "--fps", "50"});
        if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000))
            return 0;
        const QString banner = QString::fromUtf8(sim.readLine());
        const int colon = banner.indexOf(':', banner.indexOf("listening on"));
        return banner.mid(colon + 1, banner.indexOf(' ', colon) - colon - 1).toInt();
    };

    // Started by a script whose input ends at once: the camera serves on.
    QProcess sim;
    const int port = start(sim);
    ASSERT_GT(port, 0);
    sim.closeWriteChannel();
    EXPECT_FALSE(sim.waitForFinished(300)) << "stdin at its end does not stop the camera";
    QTemporaryDir tmp;
    const CliResult r = runCli({"--net", QString("127.0.0.1:%1").arg(port), "capture", "1", tmp.filePath("f")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(5000));
    EXPECT_EQ(sim.exitCode(), 0);

    // quit is answered, then the program ends by itself with status 0.
    QProcess second;
    ASSERT_GT(start(second), 0);
    second.readAll();
    second.write("quit\n");
    ASSERT_TRUE(second.waitForFinished(5000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardOutput()).split('\n').contains("ok"));
}
