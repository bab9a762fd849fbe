#include "CoreTableTransfer.h"
#include "CoreCommands.h"

#include "CFramePacker.h"
#include "DataExchange.h"
#include "FileTransfer.h"
#include "Pace.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

using namespace corecmd;

const QString kTitle = QStringLiteral("提示");

constexpr int kBlock = 1000;
// The core erases the gain area after the confirm; blocks sent earlier are lost.
constexpr double kGainEraseMs = 3000.0;

bool sendWord(int cmd, uint32_t value)
{
    unsigned char word[4];
    writeU32BE(value, word);
    return DataExchange::instance()->writeBlock(cmd, word, 4);
}

enum class BlockResult { Ok, ReadError, SendError, Cancelled };

// The file in 1000-byte blocks; a file of a multiple of 1000 bytes ends with an empty
// block, as the core expects. An empty file sends nothing.
BlockResult sendBlocks(TransferContext& ctx, QFile& file)
{
    const qint64 size = file.size();
    if (size <= 0)
        return BlockResult::Ok;
    const qint64 blocks = (size + kBlock - 1) / kBlock;
    DataExchange* dx = DataExchange::instance();
    char buf[kBlock];
    qint64 count = 0;
    for (;;) {
        if (ctx.cancelled())
            return BlockResult::Cancelled;
        const qint64 got = file.read(buf, kBlock);
        if (got < 0)
            return BlockResult::ReadError;
        if (!dx->writeBlock(kCmdData, buf, int(got)))
            return BlockResult::SendError;
        ++count;
        ctx.setProgress(int(std::min<qint64>(100, count * 100 / blocks)));
        if (got != kBlock)
            return BlockResult::Ok;
    }
}

bool blockFailure(TransferContext& ctx, BlockResult r)
{
    switch (r) {
    case BlockResult::Ok:
        return true;
    case BlockResult::ReadError:
        return failAndExitUpgrade(ctx, QStringLiteral("文件读取失败"));
    case BlockResult::SendError:
        return failAndExitUpgrade(ctx, QStringLiteral("文件写入失败"));
    case BlockResult::Cancelled:
        DataExchange::instance()->writeBlock(kCmdExit, nullptr, 0);
        return false;
    }
    return false;
}

bool endAndExit(TransferContext& ctx, bool reload)
{
    DataExchange* dx = DataExchange::instance();
    if (!dx->writeBlock(kCmdEnd, nullptr, 0))
        return failAndExitUpgrade(ctx, QStringLiteral("升级结束失败"));
    if (reload) {
        const unsigned char one = 1;
        if (!dx->writeBlock(kCmdReload, &one, 1))
            return failAndExitUpgrade(ctx, QStringLiteral("重新导入对应标定数据到内存失败"));
    }
    if (!dx->writeBlock(kCmdExit, nullptr, 0)) {
        ctx.message(kTitle, QStringLiteral("退出升级失败"));
        return false;
    }
    return true;
}

} // namespace

uint32_t gainTableAddress(int tecIndex)
{
    return 0xC00000u + uint32_t(std::clamp(tecIndex, 0, 3)) * 0x100000u;
}

QByteArray fixedPixelRecord()
{
    return QByteArray::fromHex("00010143");
}

GainWriteResult writeGainTableToCore(TransferContext& ctx, int tecIndex, const QString& kPath)
{
    // Checked before upgrade mode: a missing file must not leave the core in it.
    if (!QFileInfo(kPath).isFile()) {
        ctx.message(kTitle, QStringLiteral("增益文件 %1 不存在，请先一键校正").arg(QFileInfo(kPath).fileName()));
        return GainWriteResult::MissingFile;
    }
    QFile file(kPath);
    if (!file.open(QIODevice::ReadOnly)) {
        ctx.message(kTitle, QStringLiteral("增益文件 %1 无法打开").arg(QFileInfo(kPath).fileName()));
        return GainWriteResult::MissingFile;
    }
    if (!enterUpgradeMode(ctx))
        return GainWriteResult::Failed;
    ctx.setProgress(0);
    for (double waited = 0; waited < kGainEraseMs; waited += 100.0) {
        if (ctx.cancelled()) {
            DataExchange::instance()->writeBlock(kCmdExit, nullptr, 0);
            return GainWriteResult::Cancelled;
        }
        Pace::sleepMs(100.0);
    }
    if (!sendWord(kCmdAddress, gainTableAddress(tecIndex))) {
        failAndExitUpgrade(ctx, QStringLiteral("发送升级地址失败"));
        return GainWriteResult::Failed;
    }
    if (!sendWord(kCmdSize, uint32_t(file.size()))) {
        failAndExitUpgrade(ctx, QStringLiteral("发送文件大小失败"));
        return GainWriteResult::Failed;
    }
    const BlockResult r = sendBlocks(ctx, file);
    if (r == BlockResult::Cancelled) {
        blockFailure(ctx, r);
        return GainWriteResult::Cancelled;
    }
    if (!blockFailure(ctx, r))
        return GainWriteResult::Failed;
    return endAndExit(ctx, false) ? GainWriteResult::Written : GainWriteResult::Failed;
}

bool writePixelTableToCore(TransferContext& ctx, const QString& tablePath)
{
    if (!enterUpgradeMode(ctx))
        return false;
    QFile file(tablePath);
    if (!file.open(QIODevice::ReadOnly)) {
        // Nothing to send; the core still leaves upgrade mode.
        DataExchange::instance()->writeBlock(kCmdExit, nullptr, 0);
        return false;
    }
    if (file.size() == 0)
        ctx.message(kTitle, QStringLiteral("坏点表为空,请检查阈值设置"));
    ctx.setProgress(0);
    if (!sendWord(kCmdAddress, kPixelTableAddress))
        return failAndExitUpgrade(ctx, QStringLiteral("发送升级地址失败"));
    if (!sendWord(kCmdSize, uint32_t(file.size())))
        return failAndExitUpgrade(ctx, QStringLiteral("发送文件大小失败"));
    if (!blockFailure(ctx, sendBlocks(ctx, file)))
        return false;
    if (!endAndExit(ctx, true))
        return false;
    ctx.setProgress(100);
    ctx.message(kTitle, QStringLiteral("写入数据完毕"));
    return true;
}

bool resetCorePixelTable(TransferContext& ctx)
{
    DataExchange* dx = DataExchange::instance();
    const QByteArray record = fixedPixelRecord();
    if (!enterUpgradeMode(ctx))
        return false;
    if (!sendWord(kCmdAddress, kPixelTableAddress))
        return failAndExitUpgrade(ctx, QStringLiteral("发送升级地址失败"));
    if (!sendWord(kCmdSize, uint32_t(record.size())))
        return failAndExitUpgrade(ctx, QStringLiteral("发送升级包个数失败"));
    if (!dx->writeBlock(kCmdData, record.constData(), int(record.size())))
        return failAndExitUpgrade(ctx, QStringLiteral("重置坏点表失败"));
    if (!endAndExit(ctx, true))
        return false;
    ctx.message(kTitle, QStringLiteral("重置坏点表成功"));
    return true;
}

bool readCorePixelTable(TransferContext& ctx, const QString& path)
{
    return readBackToFile(ctx, 1, path, ReadBackVariant::VideoPage, EmptySetPolicy::EmptyFile);
}
