#pragma once

#include <QString>

#include <memory>

// One cell as the datasheet import sees it: empty, a number (numbers, formula
// results, booleans as 0 / 1) or a text. A cell that does not hold a number reads
// as 0.
struct SheetCell {
    enum class Type { Empty, Number, Text };
    Type type = Type::Empty;
    double number = 0;
    QString text;

    bool isNumber() const { return type == Type::Number; }
    double value() const { return type == Type::Number ? number : 0.0; }
    // "1.234", "文本:N/A", "空" (the CLI prints this).
    QString describe() const;
};

// A workbook opened for reading: worksheets numbered 1.. in workbook order, cells by
// 1-based row and column. Every failure leaves a Chinese text in error().
class SheetWorkbook {
public:
    virtual ~SheetWorkbook() = default;
    virtual int sheetCount() const = 0;
    // Makes worksheet n (1-based, workbook order) the one cell() reads.
    virtual bool selectSheet(int n) = 0;
    virtual SheetCell cell(int row, int column) const = 0;
    QString error() const { return m_error; }

    // Opens .xls (BIFF) or .xlsx (zip) by the file's first bytes, whatever its name
    // says. Null, with the reason in *error, when it cannot be read.
    static std::unique_ptr<SheetWorkbook> open(const QString& path, QString* error);

protected:
    bool fail(const QString& text)
    {
        m_error = text;
        return false;
    }
    QString m_error;
};
