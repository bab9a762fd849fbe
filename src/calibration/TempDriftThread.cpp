#include "TempDriftThread.h"

#include "CTemperDrift.h"
#include "TransferContext.h"

namespace {

// The write's progress and remaining time go to the drift processor's signals; the
// writer tells nothing itself (the page words the drift codes).
class DriftWriteContext : public TransferContext {
public:
    explicit DriftWriteContext(CTemperDrift* drift)
        : m_drift(drift)
    {
    }
    void setProgress(int percent) override { emit m_drift->signalSetProgressBarValue(percent); }
    void setStatus(const QString& text) override { emit m_drift->signalStatus(text); }
    void message(const QString&, const QString&) override {}
    bool cancelled() const override { return QThread::currentThread()->isInterruptionRequested(); }

private:
    CTemperDrift* m_drift;
};

} // namespace

TempDriftThread::TempDriftThread(int nMode, QObject* parent)
    : QThread(parent)
    , m_nMode(nMode)
{
}

void TempDriftThread::run()
{
    if (m_nMode == 1) {
        if (!m_pDrift)
            return;
        DriftWriteContext ctx(m_pDrift);
        emit signalWriteDataRetCode(m_pDrift->runTask(ctx));
        return;
    }
    DriftSamplingHooks hooks;
    hooks.sampled = [this](int n, float t, int mean) { emit signalSampled(n, t, mean); };
    hooks.watched = [this](float t) { emit signalWatched(t); };
    hooks.failed = [this](const QString& text) { emit signalSamplingFailed(text); };
    runDriftSampling(m_job, hooks);
}

TempJudgeStableThread::TempJudgeStableThread(int nMode, QObject* parent)
    : QThread(parent)
    , m_nMode(nMode)
{
}

void TempJudgeStableThread::run()
{
    if (m_nMode != 0)
        return;
    StableHooks hooks;
    hooks.watched = [this](double s, double t) { emit signalWatched(s, t); };
    hooks.collected = [this](int k, double t, int mean) { emit signalCollected(k, t, mean); };
    hooks.nextNumber = [this](int next) { emit signalNextNumber(next); };
    hooks.warning = [this](const QString& text) { emit signalWarning(text); };
    hooks.failed = [this](const QString& text) { emit signalFailed(text); };
    runStableJudging(m_job, hooks);
}
