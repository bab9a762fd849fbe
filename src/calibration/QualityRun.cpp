#include "QualityRun.h"

#include "CComonFun.h"
#include "CFindFrame.h"
#include "CPixelDetector.h"
#include "CalibrationSequences.h"
#include "CalibrationTree.h"
#include "CoreTableTransfer.h"
#include "HistoryRecorder.h"
#include "NotingContext.h"
#include "Pace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QMutex>
#include <QMutexLocker>
#include <QUuid>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

const QString kTitle = QStringLiteral("提示");
const QString kFromCore = QStringLiteral("机芯");
constexpr int kFlushMs = 10000;

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The capture runs on a thread of its own so that the progress follows the frames
// as they arrive; what it reports waits here and goes out on the sequence's thread.
class HeldContext : public TransferContext {
public:
    void setProgress(int percent) override { progress = percent; }
    void message(const QString& title, const QString& text) override
    {
        QMutexLocker g(&lock);
        held.append({title, text});
    }
    bool cancelled() const override { return cancel.load(); }

    std::atomic<int> progress{0};
    std::atomic<bool> cancel{false};
    QMutex lock;
    QList<QPair<QString, QString>> held;
};

bool captureWithProgress(TransferContext& ctx, CFindFrame* frames, int count, const QString& dir,
                         FrameWriteResult* written)
{
    HeldContext held;
    std::atomic<bool> finished{false};
    bool ok = false;
    std::thread worker([&] {
        ok = captureRunToDir(held, frames, count, dir, written);
        finished = true;
    });
    while (!finished.load()) {
        if (ctx.cancelled() && frames && !held.cancel.exchange(true))
            frames->CancelCapture();
        Pace::sleepMs(100);
        // 0..50 while the frames arrive, 50..100 while they are written: 0..60 here.
        const int have = frames ? std::min(frames->CapturedCount(), count) : 0;
        const int part = std::max(held.progress.load(), have * 50 / count);
        ctx.setProgress(part * 60 / 100);
        ctx.setStatus(QStringLiteral("采集中 %1/%2 帧").arg(have).arg(count));
    }
    worker.join();
    // A capture the operator stopped is no failure to be told about.
    if (held.cancel.load())
        return false;
    for (const auto& m : held.held)
        ctx.message(m.first, m.second);
    return ok;
}

// The frames back from their files, the info rows already left out by the capture.
bool readFrames(TransferContext& ctx, const QString& dir, int count, int width, int rows,
                std::vector<std::vector<uint16_t>>* out)
{
    const qint64 bytes = qint64(width) * qint64(rows) * 2;
    out->assign(size_t(count), {});
    for (int i = 0; i < count; ++i) {
        const QString path = CalibrationTree::frameFile(dir, i + 1);
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || f.size() != bytes) {
            ctx.message(kTitle, QStringLiteral("图像文件缺失或大小不符,请重新检验:\n%1").arg(native(path)));
            return false;
        }
        const QByteArray data = f.read(bytes);
        if (data.size() != bytes) {
            ctx.message(kTitle, QStringLiteral("图像文件读取失败:\n%1").arg(native(path)));
            return false;
        }
        std::vector<uint16_t>& frame = (*out)[size_t(i)];
        frame.resize(size_t(width) * size_t(rows));
        const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
        for (size_t k = 0; k < frame.size(); ++k)
            frame[k] = uint16_t(b[2 * k] | (b[2 * k + 1] << 8));
    }
    return true;
}

// The table into the map; refused when it cannot belong to this picture.
bool loadTable(TransferContext& ctx, const QString& path, int width, int rows, std::vector<uint8_t>* map)
{
    QFile f(path);
    // Four bytes per pixel at most, twice over: anything longer is not a table.
    const qint64 limit = qint64(width) * qint64(rows) * 8 + 64;
    if (!f.open(QIODevice::ReadOnly)) {
        ctx.message(kTitle, QStringLiteral("无法读取坏点表文件:\n%1").arg(native(path)));
        return false;
    }
    if (f.size() > limit) {
        ctx.message(kTitle, QStringLiteral("坏点表文件过大(%1 字节),不是 %2x%3 图像的坏点表:\n%4")
                                .arg(f.size()).arg(width).arg(rows).arg(native(path)));
        return false;
    }
    const QByteArray records = f.readAll();
    map->assign(size_t(width) * size_t(rows), 0);
    CPixelDetector::TableStats stats;
    if (records.size() % CPixelDetector::kRecordBytes != 0
        || !CPixelDetector::DecodeTable(reinterpret_cast<const uint8_t*>(records.constData()), size_t(records.size()),
                                        width, rows, map->data(), &stats)) {
        ctx.message(kTitle, QStringLiteral("坏点表无法按 %1x%2 图像解码,未做检验:\n%3").arg(width).arg(rows).arg(native(path)));
        return false;
    }
    // Records outside the picture (the core's reset entry on a small frame) are left out.
    if (std::find(map->begin(), map->end(), uint8_t(0)) == map->end()) {
        ctx.message(kTitle, QStringLiteral("坏点表标记了全部像素,无法检验:\n%1").arg(native(path)));
        return false;
    }
    return true;
}

