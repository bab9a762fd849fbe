// The drift sweep's files: sample numbering across runs, the fit of a sample folder
// (more than 60 temperatures, cooling sweeps, the split, refusals), the coefficient
// files' way into the flash slots with a resume after a failure, and the
// stabilisation's background_info.dat.
#include "CComonFun.h"
#include "StableFpaData.h"
#include "TempDriftData.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace tempdrift;

constexpr int kW = 8;
constexpr int kH = 6;

// A sample of a picture whose pixel p reads 3000 + (p % 5) + slope x (t - 2600) / 100.
void addSample(const QString& dir, int number, float t, double slope = 20.0)
{
    std::vector<std::vector<uint16_t>> frames(2, std::vector<uint16_t>(kW * kH));
    for (auto& f : frames)
        for (size_t p = 0; p < f.size(); ++p)
            f[p] = uint16_t(std::lround(3000 + double(p % 5) + slope * (double(t) - 2600) / 100.0));
    uint16_t mean = 0;
    QString error;
    ASSERT_TRUE(saveSample(dir, number, frames, kW * kH, t, &mean, &error)) << error.toStdString();
}

class DriftFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        data = dataDir(tmp.path());
        ret = retDir(tmp.path());
        int next = 0;
        QString error;
        ASSERT_TRUE(prepareSampleDir(data, false, &next, &error));
    }
    std::vector<int16_t> coefficients(int k) const
    {
        const QByteArray b = irtest::readAll(coefficientFile(ret, k));
        std::vector<int16_t> out(size_t(b.size() / 2));
        qFromLittleEndian<int16_t>(b.constData(), qsizetype(out.size()), out.data());
        return out;
    }
    QTemporaryDir tmp;
    QString data;
    QString ret;
};

TEST_F(DriftFiles, SampleNumberingPairsImagesAndTemperaturesAcrossRuns)
{
    addSample(data, 1, 2400.7f);
    addSample(data, 2, -12.9f);
    EXPECT_EQ(irtest::readAll(temperatureFile(data)).toHex(), QByteArray("6009f4ff")); // 2400, -12: truncated
    int next = 0;
    QString error;
    ASSERT_TRUE(prepareSampleDir(data, false, &next, &error));
    EXPECT_EQ(next, 3);
    ASSERT_TRUE(prepareSampleDir(data, true, &next, &error));
    EXPECT_EQ(next, 1);
    EXPECT_FALSE(QFile::exists(sampleFile(data, 1)));
    EXPECT_FALSE(QFile::exists(temperatureFile(data)));
}

TEST_F(DriftFiles, TemperatureIsAppendedOnlyAfterItsImageIsWritten)
{
    addSample(data, 1, 2400.f);
    // The second image cannot be written (a folder stands in its place).
    ASSERT_TRUE(QDir().mkpath(sampleFile(data, 2)));
    std::vector<std::vector<uint16_t>> frames(1, std::vector<uint16_t>(kW * kH, 100));
    uint16_t mean = 0;
    QString error;
    EXPECT_FALSE(saveSample(data, 2, frames, kW * kH, 2500.f, &mean, &error));
    EXPECT_TRUE(error.contains("avgFiltering2.bin")) << error.toStdString();
    EXPECT_EQ(irtest::readAll(temperatureFile(data)).size(), 2);
}

TEST_F(DriftFiles, MoreThanSixtyTemperaturesFitSixtyAndCoolingSweepsFitAscending)
{
    // 63 cooling samples, 2500 down to 2190: only the first 60 count, in reverse.
    for (int i = 0; i < 63; ++i)
        addSample(data, i + 1, float(2500 - 5 * i));
    const FitOutcome cool = fitSamples(data, ret, 1, kW, kH);
    ASSERT_EQ(cool.status, FitOutcome::Written) << cool.text.toStdString();
    EXPECT_EQ(cool.samples, 60);
    ASSERT_EQ(cool.temperatures.size(), 60u);
    EXPECT_EQ(cool.temperatures.front(), 2205.f);
    EXPECT_EQ(cool.temperatures.back(), 2500.f);
    EXPECT_EQ(cool.total, 4);
    // The slope is 0.2 counts per unit: c1 truncates to 0, so compare via a steeper sweep.
    QTemporaryDir other;
    const QString d2 = dataDir(other.path());
    int next = 0;
    QString error;
    ASSERT_TRUE(prepareSampleDir(d2, false, &next, &error));
    for (int i = 0; i < 10; ++i)
        addSample(d2, i + 1, float(2690 - 10 * i), 1234.0);
    const FitOutcome r = fitSamples(d2, retDir(other.path()), 1, kW, kH);
    ASSERT_EQ(r.status, FitOutcome::Written);
    EXPECT_TRUE(std::is_sorted(r.temperatures.begin(), r.temperatures.end()));
    const QByteArray c1 = irtest::readAll(coefficientFile(retDir(other.path()), 0));
    ASSERT_EQ(c1.size(), kW * kH * 2);
    EXPECT_EQ(qFromLittleEndian<int16_t>(c1.constData()), 12); // 12.34 counts per unit
}

