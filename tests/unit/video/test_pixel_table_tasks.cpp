// The video page's bad-pixel table sequences without the page: the table built from
// marks and the local files, and the two detectors on live frames of the virtual
// camera, merged with the table the core holds.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CPixelDetector.h"
#include "CalibrationTree.h"
#include "CoreTableTransfer.h"
#include "DataExchange.h"
#include "Pace.h"
#include "PixelTableTasks.h"
#include "VirtualCamera.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QStringList>
#include "LiveCamera.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <utility>

namespace {

QString nativeAbs(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

using PixelTableTasks::Point;
using PixelSet = std::set<std::pair<int, int>>; // (y, x): scan order

class Recorder : public TransferContext {
public:
    void message(const QString& title, const QString& text) override { messages << title + "|" + text; }
    void setProgress(int percent) override { progress.push_back(percent); }
    QStringList messages;
    std::vector<int> progress;
};

QByteArray record(int x, int y, uint8_t mask)
{
    uint8_t r[CPixelDetector::kRecordBytes];
    CPixelDetector::EncodeRecord(x, y, mask, r);
    return QByteArray(reinterpret_cast<const char*>(r), sizeof r);
}

QByteArray tableOf(const PixelSet& pixels)
{
    QByteArray out;
    for (const auto& p : pixels)
        out += record(p.second, p.first, 0);
    return out;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Pixels of a table, checking that it is in scan order without duplicates.
PixelSet pixelsOf(const QByteArray& table, bool* ordered)
{
    PixelSet out;
    *ordered = table.size() % 4 == 0;
    std::pair<int, int> last(-1, -1);
    for (int i = 0; i + 4 <= table.size(); i += 4) {
        int x = -1, y = -1;
        CPixelDetector::DecodeRecord(reinterpret_cast<const uint8_t*>(table.constData() + i), &x, &y, nullptr);
        const std::pair<int, int> p(y, x);
        *ordered = *ordered && p > last;
        last = p;
        out.insert(p);
    }
    return out;
}

// ---------------------------------------------------------------------------------
// The table from the mark list and the local files.

class LocalTable : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree = std::make_unique<CalibrationTree>(id);
        QDir(tree->coreDir()).removeRecursively();
    }
    const QString id = QStringLiteral("LOCAL-1");
    std::unique_ptr<CalibrationTree> tree;
    Recorder ctx;
};

TEST_F(LocalTable, MarksMergeIntoTheBackupWhenNoWorkingTableExists)
{
    // The backup holds (5, 5) twice and (300, 20); the marks add (0, 0) and (5, 5) again.
    const QByteArray bak = record(5, 5, 0) + record(300, 20, 0) + record(5, 5, 0xFF);
    ASSERT_TRUE(writeBytes(tree->pixelBackup(), bak));
    ASSERT_TRUE(PixelTableTasks::createTable(ctx, {{5, 5}, {0, 0}}, 640, 510, id));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|坏点表生成成功\n文件：") + nativeAbs(CalibrationTree(id).pixelTable())});
    const QByteArray expected = QByteArray::fromHex("2f001001") // (0, 0): five neighbours outside
        + QByteArray::fromHex("00006006")                       // (5, 5) once
        + QByteArray::fromHex("0001512d");                      // (300, 20)
    EXPECT_EQ(readBytes(tree->pixelTable()).toHex(), expected.toHex());
    EXPECT_EQ(readBytes(tree->pixelBackup()), bak) << "the backup is only read";
}

TEST_F(LocalTable, WorkingTableWinsOverTheBackup)
{
    ASSERT_TRUE(writeBytes(tree->pixelTable(), record(10, 10, 0)));
    ASSERT_TRUE(writeBytes(tree->pixelBackup(), record(20, 20, 0)));
    ASSERT_TRUE(PixelTableTasks::createTable(ctx, {}, 640, 510, id));
    bool ordered = false;
    EXPECT_EQ(pixelsOf(readBytes(tree->pixelTable()), &ordered), (PixelSet{{10, 10}}));
}

TEST_F(LocalTable, WithoutAnyLocalTableNothingIsWritten)
{
    EXPECT_FALSE(PixelTableTasks::createTable(ctx, {{1, 1}}, 640, 510, id));
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("错误|本地坏点表不存在, 请先进行自动检测")});
    EXPECT_FALSE(QFile::exists(tree->pixelTable()));
}

