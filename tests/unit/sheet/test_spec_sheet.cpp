// The datasheet's values and bad-pixel table: the conversions of the vendor cells,
// the records and their neighbour masks, list ends, entries that are skipped, the
// whole-or-nothing table file, and the search for the core's workbook in a folder.
#include "CComonFun.h"
#include "SheetWorkbook.h"
#include "SpecSheet.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace {

QString fixture(const QString& name)
{
    return QStringLiteral(IRBENCH_SHEET_FIXTURES "/") + name;
}

// A workbook held in memory: sheet -> (row, column) -> cell.
class MemoryBook : public SheetWorkbook {
public:
    explicit MemoryBook(int sheets)
        : m_cells(sheets)
    {
    }
    void number(int sheet, int row, int column, double v)
    {
        SheetCell c;
        c.type = SheetCell::Type::Number;
        c.number = v;
        m_cells[sheet - 1][key(row, column)] = c;
    }
    void text(int sheet, int row, int column, const QString& t)
    {
        SheetCell c;
        c.type = SheetCell::Type::Text;
        c.text = t;
        m_cells[sheet - 1][key(row, column)] = c;
    }
    // Worksheet 3 from row 2.
    void list(const std::vector<std::pair<double, double>>& entries)
    {
        int row = 2;
        for (const auto& e : entries) {
            number(3, row, 1, e.first);
            number(3, row++, 2, e.second);
        }
    }
    int sheetCount() const override { return int(m_cells.size()); }
    bool selectSheet(int n) override
    {
        m_active = n >= 1 && n <= sheetCount() ? n - 1 : -1;
        return m_active >= 0;
    }
    SheetCell cell(int row, int column) const override
    {
        return m_active < 0 ? SheetCell() : m_cells[m_active].value(key(row, column));
    }

private:
    static qint64 key(int r, int c) { return qint64(r) << 20 | c; }
    std::vector<QHash<qint64, SheetCell>> m_cells;
    int m_active = -1;
};

struct Record {
    int mask;
    int row; // as the sheet numbers it, from 1
    int column;
};

std::vector<Record> records(const QByteArray& table)
{
    std::vector<Record> out;
    for (int i = 0; i + 4 <= table.size(); i += 4) {
        const auto* b = reinterpret_cast<const uint8_t*>(table.constData() + i);
        const int a = b[1] << 16 | b[2] << 8 | b[3];
        out.push_back({b[0], a >> 12, a & 0xFFF});
    }
    return out;
}

specsheet::Result extract(SheetWorkbook& book, int type, int w, int h, QString* log = nullptr)
{
    specsheet::Result r;
    QString sink;
    EXPECT_TRUE(specsheet::extract(book, type, w, h, &r, [&](const QString& s) { sink += s; }));
    if (log)
        *log = sink;
    return r;
}

