#include "QualityPictures.h"

#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QDir>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPainter>
#include <QSaveFile>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

struct Rgb {
    double r, g, b;
};
// The two arms of the diverging palette at full deviation.
constexpr Rgb kBelow{33, 102, 172};
constexpr Rgb kAbove{178, 24, 43};

QRgb blend(const Rgb& end, double t)
{
    auto channel = [t](double full) { return int(std::lround(255.0 + (full - 255.0) * t)); };
    return qRgb(channel(end.r), channel(end.g), channel(end.b));
}

bool isTable(const uint8_t* badMap, size_t i)
{
    return badMap && badMap[i];
}

// Writes `image` as PNG into `path` whole or not at all.
bool savePng(const QImage& image, const QString& path, QString* error)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) {
        *error = QStringLiteral("无法生成图片 %1").arg(QDir::toNativeSeparators(path));
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("无法写入 %1 (%2)").arg(QDir::toNativeSeparators(path), file.errorString());
        return false;
    }
    return true;
}

} // namespace

QRgb qualityDeviationColour(double deviation, double spread)
{
    if (!(spread > 0) || !std::isfinite(spread) || !std::isfinite(deviation))
        return qRgb(255, 255, 255);
    const double t = std::clamp(deviation / (kQualityMapClipSigmas * spread), -1.0, 1.0);
    return t < 0 ? blend(kBelow, -t) : blend(kAbove, t);
}

QImage qualityDeviationMap(const float* mean, const uint8_t* badMap, int width, int rows, double meanValue,
                           double spread)
{
    if (!mean || width <= 0 || rows <= 0)
        return QImage();
    QImage image(width, rows, QImage::Format_RGB32);
    for (int y = 0; y < rows; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const size_t i = size_t(y) * size_t(width) + size_t(x);
            line[x] = isTable(badMap, i) ? kQualityMapTableColour
                                         : qualityDeviationColour(double(mean[i]) - meanValue, spread);
        }
    }
    return image;
}

QImage qualityDeviationLegend(QSize size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return QImage();
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width();
    for (int x = 0; x < w; ++x) {
        // Pixel centres from -clip to +clip, both ends reached.
        const double t = w > 1 ? -1.0 + 2.0 * double(x) / double(w - 1) : 0.0;
        const QRgb c = qualityDeviationColour(t * kQualityMapClipSigmas, 1.0);
        for (int y = 0; y < size.height(); ++y)
            reinterpret_cast<QRgb*>(image.scanLine(y))[x] = c;
    }
    return image;
}

QualityHistogramBins qualityHistogramBins(const float* mean, const uint8_t* badMap, int width, int rows,
                                          int binCount)
{
    QualityHistogramBins bins;
    binCount = std::max(1, binCount);
    bins.counts.assign(size_t(binCount), 0);
    if (!mean || width <= 0 || rows <= 0)
        return bins;
    const size_t n = size_t(width) * size_t(rows);
    double lo = INFINITY, hi = -INFINITY;
    for (size_t i = 0; i < n; ++i) {
        if (isTable(badMap, i) || !std::isfinite(mean[i]))
            continue;
        lo = std::min(lo, double(mean[i]));
        hi = std::max(hi, double(mean[i]));
    }
    if (lo > hi)
        return bins;
    if (hi - lo <= 0) {
        lo -= 0.5;
        hi += 0.5;
    }
    bins.low = lo;
    bins.high = hi;
    const double scale = double(binCount) / (hi - lo);
    for (size_t i = 0; i < n; ++i) {
        if (isTable(badMap, i) || !std::isfinite(mean[i]))
            continue;
        // Clamped before the conversion: the largest value lands exactly on binCount.
        const int k = int(std::clamp((double(mean[i]) - lo) * scale, 0.0, double(binCount - 1)));
        ++bins.counts[size_t(k)];
        ++bins.total;
    }
    return bins;
}

