#include "CalibrationRuns.h"

#include "CFindFrame.h"
#include "CTemperStabledProcess.h"
#include "DataExchange.h"
#include "DriftFit.h"
#include "Pace.h"
#include "StableFpaData.h"
#include "TempDriftData.h"


#include <QDir>
#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <vector>

namespace {

bool stillRunning(const std::atomic<bool>* flag)
{
    return flag && flag->load();
}

void fail(const std::function<void(const QString&)>& hook, const QString& text)
{
    if (hook)
        hook(text);
}

// Captures `count` frames; false (and why) when the stream does not deliver them.
bool captureRun(CFindFrame* frames, int count, std::vector<std::vector<uint16_t>>* run, size_t* pixels,
                QString* error)
{
    if (!frames->StartCapture(count)) {
        *error = QStringLiteral("采集 %1 帧失败：视频流没有送来足够的帧").arg(count);
        return false;
    }
    int w = 0, h = 0;
    if (!frames->GetCapturedFrames(run, &w, &h) || run->empty() || w <= 0 || h <= 0) {
        *error = QStringLiteral("采集的帧无法读取");
        return false;
    }
    *pixels = size_t(w) * size_t(h);
    return true;
}

} // namespace

int runDriftSampling(const DriftSamplingJob& job, const DriftSamplingHooks& hooks)
{
    if (!job.frames) {
        fail(hooks.failed, QStringLiteral("没有视频流，无法温漂采样"));
        return 0;
    }
    int number = 1;
    QString error;
    if (!tempdrift::prepareSampleDir(job.dataDir, job.clear, &number, &error)) {
        fail(hooks.failed, error);
        return 0;
    }
    int zero = 0;
    DataExchange::instance()->writeRegisterSized(kDriftShortRegister, &zero, 1);

    int taken = 0;
    float last = 0;
    auto sample = [&]() -> bool {
        std::vector<std::vector<uint16_t>> run;
        size_t pixels = 0;
        if (!captureRun(job.frames, job.frameCount, &run, &pixels, &error))
            return false;
        FrameAddInfo end;
        if (!job.frames->GetFrameAddInfoEx(&end, 1)) {
            error = QStringLiteral("读不到采集结束时的焦温");
            return false;
        }
        uint16_t mean = 0;
        if (!tempdrift::saveSample(job.dataDir, number, run, pixels, end.tFPA, &mean, &error))
            return false;
        last = end.tFPA;
        if (hooks.sampled)
            hooks.sampled(number, end.tFPA, mean);
        ++number;
        ++taken;
        return true;
    };
    if (!sample()) {
        fail(hooks.failed, error);
        return taken;
    }
    while (stillRunning(job.running)) {
        FrameAddInfo now;
        if (job.frames->GetFrameAddInfoEx(&now, 0)) {
            const float t = now.tFPA;
            if (hooks.watched)
                hooks.watched(t);
            if (std::fabs(double(last) - double(t)) > job.step) {
                if (t < driftfit::kBandLow || t > driftfit::kBandHigh) {
                    if (!sample()) {
                        fail(hooks.failed, error);
                        return taken;
                    }
                } else {
                    last = t; // inside the band: moves on without a sample
                }
            }
        }
        Pace::sleepMs(200);
    }
    return taken;
}

int runStableJudging(const StableJob& job, const StableHooks& hooks)
{
    if (!job.frames) {
        fail(hooks.failed, QStringLiteral("没有视频流，无法判稳"));
        return 0;
    }
    CTemperStabledProcess proc;
    QString error;
    if (!proc.setDirectory(job.stableDir, job.clear, &error)) {
        fail(hooks.failed, error);
        return 0;
    }
    if (!proc.recording() && hooks.warning) {
        const QString tmpl = QDir::toNativeSeparators(proc.templatePath());
        hooks.warning(proc.templateCopy() == stablefpa::CopyResult::NoTemplate
                          ? QStringLiteral("找不到模板文件 %1，只保存图像，不记录温度和均值").arg(tmpl)
                          : QStringLiteral("模板文件 %1 复制失败，只保存图像，不记录温度和均值").arg(tmpl));
    }
    proc.setCollectionNumber(job.startNumber);

    const bool stateRegister = job.coreClass == 1 || job.coreClass == 2;
    DataExchange* dx = DataExchange::instance();
    const auto t0 = std::chrono::steady_clock::now();
    auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    if (stateRegister) {
        // The run begins in the ordinary state; the worker waits the second out, not the window.
        dx->writeRegister(kStableStateRegister, 1);
        Pace::sleepMs(1000);
    }
    int taken = 0;
    auto collect = [&](double t) -> bool {
        const int k = proc.collectionNumber();
        if (!proc.collectionFits()) {
            error = QStringLiteral("采集编号 %1 超出 background_info.dat 的范围（共 %2 行，编号须小于 %3），判稳停止")
                        .arg(k).arg(proc.infoLines())
                        .arg(std::min(stablefpa::kMaxCollections, proc.infoLines() - stablefpa::kMeanLine));
            return false;
        }
        if (stateRegister) {
            dx->writeRegister(kStableStateRegister, 2);
            Pace::sleepMs(1000);
        }
        std::vector<std::vector<uint16_t>> run;
        size_t pixels = 0;
        const bool ok = captureRun(job.frames, stablefpa::kFramesPerCollection, &run, &pixels, &error)
            && proc.averageAndSave(run, pixels, &error) && proc.record(t, &error);
        if (stateRegister) {
            // Back to the ordinary state whatever happened to the collection.
            dx->writeRegister(kStableStateRegister, 1);
            Pace::sleepMs(1000);
        }
        if (!ok)
            return false;
        dx->writeRegister(kStableNumberRegister, k);
        if (hooks.collected)
            hooks.collected(k, t, proc.lastMean());
        ++taken;
        if (hooks.nextNumber)
            hooks.nextNumber(proc.collectionNumber());
        return true;
    };

    FrameAddInfo now;
    if (!job.frames->GetFrameAddInfoEx(&now, 0)) {
        fail(hooks.failed, QStringLiteral("没有视频帧，读不到焦温，判稳停止"));
        return 0;
    }
    double last = now.tFPA;
    if (hooks.watched)
        hooks.watched(seconds(), last);
    if (!collect(last)) {
        fail(hooks.failed, error);
        return taken;
    }
    while (stillRunning(job.running)) {
        if (stillRunning(job.judging) && job.frames->GetFrameAddInfoEx(&now, 0)) {
            const double t = now.tFPA;
            if (hooks.watched)
                hooks.watched(seconds(), t);
            if (std::fabs(last - t) > job.diff) {
                last = t;
                if (!collect(t)) {
                    fail(hooks.failed, error);
                    return taken;
                }
            }
        }
        Pace::sleepMs(100);
    }
    return taken;
}
