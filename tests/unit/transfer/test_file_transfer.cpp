// The page-level file write, the read-back sequence, the OCC run and the ".dat"
// conversion against the virtual camera.
#include "CComonFun.h"
#include "DataExchange.h"
#include "FileTransfer.h"
#include "ModuleInteract.h"
#include "TestSupport.h"
#include "TransferRig.h"
#include "../protocol/FakeLink.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace transfertest;

namespace {

QString writeTemp(QTemporaryDir& dir, const QString& name, const QByteArray& data)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(data);
    return path;
}

QString msg(const char* text)
{
    return QStringLiteral("提示|") + QString::fromUtf8(text);
}

} // namespace

TEST(PageFileWrite, ThreeThousandBytesEndWithOneEmptyBlock)
{
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir dir;
    const QByteArray data = pattern(3000, 7);
    RecordingContext ctx;
    ASSERT_TRUE(writeFileToCore(ctx, 0x1640000, writeTemp(dir, "tec4.bin", data)));

    EXPECT_TRUE(ctx.messages.isEmpty()) << ctx.messages.join(";").toStdString();
    const auto blocks = rig.blockData(0xEE);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0].size(), 1000);
    EXPECT_EQ(blocks[2].size(), 1000);
    EXPECT_TRUE(blocks[3].isEmpty());
    EXPECT_EQ(rig.blockData(0xE3).at(0), QByteArray::fromHex("01640000"));
    EXPECT_EQ(rig.blockData(0xE4).at(0), QByteArray::fromHex("00000bb8"));
    EXPECT_EQ(ctx.progress, (QVector<int>{0, 33, 66, 100, 100})) << "the empty block keeps the bar at 100";
    EXPECT_EQ(rig.flash(0x1640000, 3000), data);
    EXPECT_TRUE(rig.lastRequestIsExit());
    EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
}

TEST(PageFileWrite, EveryFailureIsWordedAndFollowedByTheExit)
{
    struct Case {
        const char* fault;
        const char* text;
    };
    const Case cases[] = {
        {"zero@0xF0E0", "进入升级模式失败"},
        {"zero@0xF0E1", "进入升级模式写入失败"},
        {"zero@block:0xE3", "发送升级地址失败"},
        {"zero@block:0xE4", "发送升级包个数失败"},
        {"zero@block:0xEE#3", "文件写入失败"},
        {"zero@block:0xE5", "升级结束失败"},
        {"zero@block:0xE6", "退出升级失败\n机芯可能仍处于升级模式，请重新上电后再试"},
    };
    QTemporaryDir dir;
    const QString path = writeTemp(dir, "f.bin", pattern(2600, 3));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault(c.fault));
        RecordingContext ctx;
        EXPECT_FALSE(writeFileToCore(ctx, 0x1000000, path));
        EXPECT_EQ(ctx.messages, QStringList{msg(c.text)});
        EXPECT_TRUE(rig.lastRequestIsExit());
        if (std::string(c.fault) != "zero@block:0xE6") {
            EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
        }
    }
}

TEST(PageFileWrite, BadFilesNeverLeaveTheCoreInUpgradeMode)
{
    QTemporaryDir dir;
    {
        // Missing file: worded, and the core never enters upgrade mode.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        RecordingContext ctx;
        EXPECT_FALSE(writeFileToCore(ctx, 0x1000000, dir.filePath("missing.bin")));
        EXPECT_EQ(ctx.messages, QStringList{msg("文件打开失败")});
        EXPECT_TRUE(rig.requests().empty());
    }
    {
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        RecordingContext ctx;
        EXPECT_FALSE(writeFileToCore(ctx, 0x1000000, writeTemp(dir, "empty.bin", QByteArray())));
        EXPECT_EQ(ctx.messages, QStringList{msg("文件为空，未写入")});
        EXPECT_TRUE(rig.requests().empty());
    }
    {
        // Larger than the ISP area: refused before anything is sent.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        RecordingContext ctx;
        EXPECT_FALSE(writeFileToCore(ctx, 0x1428000, writeTemp(dir, "big.bin", pattern(0x2001, 1))));
        ASSERT_EQ(ctx.messages.size(), 1);
        EXPECT_TRUE(ctx.messages[0].contains("8193")) << ctx.messages[0].toStdString();
        EXPECT_TRUE(rig.requests().empty());
    }
}

