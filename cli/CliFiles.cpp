#include "CliApp.h"
#include "CliCommand.h"

#include <QFile>
#include <QFileInfo>

#include <ostream>

namespace irbench_cli {

std::string unusableInput(const QString& path, qint64* size)
{
    const QFileInfo info(path);
    if (!info.exists())
        return "文件不存在";
    if (info.isDir())
        return "是文件夹";
    // A device or a pipe has no length to check and may never end.
    if (!info.isFile())
        return "不是普通文件";
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return f.errorString().toStdString();
    if (size)
        *size = f.size();
    return {};
}

bool inputFile(Context& c, const QString& path, const char* what, qint64* size)
{
    const std::string why = unusableInput(path, size);
    if (why.empty())
        return true;
    c.err << "无法读取" << what << " " << path.toStdString() << ": " << why << "\n";
    return false;
}

bool outputFile(Context& c, const QString& path, const char* what)
{
    // The whole-file writer renames its temporary over the name: over a device node
    // (run as root) that would replace the device itself.
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return true;
    c.err << "无法写入" << what << " " << path.toStdString() << ": " << (info.isDir() ? "是文件夹" : "不是普通文件")
          << ", 未写入\n";
    c.refusal = ExitDevice;
    return false;
}

bool outputFolder(Context& c, const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return true;
    c.err << "无法创建文件夹 " << path.toStdString() << ": 已有同名文件\n";
    c.refusal = ExitDevice;
    return false;
}

} // namespace irbench_cli
