#pragma once

// A simulated acceptance run of a 160 x 118 core for the report tests and the
// report's screenshot: a small gradient, a little noise, two hot and one dead pixel the
// table knows, one hot pixel it missed.
#include "QualityFigures.h"
#include "QualityPictures.h"
#include "QualityReport.h"

#include <QDateTime>

#include <random>

namespace qualitysample {

constexpr int kWidth = 160, kRows = 118, kFrames = 8;

struct Run {
    std::vector<float> mean;
    std::vector<uint8_t> badMap;
    QualityFigures figures;
};

inline Run simulate()
{
    Run r;
    const size_t n = size_t(kWidth) * kRows;
    r.badMap.assign(n, 0);
    std::vector<std::vector<uint16_t>> frames(kFrames, std::vector<uint16_t>(n));
    std::mt19937 rng(7);
    std::normal_distribution<double> fixed(0, 3), temporal(0, 2);
    std::vector<double> base(n);
    for (size_t i = 0; i < n; ++i)
        base[i] = 8000 + 0.1 * double(i % kWidth) + 0.08 * double(i / kWidth) + fixed(rng);
    base[20 * kWidth + 30] = 9500;   // hot, in the table
    base[21 * kWidth + 30] = 9400;   // its neighbour, in the table
    base[80 * kWidth + 120] = 2000;  // dead, in the table
    base[60 * kWidth + 70] = 8300;   // hot, missed by the table
    r.badMap[20 * kWidth + 30] = r.badMap[21 * kWidth + 30] = r.badMap[80 * kWidth + 120] = 1;
    for (auto& f : frames)
        for (size_t i = 0; i < n; ++i)
            f[i] = uint16_t(std::lround(base[i] + temporal(rng)));
    std::vector<const uint16_t*> ptr;
    for (auto& f : frames)
        ptr.push_back(f.data());
    computeQualityFigures(ptr.data(), kFrames, kWidth, kRows, r.badMap.data(), &r.figures, &r.mean);
    return r;
}

inline QualityReportData reportOf(const Run& r)
{
    QualityReportData d;
    d.sensorId = QStringLiteral("S160-0042");
    d.serial = QStringLiteral("2026120900042");
    d.identity = {{QStringLiteral("机芯类型"), QStringLiteral("160 系列")},
                  {QStringLiteral("程序版本"), QStringLiteral("FPGA 2.3.1 / ARM 1.8.0")}};
    d.started = QDateTime(QDate(2026, 12, 9), QTime(2, 30, 5), Qt::UTC);
    d.station = QStringLiteral("bench-7");
    d.operatorName = QStringLiteral("王工");
    d.frames = kFrames;
    d.width = kWidth;
    d.rows = kRows;
    d.tableSource = QStringLiteral("机芯内坏点表 (3 个)");
    d.writes = {{QStringLiteral("2026-12-09 02:21:40"), QStringLiteral("增益表 成功 file=Gain.bin frames=16 size=160x120")},
                {QStringLiteral("2026-12-09 02:24:02"), QStringLiteral("写入闪存 成功 what=gain address=0x01000000")}};
    const QualityFigures& f = r.figures;
    const bool nu = f.nonuniformityPercent <= 1.0, op = f.operabilityPercent >= 99.5;
    const bool out = f.unflaggedOutliers == 0;
    auto yes = [](bool ok) { return ok ? QStringLiteral("通过") : QStringLiteral("未通过"); };
    d.figureRows = {
        {QStringLiteral("均值"), QString::number(f.mean, 'f', 1), QString(), QString()},
        {QStringLiteral("时域噪声"), QString::number(f.temporalNoise, 'f', 2), QStringLiteral("≤ 6"),
         yes(f.temporalNoise <= 6)},
        {QStringLiteral("非均匀性"), QString::number(f.nonuniformityPercent, 'f', 3) + QLatin1Char('%'),
         QStringLiteral("≤ 1%"), yes(nu)},
        {QStringLiteral("可校正度"), QString::number(f.correctability, 'f', 3), QStringLiteral("≤ 1"),
         yes(f.correctability <= 1)},
        {QStringLiteral("有效像元率"), QString::number(f.operabilityPercent, 'f', 3) + QLatin1Char('%'),
         QStringLiteral("≥ 99.5%"), yes(op)},
        {QStringLiteral("最大坏点簇"), QString::number(f.largestCluster), QStringLiteral("≤ 4"),
         yes(f.largestCluster <= 4)},
        {QStringLiteral("漏检坏点"), QString::number(f.unflaggedOutliers), QStringLiteral("≤ 0"), yes(out)},
    };
    QStringList failed;
    for (const QStringList& row : d.figureRows)
        if (row[3] == QStringLiteral("未通过"))
            failed << row[0];
    d.pass = failed.isEmpty();
    d.verdict = d.pass ? QStringLiteral("合格") : QStringLiteral("不合格：") + failed.join(QStringLiteral("、"));
    d.deviationMap = qualityDeviationMap(r.mean.data(), r.badMap.data(), kWidth, kRows, f.mean, f.meanSpread);
    d.histogram = qualityHistogram(r.mean.data(), r.badMap.data(), kWidth, kRows, QSize(600, 400));
    d.runDir = QStringLiteral("/data/S160-0042/Quality/20261209_023005");
    return d;
}

} // namespace qualitysample