QImage qualityHistogram(const float* mean, const uint8_t* badMap, int width, int rows, QSize size)
{
    if (size.width() <= 0 || size.height() <= 0)
        return QImage();
    const QualityHistogramBins bins = qualityHistogramBins(mean, badMap, width, rows);
    const long peak = bins.counts.empty() ? 0 : *std::max_element(bins.counts.begin(), bins.counts.end());

    // The bins as steps over a floor below one count: on the log axis an empty bin
    // stays on the floor and a bin of one pixel still rises visibly from it.
    constexpr double floor = 0.5;
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    const double step = bins.binWidth();
    upper->append(bins.low, floor);
    for (size_t k = 0; k < bins.counts.size(); ++k) {
        const double y = bins.counts[k] > 0 ? double(bins.counts[k]) : floor;
        upper->append(bins.low + step * double(k), y);
        upper->append(bins.low + step * double(k + 1), y);
    }
    upper->append(bins.high, floor);
    lower->append(bins.low, floor);
    lower->append(bins.high, floor);

    auto* chart = new QChart;
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->hide();
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 8, 4));
    chart->setTitle(QStringLiteral("好像元 %1 个，%2 个区间").arg(bins.total).arg(bins.counts.size()));
    // Text in proportion to the picture, legible when the report halves it.
    QFont small = chart->font();
    small.setPixelSize(std::max(11, size.height() / 28));
    chart->setTitleFont(small);

    auto* area = new QAreaSeries(upper, lower);
    // The area does not own its boundary lines; the chart, through the area, must.
    upper->setParent(area);
    lower->setParent(area);
    area->setColor(QColor(70, 110, 170));
    area->setBorderColor(QColor(30, 60, 110));
    chart->addSeries(area);

    auto* x = new QValueAxis;
    x->setTitleText(QStringLiteral("像元均值"));
    x->setRange(bins.low, bins.high > bins.low ? bins.high : bins.low + 1.0);
    x->setLabelFormat(bins.high - bins.low >= 20 ? "%.0f" : "%.1f");
    x->setTickCount(6);
    auto* y = new QLogValueAxis;
    y->setTitleText(QStringLiteral("像元数"));
    y->setBase(10);
    y->setLabelFormat("%g");
    y->setRange(floor, std::max(10.0, double(peak) * 2.0));
    y->setMinorTickCount(-1);
    for (QAbstractAxis* a : std::initializer_list<QAbstractAxis*>{x, y}) {
        a->setTitleFont(small);
        a->setLabelsFont(small);
    }
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    area->attachAxis(x);
    area->attachAxis(y);

    // Laid out and painted at once, without a window or an event loop.
    QGraphicsScene scene;
    scene.addItem(chart);
    const QRectF rect(QPointF(0, 0), QSizeF(size));
    scene.setSceneRect(rect);
    chart->setGeometry(rect);
    if (chart->layout())
        chart->layout()->activate();
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, rect, rect);
    painter.end();
    return image;
}

QImage qualityMapForDisplay(const QImage& map)
{
    if (map.isNull())
        return map;
    const int factor = std::clamp((640 + map.width() - 1) / map.width(), 1, 16);
    return factor == 1 ? map : map.scaled(map.size() * factor, Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

bool saveQualityPictures(const QImage& map, const QImage& hist, const QString& dir, QString* mapPath,
                         QString* histPath, QString* error)
{
    QString local;
    QString& why = error ? *error : local;
    if (map.isNull() || hist.isNull()) {
        why = QStringLiteral("没有可保存的图片");
        return false;
    }
    if (!QDir().mkpath(dir)) {
        why = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    const QString mapFile = QDir(dir).filePath(QStringLiteral("Deviation.png"));
    const QString histFile = QDir(dir).filePath(QStringLiteral("Histogram.png"));
    if (!savePng(qualityMapForDisplay(map), mapFile, &why) || !savePng(hist, histFile, &why))
        return false;
    if (mapPath)
        *mapPath = mapFile;
    if (histPath)
        *histPath = histFile;
    return true;
}