TEST(SpecSheetValues, GfidAndDaliValuesFollowTheSensorType)
{
    MemoryBook book(3);
    book.number(1, 22, 8, 1.234);
    book.number(1, 21, 8, 0.5);
    book.number(1, 32, 6, 0.875); // x 100 = 87.5: rounds away from zero
    book.number(1, 23, 5, 2.5);
    book.number(1, 20, 5, 11.6);
    const specsheet::Result pico = extract(book, 2, 640, 512);
    EXPECT_TRUE(pico.values.hasGfid);
    EXPECT_FALSE(pico.values.hasDali);
    EXPECT_EQ(pico.values.gfidGsk, QStringLiteral("1234500"));

    QString log;
    const specsheet::Result dali = extract(book, 4, 640, 512, &log);
    EXPECT_FALSE(dali.values.hasGfid);
    ASSERT_TRUE(dali.values.hasDali);
    EXPECT_EQ(dali.values.response, 88);
    EXPECT_EQ(dali.values.bias, 2500);
    EXPECT_EQ(dali.values.tint, 12);
    EXPECT_TRUE(log.contains(QStringLiteral("响应率:88\n"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("积分响应时间:12\n")));

    // Neither for the other vendors; a number no register holds reads as 0.
    const specsheet::Result gwic = extract(book, 0, 640, 512);
    EXPECT_FALSE(gwic.values.hasGfid || gwic.values.hasDali);
    book.number(1, 23, 5, 1e300);
    EXPECT_EQ(extract(book, 4, 640, 512).values.bias, 0);
}

TEST(SpecSheetTable, RecordsKeepListOrderWithMasksOfListedAndOutsideNeighbours)
{
    MemoryBook book(3);
    // (20, 300) is the record 0x01 0x41 0x2C; (1, 1) has listed neighbours to its
    // right and below; (6, 6) has (5, 5) listed above-left, listed after it.
    book.list({{20, 300}, {1, 1}, {1, 2}, {6, 6}, {2, 1}, {5, 5}, {512, 640}});
    const specsheet::Result r = extract(book, 0, 640, 512);
    ASSERT_EQ(r.table.size(), 7 * 4);
    const auto* b = reinterpret_cast<const uint8_t*>(r.table.constData());
    EXPECT_EQ(b[0], 0x00);
    EXPECT_EQ(b[1], 0x01);
    EXPECT_EQ(b[2], 0x41);
    EXPECT_EQ(b[3], 0x2C);
    const std::vector<Record> rec = records(r.table);
    EXPECT_EQ(rec[1].row, 1);
    EXPECT_EQ(rec[1].column, 1);
    // Outside: 0, 1, 2, 3, 5 (47); listed: 4 (1, 2) and 6 (2, 1).
    EXPECT_EQ(rec[1].mask, 47 + 16 + 64);
    // (1, 2): outside 0, 1, 2; listed 3 (1, 1) and 5 (2, 1).
    EXPECT_EQ(rec[2].mask, 1 + 2 + 4 + 8 + 32);
    EXPECT_EQ(rec[3].mask, 1) << "(5, 5) is listed after (6, 6) and still counts";
    EXPECT_EQ(rec[5].mask, 128);
    // Last pixel of the frame: 2, 4, 5, 6, 7 outside.
    EXPECT_EQ(rec[6].mask, 4 + 16 + 32 + 64 + 128);
    EXPECT_EQ(rec[6].row, 512);
    EXPECT_EQ(rec[6].column, 640);
}

TEST(SpecSheetTable, EntriesOutsideTheFrameNotWholeOrRepeatedAreSkippedAndNamed)
{
    MemoryBook book(3);
    book.list({{10, 10}, {289, 5}, {5, 385}, {20.5, 3}, {4, -1}, {10, 10}, {288, 384}});
    QString log;
    const specsheet::Result r = extract(book, 0, 384, 288, &log);
    EXPECT_EQ(r.listed, 7);
    EXPECT_EQ(r.skipped, 5);
    const std::vector<Record> rec = records(r.table);
    ASSERT_EQ(rec.size(), 2u);
    EXPECT_EQ(rec[1].row, 288);
    EXPECT_EQ(rec[1].column, 384);
    for (const char* row : {"第3行", "第4行", "第5行", "第6行", "第7行"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(row))) << row << "\n" << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("重复")));
}

TEST(SpecSheetTable, ListEndsAtZeroEmptyOrTextAndIsNotCutAt1024)
{
    MemoryBook book(3);
    std::vector<std::pair<double, double>> many;
    for (int i = 0; i < 1500; ++i)
        many.push_back({1 + i / 100, 1 + i % 100});
    book.list(many);
    EXPECT_EQ(extract(book, 0, 640, 512).table.size(), 1500 * 4);

    MemoryBook ended(3);
    ended.list({{3, 3}, {0, 9}, {4, 4}});
    EXPECT_EQ(extract(ended, 0, 640, 512).table.size(), 4);

    MemoryBook text(3);
    text.list({{3, 3}});
    text.text(3, 3, 1, QStringLiteral("合计"));
    text.number(3, 4, 1, 7);
    text.number(3, 4, 2, 7);
    QString log;
    EXPECT_EQ(extract(text, 0, 640, 512, &log).table.size(), 4);
    EXPECT_TRUE(log.contains(QStringLiteral("列表到此结束"))) << log.toStdString();

    MemoryBook twoSheets(2);
    specsheet::Result r;
    EXPECT_FALSE(specsheet::extract(twoSheets, 4, 640, 512, &r, [](const QString&) {}));
    EXPECT_TRUE(r.error.contains(QStringLiteral("工作表3")));
}

// The same fixture in both formats gives the same values and table.
class SpecSheetFile : public ::testing::TestWithParam<const char*> {};

