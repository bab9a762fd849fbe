// The acceptance check's pictures and PDF report: the map's palette and table pixels,
// the histogram's bins, files written whole or not at all, device text kept as text,
// and the writes listed since the core's connection from a real SQLite history.
#include "HistoryRecorder.h"
#include "QualitySample.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace {

struct MapCase {
    double sigmas; // A - mean in spreads
    QRgb want;
};

class QualityMapColour : public ::testing::TestWithParam<MapCase> {};

TEST_P(QualityMapColour, FollowsTheDivergingPaletteAndClipsAtFiveSpreads)
{
    const double mean = 1000, spread = 4;
    const float a[2] = {float(mean + GetParam().sigmas * spread), float(mean)};
    const uint8_t table[2] = {0, 1};
    const QImage map = qualityDeviationMap(a, table, 2, 1, mean, spread);
    ASSERT_EQ(map.format(), QImage::Format_RGB32);
    EXPECT_EQ(map.pixel(0, 0), GetParam().want) << GetParam().sigmas;
    EXPECT_EQ(map.pixel(1, 0), kQualityMapTableColour);
    EXPECT_NE(map.pixel(0, 0), kQualityMapTableColour);
}

INSTANTIATE_TEST_SUITE_P(Deviations, QualityMapColour,
                         ::testing::Values(MapCase{0, qRgb(255, 255, 255)}, MapCase{5, qRgb(178, 24, 43)},
                                           MapCase{9, qRgb(178, 24, 43)}, MapCase{-5, qRgb(33, 102, 172)},
                                           MapCase{-40, qRgb(33, 102, 172)}, MapCase{2.5, qRgb(217, 140, 149)}));

TEST(QualityMap, ZeroSpreadIsWhiteButTablePixelsStayBlack)
{
    const float a[6] = {5, 900, -3, 7, 7, 7};
    const uint8_t table[6] = {0, 0, 0, 0, 1, 0};
    const QImage map = qualityDeviationMap(a, table, 3, 2, 7, 0);
    ASSERT_EQ(map.size(), QSize(3, 2));
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(map.pixel(i % 3, i / 3), i == 4 ? kQualityMapTableColour : qRgb(255, 255, 255)) << i;
}

struct BinCase {
    const char* name;
    std::vector<float> mean;
    std::vector<uint8_t> table;
};

class QualityBins : public ::testing::TestWithParam<BinCase> {};

TEST_P(QualityBins, CountEveryGoodPixelOnceBetweenItsExtremes)
{
    const BinCase& c = GetParam();
    const int n = int(c.mean.size());
    const QualityHistogramBins b = qualityHistogramBins(c.mean.data(), c.table.data(), n, 1, 64);
    ASSERT_EQ(b.counts.size(), 64u);
    long good = 0, sum = 0;
    float lo = INFINITY, hi = -INFINITY;
    for (int i = 0; i < n; ++i)
        if (!c.table[size_t(i)]) {
            ++good;
            lo = std::min(lo, c.mean[size_t(i)]);
            hi = std::max(hi, c.mean[size_t(i)]);
        }
    for (long k : b.counts)
        sum += k;
    EXPECT_EQ(sum, good);
    EXPECT_EQ(b.total, good);
    if (good == 0)
        return;
    EXPECT_LE(b.low, lo);
    EXPECT_GE(b.high, hi);
    EXPECT_GT(b.high, b.low);
    if (hi > lo) {
        EXPECT_GT(b.counts.front(), 0);
        EXPECT_GT(b.counts.back(), 0) << "the largest mean belongs in the last bin";
        return;
    }
    // All equal: one bin, the one that holds the value.
    const auto full = std::find(b.counts.begin(), b.counts.end(), good);
    ASSERT_NE(full, b.counts.end());
    const double left = b.low + b.binWidth() * double(full - b.counts.begin());
    EXPECT_LE(left, lo);
    EXPECT_GE(left + b.binWidth(), lo);
}

