#include "CliApp.h"
#include "CliCommand.h"

#include "CComonFun.h"
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <vector>

// Offline calibration commands: they work on ".frame" files and table files only.
namespace irbench_cli {

namespace {

std::string str(const QString& s)
{
    return s.toStdString();
}

QString qarg(const Context& c, size_t i)
{
    return QString::fromStdString(c.opt.args[i]);
}

// Width and height at argument i, i + 1; the detector's limits unless `maxPixels` is
// smaller.
bool frameSize(Context& c, size_t i, long maxPixels, int* w, int* h)
{
    unsigned long long vw = 0, vh = 0;
    if (!number(c, i, CPixelDetector::kMaxSide, &vw, "宽度") || !number(c, i + 1, CPixelDetector::kMaxSide, &vh, "高度"))
        return false;
    if (vw == 0 || vh == 0 || long(vw * vh) > maxPixels)
        return usageError(c, "帧尺寸 " + std::to_string(vw) + " x " + std::to_string(vh) + " 不受支持 (每边 1 到 "
                                 + std::to_string(CPixelDetector::kMaxSide) + ", 最多 " + std::to_string(maxPixels)
                                 + " 像素)");
    *w = int(vw);
    *h = int(vh);
    return true;
}

} // namespace

// Reads a whole file that must be exactly `expected` bytes (expected < 0: any size up to
// -expected).
bool readFile(Context& c, const QString& path, qint64 expected, QByteArray* data, const char* what)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        c.err << "无法读取" << what << " " << str(path) << ": " << str(f.errorString()) << "\n";
        return false;
    }
    const qint64 size = f.size();
    if ((expected >= 0 && size != expected) || (expected < 0 && size > -expected)) {
        c.err << what << " " << str(path) << " 长度 " << size << " 字节, "
              << (expected >= 0 ? "应为 " + std::to_string(expected) : "超过上限 " + std::to_string(-expected))
              << " 字节\n";
        return false;
    }
    *data = f.readAll();
    if (f.error() != QFileDevice::NoError || data->size() != size) {
        c.err << "读取" << what << " " << str(path) << " 失败: " << str(f.errorString()) << "\n";
        return false;
    }
    return true;
}

// Written whole or not at all: an old file stays as it was when the write fails.
bool saveFile(Context& c, const QString& path, const std::vector<uint8_t>& bytes, const char* what)
{
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir)) {
        c.err << "无法创建目录 " << str(dir) << "\n";
        return false;
    }
    if (!CComonFun::writeFile(path, reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()))) {
        c.err << "无法写入" << what << " " << str(path) << ": 磁盘已满或无写权限\n";
        return false;
    }
    return true;
}

