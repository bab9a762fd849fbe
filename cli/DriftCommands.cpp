#include "CliApp.h"
#include "CliCommand.h"
#include "CliTransferContext.h"

#include "TempDriftData.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <ostream>

// The drift sweep's fit and coefficient write, as the calibration page does them.
namespace irbench_cli {

namespace {

constexpr unsigned long long kMaxSide = 4096;

QString qarg(const Context& c, size_t i)
{
    return QString::fromStdString(c.opt.args[i]);
}

bool prepDriftFit(Context& c, Action* act)
{
    unsigned long long w = 0, h = 0, type = 0;
    if (!number(c, 1, kMaxSide, &w, "宽度") || !number(c, 2, kMaxSide, &h, "高度") || !number(c, 3, 255, &type, "拟合类型"))
        return false;
    if (w == 0 || h == 0)
        return usageError(c, "帧尺寸 " + std::to_string(w) + " x " + std::to_string(h) + " 无效");
    if (type != 1 && type != 3) {
        c.err << "拟合类型 " << type << " 没有温漂拟合（只支持类型 1 和 3），未写入任何系数文件\n";
        return false;
    }
    const QString data = qarg(c, 0);
    const QString out = qarg(c, 4);
    if (!QFileInfo(data).isDir()) {
        c.err << "采样数据目录 " << data.toStdString() << " 不存在\n";
        return false;
    }
    if (!outputFolder(c, out))
        return false;
    *act = [data, out, w, h, type](Context& cc) {
        const tempdrift::FitOutcome r = tempdrift::fitSamples(data, out, int(type), int(w), int(h));
        if (r.status == tempdrift::FitOutcome::Written) {
            cc.out << r.text.toStdString() << "\n";
            return int(ExitOk);
        }
        cc.err << r.text.toStdString() << "\n";
        return r.status == tempdrift::FitOutcome::WriteFailed ? int(ExitDevice) : int(ExitUsage);
    };
    return true;
}

// Coefficient files 0.bin, 1.bin, ... present without a gap.
int countFiles(const QString& dir)
{
    int n = 0;
    while (n < tempdrift::kMaxFiles && QFileInfo(tempdrift::coefficientFile(dir, n)).isFile())
        ++n;
    return n;
}

bool prepDriftWrite(Context& c, Action* act)
{
    const auto& a = c.opt.args;
    if (a.empty())
        return usageError(c, "参数个数不对: drift-write DIR [--from K]");
    const QString dir = qarg(c, 0);
    unsigned long long from = 0;
    for (size_t i = 1; i < a.size(); ++i) {
        if (a[i] == "--from" && i + 1 < a.size()) {
            if (!number(c, i + 1, tempdrift::kMaxFiles, &from, "起始文件"))
                return false;
            ++i;
        } else {
            return usageError(c, "未知参数 " + a[i]);
        }
    }
    const int total = countFiles(dir);
    if (total == 0 || total % 4 != 0) {
        c.err << "目录 " << dir.toStdString() << " 中没有完整的温漂补偿系数文件 (0.bin 起，每段 4 个)\n";
        return false;
    }
    if (int(from) >= total) {
        c.err << "--from " << from << " 超出文件数 " << total << "\n";
        return false;
    }
    *act = [dir, from, total](Context& cc) {
        CliTransferContext ctx(cc.err, "写入");
        int written = int(from);
        QString detail;
        const int code = tempdrift::writeCoefficientFiles(
            ctx, dir, int(from), total, &written,
            [&cc](int w, int t) { cc.out << QStringLiteral("文件已写入 %1 / 总共 %2").arg(w).arg(t).toStdString() << "\n"; },
            &detail);
        if (code == tempdrift::WriteOk) {
            cc.out << tempdrift::writeCodeText(code).toStdString() << "\n";
            return int(ExitOk);
        }
        cc.err << tempdrift::writeCodeText(code).toStdString() << "\n";
        if (!detail.isEmpty())
            cc.err << detail.toStdString() << "\n";
        if (written < total)
            cc.err << "已写入 " << written << " 个文件，用 --from " << written << " 继续\n";
        return int(ExitDevice);
    };
    return true;
}

} // namespace

void addDriftCommands(CommandTable& t)
{
    t["drift-fit"] = {5, "drift-fit DATADIR W H TYPE OUTDIR",
                      "温漂拟合: tfpa.bin 与 avgFiltering<n>.bin 拟合为系数文件 0.bin.. (类型 1 或 3)", false, prepDriftFit};
    t["drift-write"] = {-1, "drift-write DIR [--from K]", "把目录中的温漂补偿系数文件写入机芯, --from 从第 K 个续写",
                        true, prepDriftWrite};
}

} // namespace irbench_cli