TEST_F(DriftFiles, NoSampleAboveTheSplitPutsAllInSegmentZero)
{
    for (int i = 0; i < 8; ++i)
        addSample(data, i + 1, float(2300 + 30 * i), 900.0);
    const FitOutcome r = fitSamples(data, ret, 3, kW, kH);
    ASSERT_EQ(r.status, FitOutcome::Written) << r.text.toStdString();
    EXPECT_EQ(r.total, 8);
    // Segment 0 got every sample: c1 = slope x deviation (in units of 100) is far from 0.
    const std::vector<int16_t> c1 = coefficients(0);
    ASSERT_EQ(c1.size(), size_t(kW * kH + 4));
    EXPECT_GT(c1[0], 100);
    // Trailer: the temperature mean 2405 and deviation 68.7 (truncated).
    EXPECT_EQ(c1[size_t(kW * kH)], 2405);
    EXPECT_EQ(c1[size_t(kW * kH) + 1], 68);
    // Segment 1 is empty: zeros, and the message says so.
    const std::vector<int16_t> s1 = coefficients(4);
    EXPECT_TRUE(std::all_of(s1.begin(), s1.begin() + kW * kH, [](int16_t v) { return v == 0; }));
    EXPECT_TRUE(r.text.contains(QStringLiteral("第 2 段（0 个采样点）")));
}

TEST_F(DriftFiles, RefusalsWriteNothing)
{
    addSample(data, 1, 2400.f);
    addSample(data, 2, 2500.f);
    addSample(data, 3, 2700.f);
    // A type without a fit.
    FitOutcome r = fitSamples(data, ret, 2, kW, kH);
    EXPECT_EQ(r.status, FitOutcome::TypeRefused);
    EXPECT_FALSE(QDir(ret).exists());
    // A short and a missing sample file, both named.
    QFile::resize(sampleFile(data, 2), 10);
    QFile::remove(sampleFile(data, 3));
    r = fitSamples(data, ret, 1, kW, kH);
    EXPECT_EQ(r.status, FitOutcome::BadSamples);
    EXPECT_TRUE(r.text.contains("avgFiltering2.bin")) << r.text.toStdString();
    EXPECT_TRUE(r.text.contains("avgFiltering3.bin"));
    EXPECT_FALSE(QFile::exists(coefficientFile(ret, 0)));
    // No temperatures at all.
    QTemporaryDir empty;
    EXPECT_EQ(fitSamples(empty.path(), ret, 1, kW, kH).status, FitOutcome::NoSamples);
}

TEST(DriftWrite, FilesGoIntoTheirSlotsAndAFailedWriteResumes)
{
    transfertest::TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir tmp;
    const QString ret = retDir(tmp.path());
    ASSERT_TRUE(CComonFun::makePath(ret));
    std::vector<QByteArray> files;
    for (int k = 0; k < 4; ++k) {
        files.push_back(transfertest::pattern(160 * 120 * 2 + (k == 3 ? 8 : 0), k + 1));
        ASSERT_TRUE(CComonFun::writeFile(coefficientFile(ret, k), files.back()));
    }
    // The third file's 5th data block is refused.
    ASSERT_TRUE(rig.fault("zero@block:0xEE#" + std::to_string(2 * 39 + 5)));
    transfertest::RecordingContext ctx;
    int written = -1;
    std::vector<std::pair<int, int>> counts;
    auto onWritten = [&counts](int w, int t) { counts.emplace_back(w, t); };
    QString detail;
    EXPECT_EQ(writeCoefficientFiles(ctx, ret, 0, 4, &written, onWritten, &detail), WriteBlock);
    EXPECT_EQ(written, 2);
    EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}}));
    // After the failed block: the exit, never the end.
    const QStringList lines = rig.requestLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.last(), "E6");
    EXPECT_TRUE(lines[lines.size() - 2].startsWith("EE")) << lines.join(' ').toStdString();

    EXPECT_EQ(writeCoefficientFiles(ctx, ret, 2, 4, &written, onWritten, &detail), WriteOk);
    EXPECT_EQ(written, 4);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(rig.flash(fileAddress(k), files[size_t(k)].size()), files[size_t(k)]) << k;
    EXPECT_EQ(writeCoefficientFiles(ctx, ret, 4, 4, &written, onWritten, &detail), WriteNothing);
    EXPECT_TRUE(ctx.messages.isEmpty());
}