QString uniqueRunDir(const QString& sensorId)
{
    const QString base = CalibrationTree(sensorId).qualityDir() + QLatin1Char('/')
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd_HHmmss"));
    // Two runs within one second must not share their frames.
    QString dir = base;
    for (int n = 2; QFileInfo::exists(dir); ++n)
        dir = base + QStringLiteral("_%1").arg(n);
    return dir;
}

QByteArray resultFileText(const QualityRunResult& r)
{
    std::string text = qualityFiguresText(r.figures);
    text += "verdict: " + qualityVerdictText(r.verdict) + "\n";
    text += "# limits\n" + qualityLimitsText(r.limits);
    return QByteArray::fromStdString(text);
}

double figureValue(const QualityFigures& f, const std::string& key)
{
    if (key == "mean") return f.mean;
    if (key == "temporal_noise") return f.temporalNoise;
    if (key == "spatial_noise") return f.spatialNoise;
    if (key == "nonuniformity_percent") return f.nonuniformityPercent;
    if (key == "correctability") return f.correctability;
    if (key == "operability_percent") return f.operabilityPercent;
    if (key == "largest_cluster") return f.largestCluster;
    if (key == "unflagged_outliers") return f.unflaggedOutliers;
    return NAN;
}

// The limit of a key, NAN for the figures that have none.
double limitValue(const QualityLimits& l, const std::string& key)
{
    if (key == "temporal_noise") return l.maxTemporalNoise;
    if (key == "nonuniformity_percent") return l.maxNonuniformityPercent;
    if (key == "correctability") return l.maxCorrectability;
    if (key == "operability_percent") return l.minOperabilityPercent;
    if (key == "largest_cluster") return l.maxLargestCluster;
    if (key == "unflagged_outliers") return l.maxUnflaggedOutliers;
    return NAN;
}

// JSON has no infinity: a core without temporal noise keeps its figure as text.
QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QString::number(v));
}

void fillEvent(HistoryEvent& e, const QualityRunResult& r, bool judged)
{
    QJsonObject& d = e.details;
    d["frames"] = r.frames;
    d["width"] = r.width;
    d["rows"] = r.rows;
    d["run_dir"] = r.runDir;
    d["table_source"] = r.tableSource;
    if (!judged) // no figures, no verdict
        return;
    for (const char* key : kQualityKeys)
        d[QLatin1String(key)] = jsonNumber(figureValue(r.figures, key));
    for (const char* key : kQualityKeys) {
        const double l = limitValue(r.limits, key);
        if (!std::isnan(l))
            d[QStringLiteral("limit_") + QLatin1String(key)] = l;
    }
    d["verdict"] = QString::fromStdString(qualityVerdictText(r.verdict));
    QJsonArray failed;
    for (const auto& k : r.verdict.failed)
        failed.append(QString::fromStdString(k));
    d["failed"] = failed;
}

bool judgeSteps(TransferContext& ctx, CFindFrame* frames, const QualityJob& job, QualityRunResult& r, QString& step);

} // namespace