INSTANTIATE_TEST_SUITE_P(Shapes, QualityBins,
                         ::testing::Values(BinCase{"spread", {10, 11, 12, 13, 50, 10.5f, 3000}, {0, 0, 0, 0, 0, 0, 1}},
                                           BinCase{"equal", {7, 7, 7, 7}, {0, 0, 0, 0}},
                                           BinCase{"all_table", {1, 2}, {1, 1}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(QualityPictures, HistogramIsDrawnAndBothFilesAreSavedScaledUp)
{
    const qualitysample::Run run = qualitysample::simulate();
    const QImage hist = qualityHistogram(run.mean.data(), run.badMap.data(), qualitysample::kWidth,
                                         qualitysample::kRows, QSize(480, 320));
    ASSERT_EQ(hist.size(), QSize(480, 320));
    int coloured = 0;
    for (int y = 0; y < hist.height(); ++y)
        for (int x = 0; x < hist.width(); ++x)
            coloured += qBlue(hist.pixel(x, y)) > qRed(hist.pixel(x, y)) + 40;
    EXPECT_GT(coloured, 2000) << "the bars should fill part of the plot";

    QTemporaryDir dir;
    const QImage map = qualityDeviationMap(run.mean.data(), run.badMap.data(), qualitysample::kWidth,
                                           qualitysample::kRows, run.figures.mean, run.figures.meanSpread);
    QString mapPath, histPath, error;
    ASSERT_TRUE(saveQualityPictures(map, hist, dir.filePath("q/run"), &mapPath, &histPath, &error))
        << error.toStdString();
    EXPECT_EQ(QImage(mapPath).size(), QSize(640, 472));
    EXPECT_EQ(QImage(mapPath).pixel(30 * 4 + 1, 20 * 4 + 2), kQualityMapTableColour);
    EXPECT_EQ(QImage(histPath).size(), hist.size());

    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_FALSE(saveQualityPictures(map, hist, dir.filePath("file/run"), &mapPath, &histPath, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("无法创建文件夹"))) << error.toStdString();
}

TEST(QualityReport, PathIsTheRunsLocalStartTime)
{
    const QByteArray before = qgetenv("TZ");
    qputenv("TZ", "CST-8"); // China, UTC+8
    tzset();
    const QString path = qualityReportPath(QStringLiteral("/r/S1/Report"),
                                           QDateTime(QDate(2026, 12, 31), QTime(17, 4, 5), Qt::UTC));
    before.isNull() ? qunsetenv("TZ") : qputenv("TZ", before);
    tzset();
    EXPECT_EQ(path, QStringLiteral("/r/S1/Report/20270101_010405.pdf"));
}

TEST(QualityReport, HtmlHoldsVerdictEveryFigureAndDeviceTextAsText)
{
    QualityReportData d = qualitysample::reportOf(qualitysample::simulate());
    d.sensorId = QStringLiteral("<b>S&1</b>");
    d.identity.append({QStringLiteral("版本"), QStringLiteral("<img src=x>")});
    d.pass = false;
    d.verdict = QStringLiteral("不合格：非均匀性、漏检坏点");
    d.writes.clear();
    const QString html = qualityReportHtml(d);
    EXPECT_FALSE(html.contains(QStringLiteral("<b>S&1")));
    EXPECT_FALSE(html.contains(QStringLiteral("<img src=x>")));
    QTextDocument doc;
    doc.setHtml(html);
    const QString text = doc.toPlainText();
    EXPECT_TRUE(text.contains(QStringLiteral("<b>S&1</b>"))) << "the ID should read as the core sent it";
    EXPECT_TRUE(text.contains(QStringLiteral("<img src=x>")));
    EXPECT_TRUE(text.contains(QStringLiteral("不合格")));
    EXPECT_TRUE(text.contains(QStringLiteral("非均匀性、漏检坏点")));
    EXPECT_TRUE(text.contains(QStringLiteral("连接以来未写入")));
    for (const QStringList& row : d.figureRows)
        for (const QString& field : row)
            EXPECT_TRUE(field.isEmpty() || text.contains(field)) << field.toStdString();

    d.writesError = QStringLiteral("历史记录未能写入文件");
    QTextDocument failed;
    failed.setHtml(qualityReportHtml(d));
    EXPECT_FALSE(failed.toPlainText().contains(QStringLiteral("连接以来未写入")));
    EXPECT_TRUE(failed.toPlainText().contains(d.writesError));
}

TEST(QualityReport, PdfIsWrittenWholeOrNotAtAll)
{
    QTemporaryDir dir;
    const QualityReportData d = qualitysample::reportOf(qualitysample::simulate());
    const QString path = qualityReportPath(dir.filePath("S160/Report"), d.started);
    QString error;
    ASSERT_TRUE(writeQualityReport(d, path, &error)) << error.toStdString();
    EXPECT_TRUE(irtest::readAll(path).startsWith("%PDF-"));
    EXPECT_EQ(QDir(dir.filePath("S160/Report")).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});

    // A folder where the report should go: nothing is left behind, and the reason is given.
    const QString blocked = dir.filePath("S160/Report/busy.pdf");
    ASSERT_TRUE(QDir().mkpath(blocked));
    EXPECT_FALSE(writeQualityReport(d, blocked, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("busy.pdf"))) << error.toStdString();
    EXPECT_EQ(QDir(dir.filePath("S160/Report")).entryList(QDir::Files), QStringList{QFileInfo(path).fileName()});
}

HistoryEvent event(const QString& kind, const QString& sensorId, const QDateTime& at, bool ok = true)
{
    HistoryEvent e(kind);
    e.sensorId = sensorId;
    e.started = at;
    e.details["what"] = kind;
    ok ? e.succeed() : e.fail(3, QStringLiteral("无应答"), QStringLiteral("block"));
    return e;
}

TEST(QualityWrites, OnlyThisCoresWritesAfterItsNewestIdentification)
{
    irtest::ScopedDataRoot root;
    HistoryConfig cfg;
    cfg.sqlitePath = root.file("h.sqlite");
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->configure(cfg);
    rec->clearCore();
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addSecs(-60);
    const QString a = QStringLiteral("CORE-A"), b = QStringLiteral("CORE-B");
    rec->record(event(HistoryKind::Identify, a, t0));
    rec->record(event(HistoryKind::FlashWrite, a, t0.addSecs(1)));      // before the reconnection
    rec->record(event(HistoryKind::Identify, a, t0.addSecs(2)));
    rec->record(event(HistoryKind::GainTable, a, t0.addSecs(3)));
    rec->record(event(HistoryKind::ReadBack, a, t0.addSecs(4)));        // reads nothing into it
    rec->record(event(HistoryKind::FlashWrite, b, t0.addSecs(5)));      // another core
    rec->record(event(HistoryKind::FlashWrite, a, t0.addSecs(6), false));
    rec->record(event(HistoryKind::DetectorConfig, a, t0.addSecs(7)));

    QList<QPair<QString, QString>> writes;
    QString error;
    ASSERT_TRUE(qualityWritesSinceConnected(a, &writes, &error)) << error.toStdString();
    ASSERT_EQ(writes.size(), 3);
    EXPECT_EQ(writes[0].first, t0.addSecs(3).toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    EXPECT_TRUE(writes[0].second.startsWith(QStringLiteral("增益表 成功"))) << writes[0].second.toStdString();
    EXPECT_TRUE(writes[1].second.startsWith(QStringLiteral("写入闪存 失败 (3) 步骤 block 无应答")))
        << writes[1].second.toStdString();
    EXPECT_TRUE(writes[1].second.contains(QStringLiteral("what=flash_write")));
    EXPECT_TRUE(writes[2].second.startsWith(QStringLiteral("探测器配置 成功")));

    EXPECT_FALSE(qualityWritesSinceConnected(QStringLiteral("CORE-C"), &writes, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("CORE-C"))) << error.toStdString();
    rec->configure(HistoryConfig());
}

} // namespace
