#include "NoShutterSequences.h"

#include "CComonFun.h"
#include "CFindFrame.h"
#include "CalibrationSequences.h"
#include "DataExchange.h"
#include "ModuleInteract.h"
#include "NoShutterMath.h"
#include "Pace.h"
#include "RemainingTime.h"
#include "UpgradeWriter.h"

#include <QDir>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>

#include <atomic>
#include <thread>
#include <vector>

namespace {

const QString kInfo = QStringLiteral("提示");
const QString kWarn = QStringLiteral("警告");
constexpr double kStepPauseMs = 1000.0;
constexpr int kCaptureShare = 40; // progress of the capture before the write's own 0..100

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Captures `n` frames while the progress and the remaining time follow the store; the
// capture itself ends by the buffer's stall time when the stream stops.
bool captureFrames(TransferContext& ctx, CFindFrame* frames, int n, std::vector<std::vector<uint16_t>>* images,
                   CaptureSize* size)
{
    if (!frames)
        return false;
    std::atomic<bool> finished{false};
    bool ok = false;
    std::thread worker([&] {
        ok = frames->StartCapture(n);
        finished = true;
    });
    RemainingTime left;
    left.start(n);
    while (!finished.load()) {
        if (ctx.cancelled())
            frames->CancelCapture();
        Pace::sleepMs(100);
        const int have = std::min(frames->CapturedCount(), n);
        ctx.setProgress(have * kCaptureShare / n);
        const QString rest = left.after(have);
        ctx.setStatus(QStringLiteral("采集中 %1/%2 帧 %3").arg(have).arg(n).arg(rest));
    }
    worker.join();
    int w = 0, h = 0;
    images->clear();
    if (!ok || !frames->GetCapturedFrames(images, &w, &h) || images->empty() || w <= 0 || h <= 0) {
        images->clear();
        return false;
    }
    if (size)
        *size = CaptureSize{w, h};
    return true;
}

UpgradeOptions calibrationWriteOptions()
{
    UpgradeOptions options;
    options.texts.size = QStringLiteral("发送文件大小失败");
    return options;
}

bool writeToCore(TransferContext& ctx, uint32_t address, const QString& path)
{
    UpgradeOptions options = calibrationWriteOptions();
    // The capture took the first part of the bar.
    options.progress = [&ctx](int percent) { ctx.setProgress(kCaptureShare + percent * (100 - kCaptureShare) / 100); };
    FileSource source(path);
    return writeUpgrade(ctx, address, source, options).ok;
}

bool saveBytes(TransferContext& ctx, const QString& path, const void* data, qint64 len)
{
    if (CComonFun::writeFile(path, static_cast<const char*>(data), len))
        return true;
    ctx.message(kInfo, QStringLiteral("写入文件失败:\n%1").arg(native(path)));
    return false;
}

bool setRegister(TransferContext& ctx, int reg, int value)
{
    if (DataExchange::instance()->writeRegister(reg, value))
        return true;
    ctx.message(kInfo, QStringLiteral("设置寄存器 0x%1 = %2 失败,机芯无应答").arg(reg, 4, 16, QLatin1Char('0')).arg(value));
    return false;
}

} // namespace

uint32_t baseAddress(int index)
{
    return ModuleInteract::regionAddress(index, SendBaseFile);
}

uint32_t nvffcAddress(int tecIndex)
{
    switch (tecIndex) {
    case 0: return 0x1430000u;
    case 1: return 0x14E0000u;
    default: return 0x1590000u; // TEC3 and TEC4 share one model
    }
}

bool sendFileAddress(int kind, int index, const QString& hexText, uint32_t* address, QString* why)
{
    if (kind == SendOtherFile || (kind == SendNucFile && index == kCustomAddressIndex)) {
        const QString text = hexText.trimmed();
        QString digits = text;
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            digits = digits.mid(2);
        bool ok = false;
        const qulonglong v = digits.toULongLong(&ok, 16);
        if (text.isEmpty()) {
            *why = QStringLiteral("地址值不能为空！");
            return false;
        }
        if (!ok || digits.isEmpty() || v >= ModuleInteract::kFlashEnd) {
            *why = QStringLiteral("地址值\"%1\"不是有效的十六进制地址(0 ~ 1FFFFFF)！").arg(text);
            return false;
        }
        *address = uint32_t(v);
        return true;
    }
    const uint32_t a = ModuleInteract::regionAddress(kind == SendPixelTable ? 0 : index, kind);
    if (a == ModuleInteract::kInvalidAddress) {
        *why = QStringLiteral("请选择目标地址！");
        return false;
    }
    *address = a;
    return true;
}

