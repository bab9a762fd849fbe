#pragma once

#include "TempDriftData.h"

#include <QMutex>
#include <QObject>
#include <QString>

class TransferContext;

// The drift processor of the calibration page: where the sweep keeps its files, the
// fit configuration of the connected core, and the counters of the coefficient
// files written into the core, which survive a failed write so that "烧录" resumes it.
// The fit and the write run on the writing worker (TempDriftThread mode 1).
class CTemperDrift : public QObject {
    Q_OBJECT
public:
    explicit CTemperDrift(QObject* parent = nullptr);

    void setDirectory(const QString& base);
    QString baseDir() const;
    QString dataDir() const { return tempdrift::dataDir(baseDir()); }
    QString retDir() const { return tempdrift::retDir(baseDir()); }
    // Fit type (from the sensor type code) and picture size of the connected core.
    void setConfig(int type, int width, int height);

    // What the next writing task does: a new fit and all its files, or files
    // written .. total-1 of the last fit.
    void prepareFit();
    void prepareResume(int written, int total);
    // The task itself (writing worker): returns the code for signalShowErrMsg.
    int runTask(TransferContext& ctx);

    int written() const;
    int total() const;
    tempdrift::FitOutcome lastFit() const;
    // Sizes of a file refused for its slot, the fit's remarks, for the message.
    QString lastDetail() const;

signals:
    void signalSetProgressBarValue(int nValue);
    void signalTempDriftWriteFile(int nWritten, int nTotal);
    void signalWriteFileFinished();
    void signalShowErrMsg(int nCode);
    void signalStatus(QString strText);
    void signalFitDone();

private:
    mutable QMutex m_lock;
    QString m_base;
    int m_type = -1;
    int m_width = 0;
    int m_height = 0;
    bool m_fit = false;
    int m_written = 0;
    int m_total = 0;
    tempdrift::FitOutcome m_lastFit;
    QString m_detail;
};
