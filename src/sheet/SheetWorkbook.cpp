#include "SheetWorkbook.h"

#include "XlsReader.h"
#include "XlsxReader.h"

#include <QFile>
#include <QLocale>

QString SheetCell::describe() const
{
    switch (type) {
    case Type::Number:
        return QString::number(number, 'g', QLocale::FloatingPointShortest);
    case Type::Text:
        return QStringLiteral("文本:") + text;
    default:
        return QStringLiteral("空");
    }
}

std::unique_ptr<SheetWorkbook> SheetWorkbook::open(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("文件无法打开: %1").arg(f.errorString());
        return nullptr;
    }
    const QByteArray head = f.read(8);
    f.close();
    static const char kCompound[8] = {'\xD0', '\xCF', '\x11', '\xE0', '\xA1', '\xB1', '\x1A', '\xE1'};
    if (head.startsWith("PK")) {
        auto book = std::make_unique<XlsxReader>();
        if (book->openFile(path))
            return book;
        *error = book->error();
    } else if (head == QByteArray(kCompound, 8)) {
        auto book = std::make_unique<XlsReader>();
        if (book->openFile(path))
            return book;
        *error = book->error();
    } else {
        *error = QStringLiteral("不是Excel工作簿 (.xls / .xlsx)");
    }
    return nullptr;
}
