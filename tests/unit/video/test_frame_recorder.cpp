// The recording of the live stream and the single frame, against the virtual camera's
// numbered frames: whole frames of the buffer's geometry, the log line of that same
// frame, the stop on a new frame size, refused files, and names within one second.
#include "CFindFrame.h"
#include "CFrameRecorder.h"
#include "CNetConnect.h"
#include "CameraInfoDataManager.h"
#include "LiveCamera.h"
#include "NoShutterScene.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// Spins the event loop (the recorder's timer) until `pred` holds or `ms` pass.
template <class Pred>
bool spinUntil(Pred pred, int ms = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

TEST(RecordLog, LineFormatAndOneDecimalOfTheFpaTemperature)
{
    FrameAddInfo info;
    info.tFPA = 25.04f;
    info.EOCC = 1024;
    info.VIEC = 2810;
    info.TINT = 160;
    info.BVAL = 7100;
    info.BaseL = 5120;
    EXPECT_EQ(CFrameRecorder::logLine(info, 6001), QByteArray("25.0\t1024\t2810\t160\t7100\t5120\t6001\n"));
    info.tFPA = -3.96f;
    EXPECT_TRUE(CFrameRecorder::logLine(info, 0).startsWith("-4.0\t"));
}

TEST(RecordNames, ANameTakenWithinTheSameSecondGetsTheNextSuffix)
{
    irtest::ScopedDataRoot root;
    const QString dir = root.path();
    EXPECT_EQ(CFrameRecorder::freeName(dir, "20260101_120000", {".raw", ".txt"}), dir + "/20260101_120000");
    QFile(dir + "/20260101_120000.txt").open(QIODevice::WriteOnly); // only its log exists
    EXPECT_EQ(CFrameRecorder::freeName(dir, "20260101_120000", {".raw", ".txt"}), dir + "/20260101_120000_2");
    QFile(dir + "/20260101_120000_2.raw").open(QIODevice::WriteOnly);
    EXPECT_EQ(CFrameRecorder::freeName(dir, "20260101_120000", {".raw", ".txt"}), dir + "/20260101_120000_3");
    // A single frame only needs its own ".raw" free.
    EXPECT_EQ(CFrameRecorder::freeName(dir, "20260101_120000", {".raw"}), dir + "/20260101_120000");
}

class Recording : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string err = irtest::startLiveCamera(&cam, &net, irtest::liveOptions());
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        cam->stream()->holdFpa(25.04);
        ASSERT_TRUE(net.StartStream());
        frames = net.FrameBuffer();
        ASSERT_TRUE(frames && irtest::waitFor([&] { return frames->FrameCount() > 1; }, 5000));
        dir = root.file("Occ");
    }
    void TearDown() override { irtest::stopLiveCamera(cam.get(), &net); }

    irtest::ScopedDataRoot root;
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    CFindFrame* frames = nullptr;
    QString dir;
};

TEST_F(Recording, WholeFramesOfTheBufferEachWithTheLogLineOfThatFrame)
{
    CFrameRecorder rec;
    QString why;
    ASSERT_TRUE(rec.start(frames, dir, 30, &why)) << why.toStdString();
    EXPECT_TRUE(frames->IsRecording());
    ASSERT_TRUE(spinUntil([&] { return rec.framesWritten() >= 6; }));
    rec.stop();
    EXPECT_FALSE(frames->IsRecording());

    const int w = 640, h = 512, n = rec.framesWritten();
    const QByteArray raw = irtest::readAll(rec.rawPath());
    ASSERT_EQ(raw.size(), n * w * h * 2);
    const QList<QByteArray> lines = irtest::readAll(rec.textPath()).split('\n');
    ASSERT_EQ(lines.size(), n + 1); // the last line ends with its newline
    uint32_t last = 0;
    std::vector<uint16_t> f(size_t(w) * size_t(h));
    for (int k = 0; k < n; ++k) {
        qFromLittleEndian<uint16_t>(raw.constData() + qsizetype(k) * w * h * 2, qsizetype(f.size()), f.data());
        const uint32_t counter = irsim::readFrameCounter(f.data(), w, h - 2);
        EXPECT_GT(counter, last) << "frame " << k << " repeats or goes back";
        last = counter;
        uint64_t sum = 0;
        for (uint16_t v : f)
            sum += v;
        // The camera's TINT follows its FPA: 160 at 30 degrees, 155 at 25.
        const QByteArray expected = "25.0\t1024\t2810\t155\t7100\t5120\t" + QByteArray::number(qulonglong(sum / f.size()));
        EXPECT_EQ(lines[k], expected) << "frame " << k;
    }
}

