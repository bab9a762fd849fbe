// Every sequence that writes flash goes through the one upgrade-mode writer: the exact
// frames each caller sends, and what follows a data block the core refuses.
#include "CoreTableTransfer.h"
#include "FileTransfer.h"
#include "ModuleInteract.h"
#include "TransferRig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <functional>

using namespace transfertest;

namespace {


struct Variant {
    const char* name;
    uint32_t address;
    // Writes `data` the caller's way; true when it reports success.
    std::function<bool(RecordingContext&, const QString& file, const QByteArray& data)> write;
    QStringList tail; // the frames after the data blocks
    bool emptyLastBlock;
};

QString addressWord(uint32_t a)
{
    return QStringLiteral("E3 %1").arg(a, 8, 16, QLatin1Char('0'));
}

const Variant kVariants[] = {
    {"PageLevel", 0x1000000,
     [](RecordingContext& ctx, const QString& file, const QByteArray&) { return writeFileToCore(ctx, 0x1000000, file); },
     {"E5", "E6"}, true},
    {"GainTable", 0xD00000,
     [](RecordingContext& ctx, const QString& file, const QByteArray&) {
         return writeGainTableToCore(ctx, 1, file) == GainWriteResult::Written;
     },
     {"E5", "E6"}, true},
    {"PixelTableWithReload", 0x1400000,
     [](RecordingContext& ctx, const QString& file, const QByteArray&) { return writePixelTableToCore(ctx, file); },
     {"E5", "EC 01", "E6"}, true},
    {"AnyAddress", 0x1430000,
     [](RecordingContext&, const QString&, const QByteArray& data) {
         return ModuleInteract::instance()->writeBlocksAt(
             0x1430000, 0, reinterpret_cast<const unsigned char*>(data.constData()), data.size());
     },
     {"E5", "E6"}, false},
};

class UpgradeWriterVariant : public ::testing::TestWithParam<Variant> {
protected:
    QString file(const QByteArray& data)
    {
        const QString path = m_dir.filePath("data.bin");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
        return path;
    }
    QTemporaryDir m_dir;
};

} // namespace

TEST_P(UpgradeWriterVariant, SendsExactlyItsFramesAndTheBytesReachFlash)
{
    const Variant& v = GetParam();
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    RecordingContext ctx;
    const QByteArray data = pattern(2000, 5); // a multiple of the block size
    ASSERT_TRUE(v.write(ctx, file(data), data)) << ctx.messages.join('\n').toStdString();

    QStringList want{"F0E0=1", "F0E1=1", addressWord(v.address), "E4 000007d0", "EE 1000", "EE 1000"};
    if (v.emptyLastBlock)
        want << "EE 0";
    want << v.tail;
    EXPECT_EQ(rig.requestLines(), want);
    EXPECT_EQ(rig.flash(v.address, data.size()), data);
    EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
}

TEST_P(UpgradeWriterVariant, RefusedDataBlockIsFollowedByTheExitNeverByTheEnd)
{
    const Variant& v = GetParam();
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    ASSERT_TRUE(rig.fault("zero@block:0xEE#2"));
    RecordingContext ctx;
    const QByteArray data = pattern(3500, 7);
    EXPECT_FALSE(v.write(ctx, file(data), data));

    const QStringList got = rig.requestLines();
    ASSERT_GE(got.size(), 2);
    EXPECT_EQ(got.mid(got.size() - 3), (QStringList{"EE 1000", "EE 1000", "E6"}));
    EXPECT_FALSE(got.contains("E5")) << "ending would commit the partial file";
    EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
    EXPECT_EQ(rig.flash(v.address, 4), QByteArray(4, '\xff')) << "nothing reached flash";
}

INSTANTIATE_TEST_SUITE_P(Callers, UpgradeWriterVariant, ::testing::ValuesIn(kVariants),
                         [](const ::testing::TestParamInfo<Variant>& info) { return std::string(info.param.name); });

TEST(UpgradeWriter, FileSourceIsReadInBlocksAndAFileThatShrinksFailsBeforeTheEnd)
{
    // The source reports the size it opened with, then runs dry: the writer must not
    // pad, must not end, and must leave upgrade mode.
    class ShrinkingSource : public UpgradeSource {
    public:
        bool open() override { return true; }
        qint64 size() const override { return 2500; }
        qint64 read(char* buf, qint64 max) override
        {
            reads.push_back(max);
            if (given >= 1200)
                return 0;
            const qint64 n = std::min<qint64>(max, 1200 - given);
            std::fill(buf, buf + n, 'x');
            given += n;
            return n;
        }
        qint64 given = 0;
        std::vector<qint64> reads;
    } source;
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    RecordingContext ctx;
    const UpgradeResult r = writeUpgrade(ctx, 0x1000000, source);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.code, ModuleInteract::ErrSource);
    EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|文件读取失败")});
    EXPECT_EQ(rig.requestLines(), (QStringList{"F0E0=1", "F0E1=1", addressWord(0x1000000), "E4 000009c4", "EE 1000", "E6"}));
    for (qint64 m : source.reads)
        EXPECT_LE(m, 1000) << "a source is never asked for more than one block";
}

// A refused exit is asked again (the core otherwise stays in upgrade mode and ignores
// the next page); a silent one is not, each try would cost the whole block budget.
TEST(UpgradeWriter, RefusedExitIsRetriedSilentExitIsNot)
{
    const struct {
        const char* fault;
        int exits;
        bool ok;
    } cases[] = {
        {"zero@block:0xE6*2", 3, true},
        {"zero@block:0xE6", 1 + kExitRetries, false},
        {"noreply@block:0xE6", 1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        TransferRig rig;
        ASSERT_TRUE(rig.ok()) << rig.error();
        ASSERT_TRUE(rig.fault(c.fault));
        RecordingContext ctx;
        const QByteArray data = pattern(1500, 3);
        MemorySource source(data.constData(), data.size());
        const UpgradeResult r = writeUpgrade(ctx, 0x1000000, source);
        EXPECT_EQ(r.ok, c.ok);
        const QStringList got = rig.requestLines();
        EXPECT_EQ(got.count("E6"), c.exits);
        EXPECT_EQ(got.count("E5"), 1);
        if (!c.ok)
            EXPECT_EQ(ctx.messages, QStringList{QStringLiteral("提示|") + exitFailedText()});
    }
}
