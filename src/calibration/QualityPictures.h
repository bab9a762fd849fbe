#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

// The acceptance check's two pictures of the pixel means A (width x rows, the info
// rows left out): where each pixel stands against the mean, and how the means spread.
// `badMap` is one byte per pixel, 1 = in the table (null: none).

// The deviation scale runs to this many spreads either way; beyond it the colour stays.
constexpr double kQualityMapClipSigmas = 5.0;
// Table pixels in the map: black is on neither arm of the palette.
constexpr QRgb kQualityMapTableColour = 0xFF000000;

// The palette's colour for a deviation A - mean: white at 0, blue below, red above,
// full at +-5 x spread. A zero, negative or non-finite spread (or deviation) is white.
QRgb qualityDeviationColour(double deviation, double spread);

// One image pixel per sensor pixel (Format_RGB32); null for a zero size or no data.
QImage qualityDeviationMap(const float* mean, const uint8_t* badMap, int width, int rows, double meanValue,
                           double spread);

// The palette as a horizontal bar, -5 sigma on the left, +5 sigma on the right.
QImage qualityDeviationLegend(QSize size);

struct QualityHistogramBins {
    double low = 0;              // left edge of the first bin
    double high = 0;             // right edge of the last bin
    std::vector<long> counts;    // equal widths between low and high
    long total = 0;              // good pixels with a finite mean (the sum of counts)
    double binWidth() const { return counts.empty() ? 0.0 : (high - low) / double(counts.size()); }
};

// `binCount` equal bins between the smallest and largest good A (the largest lands in
// the last bin). All-equal means get a range of one count around the value; no good
// pixel gives empty bins over [0, 0].
QualityHistogramBins qualityHistogramBins(const float* mean, const uint8_t* badMap, int width, int rows,
                                          int binCount = 64);

// The histogram drawn by Qt Charts into an image of `size`: on the GUI thread, since a
// chart is a graphics widget (the offscreen platform will do). Counts on a log axis so that a single outlier
// pixel still shows beside the peak.
QImage qualityHistogram(const float* mean, const uint8_t* badMap, int width, int rows, QSize size);

// The map scaled up by a whole factor (nearest pixel) so that a 160-pixel core is at
// least 640 pixels wide.
QImage qualityMapForDisplay(const QImage& map);

// "Deviation.png" (scaled as above) and "Histogram.png" in `dir` (made when missing),
// each written whole or not at all. False with the reason in Chinese.
bool saveQualityPictures(const QImage& map, const QImage& hist, const QString& dir, QString* mapPath,
                         QString* histPath, QString* error);