TEST_F(Recording, StartAndStopWithinOneTickLeaveBothFilesEmpty)
{
    CFrameRecorder rec;
    QStringList stopped;
    QObject::connect(&rec, &CFrameRecorder::signalStopped, [&](const QString& why) { stopped << why; });
    ASSERT_TRUE(rec.start(frames, dir, 1000, nullptr));
    rec.stop();
    EXPECT_EQ(QFileInfo(rec.rawPath()).size(), 0);
    EXPECT_TRUE(QFileInfo::exists(rec.textPath()));
    EXPECT_EQ(QFileInfo(rec.textPath()).size(), 0);
    ASSERT_EQ(stopped.size(), 1);
    EXPECT_TRUE(stopped[0].isEmpty());
}

TEST_F(Recording, ANewFrameSizeStopsTheRecordingWithWholeFramesKept)
{
    CFrameRecorder rec;
    QStringList stopped;
    QObject::connect(&rec, &CFrameRecorder::signalStopped, [&](const QString& why) { stopped << why; });
    ASSERT_TRUE(rec.start(frames, dir, 20, nullptr));
    ASSERT_TRUE(spinUntil([&] { return rec.framesWritten() >= 2; }));
    cam->stream()->setGeometry(384, 288);
    ASSERT_TRUE(spinUntil([&] { return !stopped.isEmpty(); }));
    EXPECT_FALSE(rec.isRecording());
    EXPECT_TRUE(stopped[0].contains(QStringLiteral("图像尺寸由 640x512 变为 384x288")))
        << stopped[0].toStdString();
    EXPECT_EQ(QFileInfo(rec.rawPath()).size(), qint64(rec.framesWritten()) * 640 * 512 * 2);
}

TEST_F(Recording, FilesThatCannotBeOpenedAreRefusedAndNothingIsLeft)
{
    QFile blocker(dir); // a file where the folder should be
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    CFrameRecorder rec;
    QString why;
    EXPECT_FALSE(rec.start(frames, dir, 100, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(rec.isRecording());
    EXPECT_FALSE(frames->IsRecording());
}

TEST_F(Recording, TwoSingleFramesWithinOneSecondAreTwoFiles)
{
    QString first, second, why;
    ASSERT_TRUE(saveOneFrame(frames, dir, &first, &why)) << why.toStdString();
    ASSERT_TRUE(saveOneFrame(frames, dir, &second, &why)) << why.toStdString();
    EXPECT_NE(first, second);
    EXPECT_EQ(QFileInfo(first).size(), 640 * 510 * 2); // the image rows only
    EXPECT_EQ(QFileInfo(second).size(), 640 * 510 * 2);
    // A recording started in that second does not take the frame's name either.
    CFrameRecorder rec;
    ASSERT_TRUE(rec.start(frames, dir, 1000, nullptr));
    rec.stop();
    EXPECT_NE(rec.rawPath(), first);
    EXPECT_NE(rec.rawPath(), second);
    EXPECT_EQ(QFileInfo(first).size(), 640 * 510 * 2);
}

TEST(RecordingWithoutStream, NoFrameBufferIsRefused)
{
    CFrameRecorder rec;
    QString why;
    EXPECT_FALSE(rec.start(nullptr, QDir::tempPath(), 100, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(saveOneFrame(nullptr, QDir::tempPath(), nullptr, &why));
}

} // namespace