TEST_F(LocalTable, ThousandsOfMarksAllBecomeRecords)
{
    // Far more marks than one 4092-byte record buffer holds.
    std::vector<Point> marks;
    for (int y = 0; y < 100; y += 2)
        for (int x = 0; x < 200; x += 2)
            marks.push_back({x, y});
    marks.push_back({5000, 3}); // outside the image: ignored, not written anywhere
    ASSERT_TRUE(writeBytes(tree->pixelTable(), QByteArray()));
    ASSERT_TRUE(PixelTableTasks::createTable(ctx, marks, 640, 510, id));
    bool ordered = false;
    const PixelSet got = pixelsOf(readBytes(tree->pixelTable()), &ordered);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(got.size(), 5000u);
    EXPECT_EQ(*got.rbegin(), std::make_pair(98, 198));
}

TEST_F(LocalTable, OversizedFramesAreRefusedBeforeAnyFileWork)
{
    ASSERT_TRUE(writeBytes(tree->pixelBackup(), record(1, 1, 0)));
    EXPECT_FALSE(PixelTableTasks::createTable(ctx, {{1, 1}}, 1921, 1441, id));
    EXPECT_FALSE(PixelTableTasks::createTable(ctx, {{1, 1}}, 4096, 8, id)); // a column the record cannot hold
    PixelTableTasks::Image big;
    big.width = 1921;
    big.height = 1441;
    big.pixels.assign(size_t(big.width) * size_t(big.height), 100);
    std::vector<Point> added;
    for (const auto solution : {PixelTableTasks::Solution::V10, PixelTableTasks::Solution::V20})
        EXPECT_FALSE(PixelTableTasks::autoDetect(ctx, solution, CPixelDetector(), big, {}, id, &added));
    ASSERT_EQ(ctx.messages.size(), 4);
    for (const QString& m : ctx.messages)
        EXPECT_TRUE(m.startsWith(QStringLiteral("错误|图像尺寸"))) << m.toStdString();
    EXPECT_TRUE(ctx.messages[0].contains("1921 x 1441"));
    EXPECT_FALSE(QFile::exists(tree->pixelTable()));
    EXPECT_TRUE(PixelTableTasks::unsupportedSizeText(1920, 1440).isEmpty());
}

TEST_F(LocalTable, TableFilesAreReadWithinTheirBoundAndWrittenWhole)
{
    ASSERT_TRUE(writeBytes(tree->pixelTable(), QByteArray(100, 'x')));
    QByteArray got;
    ASSERT_TRUE(PixelTableTasks::readTableFile(tree->pixelTable(), 40, &got));
    EXPECT_EQ(got.size(), 40);
    EXPECT_FALSE(PixelTableTasks::readTableFile(tree->pixelBackup(), 40, &got));
    EXPECT_TRUE(got.isEmpty());

    // A table that cannot be written leaves nothing behind, and the old one as it was.
    const QString blocked = tree->pixelDir() + QStringLiteral("/FinalPixel.bin/inner.bin");
    EXPECT_FALSE(PixelTableTasks::writeTableFile(blocked, {1, 2, 3, 4}));
    EXPECT_EQ(readBytes(tree->pixelTable()), QByteArray(100, 'x'));
    ASSERT_TRUE(PixelTableTasks::writeTableFile(tree->pixelTable(), {1, 2, 3, 4}));
    EXPECT_EQ(readBytes(tree->pixelTable()), QByteArray::fromHex("01020304"));
    EXPECT_EQ(QDir(tree->pixelDir()).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no temporary left over";
}

// ---------------------------------------------------------------------------------
// Detection on the virtual camera's live frames.

class LiveDetect : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::CameraOptions o = irtest::liveOptions();
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        ASSERT_TRUE(net.StartStream());
        tree = std::make_unique<CalibrationTree>(id);
        QDir(tree->coreDir()).removeRecursively();
        // Far above the scene's edges and the sensor's spread, far below a dead or
        // hot pixel's distance from its neighbours.
        detector.SetThresholds(1500, 1500);
    }
    void TearDown() override
    {
        irtest::stopLiveCamera(cam.get(), &net);
    }

    // Puts `pixels` into the core as its bad-pixel table.
    void giveCoreTable(const PixelSet& pixels)
    {
        const QString path = tree->pixelDir() + QStringLiteral("/core.bin");
        ASSERT_TRUE(writeBytes(path, tableOf(pixels)));
        Recorder send;
        ASSERT_TRUE(writePixelTableToCore(send, path)) << send.messages.join('\n').toStdString();
        QFile::remove(path);
    }
    PixelSet defects() const
    {
        PixelSet out;
        for (const auto& p : cam->stream()->deadPixels())
            out.insert({p.second, p.first});
        for (const auto& p : cam->stream()->hotPixels())
            out.insert({p.second, p.first});
        return out;
    }
    PixelTableTasks::Image capture()
    {
        PixelTableTasks::Image image;
        EXPECT_TRUE(PixelTableTasks::captureImage(ctx, net.FrameBuffer(), &image)) << ctx.messages.join('\n').toStdString();
        return image;
    }

    const QString id = QStringLiteral("LIVE-1");
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<CalibrationTree> tree;
    CPixelDetector detector;
    Recorder ctx;
};