TEST(ReadBack, FourKilobyteSetComesBackByteForByte)
{
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    const QByteArray data = pattern(4096, 11);
    ASSERT_TRUE(ModuleInteract::instance()->writeBlocksAt(
        0x1100000, 0, reinterpret_cast<const unsigned char*>(data.constData()), data.size()));
    rig.core().clearLog();

    irtest::ScopedDataRoot root;
    const QString out = root.file("Occ2.bin");
    RecordingContext ctx;
    ASSERT_TRUE(readBackToFile(ctx, 3, out));
    EXPECT_TRUE(ctx.messages.isEmpty()) << ctx.messages.join(";").toStdString();
    EXPECT_EQ(irtest::readAll(out), data);
    EXPECT_EQ(rig.blockData(0xE8).at(0), QByteArray(1, '\x03'));
    // 4096 bytes in blocks of at most 254: 17 block requests.
    EXPECT_EQ(rig.blockData(0xEA).size(), 17u);
    EXPECT_EQ(rig.blockCommands().back(), 0xE6);
    EXPECT_EQ(ctx.progress.last(), 100);

    // The video page's variant reads the same set.
    QByteArray back;
    RecordingContext ctx2;
    ASSERT_TRUE(readBackToMemory(ctx2, 3, &back, ReadBackVariant::VideoPage));
    EXPECT_EQ(back, data);
}

TEST(ReadBack, FailuresAreWordedExitedAndKeepAnEarlierFile)
{
    irtest::ScopedDataRoot root;
    {
        // Output in a folder that does not exist.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(ModuleInteract::instance()->writeBlocksAt(0x1400000, 0, reinterpret_cast<const unsigned char*>("abcd"), 4));
        RecordingContext ctx;
        const QString out = root.path() + "/no/such/dir/Pixel.bin";
        EXPECT_FALSE(readBackToFile(ctx, 1, out));
        EXPECT_EQ(ctx.messages, QStringList{msg("文件打开失败")});
        EXPECT_TRUE(rig.lastRequestIsExit());
        EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
        EXPECT_FALSE(QFile::exists(out));
    }
    {
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault("zero@block:0xE8"));
        RecordingContext ctx;
        EXPECT_FALSE(readBackToFile(ctx, 2, root.file("x.bin")));
        EXPECT_EQ(ctx.messages, QStringList{msg("读取开始失败")});
        EXPECT_TRUE(rig.lastRequestIsExit());
    }
    {
        // A block that never comes: the earlier file of that name stays as it was.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        const QByteArray data = pattern(1000, 2);
        ASSERT_TRUE(ModuleInteract::instance()->writeBlocksAt(
            0x1000000, 0, reinterpret_cast<const unsigned char*>(data.constData()), data.size()));
        const QString out = root.file("Occ1.bin");
        ASSERT_TRUE(CComonFun::writeFile(out, "earlier read-back"));
        ASSERT_TRUE(rig.fault("zero@block:0xEA#3"));
        RecordingContext ctx;
        EXPECT_FALSE(readBackToFile(ctx, 2, out));
        EXPECT_EQ(ctx.messages, QStringList{msg("文件读取失败")});
        EXPECT_TRUE(rig.lastRequestIsExit());
        EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
        EXPECT_EQ(irtest::readAll(out), QByteArray("earlier read-back"));
    }
    {
        // Nothing stored: said at once instead of waiting out the block budget.
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        RecordingContext ctx;
        EXPECT_FALSE(readBackToFile(ctx, 9, root.file("K4.bin")));
        EXPECT_EQ(ctx.messages.size(), 1);
        EXPECT_TRUE(rig.blockData(0xEA).empty());
        EXPECT_TRUE(rig.lastRequestIsExit());
        EXPECT_FALSE(QFile::exists(root.file("K4.bin")));
    }
}

