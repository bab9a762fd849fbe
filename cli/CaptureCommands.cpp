#include "CliApp.h"
#include "CliCommand.h"

#include "CComonFun.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "FrameLayoutSource.h"
#include "Pace.h"

#include <QDir>
#include <QString>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <thread>

namespace irbench_cli {

namespace {

// capture N OUTDIR: N consecutive frames of the live stream as FrameK.frame files,
// the image rows only (the two info rows stay behind), 16-bit little-endian.
bool prepCapture(Context& c, Action* act)
{
    unsigned long long n = 0;
    if (!parseNumber(c.opt.args[0], 0xFFFFFFFFull, &n) || n < 1 || n > unsigned(CFindFrame::kMaxCapture))
        return usageError(c, "帧数 \"" + c.opt.args[0] + "\" 无效, 必须在 1 到 "
                                 + std::to_string(CFindFrame::kMaxCapture) + " 之间");
    if (c.opt.serial)
        return usageError(c, "实时视频只能通过网络连接获取 (不能用 --serial)");
    const QString outDir = QString::fromStdString(c.opt.args[1]);
    if (outDir.isEmpty())
        return usageError(c, "输出文件夹不能为空");
    if (!outputFolder(c, outDir))
        return false;
    const int count = int(n);
    *act = [count, outDir](Context& c) {
        auto* net = dynamic_cast<CNetConnect*>(CDevice::Current());
        if (!net) {
            c.err << "实时视频只能通过网络连接获取\n";
            return int(ExitNoConnection);
        }
        // The folder first: a capture that cannot be stored is not worth waiting for.
        if (!QDir().mkpath(outDir)) {
            c.err << "无法创建文件夹 " << outDir.toStdString() << "\n";
            return int(ExitDevice);
        }
        net->SetFrameLayout(identifiedLayoutProvider(), identifiedAddInfoSink());
        if (!net->StartStream() || !net->FrameBuffer()) {
            c.err << "开启取流失败\n";
            return int(ExitDevice);
        }
        CFindFrame* frames = net->FrameBuffer();

        // The capture blocks its caller; this thread reports progress meanwhile. It
        // ends by itself when frames stop arriving for the buffer's stall time.
        std::atomic<bool> finished{false};
        bool captured = false;
        std::thread worker([&] {
            captured = frames->StartCapture(count);
            finished = true;
        });
        int shown = -1;
        auto last = std::chrono::steady_clock::now();
        while (!finished.load()) {
            Pace::sleepMs(100);
            const int have = frames->CapturedCount();
            const auto now = std::chrono::steady_clock::now();
            if (have != shown && (now - last >= std::chrono::milliseconds(500) || have == count)) {
                c.err << "采集中 " << have << "/" << count << " 帧\n";
                shown = have;
                last = now;
            }
        }
        worker.join();
        net->StopStream();

        std::vector<std::vector<uint16_t>> run;
        int w = 0, h = 0;
        const bool haveRun = frames->GetCapturedFrames(&run, &w, &h);
        if (!captured || !haveRun || int(run.size()) < count) {
            const int got = haveRun ? int(run.size()) : 0;
            if (got == 0)
                c.err << "采集失败: " << CFindFrame::kDefaultStallMs / 1000
                      << " 秒内未收到视频帧, 请检查视频流\n";
            else
                c.err << "采集失败: 视频流中断, 只收到 " << got << "/" << count << " 帧, 未保存任何文件\n";
            return int(ExitDevice);
        }

        int failed = 0;
        const qint64 bytes = qint64(w) * qint64(h) * 2;
        for (int i = 0; i < count; ++i) {
            const std::vector<uint16_t>& image = run[size_t(i)];
            const QString name = QDir(outDir).filePath(QStringLiteral("Frame%1.frame").arg(i + 1));
            if (qint64(image.size()) * 2 != bytes || !CComonFun::writeFrameFile(name, image.data(), image.size())) {
                c.err << "写文件失败 " << name.toStdString() << "\n";
                ++failed;
                continue;
            }
            double sum = 0;
            for (uint16_t v : image)
                sum += v;
            char line[64];
            std::snprintf(line, sizeof line, " %dx%d mean %.1f", w, h, image.empty() ? 0.0 : sum / double(image.size()));
            c.out << name.toStdString() << line << "\n";
        }
        if (failed > 0) {
            c.err << failed << "/" << count << " 帧写入失败\n";
            return int(ExitDevice);
        }
        c.err << "已保存 " << count << " 帧 (" << w << "x" << h << ") 到 " << outDir.toStdString() << "\n";
        return int(ExitOk);
    };
    return true;
}

} // namespace

void addCaptureCommands(CommandTable& t)
{
    t["capture"] = {2, "capture N OUTDIR", "从实时视频采集 N 帧 (1..128) 存为 FrameK.frame (仅网络连接)", true, prepCapture};
}

} // namespace irbench_cli
