// irbench-cli quality: the figures as "key: value" lines and the exit status that a
// line script acts on: 0 pass, 4 fail, 2 for input that cannot be judged.
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using irtest::CliResult;
using irtest::runCli;

namespace {

constexpr int W = 8;
constexpr int H = 6; // with the two info rows

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Flat 5000 +-1 by frame, with a hot pixel at (3, 2) and 14-bit junk in the info rows
// that the figures must leave out.
QByteArray frame(int k)
{
    QByteArray b;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint16_t v = uint16_t(5000 + ((x + y + k) % 2 ? 1 : -1));
            if (x == 3 && y == 2)
                v = 16383;
            if (y >= H - 2)
                v = uint16_t(x * 2000);
            b.append(char(v & 0xFF));
            b.append(char(v >> 8));
        }
    return b;
}

std::string text(const CliResult& r)
{
    return (r.out + r.err).toStdString();
}

class CliQuality : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        for (int k = 1; k <= 4; ++k)
            ASSERT_TRUE(writeBytes(dir.filePath(QString("run/Frame%1.frame").arg(k)), frame(k)));
        // The table flags the hot pixel: record for x 3, y 2 (1-based 4, 3).
        ASSERT_TRUE(writeBytes(dir.filePath("table.bin"), QByteArray::fromHex("00003004")));
        // One pixel of 32 is 3 %: a small frame needs a looser operability.
        ASSERT_TRUE(writeBytes(dir.filePath("small"), "# bench of a tiny test frame\noperability_percent: 95\n"));
    }
    CliResult quality(QStringList extra)
    {
        return runCli(QStringList{"quality", dir.filePath("run"), "4", QString::number(W), QString::number(H)} + extra);
    }
    QTemporaryDir dir;
};

TEST_F(CliQuality, HotPixelInTheTablePassesAndMissedFails)
{
    CliResult r = quality({"--table", dir.filePath("table.bin"), "--limits", dir.filePath("small")});
    ASSERT_EQ(r.exitCode, 0) << text(r);
    EXPECT_TRUE(r.out.contains("mean: 5000.000\n")) << text(r);
    EXPECT_TRUE(r.out.contains("operability_percent: 96.8750\n")) << text(r); // 31 of 32
    EXPECT_TRUE(r.out.contains("largest_cluster: 1\n")) << text(r);
    EXPECT_TRUE(r.out.endsWith("verdict: pass\n")) << text(r);

    // Without the table the hot pixel is an outlier nobody flagged.
    r = quality({"--limits", dir.filePath("small")});
    EXPECT_EQ(r.exitCode, 4) << text(r);
    EXPECT_TRUE(r.out.contains("unflagged_outliers: 1\n")) << text(r);
    EXPECT_TRUE(r.out.contains("verdict: fail (nonuniformity_percent, correctability, unflagged_outliers)\n")) << text(r);

    // The default limits of a line: 96.9 % operability is not enough.
    r = quality({"--table", dir.filePath("table.bin")});
    EXPECT_EQ(r.exitCode, 4) << text(r);
    EXPECT_TRUE(r.out.endsWith("verdict: fail (operability_percent)\n")) << text(r);
}

// A capture's run folder holds only the image rows: judged the same as whole frames,
// but one run never mixes the two forms.
TEST_F(CliQuality, CaptureFilesWithoutInfoRowsGiveTheSameFigures)
{
    const CliResult whole = quality({"--table", dir.filePath("table.bin"), "--limits", dir.filePath("small")});
    ASSERT_EQ(whole.exitCode, 0) << text(whole);
    for (int k = 1; k <= 4; ++k)
        ASSERT_TRUE(writeBytes(dir.filePath(QString("run/Frame%1.frame").arg(k)), frame(k).left(W * (H - 2) * 2)));
    const CliResult image = quality({"--table", dir.filePath("table.bin"), "--limits", dir.filePath("small")});
    EXPECT_EQ(image.exitCode, 0) << text(image);
    EXPECT_EQ(image.out, whole.out);
    ASSERT_TRUE(writeBytes(dir.filePath("run/Frame3.frame"), frame(3)));
    EXPECT_EQ(quality({}).exitCode, 2);
}

TEST_F(CliQuality, LimitsFileDecidesAndTyposAreRefused)
{
    ASSERT_TRUE(writeBytes(dir.filePath("strict"), "operability_percent: 95\ntemporal_noise: 0.5\n"));
    CliResult r = quality({"--table", dir.filePath("table.bin"), "--limits", dir.filePath("strict")});
    EXPECT_EQ(r.exitCode, 4) << text(r);
    EXPECT_TRUE(r.out.contains("verdict: fail (temporal_noise)")) << text(r);
    ASSERT_TRUE(writeBytes(dir.filePath("typo"), "temporal_nosie: 9\n"));
    r = quality({"--limits", dir.filePath("typo")});
    EXPECT_EQ(r.exitCode, 2) << text(r);
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(CliQuality, InputThatCannotBeJudgedExitsTwo)
{
    // Too few frames, a missing frame, a short frame, a table that does not decode.
    EXPECT_EQ(runCli({"quality", dir.filePath("run"), "1", "8", "6"}).exitCode, 2);
    EXPECT_EQ(runCli({"quality", dir.filePath("run"), "5", "8", "6"}).exitCode, 2);
    ASSERT_TRUE(writeBytes(dir.filePath("run/Frame4.frame"), frame(4).left(20)));
    EXPECT_EQ(quality({}).exitCode, 2);
    ASSERT_TRUE(writeBytes(dir.filePath("run/Frame4.frame"), frame(4)));
    ASSERT_TRUE(writeBytes(dir.filePath("cut.bin"), QByteArray::fromHex("000030")));
    const CliResult r = quality({"--table", dir.filePath("cut.bin")});
    EXPECT_EQ(r.exitCode, 2) << text(r);
    EXPECT_TRUE(r.out.isEmpty());
}

} // namespace
