// irbench-cli spec-sheet and sheet-cell as real processes: the printed values of
// each sensor type code, the table file, the exit status of unusable workbooks and of
// a table that cannot be written (and that nothing is left behind then). A workbook
// that cannot be read, or lacks the sheet asked for, is an unusable input: 2.
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using irtest::CliResult;
using irtest::runCli;

namespace {

const QString kFixtures = QStringLiteral(IRBENCH_SHEET_FIXTURES);

TEST(CliSpecSheet, PrintsTheValuesOfTheTypeAndWritesTheTable)
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath("t.bin");
    CliResult dali = runCli({"spec-sheet", kFixtures + "/spec.xls", "--type", "4", "--out", out});
    ASSERT_EQ(dali.exitCode, 0) << dali.err.toStdString();
    EXPECT_TRUE(dali.out.contains("响应率: 87\n")) << dali.out.toStdString();
    EXPECT_TRUE(dali.out.contains("偏压: 2500\n"));
    EXPECT_TRUE(dali.out.contains("积分响应时间: 12\n"));
    EXPECT_FALSE(dali.out.contains("GFid"));
    EXPECT_TRUE(dali.out.contains("坏点: 6\n"));
    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().left(4), QByteArray("\x00\x01\x41\x2C", 4));

    // A 384 x 288 frame leaves out (512, 640).
    CliResult pico = runCli({"spec-sheet", kFixtures + "/spec_reordered.xlsx", "--type", "2", "--width", "384",
                             "--height", "288", "--out", out});
    ASSERT_EQ(pico.exitCode, 0) << pico.err.toStdString();
    EXPECT_TRUE(pico.out.contains("GFid/GSK: 1234500\n")) << pico.out.toStdString();
    EXPECT_TRUE(pico.out.contains("坏点: 5\n"));
    EXPECT_TRUE(pico.out.contains("跳过: 1\n"));
    EXPECT_EQ(QFileInfo(out).size(), 5 * 4);

    CliResult cell = runCli({"sheet-cell", kFixtures + "/spec_reordered.xlsx", "2", "2", "1"});
    EXPECT_EQ(cell.exitCode, 0);
    EXPECT_EQ(cell.out, "0.30000000000000004\n");
    EXPECT_EQ(runCli({"sheet-cell", kFixtures + "/spec.xls", "3", "1", "2"}).out, "文本:列\n");
    EXPECT_EQ(runCli({"sheet-cell", kFixtures + "/spec.xls", "1", "999", "9"}).out, "空\n");
}

TEST(CliSpecSheet, UnusableWorkbooksExit2AndUnwritableTablesExit1WithNothingWritten)
{
    QTemporaryDir tmp;
    const QString out = tmp.filePath("t.bin");
    for (const char* bad : {"bad_not_zip.xlsx", "bad_truncated.xls", "bad_bomb.xlsx", "missing.xls"}) {
        CliResult r = runCli({"spec-sheet", kFixtures + "/" + bad, "--type", "4", "--out", out});
        EXPECT_EQ(r.exitCode, 2) << bad << " " << r.err.toStdString();
        EXPECT_FALSE(r.err.isEmpty()) << bad;
        EXPECT_FALSE(QFile::exists(out)) << bad;
    }
    EXPECT_EQ(runCli({"sheet-cell", kFixtures + "/spec.xls", "4", "1", "1"}).exitCode, 2) << "no worksheet 4";
    EXPECT_EQ(runCli({"sheet-cell", kFixtures + "/spec.xls", "0", "1", "1"}).exitCode, 2);
    EXPECT_EQ(runCli({"spec-sheet", kFixtures + "/spec.xls", "--out", out}).exitCode, 2) << "no --type";

    // The table's folder is a file.
    ASSERT_TRUE(QFile(tmp.filePath("f")).open(QIODevice::WriteOnly));
    CliResult r = runCli({"spec-sheet", kFixtures + "/spec.xls", "--type", "4", "--out", tmp.filePath("f/t.bin")});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("坏点表写入失败"));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"f"});
}

} // namespace
