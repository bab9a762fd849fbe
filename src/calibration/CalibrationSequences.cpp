#include "CalibrationSequences.h"

#include "HistoryRecorder.h"
#include "NotingContext.h"

#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"

#include "CComonFun.h"
#include "CFindFrame.h"
#include "CPixelDetector.h"
#include "CoreTableTransfer.h"
#include "CTwoPointNuc.h"
#include "DataExchange.h"
#include "Pace.h"
#include "PixelMath.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QString kTitle = QStringLiteral("提示");

bool makeParent(const QString& path)
{
    return CComonFun::makePath(QFileInfo(path).absolutePath());
}

// One set of frame files summed into the correction, one frame at a time.
bool loadSet(TransferContext& ctx, CTwoPointNuc& nuc, CTwoPointNuc::Set set, const QString& dir, int count,
             int progressBase, int progressSpan)
{
    const qint64 bytes = qint64(nuc.pixelCount()) * 2;
    if (!nuc.BeginSet(set)) {
        ctx.message(kTitle, QStringLiteral("内存不足,无法完成校正计算"));
        return false;
    }
    for (int i = 1; i <= count; ++i) {
        if (ctx.cancelled())
            return false;
        const QString path = CalibrationTree::frameFile(dir, i);
        QFile file(path);
        // A short, long or missing file belongs to another capture: averaging it
        // would mix frames of another size or scene into the gains.
        if (!file.open(QIODevice::ReadOnly) || file.size() != bytes) {
            ctx.message(kTitle, QStringLiteral("图像文件缺失或大小不符,请重新采集:\n%1").arg(QDir::toNativeSeparators(path)));
            return false;
        }
        const QByteArray data = file.readAll();
        if (data.size() != bytes) {
            ctx.message(kTitle, QStringLiteral("图像文件读取失败:\n%1").arg(QDir::toNativeSeparators(path)));
            return false;
        }
        nuc.AddFrameBytes(reinterpret_cast<const uint8_t*>(data.constData()));
        ctx.setProgress(progressBase + progressSpan * i / count);
    }
    return nuc.EndSet();
}

} // namespace

bool writeCapturedFrames(const CFindFrame* frames, const QString& dir, FrameWriteResult* result,
                         TransferContext* progress)
{
    FrameWriteResult local;
    FrameWriteResult& r = result ? *result : local;
    r = FrameWriteResult();
    std::vector<std::vector<uint16_t>> images;
    if (!frames || !frames->GetCapturedFrames(&images, &r.width, &r.height) || images.empty())
        return false;
    r.captured = int(images.size());
    if (!CComonFun::makePath(dir)) {
        r.failed << dir;
        return false;
    }
    for (int i = 0; i < r.captured; ++i) {
        const std::vector<uint16_t>& image = images[size_t(i)];
        const QString path = CalibrationTree::frameFile(dir, i + 1);
        if (CComonFun::writeFrameFile(path, image.data(), image.size()))
            ++r.written;
        else
            r.failed << path;
        if (progress)
            progress->setProgress(50 + 50 * (i + 1) / r.captured);
    }
    return r.failed.isEmpty();
}

namespace {
bool captureSteps(TransferContext& ctx, CFindFrame* frames, int count, const QString& dir, FrameWriteResult* result);
} // namespace

bool captureRunToDir(TransferContext& ctx, CFindFrame* frames, int count, const QString& dir, FrameWriteResult* result)
{
    HistoryEvent e(HistoryKind::Capture);
    NotingContext noting(ctx);
    FrameWriteResult local;
    FrameWriteResult& r = result ? *result : local;
    const bool ok = captureSteps(noting, frames, count, dir, &r);
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    e.details["frames"] = r.written;
    e.details["requested"] = count;
    e.details["folder"] = QDir(dir).dirName();
    e.details["fpa_temperature"] = double(mgr->frameAddInfo().tFPA);
    int mean = 0;
    if (newestFrameMean(frames, mgr->frameSize(), &mean))
        e.details["scene_mean"] = mean;
    if (ok)
        e.succeed();
    else
        e.fail(1, noting.last, QStringLiteral("capture"));
    HistoryRecorder::instance()->record(std::move(e));
    return ok;
}