bool runBaseSequence(TransferContext& ctx, const BaseJob& job, CaptureSize* size)
{
    const uint32_t address = baseAddress(job.index);
    if (!job.frames || address == ModuleInteract::kInvalidAddress)
        return false;
    ctx.setProgress(0);
    std::vector<std::vector<uint16_t>> images;
    CaptureSize got;
    if (!captureFrames(ctx, job.frames, kBaseFrames, &images, &got)) {
        ctx.message(kWarn, QStringLiteral("数据采集异常,请重新采集!"));
        return false;
    }
    if (size)
        *size = got;
    const size_t pixels = size_t(got.width) * size_t(got.height);
    // The frames stay in the tree for a later look; the base is made from memory.
    FrameWriteResult frameFiles;
    if (!writeCapturedFrames(job.frames, job.framesDir, &frameFiles) && !frameFiles.failed.isEmpty())
        ctx.message(kInfo, QStringLiteral("%1 帧图像保存失败:\n%2").arg(frameFiles.failed.size()).arg(native(frameFiles.failed.first())));

    std::vector<uint16_t> base(pixels);
    for (size_t i = 0; i < images.size(); ++i)
        noshutter::runningAverageStep(base.data(), images[i].data(), pixels, uint32_t(i));
    const qint64 bytes = qint64(pixels) * 2;
    // A 640 x 512 base (655,360 bytes) is three times its slot: refused before anything.
    if (!ModuleInteract::fitsArea(address, bytes)) {
        ctx.message(kInfo, QStringLiteral("本底%1大小 %2 字节(%3 x %4)超出本底存储区域(每个本底最多 %5 字节),未写入")
                               .arg(job.index + 1).arg(bytes).arg(got.width).arg(got.height)
                               .arg(ModuleInteract::areaEnd(address) - address));
        return false;
    }
    if (!CComonFun::makePath(QFileInfo(job.basePath).absolutePath())) {
        ctx.message(kInfo, QStringLiteral("创建目录失败:\n%1").arg(native(QFileInfo(job.basePath).absolutePath())));
        return false;
    }
    QByteArray file(int(bytes), Qt::Uninitialized);
    qToLittleEndian<uint16_t>(base.data(), qsizetype(pixels), file.data());
    if (!saveBytes(ctx, job.basePath, file.constData(), file.size()))
        return false;
    ctx.message(kInfo, QStringLiteral("数据采集完成,准备写入数据"));
    ctx.setStatus(QStringLiteral("写入本底%1...").arg(job.index + 1));
    if (!writeToCore(ctx, address, job.basePath))
        return false;
    ctx.message(kInfo, QStringLiteral("写入数据完毕"));
    return true;
}

QString nvffcModelPath(const QString& dir, int tecIndex)
{
    return dir + QStringLiteral("/nvffc_mod%1.bin").arg(tecIndex + 1);
}

QString nvffcDebugPath(const QString& dir)
{
    return dir + QStringLiteral("/nvffc_mod_dbg.bin");
}

