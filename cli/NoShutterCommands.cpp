#include "CliApp.h"
#include "CliCommand.h"
#include "CliTransferContext.h"

#include "CDevice.h"
#include "CFindFrame.h"
#include "CameraInfoDataManager.h"
#include "CFrameRecorder.h"
#include "CNetConnect.h"
#include "FrameLayoutSource.h"
#include "NoShutterMath.h"
#include "NoShutterSequences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <QtEndian>

#include <ostream>

// The no-shutter base and the NVFFC model from frame files, the calibration page's
// file sender, and the recording of the live stream with its log.
namespace irbench_cli {

namespace {

constexpr int kMaxFrames = 128;
constexpr long kMaxSide = 4096;

struct FrameSet {
    QString dir;
    int count = 0;
    int width = 0;
    int height = 0;
    QString out;
};

// FRAMESDIR N W H OUT, checked before anything is read.
bool frameSetArgs(Context& c, FrameSet* set)
{
    unsigned long long n = 0, w = 0, h = 0;
    if (!number(c, 1, kMaxFrames, &n, "帧数") || !number(c, 2, kMaxSide, &w, "宽度") || !number(c, 3, kMaxSide, &h, "高度"))
        return false;
    if (n < 1)
        return usageError(c, "帧数须为 1 到 128");
    if (w == 0 || h == 0)
        return usageError(c, "帧尺寸不能为 0");
    set->dir = QString::fromStdString(c.opt.args[0]);
    set->count = int(n);
    set->width = int(w);
    set->height = int(h);
    set->out = QString::fromStdString(c.opt.args[4]);
    const qint64 bytes = qint64(w) * qint64(h) * 2;
    for (int i = 1; i <= set->count; ++i) {
        qint64 size = 0;
        const QString path = set->dir + QStringLiteral("/Frame%1.frame").arg(i);
        if (!inputFile(c, path, "帧文件", &size))
            return false;
        if (size != bytes) {
            c.err << "帧文件 " << path.toStdString() << " 长度 " << size << " 字节, 应为 " << bytes << " 字节\n";
            return false;
        }
    }
    return outputFile(c, set->out, "输出文件");
}

// Frame i (1-based) as pixels.
bool loadFrame(Context& c, const FrameSet& set, int i, std::vector<uint16_t>* pixels)
{
    QByteArray data;
    const qint64 bytes = qint64(set.width) * set.height * 2;
    if (!readFile(c, set.dir + QStringLiteral("/Frame%1.frame").arg(i), bytes, &data, "帧文件"))
        return false;
    pixels->resize(size_t(bytes / 2));
    qFromLittleEndian<uint16_t>(data.constData(), qsizetype(pixels->size()), pixels->data());
    return true;
}

bool prepBase(Context& c, Action* act)
{
    auto set = std::make_shared<FrameSet>();
    if (!frameSetArgs(c, set.get()))
        return false;
    *act = [set](Context& c) {
        const size_t pixels = size_t(set->width) * size_t(set->height);
        std::vector<uint16_t> base(pixels), frame;
        for (int i = 1; i <= set->count; ++i) {
            if (!loadFrame(c, *set, i, &frame))
                return int(ExitDevice);
            noshutter::runningAverageStep(base.data(), frame.data(), pixels, uint32_t(i - 1));
        }
        std::vector<uint8_t> bytes(pixels * 2);
        qToLittleEndian<uint16_t>(base.data(), qsizetype(pixels), bytes.data());
        if (!saveFile(c, set->out, bytes, "本底文件"))
            return int(ExitDevice);
        c.out << set->count << " 帧, " << set->width << " x " << set->height << ", " << bytes.size() << " 字节\n";
        return int(ExitOk);
    };
    return true;
}

bool prepNvffc(Context& c, Action* act)
{
    auto set = std::make_shared<FrameSet>();
    if (!frameSetArgs(c, set.get()))
        return false;
    *act = [set](Context& c) {
        const size_t pixels = size_t(set->width) * size_t(set->height);
        std::vector<uint32_t> acc(pixels, 0);
        std::vector<uint16_t> frame;
        for (int i = 1; i <= set->count; ++i) {
            if (!loadFrame(c, *set, i, &frame))
                return int(ExitDevice);
            noshutter::accumulate(acc.data(), frame.data(), pixels);
        }
        std::vector<int16_t> model(pixels), smooth(pixels);
        noshutter::meanFreeModel(acc.data(), pixels, uint32_t(set->count), model.data());
        noshutter::smooth3x3(model.data(), set->width, set->height, smooth.data());
        const noshutter::BlockScale scale = noshutter::blockScale(smooth.data(), set->width, set->height);
        if (scale.result == noshutter::ScaleResult::Overflow) {
            c.err << "块差平方和为 " << scale.sum << ", 比例系数 2^39/" << scale.sum << " 超出 32 位, 未写入\n";
            return int(ExitDevice);
        }
        if (!saveFile(c, set->out, noshutter::modelFileBytes(smooth.data(), pixels, scale.scale), "模型文件"))
            return int(ExitDevice);
        c.out << "S " << scale.scale << ", 块差平方和 " << scale.sum << "\n";
        if (scale.result == noshutter::ScaleResult::Flat)
            c.err << "模型平坦 (块差平方和为 0), S = 0\n";
        return int(ExitOk);
    };
    return true;
}

// send-file KIND INDEX FILE [--address HEX]
bool prepSendFile(Context& c, Action* act)
{
    const auto& a = c.opt.args;
    if (a.size() != 3 && !(a.size() == 5 && a[3] == "--address"))
        return usageError(c, "用法: send-file KIND INDEX FILE [--address HEX]");
    unsigned long long kind = 0, index = 0;
    if (!number(c, 0, SendOtherFile, &kind, "文件类型") || !number(c, 1, 19, &index, "地址序号"))
        return false;
    uint32_t address = 0;
    QString why;
    const QString hex = a.size() == 5 ? QString::fromStdString(a[4]) : QString();
    if (!sendFileAddress(int(kind), int(index), hex, &address, &why))
        return usageError(c, why.toStdString());
    const QString path = QString::fromStdString(a[2]);
    if (!inputFile(c, path, "文件", nullptr))
        return false;
    *act = [address, path](Context& c) {
        CliTransferContext ctx(c.err, "发送");
        if (!runSendFile(ctx, address, path))
            return int(ExitDevice);
        c.out << QFileInfo(path).size() << " 字节 -> " << hex32(address, true) << "\n";
        return int(ExitOk);
    };
    return true;
}

// record SECONDS INTERVAL_MS OUTDIR
bool prepRecord(Context& c, Action* act)
{
    unsigned long long seconds = 0, interval = 0;
    if (!number(c, 0, 86400, &seconds, "秒数") || !number(c, 1, CFrameRecorder::kMaxIntervalMs, &interval, "采样间隔"))
        return false;
    if (seconds < 1 || interval < unsigned(CFrameRecorder::kMinIntervalMs))
        return usageError(c, "秒数须为 1 到 86400, 采样间隔须为 20 到 3600000 毫秒");
    if (c.opt.serial)
        return usageError(c, "实时视频只能通过网络连接获取 (不能用 --serial)");
    const QString dir = QString::fromStdString(c.opt.args[2]);
    if (dir.isEmpty() || !outputFolder(c, dir))
        return dir.isEmpty() ? usageError(c, "输出文件夹不能为空") : false;
    *act = [seconds, interval, dir](Context& c) {
        auto* net = dynamic_cast<CNetConnect*>(CDevice::Current());
        if (!net) {
            c.err << "实时视频只能通过网络连接获取\n";
            return int(ExitNoConnection);
        }
        // The log's temperatures are scaled by the core's sensor type.
        CameraInfoDataManager::instance()->identifyNow();
        net->SetFrameLayout(identifiedLayoutProvider(), identifiedAddInfoSink());
        if (!net->StartStream() || !net->FrameBuffer()) {
            c.err << "开启取流失败\n";
            return int(ExitDevice);
        }
        CFrameRecorder recorder;
        QString why;
        if (!recorder.start(net->FrameBuffer(), dir, int(interval), &why)) {
            net->StopStream();
            c.err << why.toStdString() << "\n";
            return int(ExitDevice);
        }
        QString stopped;
        QEventLoop loop;
        QObject::connect(&recorder, &CFrameRecorder::signalStopped, &loop, [&](const QString& reason) {
            stopped = reason;
            loop.quit();
        });
        QElapsedTimer clock;
        clock.start();
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
            const qint64 done = clock.elapsed() / 1000;
            c.err << "录制中 " << done << "/" << seconds << " 秒, " << recorder.framesWritten() << " 帧\n";
            if (done >= qint64(seconds))
                recorder.stop();
        });
        tick.start(1000);
        loop.exec();
        net->StopStream();
        if (!stopped.isEmpty()) {
            c.err << stopped.toStdString() << "\n";
            return int(ExitDevice);
        }
        c.out << recorder.framesWritten() << " 帧, " << recorder.geometry().width() << " x "
              << recorder.geometry().height() << "\n"
              << recorder.rawPath().toStdString() << "\n"
              << recorder.textPath().toStdString() << "\n";
        if (recorder.framesWritten() == 0) {
            c.err << "未收到任何视频帧, 录像文件为空\n";
            return int(ExitDevice);
        }
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addNoShutterCommands(CommandTable& t)
{
    t["base"] = {5, "base FRAMESDIR N W H OUT", "Frame1..N.frame 的无快门本底 (逐帧滑动平均, 不连接机芯)", false, prepBase};
    t["nvffc"] = {5, "nvffc FRAMESDIR N W H OUT", "Frame1..N.frame 的 NVFFC 模型 (去均值, 3x3 平滑, 比例系数)", false,
                  prepNvffc};
    t["send-file"] = {-1, "send-file KIND INDEX FILE [--address HEX]",
                      "发送文件 (KIND 0 NUC 1 坏点表 2 无快门本底 3 其它; INDEX 地址/本底序号, 0 NUC 序号 4 自定义)", true,
                      prepSendFile};
    t["record"] = {3, "record SECONDS INTERVAL_MS OUTDIR", "录制实时视频帧及温度日志 (.raw + .txt, 仅网络连接)", true,
                   prepRecord};
}

} // namespace irbench_cli