TEST_P(SpecSheetFile, EmptyListGivesAnEmptyFileAndLongListsAreWhole)
{
    irtest::ScopedDataRoot root;
    const QString ext = QString::fromUtf8(GetParam());
    specsheet::Result r;
    auto quiet = [](const QString&) {};

    const QString empty = specsheet::tablePath(QStringLiteral("EMPTY"));
    ASSERT_TRUE(specsheet::parseFile(fixture("empty_list" + ext), 4, 640, 512, empty, &r, quiet)) << r.error.toStdString();
    EXPECT_TRUE(QFile::exists(empty));
    EXPECT_EQ(QFileInfo(empty).size(), 0);
    EXPECT_EQ(r.values.response, 87);

    const QString big = specsheet::tablePath(QStringLiteral("BIG"));
    ASSERT_TRUE(specsheet::parseFile(fixture("list1500" + ext), 2, 640, 512, big, &r, quiet));
    const std::vector<Record> rec = records(irtest::readAll(big));
    ASSERT_EQ(rec.size(), 1500u);
    for (size_t i = 0; i < rec.size(); ++i) {
        // The script's list: row 1 + i / 40, column 1 + (i % 40) x 16, in order.
        ASSERT_EQ(rec[i].row, int(1 + i / 40)) << i;
        ASSERT_EQ(rec[i].column, int(1 + (i % 40) * 16)) << i;
    }

    QString log;
    const QString text = specsheet::tablePath(QStringLiteral("TEXT"));
    ASSERT_TRUE(specsheet::parseFile(fixture("text_values" + ext), 2, 640, 512, text, &r,
                                     [&log](const QString& s) { log += s; }));
    EXPECT_EQ(r.values.gfidGsk, QStringLiteral("0500")) << "H22 holds N/A";
    EXPECT_EQ(r.skipped, 1) << log.toStdString();
    EXPECT_EQ(irtest::readAll(text).size(), 4);
    EXPECT_TRUE(log.contains(QStringLiteral("不是数字"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("列表到此结束")));
}

INSTANTIATE_TEST_SUITE_P(Formats, SpecSheetFile, ::testing::Values(".xls", ".xlsx"));

TEST(SpecSheetOutput, NamedBySanitisedSensorIdAndNothingOnAFailedWrite)
{
    irtest::ScopedDataRoot root;
    // A device-supplied ID never leaves the folder.
    const QFileInfo named(specsheet::tablePath(QStringLiteral("../a/b")));
    EXPECT_EQ(named.absolutePath(), QFileInfo(root.file("Pixel")).absoluteFilePath());
    EXPECT_TRUE(named.fileName().startsWith(QStringLiteral("FinalPixel_")));

    // "Pixel" is a file: the folder cannot be made.
    ASSERT_TRUE(CComonFun::writeFile(root.file("Pixel"), QByteArray("x")));
    specsheet::Result r;
    QString log;
    const QString out = specsheet::tablePath(QStringLiteral("DL0424"));
    EXPECT_FALSE(specsheet::parseFile(fixture("spec.xls"), 4, 640, 512, out, &r,
                                      [&log](const QString& s) { log += s; }));
    EXPECT_TRUE(r.writeFailed);
    EXPECT_TRUE(r.tablePath.isEmpty());
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(log.contains(QStringLiteral("坏点表写入失败"))) << log.toStdString();
}

TEST(SpecSheetSearch, LastMatchInTheWalkWinsAndOwnerFilesAndLoopsAreHarmless)
{
    QStringList seen;
    const auto res = specsheet::findSheet(fixture("tree"), QStringLiteral("DL0424"),
                                          [&seen](const QString& n) { seen << n; });
    EXPECT_TRUE(res.match.endsWith(QStringLiteral("tree/b/DL0424_2024.xlsx"))) << res.match.toStdString();
    EXPECT_EQ(res.matches, 2);
    EXPECT_EQ(res.workbooks, 3);
    EXPECT_EQ(seen, (QStringList{"DL0424_2023.xls", "DL0424_2024.xlsx", "IRB0123_spec.xlsx"}));
    EXPECT_TRUE(specsheet::findSheet(fixture("tree"), QStringLiteral("dl0424"), {}).match.isEmpty());
    EXPECT_TRUE(specsheet::findSheet(fixture("tree"), QString(), {}).match.isEmpty());

    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath("z"));
    ASSERT_TRUE(QFile::copy(fixture("spec.xls"), tmp.filePath("a_DL0424.XLS")));
    ASSERT_TRUE(QFile::copy(fixture("spec.xls"), tmp.filePath("z/~$DL0424.xlsx")));
    ASSERT_TRUE(QFile::link(tmp.path(), tmp.filePath("z/loop")));
    const auto other = specsheet::findSheet(tmp.path(), QStringLiteral("DL0424"), {});
    EXPECT_EQ(other.match, QFileInfo(tmp.filePath("a_DL0424.XLS")).absoluteFilePath());

    std::atomic<bool> cancel{true};
    EXPECT_TRUE(specsheet::findSheet(fixture("tree"), QStringLiteral("DL0424"), {}, &cancel).cancelled);
}

} // namespace
