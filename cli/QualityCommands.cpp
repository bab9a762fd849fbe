#include "CliApp.h"
#include "CliCommand.h"

#include "CPixelDetector.h"
#include "QualityFigures.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <map>
#include <memory>
#include <ostream>
#include <vector>

// quality FRAMESDIR N W H [--table TABLE] [--limits FILE]: the acceptance figures of
// a blackbody run from its frame files, and the verdict against the limits.
namespace irbench_cli {

namespace {

// A limits file: "key: value" lines with the figure keys.
bool readLimits(Context& c, const QString& path, QualityLimits* l)
{
    qint64 size = 0;
    if (!inputFile(c, path, "检验标准文件", &size))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || size > 65536) {
        c.err << "无法读取检验标准文件 " << path.toStdString() << "\n";
        return false;
    }
    int line = 0;
    std::string why;
    if (!parseQualityLimits(f.readAll().toStdString(), l, &line, &why)) {
        c.err << "检验标准文件第 " << line << " 行: " << why << "\n";
        return false;
    }
    return true;
}

bool prepQuality(Context& c, Action* act)
{
    const auto& a = c.opt.args;
    if (a.size() < 4)
        return usageError(c, "quality 需要 FRAMESDIR N W H");
    unsigned long long n = 0, w = 0, h = 0;
    if (!number(c, 1, 128, &n, "帧数") || !number(c, 2, CPixelDetector::kMaxSide, &w, "宽度")
        || !number(c, 3, CPixelDetector::kMaxSide + 2, &h, "高度"))
        return false;
    if (n < 2)
        return usageError(c, "帧数至少为 2");
    if (w == 0 || h <= 2 || long(w * h) > CPixelDetector::kMaxPixels)
        return usageError(c, "帧尺寸 " + std::to_string(w) + " x " + std::to_string(h) + " 不受支持");
    QString table, limitsPath;
    for (size_t i = 4; i < a.size(); ++i) {
        if ((a[i] == "--table" || a[i] == "--limits") && i + 1 < a.size()) {
            (a[i] == "--table" ? table : limitsPath) = QString::fromStdString(a[i + 1]);
            ++i;
        } else {
            return usageError(c, "未知参数 \"" + a[i] + "\"");
        }
    }
    const int W = int(w), rows = int(h) - 2;
    const QString dir = QString::fromStdString(a[0]);
    // A frame file holds the whole frame (the stream's, info rows last) or only its
    // image rows (what a capture writes); every file of a run has the same form.
    const qint64 full = qint64(w) * qint64(h) * 2, image = qint64(w) * qint64(rows) * 2;
    qint64 bytes = 0;
    for (unsigned long long i = 1; i <= n; ++i) {
        const QString path = QDir(dir).filePath(QString("Frame%1.frame").arg(i));
        qint64 size = 0;
        if (!inputFile(c, path, "帧文件", &size))
            return false;
        if (i == 1 && (size == full || size == image))
            bytes = size;
        if (size != bytes) {
            c.err << "帧文件 " << path.toStdString() << " 长度 " << size << " 字节, 应为 "
                  << (bytes ? bytes : full) << " 字节" << (bytes ? "" : " (或不含信息行的 " + std::to_string(image) + " 字节)")
                  << "\n";
            return false;
        }
    }
    auto map = std::make_shared<std::vector<uint8_t>>(size_t(W) * size_t(rows), 0);
    if (!table.isEmpty()) {
        QByteArray records;
        if (!readPixelTable(c, table, W, rows, &records, "坏点表"))
            return false;
        // The core's reset entry lies outside small frames and is skipped there.
        CPixelDetector::DecodeTable(reinterpret_cast<const uint8_t*>(records.constData()), size_t(records.size()), W,
                                    rows, map->data());
    }
    QualityLimits limits;
    if (!limitsPath.isEmpty() && !readLimits(c, limitsPath, &limits))
        return false;
    *act = [=](Context& c) {
        std::vector<std::vector<uint16_t>> frames(n);
        std::vector<const uint16_t*> ptr;
        for (unsigned long long i = 0; i < n; ++i) {
            QFile f(QDir(dir).filePath(QString("Frame%1.frame").arg(i + 1)));
            const QByteArray data = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
            if (data.size() != bytes) {
                c.err << "读取帧文件 " << f.fileName().toStdString() << " 失败\n";
                return int(ExitUsage);
            }
            const auto* b = reinterpret_cast<const uint8_t*>(data.constData());
            frames[i].resize(size_t(W) * size_t(rows)); // info rows, if any, stay out
            for (size_t k = 0; k < frames[i].size(); ++k)
                frames[i][k] = uint16_t(b[2 * k] | (b[2 * k + 1] << 8));
            ptr.push_back(frames[i].data());
        }
        QualityFigures f;
        if (!computeQualityFigures(ptr.data(), int(n), W, rows, map->data(), &f)) {
            c.err << "坏点表标记了全部像素, 无法检验\n";
            return int(ExitUsage);
        }
        c.out << qualityFiguresText(f);
        const QualityVerdict v = judgeQuality(f, limits);
        c.out << "verdict: " << qualityVerdictText(v) << "\n";
        if (v.pass)
            return int(ExitOk);
        return int(ExitQualityFail);
    };
    return true;
}

} // namespace

void addQualityCommands(CommandTable& t)
{
    t["quality"] = {-1, "quality FRAMESDIR N W H [--table TABLE] [--limits FILE]",
                    "acceptance figures of N blackbody frames (H with the 2 info rows), verdict pass (0) or fail (4)",
                    false, prepQuality};
}

} // namespace irbench_cli