namespace {

// An input that must be exactly `expected` bytes, checked before anything is made.
bool inputOfSize(Context& c, const QString& path, qint64 expected, const char* what)
{
    qint64 size = 0;
    if (!inputFile(c, path, what, &size))
        return false;
    if (size != expected) {
        c.err << what << " " << str(path) << " 长度 " << size << " 字节, 应为 " << expected << " 字节\n";
        return false;
    }
    return true;
}

bool isResetRecord(const uint8_t* rec)
{
    return std::memcmp(rec, CPixelDetector::kResetRecord, CPixelDetector::kRecordBytes) == 0;
}

// A bad-pixel table as every command takes it: whole 4-byte records, each naming a
// pixel of the W x H frame. Anything else is refused (exit 2) and the wrong records
// named, so that a stray or cut file never turns into bad pixels. The core's reset
// entry passes: a reset core of a smaller resolution holds it outside its frame.
bool readTable(Context& c, const QString& path, int w, int h, QByteArray* table, const char* what)
{
    constexpr qint64 kLimit = qint64(CPixelDetector::kMaxPixels) * CPixelDetector::kRecordBytes;
    qint64 size = 0;
    if (!inputFile(c, path, what, &size))
        return false;
    if (size > kLimit) {
        c.err << what << " " << str(path) << " 长度 " << size << " 字节, 超过上限 " << kLimit << " 字节\n";
        return false;
    }
    if (size % CPixelDetector::kRecordBytes) {
        c.err << what << " " << str(path) << " 长度 " << size << " 字节不是 4 的倍数, 未使用\n";
        return false;
    }
    if (!readFile(c, path, -kLimit, table, what))
        return false;
    constexpr size_t kShown = 10;
    const auto* b = reinterpret_cast<const uint8_t*>(table->constData());
    const size_t count = size_t(table->size()) / CPixelDetector::kRecordBytes;
    size_t wrong = 0;
    for (size_t r = 0; r < count; ++r) {
        const uint8_t* rec = b + r * CPixelDetector::kRecordBytes;
        int x = 0, y = 0;
        const bool named = CPixelDetector::DecodeRecord(rec, &x, &y, nullptr);
        if (named && ((x < w && y < h) || isResetRecord(rec)))
            continue;
        if (++wrong > kShown)
            continue;
        if (!named)
            c.err << "第 " << r + 1 << " 条记录的行或列为 0, 无效\n";
        else
            c.err << "第 " << r + 1 << " 条记录 (" << x << ", " << y << ") 不在 " << w << " x " << h << " 范围内\n";
    }
    if (wrong) {
        c.err << what << " " << str(path) << " 共 " << count << " 条记录, 其中 " << wrong << " 条无效, 未使用\n";
        return false;
    }
    return true;
}

std::vector<uint16_t> pixelsOf(const QByteArray& le)
{
    std::vector<uint16_t> px(size_t(le.size()) / 2);
    const auto* b = reinterpret_cast<const uint8_t*>(le.constData());
    for (size_t i = 0; i < px.size(); ++i)
        px[i] = uint16_t(b[2 * i] | (b[2 * i + 1] << 8));
    return px;
}

bool threshold(Context& c, size_t i, int* v, const char* what)
{
    unsigned long long t = 0;
    if (!number(c, i, 65535, &t, what))
        return false;
    *v = int(t);
    return true;
}

// nuc LOWDIR HIGHDIR W H N KFILE
bool prepNuc(Context& c, Action* act)
{
    int w = 0, h = 0;
    unsigned long long n = 0;
    if (!frameSize(c, 2, long(CTwoPointNuc::kMaxPixels), &w, &h) || !number(c, 4, 0xFFFFFFFF, &n, "帧数"))
        return false;
    if (n < 1 || n > unsigned(CTwoPointNuc::kMaxFrames))
        return usageError(c, "统计帧数须在 1 到 " + std::to_string(CTwoPointNuc::kMaxFrames) + " 之间");
    const QString lowDir = qarg(c, 0), highDir = qarg(c, 1), kFile = qarg(c, 5);
    const qint64 bytes = qint64(w) * h * 2;
    for (const QString& dir : {highDir, lowDir}) {
        for (unsigned long long i = 1; i <= n; ++i) {
            if (!inputOfSize(c, QDir(dir).filePath(QString("Frame%1.frame").arg(i)), bytes, "帧文件"))
                return false;
        }
    }
    if (!outputFile(c, kFile, "增益文件"))
        return false;
    *act = [=](Context& c) {
        CTwoPointNuc nuc;
        nuc.SetSize(uint32_t(w), uint32_t(h));
        const qint64 frameBytes = qint64(w) * h * 2;
        QByteArray frame;
        // High set first, then low, one frame in memory at a time.
        const struct {
            CTwoPointNuc::Set set;
            QString dir;
            const char* name;
        } sets[2] = {{CTwoPointNuc::HighSet, highDir, "高温"}, {CTwoPointNuc::LowSet, lowDir, "低温"}};
        for (const auto& s : sets) {
            if (!nuc.BeginSet(s.set)) {
                c.err << "内存不足, 无法统计" << s.name << "帧\n";
                return int(ExitDevice);
            }
            for (unsigned long long i = 1; i <= n; ++i) {
                const QString path = QDir(s.dir).filePath(QString("Frame%1.frame").arg(i));
                if (!readFile(c, path, frameBytes, &frame, "帧文件"))
                    return int(ExitDevice);
                nuc.AddFrameBytes(reinterpret_cast<const uint8_t*>(frame.constData()));
                if (i % 32 == 0 || i == n)
                    c.err << "已读取" << s.name << "帧 " << i << "/" << n << "\n";
            }
            nuc.EndSet();
        }
        char means[128];
        std::snprintf(means, sizeof means, "低温均值 %.1f, 高温均值 %.1f\n", nuc.Mean(CTwoPointNuc::LowSet),
                      nuc.Mean(CTwoPointNuc::HighSet));
        c.err << means;
        if (!nuc.MeansOrdered()) {
            // Every gain would sit at a clamp limit and the whole frame would count as bad.
            c.err << "高温均值不高于低温均值: 高低温数据可能颠倒或黑体温度未改变, 未写增益文件\n";
            return int(ExitDevice);
        }
        if (!nuc.Compute()) {
            c.err << "增益计算失败\n";
            return int(ExitDevice);
        }
        if (!saveFile(c, kFile, nuc.GainFileBytes(), "增益文件"))
            return int(ExitDevice);
        size_t clamped = 0;
        const uint16_t* k = nuc.Gains();
        for (size_t i = 0; i < nuc.pixelCount(); ++i)
            clamped += (k[i] <= CTwoPointNuc::kGainMin || k[i] >= CTwoPointNuc::kGainMax) ? 1 : 0;
        c.err << "完成校正, 增益到达限幅的像素 " << clamped << " 个\n";
        c.out << str(kFile) << "\n";
        return int(ExitOk);
    };
    return true;
}

bool readFrame(Context& c, const QString& path, int w, int h, std::vector<uint16_t>* px)
{
    QByteArray bytes;
    if (!readFile(c, path, qint64(w) * h * 2, &bytes, "帧文件"))
        return false;
    *px = pixelsOf(bytes);
    return true;
}

void reportStats(Context& c, const CPixelDetector::TableStats& s, int w, int h)
{
    if (s.outside)
        c.err << "警告: " << s.outside << " 条记录不在 " << w << " x " << h << " 范围内, 已忽略\n";
}

// detect-v10 FRAME W H BRIGHT DARK TABLE
bool prepDetectV10(Context& c, Action* act)
{
    int w = 0, h = 0, bright = 0, dark = 0;
    if (!frameSize(c, 1, CPixelDetector::kMaxPixels, &w, &h) || !threshold(c, 3, &bright, "亮点阈值")
        || !threshold(c, 4, &dark, "暗点阈值"))
        return false;
    const QString framePath = qarg(c, 0), tablePath = qarg(c, 5);
    if (!inputOfSize(c, framePath, qint64(w) * h * 2, "帧文件") || !outputFile(c, tablePath, "坏点表"))
        return false;
    *act = [=](Context& c) {
        std::vector<uint16_t> px;
        if (!readFrame(c, framePath, w, h, &px))
            return int(ExitDevice);
        CPixelDetector det;
        det.SetThresholds(bright, dark);
        std::vector<CPixelDetector::Point> bad;
        std::vector<uint8_t> map, records;
        if (!det.DetectV10(px.data(), w, h, &bad) || !CPixelDetector::MapFromPoints(bad, w, h, &map)
            || !CPixelDetector::EncodeMap(map.data(), w, h, &records)) {
            c.err << "坏点检测失败\n";
            return int(ExitDevice);
        }
        if (!saveFile(c, tablePath, records, "坏点表"))
            return int(ExitDevice);
        if (bad.empty())
            c.err << "未检测到坏点, 已写入空坏点表, 请检查阈值设置\n";
        else
            c.err << "检测到 " << bad.size() << " 个坏点, 已写入 " << str(tablePath) << "\n";
        c.out << bad.size() << "\n";
        return int(ExitOk);
    };
    return true;
}

// detect-v20 FRAME W H BRIGHT BASETABLE TABLE ("-" as BASETABLE: no base table)
bool prepDetectV20(Context& c, Action* act)
{
    int w = 0, h = 0, bright = 0;
    if (!frameSize(c, 1, CPixelDetector::kMaxPixels, &w, &h) || !threshold(c, 3, &bright, "亮点阈值"))
        return false;
    const QString framePath = qarg(c, 0), basePath = qarg(c, 4), tablePath = qarg(c, 5);
    if (!inputOfSize(c, framePath, qint64(w) * h * 2, "帧文件"))
        return false;
    auto base = std::make_shared<QByteArray>();
    if (basePath != "-" && !readTable(c, basePath, w, h, base.get(), "基础坏点表"))
        return false;
    if (!outputFile(c, tablePath, "坏点表"))
        return false;
    *act = [=](Context& c) {
        std::vector<uint16_t> px;
        if (!readFrame(c, framePath, w, h, &px))
            return int(ExitDevice);
        std::vector<uint8_t> map(size_t(w) * h, 0);
        if (basePath != "-") {
            CPixelDetector::TableStats s;
            CPixelDetector::DecodeTable(reinterpret_cast<const uint8_t*>(base->constData()), size_t(base->size()), w,
                                        h, map.data(), &s);
            reportStats(c, s, w, h);
        }
        size_t before = 0;
        for (uint8_t m : map)
            before += m;
        CPixelDetector det;
        det.SetThresholds(bright, bright);
        int found = 0;
        std::vector<uint8_t> records;
        if (!det.DetectV20(px.data(), w, h, map.data(), &found)
            || !CPixelDetector::EncodeMap(map.data(), w, h, &records)) {
            c.err << "坏点检测失败\n";
            return int(ExitDevice);
        }
        if (!saveFile(c, tablePath, records, "坏点表"))
            return int(ExitDevice);
        const size_t total = records.size() / CPixelDetector::kRecordBytes;
        c.err << "原有坏点 " << before << " 个, 新检测到 " << found << " 个, 共 " << total << " 个, 已写入 "
              << str(tablePath) << "\n";
        if (total == 0)
            c.err << "坏点表为空, 请检查阈值设置\n";
        c.out << total << "\n";
        return int(ExitOk);
    };
    return true;
}

// table-dump TABLE W H: "x y mask" per record, in the file's order, 0-based.
bool prepTableDump(Context& c, Action* act)
{
    int w = 0, h = 0;
    if (!frameSize(c, 1, CPixelDetector::kMaxPixels, &w, &h))
        return false;
    auto table = std::make_shared<QByteArray>();
    if (!readTable(c, qarg(c, 0), w, h, table.get(), "坏点表"))
        return false;
    *act = [=](Context& c) {
        const auto* b = reinterpret_cast<const uint8_t*>(table->constData());
        const size_t count = size_t(table->size()) / CPixelDetector::kRecordBytes;
        size_t outside = 0;
        for (size_t r = 0; r < count; ++r) {
            int x = 0, y = 0;
            uint8_t mask = 0;
            const uint8_t* rec = b + r * CPixelDetector::kRecordBytes;
            CPixelDetector::DecodeRecord(rec, &x, &y, &mask);
            if (x >= w || y >= h) {
                // Only the reset entry gets here: the table check refused any other.
                ++outside;
                c.err << "第 " << r + 1 << " 条记录 (" << x << ", " << y << ") 不在 " << w << " x " << h
                      << " 范围内 (机芯坏点表复位后的条目), 已忽略\n";
                continue;
            }
            c.out << x << " " << y << " " << int(mask) << "\n";
        }
        if (count == 0)
            c.err << "坏点表为空\n";
        else
            c.err << "共 " << count << " 条记录, 有效 " << count - outside << " 条\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addCalibrationCommands(CommandTable& t)
{
    t["nuc"] = {6, "nuc LOWDIR HIGHDIR W H N KFILE", "由低温/高温帧 Frame1..N.frame 计算两点校正增益文件 (不连接机芯)",
                false, prepNuc};
    t["detect-v10"] = {6, "detect-v10 FRAME W H BRIGHT DARK TABLE", "局部均值法检测坏点, 写坏点表 (不连接机芯)", false,
                       prepDetectV10};
    t["detect-v20"] = {6, "detect-v20 FRAME W H BRIGHT BASETABLE TABLE",
                       "局部中值法在基础坏点表上检测坏点 (BASETABLE 为 - 表示无), 写坏点表 (不连接机芯)", false,
                       prepDetectV20};
    t["table-dump"] = {3, "table-dump TABLE W H", "列出坏点表: 每个坏点一行 \"x y mask\", 从 0 起 (不连接机芯)", false,
                       prepTableDump};
}

} // namespace irbench_cli

namespace irbench_cli {
bool readPixelTable(Context& c, const QString& path, int w, int h, QByteArray* table, const char* what)
{
    return readTable(c, path, w, h, table, what);
}
} // namespace irbench_cli