bool runQualityCheck(TransferContext& ctx, CFindFrame* frames, const QualityJob& job, QualityRunResult* result)
{
    QualityRunResult local;
    QualityRunResult& r = result ? *result : local;
    r = QualityRunResult();
    r.sensorId = job.sensorId;
    r.serial = job.serial;
    r.started = QDateTime::currentDateTimeUtc();
    r.limits = job.limits;
    r.frames = job.frames;

    HistoryEvent e(HistoryKind::Quality);
    e.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    e.started = r.started;
    e.sensorId = job.sensorId;
    e.serial = job.serial;
    NotingContext noting(ctx);
    QString step;
    const bool judged = judgeSteps(noting, frames, job, r, step);
    if (!judged)
        r.error = noting.last;
    if (!judged && step.isEmpty()) // refused before anything touched the core
        return false;
    fillEvent(e, r, judged);
    if (!judged)
        e.fail(1, noting.last, step);
    else if (r.verdict.pass) {
        e.succeed();
    } else {
        // The check itself worked; the core did not pass it.
        e.fail(2, qualityVerdictCaption(r.verdict), QStringLiteral("verdict"));
    }
    r.historyUuid = e.uuid;
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->record(std::move(e));
    if (!judged)
        return false;
    ctx.setStatus(QStringLiteral("写入历史记录..."));
    // A verdict that is not in the history is no verdict: the line relies on it.
    if (!rec->flushLocal(kFlushMs)) {
        const QString why = rec->state().localError;
        r.outcome = QualityRunResult::Outcome::RecordLost;
        r.error = QStringLiteral("检验结果未能写入历史记录,本次检验无效:\n%1")
                      .arg(why.isEmpty() ? QStringLiteral("等待历史记录写入超时") : why);
        ctx.message(kTitle, r.error);
        return false;
    }
    ctx.setProgress(100);
    ctx.setStatus(QString());
    r.outcome = QualityRunResult::Outcome::Judged;
    return true;
}

namespace {

bool judgeSteps(TransferContext& ctx, CFindFrame* frames, const QualityJob& job, QualityRunResult& r, QString& step)
{
    if (job.frames < kMinQualityFrames || job.frames > kMaxQualityFrames) {
        ctx.message(kTitle, QStringLiteral("检验帧数须为 %1~%2").arg(kMinQualityFrames).arg(kMaxQualityFrames));
        return false;
    }
    if (!frames) {
        ctx.message(kTitle, QStringLiteral("未收到视频流,请先开启取流!"));
        return false;
    }
    r.runDir = job.runDir.isEmpty() ? uniqueRunDir(job.sensorId) : job.runDir;
    r.tableSource = job.tablePath.isEmpty() ? kFromCore : job.tablePath;

    step = QStringLiteral("capture");
    ctx.setProgress(0);
    FrameWriteResult written;
    if (!captureWithProgress(ctx, frames, job.frames, r.runDir, &written))
        return false;
    r.width = written.width;
    r.rows = written.height;
    if (written.written != job.frames) {
        ctx.message(kTitle, QStringLiteral("采集图像失败,未收到足够的视频帧!"));
        return false;
    }

    step = QStringLiteral("table");
    ctx.setProgress(60);
    ctx.setStatus(QStringLiteral("读取机芯坏点表..."));
    QString tablePath = job.tablePath;
    if (tablePath.isEmpty()) {
        tablePath = r.runDir + QStringLiteral("/BadPixel.bin");
        // The read-back's own 0..100 is the table's share of the bar.
        struct Share : NotingContext {
            using NotingContext::NotingContext;
            void setProgress(int p) override { NotingContext::setProgress(60 + p * 20 / 100); }
        } share(ctx);
        if (!readCorePixelTable(share, tablePath)) {
            if (share.last.isEmpty())
                ctx.message(kTitle, QStringLiteral("读取机芯坏点表失败,未做检验!"));
            return false;
        }
    }
    if (!loadTable(ctx, tablePath, r.width, r.rows, &r.badMap))
        return false;

    step = QStringLiteral("figures");
    ctx.setProgress(80);
    ctx.setStatus(QStringLiteral("计算检验指标..."));
    std::vector<std::vector<uint16_t>> images;
    if (!readFrames(ctx, r.runDir, job.frames, r.width, r.rows, &images))
        return false;
    std::vector<const uint16_t*> ptr;
    for (const auto& f : images)
        ptr.push_back(f.data());
    if (!computeQualityFigures(ptr.data(), int(ptr.size()), r.width, r.rows, r.badMap.data(), &r.figures,
                               &r.meanImage)) {
        ctx.message(kTitle, QStringLiteral("检验指标计算失败,没有可用的像素!"));
        return false;
    }
    images.clear();
    r.verdict = judgeQuality(r.figures, r.limits);

    step = QStringLiteral("save");
    ctx.setProgress(90);
    const QString file = r.runDir + QStringLiteral("/Quality.txt");
    if (!CComonFun::writeFile(file, resultFileText(r))) {
        ctx.message(kTitle, QStringLiteral("写入文件失败:\n%1").arg(native(file)));
        return false;
    }
    return true;
}

} // namespace