namespace {

bool captureSteps(TransferContext& ctx, CFindFrame* frames, int count, const QString& dir, FrameWriteResult* result)
{
    FrameWriteResult local;
    FrameWriteResult& r = result ? *result : local;
    r = FrameWriteResult();
    if (!frames) {
        ctx.message(kTitle, QStringLiteral("未收到视频流,请先开启取流!"));
        return false;
    }
    if (count < 1 || count > kMaxCaptureFrames)
        return false;
    if (!frames->StartCapture(count)) {
        ctx.message(kTitle, QStringLiteral("采集图像失败,视频流中断,未收到足够的视频帧!"));
        return false;
    }
    ctx.setProgress(50);
    if (writeCapturedFrames(frames, dir, &r, &ctx))
        return true;
    if (r.captured == 0)
        ctx.message(kTitle, QStringLiteral("采集图像失败,未收到视频帧!"));
    else if (r.written == 0 && r.failed.size() == 1 && r.failed.first() == dir)
        ctx.message(kTitle, QStringLiteral("创建目录失败:\n%1").arg(QDir::toNativeSeparators(dir)));
    else
        ctx.message(kTitle, QStringLiteral("%1 帧图像保存失败:\n%2")
                                .arg(r.failed.size())
                                .arg(QDir::toNativeSeparators(r.failed.first())));
    return false;
}

} // namespace

bool newestFrameMean(const CFindFrame* frames, const QSize& coreSize, int* mean)
{
    if (!frames || !mean || coreSize.isEmpty())
        return false;
    // The core's geometry, never past the words of the frame the stream carried.
    double exact = 0;
    bool have = false;
    frames->ReadFrame([&](const uint16_t* frame, int width, int height) {
        const size_t words = size_t(std::max(width, 0)) * size_t(std::max(height, 0));
        have = pixelmath::frameMean(frame, words, coreSize.width(), coreSize.height(), &exact);
    });
    if (!have)
        return false;
    *mean = int(exact);
    return true;
}

namespace {

bool gainCorrection(TransferContext& ctx, const GainJob& job, CTwoPointNuc* nuc, GainFailure& why);

} // namespace

bool runGainCorrection(TransferContext& ctx, const GainJob& job, CTwoPointNuc* nuc, GainFailure* failure)
{
    GainFailure local = GainFailure::Other;
    GainFailure& why = failure ? *failure : local;
    why = GainFailure::Other;
    HistoryEvent e(HistoryKind::GainTable);
    NotingContext noting(ctx);
    CTwoPointNuc result;
    const bool ok = gainCorrection(noting, job, &result, why);
    QJsonObject& d = e.details;
    d["file"] = QFileInfo(job.gainPath).fileName();
    d["frames"] = job.count;
    d["size"] = QStringLiteral("%1x%2").arg(job.width).arg(job.height);
    d["mean_low"] = result.Mean(CTwoPointNuc::LowSet);
    d["mean_high"] = result.Mean(CTwoPointNuc::HighSet);
    if (ok) {
        const std::vector<uint8_t> bytes = result.GainFileBytes();
        d["sha256"] = sha256Hex(QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())));
        d["bytes"] = double(bytes.size());
        e.succeed();
    } else {
        e.fail(1, noting.last, QStringLiteral("gain"));
    }
    HistoryRecorder::instance()->record(std::move(e));
    if (ok && nuc)
        *nuc = std::move(result);
    return ok;
}

namespace {

bool gainCorrection(TransferContext& ctx, const GainJob& job, CTwoPointNuc* nuc, GainFailure& why)
{
    if (job.width <= 0 || job.height <= 0) {
        ctx.message(kTitle, QStringLiteral("请先采集低温点和高温点!"));
        why = GainFailure::Captures;
        return false;
    }
    if (job.count < 1 || job.count > kMaxCaptureFrames)
        return false;
    ctx.setProgress(0);

    const QByteArray record = fixedPixelRecord();
    if (!makeParent(job.backupPath) || !CComonFun::writeFile(job.backupPath, record.constData(), record.size())) {
        ctx.message(kTitle, QStringLiteral("写入文件失败:\n%1").arg(QDir::toNativeSeparators(job.backupPath)));
        return false;
    }

    CTwoPointNuc work;
    if (!work.SetSize(uint32_t(job.width), uint32_t(job.height))) {
        ctx.message(kTitle, QStringLiteral("图像尺寸 %1x%2 超出校正支持范围").arg(job.width).arg(job.height));
        return false;
    }
    if (!loadSet(ctx, work, CTwoPointNuc::HighSet, job.highDir, job.count, 0, 45)
        || !loadSet(ctx, work, CTwoPointNuc::LowSet, job.lowDir, job.count, 45, 45)) {
        if (!ctx.cancelled())
            why = GainFailure::Captures;
        return false;
    }
    // Swapped sets or an unchanged blackbody clamp every gain: the table would mark
    // the whole detector bad.
    if (!work.MeansOrdered()) {
        ctx.message(kTitle, QStringLiteral("高温点图像均值(%1)不高于低温点图像均值(%2),请确认黑体温度后重新采集!")
                                .arg(work.Mean(CTwoPointNuc::HighSet), 0, 'f', 1)
                                .arg(work.Mean(CTwoPointNuc::LowSet), 0, 'f', 1));
        why = GainFailure::Captures;
        return false;
    }
    if (!work.Compute())
        return false;
    const std::vector<uint8_t> bytes = work.GainFileBytes();
    if (!makeParent(job.gainPath)
        || !CComonFun::writeFile(job.gainPath, reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()))) {
        ctx.message(kTitle, QStringLiteral("写入文件失败:\n%1").arg(QDir::toNativeSeparators(job.gainPath)));
        return false;
    }
    ctx.setProgress(100);
    if (nuc)
        *nuc = std::move(work);
    why = GainFailure::None;
    return true;
}

} // namespace

