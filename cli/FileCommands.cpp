#include "CliApp.h"
#include "CliCommand.h"

#include "FileTools.h"

#include <cstdio>
#include <ostream>

namespace irbench_cli {

namespace {

// Both tools write beside the input ("Invert_" / "crc_" + name) and print that path.
bool prepFileTool(Context& c, Action* act, bool checksum)
{
    const QString input = QString::fromStdString(c.opt.args[0]);
    qint64 size = 0;
    if (!inputFile(c, input, "文件", &size))
        return false;
    if (size == 0) {
        c.err << "文件 " << c.opt.args[0] << " 为空, 未转换\n";
        return false;
    }
    if (checksum && size > FileTools::kMaxChecksumInput) {
        c.err << "文件 " << c.opt.args[0] << " 超过4GB, 校验头无法记录其长度\n";
        return false;
    }
    const QString output = FileTools::prefixedPath(input, checksum ? QStringLiteral("crc_") : QStringLiteral("Invert_"));
    if (!outputFile(c, output, "文件"))
        return false;
    *act = [input, checksum](Context& c) {
        const FileTools::Result r = checksum ? FileTools::checksumFile(input) : FileTools::invertFile(input);
        if (!r.ok) {
            c.err << (checksum ? "文件校验失败: " : "文件转换失败: ") << r.error.toStdString() << "\n";
            return int(ExitDevice);
        }
        c.out << r.outputPath.toStdString() << "\n";
        if (checksum) {
            char crc[16];
            std::snprintf(crc, sizeof crc, "0x%08x", unsigned(r.crc));
            c.err << "长度 " << r.length << " 字节, CRC-32 " << crc << "\n";
        }
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addFileCommands(CommandTable& t)
{
    t["invert"] = {1, "invert FILE", "每个字节比特倒置, 写 Invert_FILE (不连接机芯)", false,
                   [](Context& c, Action* a) { return prepFileTool(c, a, false); }};
    t["crc"] = {1, "crc FILE", "加 48 字节校验头, 写 crc_FILE (不连接机芯)", false,
                [](Context& c, Action* a) { return prepFileTool(c, a, true); }};
}

} // namespace irbench_cli
