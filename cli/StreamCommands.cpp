#include "CliApp.h"
#include "CliCommand.h"

#include "AgcProcessor.h"
#include "CComonFun.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "FrameLayoutSource.h"
#include "Pace.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <ostream>

namespace irbench_cli {

namespace {

std::string addInfoLine(quint64 n, const FrameAddInfo& a)
{
    char line[320];
    std::snprintf(line, sizeof line,
                  "%llu FPA %.2f CAV %.2f PCB %.2f VIEC %d EOCC %d TEC %d TINT %d SENS %d BVAL %d BaseL %d "
                  "Ival %d INX %d HBV %d LBV %d",
                  static_cast<unsigned long long>(n), double(a.tFPA), double(a.tCavity), double(a.tBoard),
                  int(int16_t(a.VIEC)), int(int16_t(a.EOCC)), int(int16_t(a.TEC)), int(int16_t(a.TINT)),
                  int(int16_t(a.SENS)), int(int16_t(a.BVAL)), int(int16_t(a.BaseL)), int(int16_t(a.Ival)),
                  int(int16_t(a.INX)), int(int16_t(a.HBV)), int(int16_t(a.LBV)));
    return line;
}

// record-stream SECONDS FILE: the stream's bytes exactly as they arrive.
bool prepRecordStream(Context& c, Action* act)
{
    unsigned long long seconds;
    if (!number(c, 0, 3600, &seconds, "秒数"))
        return false;
    if (seconds == 0)
        return usageError(c, "秒数至少为 1");
    if (c.opt.serial)
        return usageError(c, "实时视频只能通过网络连接获取 (不能用 --serial)");
    const QString path = QString::fromStdString(c.opt.args[1]);
    if (!outputFile(c, path, "文件"))
        return false;
    *act = [seconds, path](Context& c) {
        auto* net = dynamic_cast<CNetConnect*>(CDevice::Current());
        if (!net) {
            c.err << "实时视频只能通过网络连接获取\n";
            return int(ExitNoConnection);
        }
        // Recorded into a temporary beside the name; an earlier recording is replaced
        // only by a complete one.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            c.err << "无法创建文件 " << path.toStdString() << ": " << file.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        std::mutex lock;
        qint64 written = 0;
        bool writeFailed = false;
        net->SetStreamSink([&](const uint8_t* data, int size) {
            std::lock_guard<std::mutex> guard(lock);
            if (writeFailed)
                return;
            if (file.write(reinterpret_cast<const char*>(data), size) != size)
                writeFailed = true;
            else
                written += size;
        });
        net->SetFrameLayout(identifiedLayoutProvider(), identifiedAddInfoSink());
        if (!net->StartStream()) {
            net->SetStreamSink({});
            c.err << "开启取流失败\n";
            return int(ExitDevice);
        }
        // The duration is the operator's, in real time; progress once a second.
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        unsigned long long reported = 0;
        while (std::chrono::steady_clock::now() < end) {
            Pace::sleepMs(100);
            const auto done = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start);
            if (static_cast<unsigned long long>(done.count()) > reported) {
                reported = std::min<unsigned long long>(static_cast<unsigned long long>(done.count()), seconds);
                std::lock_guard<std::mutex> guard(lock);
                c.err << "录制中 " << reported << "/" << seconds << " 秒, " << written << " 字节\n";
                if (writeFailed)
                    break;
            }
        }
        net->StopStream();
        net->SetStreamSink({});
        const quint64 frames = net->FrameBuffer() ? net->FrameBuffer()->FrameCount() : 0;
        if (writeFailed || file.error() != QFileDevice::NoError) {
            file.cancelWriting();
            c.err << "写文件失败 " << path.toStdString() << ": 磁盘已满或无写权限, 原有文件未改动\n";
            return int(ExitDevice);
        }
        if (written == 0) {
            file.cancelWriting();
            c.err << "未收到任何视频数据\n";
            return int(ExitDevice);
        }
        // commit() alone would rename the temporary even when the last bytes fail.
        if (!file.flush() || !file.commit()) {
            file.cancelWriting();
            c.err << "写文件失败 " << path.toStdString() << ": " << file.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        c.out << written << " 字节, " << net->StreamChunkCount() << " 个数据包, " << frames << " 帧\n";
        return int(ExitOk);
    };
    return true;
}

// decode-stream FILE OUTDIR [--class N] [--sensor-type N]
bool prepDecodeStream(Context& c, Action* act)
{
    const auto& a = c.opt.args;
    if (a.size() != 2 && a.size() != 4 && a.size() != 6)
        return usageError(c, "参数个数不对: decode-stream FILE OUTDIR [--class N] [--sensor-type N]");
    AddInfoLayout layout;
    layout.sensorType = 1;
    for (size_t i = 2; i + 1 < a.size(); i += 2) {
        unsigned long long v;
        if (a[i] == "--class") {
            if (!number(c, i + 1, 4, &v, "机芯类别"))
                return false;
            layout.coreClass = int(v);
        } else if (a[i] == "--sensor-type") {
            if (!number(c, i + 1, 15, &v, "传感器类型"))
                return false;
            layout.sensorType = int(v);
        } else {
            return usageError(c, "未知选项 " + a[i]);
        }
    }
    const QString input = QString::fromStdString(a[0]);
    const QString outDir = QString::fromStdString(a[1]);
    qint64 size = 0;
    if (!inputFile(c, input, "文件", &size))
        return false;
    if (size == 0) {
        c.err << "文件 " << a[0] << " 为空, 没有视频数据\n";
        return false;
    }
    if (!outputFolder(c, outDir))
        return false;
    *act = [input, outDir, layout](Context& c) {
        QFile file(input);
        if (!file.open(QIODevice::ReadOnly)) {
            c.err << "无法打开文件 " << input.toStdString() << ": " << file.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        CFindFrame frames;
        bool failed = false;
        bool haveDir = false;
        quint64 count = 0;
        // No core geometry: classes 1..4 keep their trailer at the end of each frame.
        frames.SetLayoutProvider([layout]() { return layout; });
        frames.SetAddInfoSink([&](const FrameAddInfo& info) {
            std::vector<uint16_t> image;
            int w = 0, h = 0;
            if (failed || !frames.GetFrame(&image, &w, &h))
                return;
            // The folder with the first whole frame: a file without one leaves nothing.
            if (!haveDir && !(haveDir = QDir().mkpath(outDir))) {
                c.err << "无法创建文件夹 " << outDir.toStdString() << "\n";
                failed = true;
                return;
            }
            ++count;
            const QString name = QDir(outDir).filePath(QStringLiteral("Frame%1.frame").arg(count));
            if (!CComonFun::writeFrameFile(name, image.data(), image.size())) {
                c.err << "写文件失败 " << name.toStdString() << "\n";
                failed = true;
                return;
            }
            c.out << addInfoLine(count, info) << " " << w << "x" << h << "\n";
        });
        QByteArray chunk;
        while (!failed && !(chunk = file.read(65536)).isEmpty())
            frames.InputData(reinterpret_cast<const uint8_t*>(chunk.constData()), int(chunk.size()));
        if (failed)
            return int(ExitDevice);
        if (file.error() != QFileDevice::NoError) {
            c.err << "读文件失败 " << input.toStdString() << ": " << file.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        const CFindFrame::Counters k = frames.counters();
        c.err << count << " 帧; CRC 错误丢弃 " << k.crcDrops << " 帧, 尺寸无效的帧头 " << k.geometryDrops
              << " 个\n";
        if (count == 0) {
            c.err << "文件中没有完整的视频帧\n";
            return int(ExitUsage);
        }
        return int(ExitOk);
    };
    return true;
}

// agc MODE IN.frame W H OUT.pgm
bool prepAgc(Context& c, Action* act)
{
    const std::string& m = c.opt.args[0];
    int mode = 0;
    if (m == "1" || m == "Line" || m == "line")
        mode = AgcProcessor::ModeLine;
    else if (m == "2" || m == "Histeq" || m == "histeq")
        mode = AgcProcessor::ModeHisteq;
    else if (m == "3" || m == "Special" || m == "special")
        mode = AgcProcessor::ModeSpecial;
    else
        return usageError(c, "AGC 模式只能是 1/Line、2/Histeq 或 3/Special");
    unsigned long long w, h;
    if (!number(c, 2, 8192, &w, "宽度") || !number(c, 3, 8192, &h, "高度"))
        return false;
    if (w == 0 || h == 0)
        return usageError(c, "宽度和高度至少为 1");
    const QString input = QString::fromStdString(c.opt.args[1]);
    const QString output = QString::fromStdString(c.opt.args[4]);
    const qint64 expected = qint64(w * h * 2);
    qint64 size = 0;
    if (!inputFile(c, input, "文件", &size))
        return false;
    if (size != expected) {
        c.err << "文件长度 " << size << " 字节与 " << w << "x" << h << " 帧的 " << expected << " 字节不符\n";
        return false;
    }
    if (!outputFile(c, output, "文件"))
        return false;
    *act = [mode, w, h, expected, input, output](Context& c) {
        QFile in(input);
        if (!in.open(QIODevice::ReadOnly)) {
            c.err << "无法打开文件 " << input.toStdString() << ": " << in.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        const QByteArray raw = in.readAll();
        if (raw.size() != expected) {
            c.err << "读文件失败 " << input.toStdString() << ": " << in.errorString().toStdString() << "\n";
            return int(ExitDevice);
        }
        std::vector<uint16_t> pixels(size_t(w * h));
        std::memcpy(pixels.data(), raw.constData(), size_t(expected));
        AgcProcessor agc;
        std::vector<uint8_t> grey(size_t(w * h));
        if (agc.Create(int(w), int(h)) != AgcProcessor::Ok || agc.SetMode(mode) != AgcProcessor::Ok
            || agc.Process(pixels.data(), grey.data()) != AgcProcessor::Ok) {
            c.err << "AGC 处理失败\n";
            return int(ExitDevice);
        }
        QByteArray pgm = QByteArray("P5\n") + QByteArray::number(w) + " " + QByteArray::number(h) + "\n255\n";
        pgm.append(reinterpret_cast<const char*>(grey.data()), qsizetype(grey.size()));
        if (!CComonFun::writeFile(output, pgm)) {
            c.err << "写文件失败 " << output.toStdString() << "\n";
            return int(ExitDevice);
        }
        const AgcProcessor::Stats s = agc.lastStats();
        c.out << "low " << s.low << " high " << s.high << " mean " << s.mean << " gain " << agc.params().gain << "\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addStreamCommands(CommandTable& t)
{
    t["record-stream"] = {2, "record-stream SECONDS FILE", "录制实时视频流的原始字节 (仅网络连接)", true, prepRecordStream};
    t["decode-stream"] = {-1, "decode-stream FILE OUTDIR [--class N] [--sensor-type N]",
                          "从录制的流中解出 FrameN.frame, 每帧一行附加信息 (不连接机芯)", false, prepDecodeStream};
    t["agc"] = {5, "agc MODE IN.frame W H OUT.pgm", "按 AGC 模式把 14 位帧转为灰度 PGM (不连接机芯)", false, prepAgc};
}

} // namespace irbench_cli
