// Both readers on the same datasheet written by three libraries: worksheets in
// workbook order (also when the parts are named against it), shared and inline
// strings, E notation, 17 digits, formula results; and broken workbooks that must be
// refused with a reason, without a table file.
#include "SheetWorkbook.h"
#include "SpecSheet.h"
#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

QString fixture(const char* name)
{
    return QStringLiteral(IRBENCH_SHEET_FIXTURES "/") + QString::fromUtf8(name);
}

struct Flavour {
    const char* file;
    double seventeen;  // worksheet 2, A2: 0.1 + 0.2 as the library wrote it
    bool formula;      // worksheet 2, A5 holds =40+2 with its cached value
};

class SheetReader : public ::testing::TestWithParam<Flavour> {};

TEST_P(SheetReader, ReadsCellsInWorkbookOrder)
{
    QString error;
    auto book = SheetWorkbook::open(fixture(GetParam().file), &error);
    ASSERT_TRUE(book) << error.toStdString();
    ASSERT_EQ(book->sheetCount(), 3);

    ASSERT_TRUE(book->selectSheet(1));
    EXPECT_EQ(book->cell(1, 1).text, QStringLiteral("机芯规格书"));
    EXPECT_DOUBLE_EQ(book->cell(22, 8).value(), 1.234);
    EXPECT_EQ(book->cell(20, 5).value(), 12);
    EXPECT_EQ(book->cell(99, 99).type, SheetCell::Type::Empty);

    ASSERT_TRUE(book->selectSheet(2));
    EXPECT_EQ(book->cell(1, 1).value(), 1.23e-5);
    EXPECT_EQ(book->cell(2, 1).value(), GetParam().seventeen);
    const SheetCell text = book->cell(3, 1);
    EXPECT_EQ(text.type, SheetCell::Type::Text);
    EXPECT_EQ(text.text, QStringLiteral("共享文本"));
    EXPECT_EQ(text.value(), 0) << "a text cell reads as 0";
    EXPECT_EQ(book->cell(4, 1).value(), 4095);
    if (GetParam().formula) {
        EXPECT_EQ(book->cell(5, 1).value(), 42);
    }

    ASSERT_TRUE(book->selectSheet(3));
    EXPECT_EQ(book->cell(1, 2).text, QStringLiteral("列"));
    EXPECT_EQ(book->cell(2, 2).value(), 300);

    EXPECT_FALSE(book->selectSheet(4));
    EXPECT_FALSE(book->error().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Libraries, SheetReader,
                         ::testing::Values(Flavour{"spec.xls", 0.1 + 0.2, false},
                                           Flavour{"spec_openpyxl.xlsx", 0.1 + 0.2, false},
                                           Flavour{"spec_reordered.xlsx", 0.1 + 0.2, false},
                                           Flavour{"spec_xlsxwriter.xlsx", 0.3, true},
                                           Flavour{"spec_inline.xlsx", 0.3, true}));

struct Broken {
    const char* file;
    const char* reason; // a word of the log line
};

class BrokenWorkbook : public ::testing::TestWithParam<Broken> {};

TEST_P(BrokenWorkbook, EndsTheParseWithAReasonAndNoTable)
{
    irtest::ScopedDataRoot root;
    const QString out = root.file("Pixel/FinalPixel_X.bin");
    QString log;
    specsheet::Result r;
    EXPECT_FALSE(specsheet::parseFile(fixture(GetParam().file), 4, 640, 512, out, &r,
                                      [&log](const QString& s) { log += s; }));
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_TRUE(r.tablePath.isEmpty());
    EXPECT_TRUE(log.contains(QString::fromUtf8(GetParam().reason))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("坏点表本地路径"))) << log.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Files, BrokenWorkbook,
                         ::testing::Values(Broken{"bad_not_zip.xlsx", "zip"},
                                           Broken{"bad_truncated.xlsx", "zip"},
                                           Broken{"bad_truncated.xls", "截断"},
                                           Broken{"bad_missing_part.xlsx", "缺少部件"},
                                           Broken{"bad_bomb.xlsx", "超过上限"},
                                           Broken{"bad_dimensions.xlsx", "尺寸异常"},
                                           Broken{"bad_dimensions.xls", "尺寸异常"},
                                           Broken{"make_sheets.py", "不是Excel工作簿"}));

} // namespace
