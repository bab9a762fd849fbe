#include "CliApp.h"
#include "CliCommand.h"

#include "SpecSheet.h"

#include <QDir>
#include <QString>

#include <ostream>

namespace irbench_cli {

namespace {

// spec-sheet FILE --type CODE [--width W --height H] --out TABLE
bool prepSpecSheet(Context& c, Action* act)
{
    const std::vector<std::string>& a = c.opt.args;
    const char* synopsis = "spec-sheet FILE --type CODE [--width W --height H] --out TABLE";
    if (a.empty())
        return usageError(c, std::string("参数个数不对: ") + synopsis);
    const QString file = QString::fromStdString(a[0]);
    unsigned long long type = 0;
    unsigned long long width = specsheet::kDefaultWidth;
    unsigned long long height = specsheet::kDefaultHeight;
    bool haveType = false;
    bool haveWidth = false;
    bool haveHeight = false;
    QString out;
    for (size_t i = 1; i < a.size(); ++i) {
        if (i + 1 >= a.size())
            return usageError(c, a[i] + " 缺少参数");
        if (a[i] == "--type") {
            if (!number(c, ++i, 0xFF, &type, "传感器类型"))
                return false;
            haveType = true;
        } else if (a[i] == "--width") {
            if (!number(c, ++i, 4095, &width, "画面宽度"))
                return false;
            haveWidth = true;
        } else if (a[i] == "--height") {
            if (!number(c, ++i, 4095, &height, "画面高度"))
                return false;
            haveHeight = true;
        } else if (a[i] == "--out") {
            out = QString::fromStdString(a[++i]);
        } else {
            return usageError(c, "未知参数 " + a[i]);
        }
    }
    if (!haveType)
        return usageError(c, "缺少 --type");
    if (out.isEmpty())
        return usageError(c, "缺少 --out");
    if (haveWidth != haveHeight)
        return usageError(c, "--width 与 --height 需一起给出");
    if (width == 0 || height == 0)
        return usageError(c, "画面宽度和高度不能为0");
    qint64 size = 0;
    if (!inputFile(c, file, "规格书", &size) || !outputFile(c, out, "坏点表"))
        return false;
    *act = [=](Context& c) {
        specsheet::Result r;
        // The log goes to stderr; the values, one "key: value" each, to stdout.
        const bool ok = specsheet::parseFile(
            file, int(type), int(width), int(height), out, &r,
            [&c](const QString& s) { c.err << s.toStdString(); }, nullptr);
        // A workbook that cannot be read is an unusable input (2); a table that
        // cannot be written an output failure (1).
        if (!ok)
            return r.writeFailed ? int(ExitDevice) : int(ExitUsage);
        const specsheet::Values& v = r.values;
        if (v.hasGfid)
            c.out << "GFid/GSK: " << v.gfidGsk.toStdString() << "\n";
        if (v.hasDali) {
            c.out << "响应率: " << v.response << "\n";
            c.out << "偏压: " << v.bias << "\n";
            c.out << "积分响应时间: " << v.tint << "\n";
        }
        c.out << "坏点: " << r.table.size() / 4 << "\n";
        c.out << "跳过: " << r.skipped << "\n";
        c.out << "坏点表: " << QDir::toNativeSeparators(r.tablePath).toStdString() << "\n";
        return int(ExitOk);
    };
    return true;
}

bool prepSheetCell(Context& c, Action* act)
{
    const QString file = QString::fromStdString(c.opt.args[0]);
    unsigned long long sheet = 0;
    unsigned long long row = 0;
    unsigned long long col = 0;
    if (!number(c, 1, 4096, &sheet, "工作表") || !number(c, 2, 1048576, &row, "行")
        || !number(c, 3, 16384, &col, "列"))
        return false;
    if (sheet == 0 || row == 0 || col == 0)
        return usageError(c, "工作表、行、列都从1开始");
    qint64 size = 0;
    if (!inputFile(c, file, "工作簿", &size))
        return false;
    *act = [=](Context& c) {
        QString error;
        std::unique_ptr<SheetWorkbook> book = SheetWorkbook::open(file, &error);
        if (!book) {
            c.err << "工作簿打开失败: " << error.toStdString() << "\n";
            return int(ExitUsage);
        }
        if (!book->selectSheet(int(sheet))) {
            c.err << book->error().toStdString() << "\n";
            return int(ExitUsage);
        }
        const SheetCell cell = book->cell(int(row), int(col));
        c.out << cell.describe().toStdString() << "\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addSheetCommands(CommandTable& t)
{
    t["spec-sheet"] = {-1, "spec-sheet FILE --type CODE [--width W --height H] --out TABLE",
                       "读机芯规格书 (.xls/.xlsx): 打印参数, 写坏点表 (默认 640 x 512)", false, prepSpecSheet};
    t["sheet-cell"] = {4, "sheet-cell FILE SHEET ROW COL", "打印工作簿一个单元格的值 (工作表、行、列从1开始)", false,
                       prepSheetCell};
}

} // namespace irbench_cli
