#include "CliApp.h"
#include "CliCommand.h"
#include "CliTransferContext.h"

#include "FileTransfer.h"
#include "ModuleInteract.h"
#include "UpgradeWriter.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace irbench_cli {

namespace {

constexpr int kMinSelector = 1;
constexpr int kMaxSelector = 10;

bool selectorArg(Context& c, size_t i, int* selector)
{
    unsigned long long v = 0;
    if (!number(c, i, kMaxSelector, &v, "数据选择"))
        return false;
    if (v < kMinSelector)
        return usageError(c, "数据选择须为 1 到 10 (1 坏点表, 2-5 OCC1-4, 6-9 K1-4, 10 数据区)");
    *selector = int(v);
    return true;
}

std::string hexByte(unsigned char b)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02x", b);
    return buf;
}

// Compares the file with what came back, block by block, so that neither side needs
// a second copy; prints the first difference.
int compareReadBack(Context& c, const QString& path, const QByteArray& back)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        c.err << "校验失败: 无法读取文件 " << path.toStdString() << ": " << file.errorString().toStdString() << "\n";
        return int(ExitDevice);
    }
    const qint64 written = file.size();
    char block[ModuleInteract::kBlockSize];
    qint64 offset = 0;
    while (offset < written) {
        const qint64 got = file.read(block, sizeof block);
        if (got <= 0) {
            c.err << "校验失败: 读取文件 " << path.toStdString() << " 失败\n";
            return int(ExitDevice);
        }
        const qint64 common = std::min<qint64>(got, qint64(back.size()) - offset);
        for (qint64 i = 0; i < common; ++i) {
            if (block[i] != back[offset + i]) {
                c.err << "校验失败: 偏移 " << hex32(unsigned(offset + i), false) << " 处不同, 写入 "
                      << hexByte(uchar(block[i])) << ", 读回 " << hexByte(uchar(back[offset + i])) << "\n";
                return int(ExitDevice);
            }
        }
        if (common < got)
            break;
        offset += got;
    }
    if (written != back.size()) {
        c.err << "校验失败: 写入 " << written << " 字节, 读回 " << back.size() << " 字节 (偏移 "
              << hex32(unsigned(std::min<qint64>(written, back.size())), false) << " 起不同)\n";
        return int(ExitDevice);
    }
    c.out << "校验通过: " << back.size() << " 字节一致\n";
    return int(ExitOk);
}

bool prepWriteFile(Context& c, Action* act)
{
    const auto& a = c.opt.args;
    if (a.size() < 2)
        return usageError(c, "参数个数不对: write-file ADDR FILE [--reload] [--verify SELECTOR]");
    unsigned long long addr = 0;
    if (!number(c, 0, 0xFFFFFFFFull, &addr, "地址"))
        return false;
    bool reload = false;
    int verify = 0;
    for (size_t i = 2; i < a.size(); ++i) {
        if (a[i] == "--reload") {
            reload = true;
        } else if (a[i] == "--verify") {
            if (i + 1 >= a.size())
                return usageError(c, "--verify 缺少数据选择");
            if (!selectorArg(c, ++i, &verify))
                return false;
        } else {
            return usageError(c, "未知参数 " + a[i]);
        }
    }

    // Only the size is taken before connecting; the blocks are read as they are sent.
    const QString path = QString::fromStdString(a[1]);
    qint64 size = 0;
    const std::string why = unusableInput(path, &size);
    if (!why.empty()) {
        c.err << "文件打开失败: " << a[1] << " (" << why << ")\n";
        return false;
    }
    if (size == 0) {
        c.err << "文件为空, 未写入: " << a[1] << "\n";
        return false;
    }
    if (!ModuleInteract::fitsArea(uint32_t(addr), size)) {
        const uint32_t end = ModuleInteract::areaEnd(uint32_t(addr));
        c.err << "文件大小 " << size << " 字节超出目标区域 (" << hex32(addr, false) << " 到 "
              << hex32(end, false) << "), 未写入\n";
        return false;
    }

    *act = [addr, reload, verify, path](Context& c) {
        // The writer's messages are worded here, after "写入失败: ".
        class Silent : public TransferContext {
        public:
            void message(const QString&, const QString&) override {}
        } silent;
        UpgradeOptions options;
        options.finalEmptyBlock = false;
        options.reload = reload;
        options.exitFailureFails = false; // the data is in flash once the end is acknowledged
        options.tellFailures = false;
        int last = -1;
        options.progress = [&c, &last](int percent) {
            if (percent == last)
                return;
            last = percent;
            c.err << "写入 " << percent << "%\n";
            c.err.flush();
        };
        FileSource source(path);
        const UpgradeResult r = writeUpgrade(silent, uint32_t(addr), source, options);
        if (!r.ok) {
            c.err << "写入失败: " << ModuleInteract::errorText(r.code).toStdString() << "\n";
            return int(ExitDevice);
        }
        if (r.code == ModuleInteract::ErrExit) {
            c.err << "数据已写入, 但" << ModuleInteract::errorText(r.code).toStdString() << ", 机芯可能仍在升级模式\n";
            return int(ExitDevice);
        }
        c.out << "已写入 " << source.size() << " 字节到 " << hex32(addr, true) << "\n";
        if (verify == 0)
            return int(ExitOk);
        CliTransferContext ctx(c.err, "读回");
        QByteArray back;
        if (!readBackToMemory(ctx, verify, &back)) {
            c.err << "校验失败: 数据读回失败\n";
            return int(ExitDevice);
        }
        return compareReadBack(c, path, back);
    };
    return true;
}

bool prepReadBack(Context& c, Action* act)
{
    int selector = 0;
    if (!selectorArg(c, 0, &selector))
        return false;
    const QString path = QString::fromStdString(c.opt.args[1]);
    const QFileInfo info(path);
    if (!info.absoluteDir().exists()) {
        c.err << "文件打开失败: 目录不存在 " << info.absolutePath().toStdString() << "\n";
        return false;
    }
    if (info.isDir()) {
        c.err << "文件打开失败: " << c.opt.args[1] << " 是目录\n";
        c.refusal = ExitDevice;
        return false;
    }
    if (!outputFile(c, path, "文件"))
        return false;
    *act = [selector, path](Context& c) {
        CliTransferContext ctx(c.err, "读取");
        if (!readBackToFile(ctx, selector, path))
            return int(ExitDevice);
        c.out << "已读回 " << QFileInfo(path).size() << " 字节到 " << path.toStdString() << "\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addTransferCommands(CommandTable& t)
{
    t["write-file"] = {-1, "write-file ADDR FILE [--reload] [--verify SEL]",
                       "升级模式写文件到机芯 (进度在 stderr); --verify 写后读回逐字节比较", true, prepWriteFile};
    t["read-back"] = {2, "read-back SELECTOR FILE",
                      "读回数据到文件 (1 坏点表, 2-5 OCC1-4, 6-9 K1-4, 10 数据区)", true, prepReadBack};
}

} // namespace irbench_cli