namespace {

NvffcOutcome nvffcWithLidOff(TransferContext& ctx, const NvffcJob& job, CaptureSize* size)
{
    std::vector<std::vector<uint16_t>> images;
    CaptureSize got;
    if (!captureFrames(ctx, job.frames, kNvffcFrames, &images, &got)) {
        ctx.message(kWarn, QStringLiteral("数据采集异常,请重新采集!"));
        return NvffcOutcome::Failed;
    }
    if (size)
        *size = got;
    const size_t pixels = size_t(got.width) * size_t(got.height);
    std::vector<uint32_t> acc(pixels, 0);
    for (const auto& image : images)
        noshutter::accumulate(acc.data(), image.data(), pixels);
    images.clear();
    std::vector<int16_t> model(pixels);
    noshutter::meanFreeModel(acc.data(), pixels, uint32_t(kNvffcFrames), model.data());
    std::vector<int16_t> smooth(pixels);
    noshutter::smooth3x3(model.data(), got.width, got.height, smooth.data());
    const noshutter::BlockScale scale = noshutter::blockScale(smooth.data(), got.width, got.height);
    if (scale.result == noshutter::ScaleResult::Overflow) {
        ctx.message(kInfo, QStringLiteral("NVFFC模型的块差平方和为 %1,比例系数 2^39/%1 超出32位范围,未生成模型文件,请检查场景后重新采集!")
                               .arg(scale.sum));
        return NvffcOutcome::Failed;
    }
    if (!CComonFun::makePath(job.dir)) {
        ctx.message(kInfo, QStringLiteral("创建目录失败:\n%1").arg(native(job.dir)));
        return NvffcOutcome::Failed;
    }
    const std::vector<uint8_t> debug = noshutter::modelFileBytes(model.data(), pixels, 0);
    const std::vector<uint8_t> file = noshutter::modelFileBytes(smooth.data(), pixels, scale.scale);
    const QString modelPath = nvffcModelPath(job.dir, job.tecIndex);
    if (!saveBytes(ctx, nvffcDebugPath(job.dir), debug.data(), qint64(debug.size()))
        || !saveBytes(ctx, modelPath, file.data(), qint64(file.size())))
        return NvffcOutcome::Failed;
    ctx.message(kInfo, QStringLiteral("数据采集完成,准备写入数据"));
    if (scale.result == noshutter::ScaleResult::Flat) {
        ctx.message(kInfo, QStringLiteral("NVFFC模型平坦(块差平方和为0),比例系数为0,模型文件已保存,未写入机芯"));
        return NvffcOutcome::Flat;
    }
    ctx.setStatus(QStringLiteral("写入NVFFC模型..."));
    if (!writeToCore(ctx, nvffcAddress(job.tecIndex), modelPath))
        return NvffcOutcome::Failed;
    ctx.message(kInfo, QStringLiteral("写入数据完毕"));
    Pace::sleepMs(kStepPauseMs);
    if (!setRegister(ctx, kNvffcLoadRegister, 0))
        return NvffcOutcome::Failed;
    Pace::sleepMs(kStepPauseMs);
    return NvffcOutcome::Written;
}

} // namespace

NvffcOutcome runNvffcSequence(TransferContext& ctx, const NvffcJob& job, CaptureSize* size)
{
    if (!job.frames)
        return NvffcOutcome::Failed;
    ctx.setProgress(0);
    ctx.message(kInfo, QStringLiteral("NVFFC数据采集,大约需要20secs!"));
    if (!setRegister(ctx, kNvffcPrepareRegister, 0))
        return NvffcOutcome::Failed;
    // From here the core shows its lid; whatever happens, it goes back to correcting it.
    const bool lidOff = DataExchange::instance()->writeRegister(kLidCorrectionRegister, 0);
    NvffcOutcome outcome = NvffcOutcome::Failed;
    if (!lidOff) {
        ctx.message(kInfo, QStringLiteral("设置寄存器 0x70c6 = 0 失败,机芯无应答"));
    } else {
        Pace::sleepMs(kStepPauseMs); // the next frames carry the lid
        outcome = nvffcWithLidOff(ctx, job, size);
    }
    if (!DataExchange::instance()->writeRegister(kLidCorrectionRegister, 1)) {
        ctx.message(kInfo, QStringLiteral("恢复锅盖校正(0x70c6 = 1)失败,请重新上电或手动发送该命令!"));
        return NvffcOutcome::Failed;
    }
    return outcome;
}

bool runCoreNvffc(TransferContext& ctx, int tecIndex)
{
    ctx.message(kInfo, QStringLiteral("NVFFC数据采集,请等待!"));
    return runCoreCommand(ctx, kNvffcCoreRegister, tecIndex + 1) == CoreWaitResult::Completed;
}

bool runSendFile(TransferContext& ctx, uint32_t address, const QString& path)
{
    FileSource source(path);
    if (!writeUpgrade(ctx, address, source).ok)
        return false;
    ctx.message(kInfo, QStringLiteral("写入数据完毕"));
    return true;
}
