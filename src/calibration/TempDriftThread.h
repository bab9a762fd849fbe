#pragma once

#include "CalibrationRuns.h"

#include <QPointer>
#include <QThread>

class CTemperDrift;

// The drift box's worker. Mode 0 samples the sweep (the job comes from the page, read
// and checked on the GUI thread); mode 1 fits and writes the coefficient files of its
// CTemperDrift. Results go out by queued signals.
class TempDriftThread : public QThread {
    Q_OBJECT
public:
    TempDriftThread(int nMode, QObject* parent);

    void setSamplingJob(const DriftSamplingJob& job) { m_job = job; }
    void setDrift(CTemperDrift* pDrift) { m_pDrift = pDrift; }
    int mode() const { return m_nMode; }

signals:
    void signalWriteDataRetCode(int nCode);
    void signalSampled(int nNumber, float fTemperature, int nMean);
    void signalWatched(float fTemperature);
    void signalSamplingFailed(QString strText);

protected:
    void run() override;

private:
    int m_nMode;
    DriftSamplingJob m_job;
    CTemperDrift* m_pDrift = nullptr;
};

// The stabilisation box's worker (mode 0: the judging loop).
class TempJudgeStableThread : public QThread {
    Q_OBJECT
public:
    TempJudgeStableThread(int nMode, QObject* parent);
    void setJob(const StableJob& job) { m_job = job; }

signals:
    void signalWatched(double dSeconds, double dFpa);
    void signalCollected(int nNumber, double dFpa, int nMean);
    void signalNextNumber(int nNext);
    void signalWarning(QString strText);
    void signalFailed(QString strText);

protected:
    void run() override;

private:
    int m_nMode;
    StableJob m_job;
};
