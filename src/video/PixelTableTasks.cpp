#include "PixelTableTasks.h"

#include "CalibrationSequences.h"

#include "CComonFun.h"

#include "CFindFrame.h"
#include "CalibrationTree.h"
#include "CoreTableTransfer.h"
#include "Pace.h"
#include "PathText.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <new>

namespace PixelTableTasks {

namespace {

const QString kTitle = QStringLiteral("提示");
const QString kError = QStringLiteral("错误");

// Hands a sub-sequence's 0..100 progress to a slice of the whole operation's bar.
class ProgressSpan : public TransferContext {
public:
    ProgressSpan(TransferContext& outer, int lo, int hi)
        : m_outer(outer)
        , m_lo(lo)
        , m_hi(hi)
    {
    }
    void setProgress(int percent) override
    {
        m_outer.setProgress(m_lo + (m_hi - m_lo) * std::clamp(percent, 0, 100) / 100);
    }
    void setStatus(const QString& text) override { m_outer.setStatus(text); }
    void message(const QString& title, const QString& text) override { m_outer.message(title, text); }
    bool cancelled() const override { return m_outer.cancelled(); }

private:
    TransferContext& m_outer;
    int m_lo;
    int m_hi;
};

// A table of a W x H image never holds more than one record per pixel; anything past
// that in the file is not ours to read.
qint64 tableLimit(int width, int height)
{
    return qint64(width) * qint64(height) * CPixelDetector::kRecordBytes;
}

bool refuseSize(TransferContext& ctx, int width, int height)
{
    const QString text = unsupportedSizeText(width, height);
    if (text.isEmpty())
        return false;
    ctx.message(kError, text);
    return true;
}

bool makePixelDir(TransferContext& ctx, const CalibrationTree& tree)
{
    if (QDir().mkpath(tree.pixelDir()))
        return true;
    ctx.message(kError, QStringLiteral("无法创建目录 %1").arg(QDir::toNativeSeparators(tree.pixelDir())));
    return false;
}

// The core's table into the working table file (replaced only by a complete table),
// then that file read back.
bool readCoreTable(TransferContext& ctx, const CalibrationTree& tree, int width, int height, int lo, int hi,
                   QByteArray* table)
{
    ctx.setStatus(QStringLiteral("正在读取机芯坏点表..."));
    ProgressSpan span(ctx, lo, hi);
    if (!readCorePixelTable(span, tree.pixelTable()))
        return false;
    if (!readTableFile(tree.pixelTable(), tableLimit(width, height), table)) {
        ctx.message(kError, QStringLiteral("坏点表文件读取失败: %1").arg(QDir::toNativeSeparators(tree.pixelTable())));
        return false;
    }
    return true;
}

bool saveTable(TransferContext& ctx, const CalibrationTree& tree, const std::vector<uint8_t>& records)
{
    if (writeTableFile(tree.pixelTable(), records))
        return true;
    ctx.message(kError, QStringLiteral("坏点表保存失败(磁盘已满或无写权限): %1")
                            .arg(QDir::toNativeSeparators(tree.pixelTable())));
    return false;
}

// What made a table, for its history event.
struct TableOrigin {
    QString detector;
    int width = 0;
    int height = 0;
    int bright = -1;
    int dark = -1;
};

// The table of a finished operation: saved, then the operation's message.
bool saveAndAnnounce(TransferContext& ctx, const CalibrationTree& tree, const std::vector<uint8_t>& records,
                     const QString& done, const TableOrigin& origin)
{
    const bool saved = saveTable(ctx, tree, records);
    recordPixelTable(origin.detector,
                     QByteArray(reinterpret_cast<const char*>(records.data()), qsizetype(records.size())),
                     origin.width, origin.height, tree.pixelTable(),
                     saved ? QString() : QStringLiteral("坏点表保存失败"), origin.bright, origin.dark);
    if (!saved)
        return false;
    ctx.setStatus(QString());
    ctx.setProgress(100);
    ctx.message(kTitle, withFileLine(done, tree.pixelTable()));
    return true;
}

void tableFailed(TransferContext& ctx)
{
    // Only a failed allocation gets here: the sizes were checked before.
    ctx.message(kError, QStringLiteral("内存不足, 坏点表未生成"));
}

} // namespace

Solution solutionFromIndex(int nIndex)
{
    return nIndex == 1 ? Solution::V10 : Solution::V20;
}

QString unsupportedSizeText(int width, int height)
{
    if (CPixelDetector::SizeSupported(width, height))
        return QString();
    return QStringLiteral("图像尺寸 %1 x %2 超出坏点检测支持的范围(最多 %3 个像素, 边长不超过 %4)")
        .arg(width)
        .arg(height)
        .arg(CPixelDetector::kMaxPixels)
        .arg(CPixelDetector::kMaxSide);
}

bool captureImage(TransferContext& ctx, CFindFrame* frames, Image* image)
{
    if (!image)
        return false;
    *image = Image();
    if (!frames) {
        ctx.message(kTitle, QStringLiteral("未取流, 请先开启取流!"));
        return false;
    }
    ctx.setStatus(QStringLiteral("正在采集图像..."));
    const QString failed = QStringLiteral("采集图像失败, 请确认视频流正常后重试!");
    // A frame larger than the detector takes is refused before it is copied.
    const QSize live = frames->FrameSize();
    if (!live.isEmpty() && refuseSize(ctx, live.width(), live.height()))
        return false;
    if (!frames->StartCapture(1)) {
        ctx.message(kTitle, failed);
        return false;
    }
    Pace::sleepMs(1000);
    std::vector<std::vector<uint16_t>> run;
    int width = 0, height = 0;
    if (!frames->GetCapturedFrames(&run, &width, &height) || run.empty()) {
        ctx.message(kTitle, failed);
        return false;
    }
    if (refuseSize(ctx, width, height))
        return false;
    if (run.front().size() < size_t(width) * size_t(height)) {
        ctx.message(kTitle, failed);
        return false;
    }
    image->pixels = std::move(run.front());
    image->width = width;
    image->height = height;
    ctx.setProgress(10);
    return true;
}

bool autoDetect(TransferContext& ctx, Solution solution, const CPixelDetector& detector, const Image& image,
                const std::vector<Point>& marks, const QString& sensorId, std::vector<Point>* added, int* found)
{
    if (added)
        added->clear();
    if (found)
        *found = 0;
    const int w = image.width, h = image.height;
    if (refuseSize(ctx, w, h))
        return false;
    if (image.pixels.size() < size_t(w) * size_t(h))
        return false;
    const bool bV10 = solution == Solution::V10;
    std::vector<uint8_t> map;
    std::vector<uint8_t> records;
    if (bV10) {
        // Local mean needs nothing from the core: what it finds is known before the
        // slow read-back, and reaches the page even when that fails.
        ctx.setStatus(QStringLiteral("正在检测坏点..."));
        std::vector<Point> bad;
        int nAdded = 0;
        try {
            detector.DetectV10(image.pixels.data(), w, h, &bad);
            // The marks already on the page and the new finds, each pixel once.
            CPixelDetector::MapFromPoints(marks, w, h, &map);
            for (const Point& p : bad) {
                uint8_t& m = map[size_t(p.y) * size_t(w) + size_t(p.x)];
                if (!m) {
                    m = 1;
                    ++nAdded;
                    if (added)
                        added->push_back(p);
                }
            }
            if (!CPixelDetector::EncodeMap(map.data(), w, h, &records)) {
                tableFailed(ctx);
                return false;
            }
        } catch (const std::bad_alloc&) {
            tableFailed(ctx);
            return false;
        }
        if (found)
            *found = nAdded;
        ctx.setProgress(30);
    }

    const CalibrationTree tree(sensorId);
    QByteArray core;
    if (!makePixelDir(ctx, tree) || !readCoreTable(ctx, tree, w, h, bV10 ? 30 : 10, bV10 ? 90 : 80, &core))
        return false;
    std::vector<uint8_t> table;
    if (bV10) {
        ctx.setStatus(QStringLiteral("正在生成坏点表..."));
        const std::vector<CPixelDetector::Block> blocks = {
            {reinterpret_cast<const uint8_t*>(core.constData()), size_t(core.size())},
            {records.data(), records.size()}};
        if (!CPixelDetector::MergeTables(blocks, w, h, &table)) {
            tableFailed(ctx);
            return false;
        }
    } else {
        // The core's table seeds the map: what the core corrects is not found again.
        ctx.setStatus(QStringLiteral("正在检测坏点..."));
        try {
            map.assign(size_t(w) * size_t(h), 0);
            CPixelDetector::DecodeTable(reinterpret_cast<const uint8_t*>(core.constData()), size_t(core.size()), w,
                                        h, map.data());
            detector.DetectV20(image.pixels.data(), w, h, map.data(), found);
            if (!CPixelDetector::EncodeMap(map.data(), w, h, &table)) {
                tableFailed(ctx);
                return false;
            }
        } catch (const std::bad_alloc&) {
            tableFailed(ctx);
            return false;
        }
    }
    return saveAndAnnounce(ctx, tree, table, QStringLiteral("自动检测完成"),
                           {bV10 ? QStringLiteral("auto_v10") : QStringLiteral("auto_v20"), w, h,
                            detector.brightThreshold(), detector.darkThreshold()});
}

bool createTable(TransferContext& ctx, const std::vector<Point>& marks, int width, int height,
                 const QString& sensorId)
{
    if (refuseSize(ctx, width, height))
        return false;
    std::vector<uint8_t> map;
    std::vector<uint8_t> records;
    try {
        CPixelDetector::MapFromPoints(marks, width, height, &map);
        if (!CPixelDetector::EncodeMap(map.data(), width, height, &records)) {
            tableFailed(ctx);
            return false;
        }
    } catch (const std::bad_alloc&) {
        tableFailed(ctx);
        return false;
    }
    Pace::sleepMs(500);
    ctx.setProgress(40);

    // The working table, else the one the one-key correction left behind.
    const CalibrationTree tree(sensorId);
    const qint64 limit = tableLimit(width, height);
    QByteArray base;
    if (!readTableFile(tree.pixelTable(), limit, &base) && !readTableFile(tree.pixelBackup(), limit, &base)) {
        ctx.message(kError, QStringLiteral("本地坏点表不存在, 请先进行自动检测"));
        return false;
    }
    std::vector<uint8_t> merged;
    const std::vector<CPixelDetector::Block> blocks = {
        {reinterpret_cast<const uint8_t*>(base.constData()), size_t(base.size())},
        {records.data(), records.size()}};
    if (!CPixelDetector::MergeTables(blocks, width, height, &merged)) {
        tableFailed(ctx);
        return false;
    }
    if (!makePixelDir(ctx, tree))
        return false;
    return saveAndAnnounce(ctx, tree, merged, QStringLiteral("坏点表生成成功"),
                           {QStringLiteral("marks"), width, height});
}

bool readTableFile(const QString& path, qint64 maxBytes, QByteArray* data)
{
    if (!data)
        return false;
    data->clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 want = std::max<qint64>(0, std::min(maxBytes, file.size()));
    QByteArray bytes;
    try {
        bytes = file.read(want);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (file.error() != QFileDevice::NoError)
        return false;
    *data = bytes;
    return true;
}

bool writeTableFile(const QString& path, const std::vector<uint8_t>& records)
{
    return CComonFun::writeFile(path, reinterpret_cast<const char*>(records.data()), qint64(records.size()));
}

} // namespace PixelTableTasks