TEST(DriftWrite, FileLargerThanItsSlotRefusesTheSetBeforeAnyBlock)
{
    transfertest::TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir tmp;
    for (int k = 0; k < 4; ++k)
        ASSERT_TRUE(CComonFun::writeFile(coefficientFile(tmp.path(), k),
                                         transfertest::pattern(k == 2 ? 384 * 288 * 2 : 1000, k)));
    transfertest::RecordingContext ctx;
    int written = -1;
    QString detail;
    EXPECT_EQ(writeCoefficientFiles(ctx, tmp.path(), 0, 4, &written, {}, &detail), WriteTooLarge);
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(rig.requestLines().isEmpty());
    EXPECT_TRUE(detail.contains("2.bin") && detail.contains("221184") && detail.contains("40960"))
        << detail.toStdString();
}

TEST(DriftWrite, CountersBeforeAResume)
{
    EXPECT_TRUE(countersValid(0, 4));
    EXPECT_TRUE(countersValid(7, 8));
    EXPECT_FALSE(countersValid(4, 4));
    EXPECT_FALSE(countersValid(-1, 4));
    EXPECT_FALSE(countersValid(2, 12));
    EXPECT_FALSE(countersValid(1, 3));
}

TEST(StableInfo, CollectionLinesReplacedInPlaceWithoutTrailingNewline)
{
    QTemporaryDir tmp;
    const QString path = tmp.filePath("background_info.dat");
    QStringList lines;
    for (int i = 0; i < 130; ++i)
        lines << QStringLiteral("L%1").arg(i);
    ASSERT_TRUE(CComonFun::writeFile(path, lines.join('\n').toUtf8()));
    EXPECT_EQ(stablefpa::recordCollection(path, 0, 30.0625, 6123), stablefpa::RecordResult::Written);
    EXPECT_EQ(stablefpa::recordCollection(path, 3, -12.3456789, 7000), stablefpa::RecordResult::Written);
    const QList<QByteArray> got = irtest::readAll(path).split('\n');
    ASSERT_EQ(got.size(), 130);
    EXPECT_EQ(got[49], "30.0625");
    EXPECT_EQ(got[89], "6123");
    EXPECT_EQ(got[52], "-12.3457");
    EXPECT_EQ(got[92], "7000");
    EXPECT_EQ(got[50], "L50");
    EXPECT_EQ(got[129], "L129");
    EXPECT_FALSE(irtest::readAll(path).endsWith('\n'));
    // Collection 40 would write into the mean block; past the end is refused too.
    EXPECT_EQ(stablefpa::recordCollection(path, 40, 1, 1), stablefpa::RecordResult::OutOfRange);
    ASSERT_TRUE(CComonFun::writeFile(path, QByteArray("a\nb\nc")));
    EXPECT_EQ(stablefpa::recordCollection(path, 0, 1, 1), stablefpa::RecordResult::OutOfRange);
    EXPECT_EQ(irtest::readAll(path), QByteArray("a\nb\nc"));
    EXPECT_EQ(stablefpa::recordCollection(tmp.filePath("none.dat"), 0, 1, 1), stablefpa::RecordResult::NoFile);
}

TEST(StableInfo, TemplateCopyKeepsAnExistingCopy)
{
    QTemporaryDir tmp;
    const QString stable = tmp.filePath("CORE/StableFPA");
    ASSERT_TRUE(CComonFun::makePath(stablefpa::dataDir(stable)));
    const QString info = stablefpa::infoFile(stablefpa::dataDir(stable));
    EXPECT_EQ(stablefpa::copyTemplate(stablefpa::templateFile(stable), info), stablefpa::CopyResult::NoTemplate);
    ASSERT_TRUE(CComonFun::makePath(tmp.filePath("info")));
    ASSERT_TRUE(CComonFun::writeFile(tmp.filePath("info/background_info.dat"), QByteArray("T")));
    EXPECT_EQ(stablefpa::templateFile(stable), QDir::cleanPath(tmp.filePath("info/background_info.dat")));
    EXPECT_EQ(stablefpa::copyTemplate(stablefpa::templateFile(stable), info), stablefpa::CopyResult::Copied);
    ASSERT_TRUE(CComonFun::writeFile(info, QByteArray("mine")));
    EXPECT_EQ(stablefpa::copyTemplate(stablefpa::templateFile(stable), info), stablefpa::CopyResult::Kept);
    EXPECT_EQ(irtest::readAll(info), QByteArray("mine"));
}

} // namespace
