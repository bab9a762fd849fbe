#include "SpecSheet.h"

#include "CComonFun.h"
#include "CPixelDetector.h"
#include "SheetLimits.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <cmath>
#include <vector>

namespace specsheet {

namespace {

QString line(const QString& key, const QString& value)
{
    return QStringLiteral("%1:%2\n").arg(key, value);
}

bool cancelled(const std::atomic<bool>* cancel)
{
    return cancel && cancel->load(std::memory_order_relaxed);
}

// A parameter cell x scale, rounded half away from zero; 0 and a log line for text
// and for values no register can hold.
qint64 scaled(const SheetWorkbook& book, int row, int column, double scale, const LogFn& log)
{
    const SheetCell c = book.cell(row, column);
    if (c.type == SheetCell::Type::Text)
        log(QStringLiteral("工作表1单元格(%1,%2)不是数字(%3)，按0处理\n").arg(row).arg(column).arg(c.text.left(32)));
    const double v = std::round(c.value() * scale);
    if (!(std::fabs(v) < 2147483648.0)) {
        log(QStringLiteral("工作表1单元格(%1,%2)数值超出范围，按0处理\n").arg(row).arg(column));
        return 0;
    }
    return qint64(v);
}

// A list number as a 0-based coordinate below `limit`; -1 when it is not a whole
// number from 1 to limit.
int coordinate(double v, int limit)
{
    if (!(v >= 1 && v <= limit) || v != std::floor(v))
        return -1;
    return int(v) - 1;
}

QString number(double v)
{
    return QString::number(v, 'g', QLocale::FloatingPointShortest);
}

} // namespace

bool extract(SheetWorkbook& book, int sensorTypeCode, int width, int height, Result* result, const LogFn& log,
             const std::atomic<bool>* cancel)
{
    *result = Result();
    if (width < 1 || height < 1 || !CPixelDetector::SizeSupported(width, height)) {
        result->error = QStringLiteral("画面尺寸 %1 x %2 无效").arg(width).arg(height);
        return false;
    }
    if (book.sheetCount() < kListSheet) {
        result->error = QStringLiteral("规格书只有%1个工作表，缺少工作表%2(坏点列表)").arg(book.sheetCount()).arg(kListSheet);
        return false;
    }
    if (sensorTypeCode == 2 || sensorTypeCode == 4) {
        if (!book.selectSheet(kParamSheet)) {
            result->error = book.error();
            return false;
        }
        Values& v = result->values;
        if (sensorTypeCode == 2) {
            v.gfidGsk = QStringLiteral("%1%2").arg(scaled(book, 22, 8, 1000, log)).arg(scaled(book, 21, 8, 1000, log));
            v.hasGfid = true;
            log(line(QStringLiteral("GFid/GSK"), v.gfidGsk));
        } else {
            v.response = scaled(book, 32, 6, 100, log);
            v.bias = scaled(book, 23, 5, 1000, log);
            v.tint = scaled(book, 20, 5, 1, log);
            v.hasDali = true;
            log(line(QStringLiteral("响应率"), QString::number(v.response)));
            log(line(QStringLiteral("偏压"), QString::number(v.bias)));
            log(line(QStringLiteral("积分响应时间"), QString::number(v.tint)));
        }
    }

    if (!book.selectSheet(kListSheet)) {
        result->error = book.error();
        return false;
    }
    // First the list as it stands, then the records: a record's mask needs every
    // listed pixel, also those listed after it.
    struct Entry {
        int x;
        int y;
    };
    std::vector<Entry> entries;
    std::vector<uint8_t> map(size_t(width) * size_t(height), 0);
    for (int row = kListFirstRow;; ++row) {
        if ((row & 255) == 0 && cancelled(cancel)) {
            result->error = QStringLiteral("已取消");
            return false;
        }
        const SheetCell first = book.cell(row, 1);
        if (first.type == SheetCell::Type::Text) {
            log(QStringLiteral("坏点列表第%1行第1列不是数字(%2)，列表到此结束\n").arg(row).arg(first.text.left(32)));
            break;
        }
        if (first.value() == 0)
            break;
        ++result->listed;
        const SheetCell second = book.cell(row, 2);
        const int y = coordinate(first.value(), height);
        const int x = coordinate(second.value(), width);
        if (x < 0 || y < 0) {
            ++result->skipped;
            log(QStringLiteral("坏点列表第%1行(行%2, 列%3)不是%4 x %5画面内的整数坐标，已跳过\n")
                    .arg(row)
                    .arg(number(first.value()))
                    .arg(second.type == SheetCell::Type::Text ? second.text.left(32) : number(second.value()))
                    .arg(width)
                    .arg(height));
            continue;
        }
        uint8_t& mark = map[size_t(y) * size_t(width) + size_t(x)];
        if (mark) {
            ++result->skipped;
            log(QStringLiteral("坏点列表第%1行(行%2, 列%3)重复，已跳过\n").arg(row).arg(y + 1).arg(x + 1));
            continue;
        }
        mark = 1;
        entries.push_back({x, y});
    }
    result->table.resize(qsizetype(entries.size() * CPixelDetector::kRecordBytes));
    uint8_t* out = reinterpret_cast<uint8_t*>(result->table.data());
    for (const Entry& e : entries) {
        CPixelDetector::EncodeRecord(e.x, e.y, CPixelDetector::NeighbourMask(map.data(), width, height, e.x, e.y), out);
        out += CPixelDetector::kRecordBytes;
    }
    log(QStringLiteral("坏点列表%1行，写入%2个坏点\n").arg(result->listed).arg(entries.size()));
    return true;
}

QString tablePath(const QString& sensorId)
{
    return CComonFun::dataRoot() + QStringLiteral("/Pixel/FinalPixel_") + CComonFun::sanitizeName(sensorId)
        + QStringLiteral(".bin");
}

bool writeTable(const QString& path, const QByteArray& table, QString* error)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!CComonFun::makePath(dir)) {
        *error = QStringLiteral("无法创建文件夹 %1").arg(QDir::toNativeSeparators(dir));
        return false;
    }
    if (QFileInfo(path).isDir()) {
        *error = QStringLiteral("%1 是文件夹").arg(QDir::toNativeSeparators(path));
        return false;
    }
    if (!CComonFun::writeFile(path, table)) {
        *error = QStringLiteral("无法写入 %1 (磁盘已满或没有写权限)").arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

bool parseFile(const QString& workbookPath, int sensorTypeCode, int width, int height, const QString& outPath,
               Result* result, const LogFn& log, const std::atomic<bool>* cancel)
{
    *result = Result();
    QString error;
    std::unique_ptr<SheetWorkbook> book = SheetWorkbook::open(workbookPath, &error);
    if (!book) {
        result->error = error;
        log(QStringLiteral("规格书打开失败: %1\n").arg(error));
        return false;
    }
    if (!extract(*book, sensorTypeCode, width, height, result, log, cancel)) {
        log(QStringLiteral("规格书解析失败: %1\n").arg(result->error));
        return false;
    }
    if (cancelled(cancel)) {
        result->error = QStringLiteral("已取消");
        return false;
    }
    if (!writeTable(outPath, result->table, &error)) {
        result->error = error;
        result->writeFailed = true;
        log(QStringLiteral("坏点表写入失败: %1\n").arg(error));
        return false;
    }
    result->tablePath = outPath;
    log(line(QStringLiteral("坏点表本地路径"), QDir::toNativeSeparators(outPath)));
    return true;
}

} // namespace specsheet