TEST_F(LiveDetect, V10FindsTheDeadAndHotPixelsAndKeepsTheCoresTable)
{
    const PixelSet core = {{15, 322}, {40, 41}};
    giveCoreTable(core);
    const PixelTableTasks::Image image = capture();
    ASSERT_EQ(image.width, 640);
    ASSERT_EQ(image.height, 510);
    const PixelSet truth = defects();
    ASSERT_EQ(truth.size(), 12u);
    // One defect already marked by hand, and one ordinary marked pixel.
    const auto firstHot = cam->stream()->hotPixels().front();
    const std::vector<Point> marks = {{firstHot.first, firstHot.second}, {200, 100}};

    std::vector<Point> added;
    ASSERT_TRUE(PixelTableTasks::autoDetect(ctx, PixelTableTasks::Solution::V10, detector, image, marks, id, &added))
        << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|自动检测完成\n文件：") + nativeAbs(CalibrationTree(id).pixelTable())});
    PixelSet found;
    for (const Point& p : added)
        found.insert({p.y, p.x});
    PixelSet expectedAdded = truth;
    expectedAdded.erase({firstHot.second, firstHot.first});
    EXPECT_EQ(found, expectedAdded) << "every defect once, the marked one not again";
    EXPECT_EQ(added.size(), found.size());

    bool ordered = false;
    const PixelSet table = pixelsOf(readBytes(tree->pixelTable()), &ordered);
    EXPECT_TRUE(ordered);
    PixelSet expected = truth;
    expected.insert(core.begin(), core.end());
    expected.insert({100, 200});
    EXPECT_EQ(table, expected);
    ASSERT_FALSE(ctx.progress.empty());
    EXPECT_EQ(ctx.progress.back(), 100);
    EXPECT_TRUE(std::is_sorted(ctx.progress.begin(), ctx.progress.end()));
}

TEST_F(LiveDetect, V20StartsFromTheCoresTable)
{
    // The core already corrects one hot pixel and one ordinary pixel.
    const auto hot = cam->stream()->hotPixels();
    ASSERT_FALSE(hot.empty());
    const PixelSet core = {{hot[0].second, hot[0].first}, {30, 31}};
    giveCoreTable(core);
    const PixelTableTasks::Image image = capture();
    int found = -1;
    ASSERT_TRUE(PixelTableTasks::autoDetect(ctx, PixelTableTasks::Solution::V20, detector, image, {}, id, nullptr, &found))
        << ctx.messages.join('\n').toStdString();
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|自动检测完成\n文件：") + nativeAbs(CalibrationTree(id).pixelTable())});
    const PixelSet truth = defects();
    EXPECT_EQ(found, int(truth.size()) - 1) << "the hot pixel the core knew is not found again";
    bool ordered = false;
    PixelSet expected = truth;
    expected.insert(core.begin(), core.end());
    EXPECT_EQ(pixelsOf(readBytes(tree->pixelTable()), &ordered), expected);
    EXPECT_TRUE(ordered);
}

TEST_F(LiveDetect, CaptureEndsWithAMessageWhenNoFrameComes)
{
    PixelTableTasks::Image image;
    EXPECT_FALSE(PixelTableTasks::captureImage(ctx, nullptr, &image));
    net.StopStream();
    // The last packets in flight land first: the count stands still for a while.
    quint64 last = net.FrameBuffer()->FrameCount();
    int still = 0;
    ASSERT_TRUE(irtest::waitFor([&] {
        const quint64 now = net.FrameBuffer()->FrameCount();
        still = now == last ? still + 1 : 0;
        last = now;
        return still >= 200;
    }, 10000));
    net.FrameBuffer()->SetCaptureStallMs(200);
    EXPECT_FALSE(PixelTableTasks::captureImage(ctx, net.FrameBuffer(), &image));
    EXPECT_EQ(ctx.messages, (QStringList{QStringLiteral("提示|未取流, 请先开启取流!"),
                                         QStringLiteral("提示|采集图像失败, 请确认视频流正常后重试!")}));
    EXPECT_TRUE(image.pixels.empty());
}

} // namespace
