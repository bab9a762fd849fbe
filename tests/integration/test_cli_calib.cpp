// The offline calibration commands of irbench-cli as a real process, on files only.
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <vector>

using irtest::CliResult;
using irtest::runCli;

namespace {

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray frameBytes(const std::vector<uint16_t>& px)
{
    QByteArray b;
    for (uint16_t v : px) {
        b.append(char(v & 0xFF));
        b.append(char(v >> 8));
    }
    return b;
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::string text(const CliResult& r)
{
    return (r.out + r.err).toStdString();
}

} // namespace

TEST(CliCalibration, NucWritesTheGainFileAndRefusesBadInput)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString low = dir.filePath("Raw/1/LowFrame"), high = dir.filePath("Raw/1/HighFrame");
    // Low averages 1000, 1000, 1000, 1001 (the first pixel's 1000.5 is cut), high 2000,
    // 1000, 3000, 2001; means 1000.2 and 2000.2.
    ASSERT_TRUE(writeBytes(low + "/Frame1.frame", frameBytes({1000, 1000, 1000, 1001})));
    ASSERT_TRUE(writeBytes(low + "/Frame2.frame", frameBytes({1001, 1000, 1001, 1001})));
    ASSERT_TRUE(writeBytes(high + "/Frame1.frame", frameBytes({2000, 1000, 3000, 2001})));
    ASSERT_TRUE(writeBytes(high + "/Frame2.frame", frameBytes({2001, 1000, 3000, 2001})));
    const QString k = dir.filePath("NUC/K1.bin");

    CliResult r = runCli({"nuc", low, high, "2", "2", "2", k});
    ASSERT_EQ(r.exitCode, 0) << text(r);
    EXPECT_EQ(r.out.trimmed(), k);
    EXPECT_TRUE(r.err.contains("低温均值 1000.2, 高温均值 2000.2")) << text(r);
    // 32767 (d = 1000), 45000 (H = L), 25000 (d = 2000), 32767; high byte first.
    EXPECT_EQ(readBytes(k).toHex(), QByteArray("7fffafc861a87fff"));

    // Swapped folders: every gain would sit at a limit; nothing is written.
    const QString k2 = dir.filePath("NUC/K2.bin");
    r = runCli({"nuc", high, low, "2", "2", "2", k2});
    EXPECT_EQ(r.exitCode, 1) << text(r);
    EXPECT_FALSE(QFile::exists(k2));

    // A missing or short frame is refused naming the file, and the old gain file stays.
    r = runCli({"nuc", low, high, "2", "2", "3", k});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("Frame3.frame")) << text(r);
    ASSERT_TRUE(writeBytes(high + "/Frame2.frame", frameBytes({2001, 1000, 3000})));
    r = runCli({"nuc", low, high, "2", "2", "2", k});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("6 字节")) << text(r);
    EXPECT_EQ(readBytes(k).toHex(), QByteArray("7fffafc861a87fff"));

    EXPECT_EQ(runCli({"nuc", low, high, "2", "2", "129", k}).exitCode, 2);
    EXPECT_EQ(runCli({"nuc", low, high, "1281", "1080", "2", k}).exitCode, 2);
}

TEST(CliCalibration, DetectorsWriteTablesThatDumpBack)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<uint16_t> px(40 * 30, 1000);
    px[15 * 40 + 20] = 1060; // hot
    px[4 * 40 + 3] = 940;    // cold
    const QString frame = dir.filePath("f.frame");
    ASSERT_TRUE(writeBytes(frame, frameBytes(px)));
    const QString t10 = dir.filePath("Pixel/v10.bin");

    CliResult r = runCli({"detect-v10", frame, "40", "30", "50", "50", t10});
    ASSERT_EQ(r.exitCode, 0) << text(r);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_EQ(readBytes(t10).toHex(), QByteArray("0000500400010015"));
    r = runCli({"table-dump", t10, "40", "30"});
    EXPECT_EQ(r.exitCode, 0) << text(r);
    EXPECT_EQ(r.out, "3 4 0\n20 15 0\n");

    // At 70 counts nothing is found: an empty table, and a word about the thresholds.
    r = runCli({"detect-v10", frame, "40", "30", "70", "70", t10});
    EXPECT_EQ(r.exitCode, 0) << text(r);
    EXPECT_EQ(r.out, "0\n");
    EXPECT_TRUE(QFile::exists(t10));
    EXPECT_EQ(readBytes(t10).size(), 0);

    // V20 over a base table holding (20, 15) twice and the reset entry, which lies
    // outside a 40 x 30 frame and is dropped with a warning.
    const QString base = dir.filePath("base.bin"), t20 = dir.filePath("v20.bin");
    ASSERT_TRUE(writeBytes(base, QByteArray::fromHex("0001001500010015" "00010143")));
    r = runCli({"detect-v20", frame, "40", "30", "50", base, t20});
    ASSERT_EQ(r.exitCode, 0) << text(r);
    EXPECT_EQ(r.out, "2\n");
    EXPECT_TRUE(r.err.contains("1 条记录不在 40 x 30 范围内")) << text(r);
    EXPECT_EQ(runCli({"table-dump", t20, "40", "30"}).out, "3 4 0\n20 15 0\n");
    r = runCli({"detect-v20", frame, "40", "30", "70", "-", t20});
    EXPECT_EQ(r.out, "0\n") << text(r);
}

TEST(CliCalibration, UnreadableOrDamagedFilesAreFailures)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString frame = dir.filePath("f.frame");
    ASSERT_TRUE(writeBytes(frame, frameBytes(std::vector<uint16_t>(16, 500))));

    // A folder where the table should go: the write fails and says so.
    QDir().mkpath(dir.filePath("taken"));
    CliResult r = runCli({"detect-v10", frame, "4", "4", "50", "50", dir.filePath("taken")});
    EXPECT_EQ(r.exitCode, 1) << text(r);
    EXPECT_TRUE(r.err.contains("无法写入坏点表")) << text(r);
    r = runCli({"detect-v20", dir.filePath("none.frame"), "4", "4", "50", "-", dir.filePath("t.bin")});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(QFile::exists(dir.filePath("t.bin")));

    // A damaged table is refused as a whole, the damage named.
    const QString table = dir.filePath("damaged.bin");
    ASSERT_TRUE(writeBytes(table, QByteArray::fromHex("2f001001" "00000005" "0000200301")));
    r = runCli({"table-dump", table, "4", "4"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("不是 4 的倍数")) << text(r);
    ASSERT_TRUE(writeBytes(table, QByteArray::fromHex("2f001001" "00000005" "00002003")));
    r = runCli({"table-dump", table, "4", "4"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.contains("第 2 条记录的行或列为 0")) << text(r);
    EXPECT_EQ(runCli({"table-dump", dir.filePath("missing.bin"), "4", "4"}).exitCode, 2);
    EXPECT_EQ(runCli({"table-dump", table, "4096", "4"}).exitCode, 2);
}