TEST(OccRun, ARefusedStartIsReportedWithoutTheSixMinuteWait)
{
    // The countdown of an accepted start is shown by the page's test.
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    ASSERT_TRUE(rig.fault("zero@0xF020"));
    RecordingContext ctx;
    EXPECT_FALSE(runOccCorrection(ctx, 1));
    EXPECT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.status.isEmpty());
    EXPECT_FALSE(runOccCorrection(ctx, 5));
}

TEST(DatConversion, DecimalLinesBecomeBigEndianValues)
{
    QTemporaryDir dir;
    const QString text = writeTemp(dir, "t.dat", "1\n256\r\n-1\n\n   7xyz\n");
    QString bin;
    ASSERT_TRUE(convertDatFile(text, 2, &bin));
    EXPECT_EQ(bin, dir.filePath("t.bin"));
    EXPECT_EQ(irtest::readAll(bin), QByteArray::fromHex("00010100ffff0007"));
    ASSERT_TRUE(convertDatFile(text, 4, &bin));
    EXPECT_EQ(irtest::readAll(bin), QByteArray::fromHex("0000000100000100ffffffff00000007"));

    // A line longer than 31 characters is read as two.
    const QString longLine = writeTemp(dir, "l.dat", QByteArray(31, '1') + "\n2\n");
    ASSERT_TRUE(convertDatFile(longLine, 2, &bin));
    EXPECT_EQ(irtest::readAll(bin).size(), 4);

    EXPECT_EQ(datBinaryPath("a.b/c.dat"), QStringLiteral("a.b/c.bin"));
    EXPECT_EQ(datBinaryPath("a.b/cdat"), QStringLiteral("a.b/cdat.bin"));
    EXPECT_TRUE(isDatPath("x/occ.dat"));
    EXPECT_FALSE(isDatPath("x/occ.DAT"));
    EXPECT_FALSE(convertDatFile(dir.filePath("none.dat"), 2, &bin));
}

// A core whose blocks add up to more than the length it announced: the file would not
// be what it holds, so nothing is saved and the earlier file stays.
TEST(ReadBack, BlocksLongerThanTheAnnouncedLengthAreRefused)
{
    auto frame = [](std::initializer_list<int> head, const QByteArray& payload) {
        QByteArray b;
        for (int x : head)
            b.append(char(x));
        b += payload;
        unsigned sum = 0;
        for (int i = 2; i < b.size(); ++i)
            sum += uchar(b[i]);
        return b.append(char(sum & 0xFF)).append(char(0xFF));
    };
    FakeLink link;
    link.setResponder([&](FakeLink& l, const QByteArray& req) {
        if (uchar(req[0]) == 0xF0) {
            l.queueLocked(frame({0xF0, 0x07, 0x36, 0xFE, 0x00}, QByteArray("\0\0\0\1", 4)));
            return;
        }
        const int cmd = uchar(req[3]);
        if (cmd == 0xE9)
            l.queueLocked(frame({0xF1, 0x05, 0xE9}, QByteArray("\0\0\x05\x78", 4))); // 1400
        else if (cmd == 0xEA)
            l.queueLocked(frame({0xF1, 251, 0xEA}, QByteArray(250, 'k')));
        else
            l.queueLocked(frame({0xF1, 0x02, cmd}, QByteArray(1, 1)));
    });
    ScopedLink use(&link);
    const double prevPoll = DataExchange::pollIntervalMs();
    DataExchange::setPollIntervalMs(1);
    QTemporaryDir dir;
    const QString path = dir.filePath("table.bin");
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("earlier");
    }
    RecordingContext ctx;
    EXPECT_FALSE(readBackToFile(ctx, 10, path));
    DataExchange::setPollIntervalMs(prevPoll);
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].contains("1500")) << ctx.messages[0].toStdString();
    EXPECT_TRUE(ctx.messages[0].contains("1400"));
    EXPECT_EQ(irtest::readAll(path), QByteArray("earlier"));
    EXPECT_EQ(uchar(link.lastWrite()[3]), 0xE6) << "upgrade mode left";
}