CoreWaitResult waitCoreCompletion(TransferContext& ctx, double limitMs)
{
    QElapsedTimer clock;
    clock.start();
    const double limit = Pace::scaledMs(limitMs);
    DataExchange* dx = DataExchange::instance();
    for (;;) {
        if (ctx.cancelled())
            return CoreWaitResult::Cancelled;
        if (dx->waitAcknowledge()) {
            ctx.message(kTitle, QStringLiteral("操作完成,机芯正常返回!"));
            return CoreWaitResult::Completed;
        }
        if (dx->lastReplyReceived()) {
            ctx.message(kTitle, QStringLiteral("机芯返回失败,操作未完成!"));
            return CoreWaitResult::Refused;
        }
        if (double(clock.elapsed()) >= limit) {
            ctx.message(kTitle, QStringLiteral("等待机芯返回超时(%1秒),操作未完成!").arg(int(limitMs / 1000.0)));
            return CoreWaitResult::TimedOut;
        }
    }
}

CoreWaitResult runCoreCommand(TransferContext& ctx, int reg, int value, double limitMs)
{
    ctx.setStatus(QStringLiteral("等待机芯返回..."));
    // The command's own acknowledgement is not checked: the completion reply decides.
    DataExchange::instance()->writeRegister(reg, value);
    return waitCoreCompletion(ctx, limitMs);
}

void recordPixelTable(const QString& detector, const QByteArray& records, int width, int height,
                      const QString& path, const QString& failure, int brightThreshold, int darkThreshold)
{
    HistoryEvent e(HistoryKind::PixelTable);
    e.details["detector"] = detector;
    e.details["count"] = int(records.size() / CPixelDetector::kRecordBytes);
    e.details["sha256"] = sha256Hex(records);
    e.details["size"] = QStringLiteral("%1x%2").arg(width).arg(height);
    e.details["file"] = QFileInfo(path).fileName();
    if (brightThreshold >= 0)
        e.details["bright_threshold"] = brightThreshold;
    if (darkThreshold >= 0)
        e.details["dark_threshold"] = darkThreshold;
    if (failure.isEmpty())
        e.succeed();
    else
        e.fail(1, failure, QStringLiteral("save"));
    HistoryRecorder::instance()->record(std::move(e));
}

GainTableResult writeGainPixelTable(const uint16_t* gains, int width, int height, const QString& path, int* badCount)
{
    if (badCount)
        *badCount = 0;
    if (!gains)
        return GainTableResult::NoGains;
    if (!CPixelDetector::SizeSupported(width, height))
        return GainTableResult::UnsupportedSize;
    std::vector<uint8_t> map;
    std::vector<uint8_t> records;
    if (!CPixelDetector::MapFromGains(gains, width, height, &map)
        || !CPixelDetector::EncodeMap(map.data(), width, height, &records))
        return GainTableResult::UnsupportedSize;
    const QByteArray bytes(reinterpret_cast<const char*>(records.data()), qsizetype(records.size()));
    const bool written = makeParent(path) && CComonFun::writeFile(path, bytes.constData(), bytes.size());
    recordPixelTable(QStringLiteral("gain_limits"), bytes, width, height, path,
                     written ? QString() : QStringLiteral("写入文件失败"));
    if (!written)
        return GainTableResult::WriteFailed;
    if (badCount)
        *badCount = int(records.size() / CPixelDetector::kRecordBytes);
    return GainTableResult::Written;
}
