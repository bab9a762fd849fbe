#include "CoreTableTransfer.h"

#include "FileTransfer.h"
#include "UpgradeWriter.h"

#include <QFileInfo>

#include <algorithm>

namespace {

const QString kTitle = QStringLiteral("提示");

// The core erases the gain area after the confirm; blocks sent earlier are lost.
constexpr double kGainEraseMs = 3000.0;

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
    const QString name = QFileInfo(kPath).fileName();
    if (!QFileInfo(kPath).isFile()) {
        ctx.message(kTitle, QStringLiteral("增益文件 %1 不存在，请先一键校正").arg(name));
        return GainWriteResult::MissingFile;
    }
    UpgradeOptions options;
    options.pauseBeforeAddressMs = kGainEraseMs;
    options.texts.open = QStringLiteral("增益文件 %1 无法打开").arg(name);
    options.texts.empty = QStringLiteral("增益文件 %1 为空，请重新一键校正").arg(name);
    options.texts.size = QStringLiteral("发送文件大小失败");
    options.what = QStringLiteral("gain_table ") + name;
    FileSource source(kPath);
    const UpgradeResult r = writeUpgrade(ctx, gainTableAddress(tecIndex), source, options);
    if (r.ok)
        return GainWriteResult::Written;
    if (r.cancelled)
        return GainWriteResult::Cancelled;
    if (r.failedStep == UpgradeStep::Open)
        return GainWriteResult::MissingFile;
    return GainWriteResult::Failed;
}

bool writePixelTableToCore(TransferContext& ctx, const QString& tablePath)
{
    const QFileInfo info(tablePath);
    if (info.isFile() && info.size() == 0)
        ctx.message(kTitle, QStringLiteral("坏点表为空,请检查阈值设置"));
    UpgradeOptions options;
    options.allowEmpty = true; // a table without records clears the core's table
    options.reload = true;
    options.texts.open = QString(); // nothing to send: the sequence ends silently
    options.texts.size = QStringLiteral("发送文件大小失败");
    options.what = QStringLiteral("pixel_table ") + info.fileName();
    FileSource source(tablePath);
    if (!writeUpgrade(ctx, kPixelTableAddress, source, options).ok)
        return false;
    ctx.message(kTitle, QStringLiteral("写入数据完毕"));
    return true;
}

bool resetCorePixelTable(TransferContext& ctx)
{
    UpgradeOptions options;
    options.reload = true;
    options.texts.block = QStringLiteral("重置坏点表失败");
    options.what = QStringLiteral("pixel_table reset");
    MemorySource source(fixedPixelRecord());
    if (!writeUpgrade(ctx, kPixelTableAddress, source, options).ok)
        return false;
    ctx.message(kTitle, QStringLiteral("重置坏点表成功"));
    return true;
}

bool readCorePixelTable(TransferContext& ctx, const QString& path)
{
    return readBackToFile(ctx, 1, path, ReadBackVariant::VideoPage, EmptySetPolicy::EmptyFile);
}
