#include "CTemperDrift.h"

#include "TransferContext.h"

#include <QMutexLocker>

CTemperDrift::CTemperDrift(QObject* parent)
    : QObject(parent)
{
}

void CTemperDrift::setDirectory(const QString& base)
{
    QMutexLocker lock(&m_lock);
    m_base = base;
}

QString CTemperDrift::baseDir() const
{
    QMutexLocker lock(&m_lock);
    return m_base;
}

void CTemperDrift::setConfig(int type, int width, int height)
{
    QMutexLocker lock(&m_lock);
    m_type = type;
    m_width = width;
    m_height = height;
}

void CTemperDrift::prepareFit()
{
    QMutexLocker lock(&m_lock);
    m_fit = true;
    m_written = m_total = 0;
}

void CTemperDrift::prepareResume(int written, int total)
{
    QMutexLocker lock(&m_lock);
    m_fit = false;
    m_written = written;
    m_total = total;
}

int CTemperDrift::written() const
{
    QMutexLocker lock(&m_lock);
    return m_written;
}

int CTemperDrift::total() const
{
    QMutexLocker lock(&m_lock);
    return m_total;
}

tempdrift::FitOutcome CTemperDrift::lastFit() const
{
    QMutexLocker lock(&m_lock);
    return m_lastFit;
}

QString CTemperDrift::lastDetail() const
{
    QMutexLocker lock(&m_lock);
    return m_detail;
}

int CTemperDrift::runTask(TransferContext& ctx)
{
    QString base, detail;
    int type = 0, width = 0, height = 0, from = 0, to = 0;
    bool fit = false;
    {
        QMutexLocker lock(&m_lock);
        base = m_base;
        type = m_type;
        width = m_width;
        height = m_height;
        fit = m_fit;
        from = m_written;
        to = m_total;
        m_detail.clear();
    }
    if (fit) {
        ctx.setStatus(QStringLiteral("正在拟合温漂系数..."));
        tempdrift::FitOutcome outcome = tempdrift::fitSamples(tempdrift::dataDir(base), tempdrift::retDir(base), type,
                                                              width, height);
        {
            QMutexLocker lock(&m_lock);
            m_lastFit = outcome;
            m_detail = outcome.text;
        }
        emit signalFitDone();
        if (outcome.status == tempdrift::FitOutcome::NoSamples)
            return tempdrift::NoSampleData;
        if (outcome.status != tempdrift::FitOutcome::Written)
            return tempdrift::FitRefused;
        from = 0;
        to = outcome.total;
        {
            QMutexLocker lock(&m_lock);
            m_written = 0;
            m_total = to;
        }
    } else if (from != to && !tempdrift::countersValid(from, to)) {
        return tempdrift::WriteBadCounters;
    }
    emit signalSetProgressBarValue(0);
    emit signalTempDriftWriteFile(from, to);
    int written = from;
    const int code = tempdrift::writeCoefficientFiles(
        ctx, tempdrift::retDir(base), from, to, &written,
        [this](int w, int t) {
            {
                QMutexLocker lock(&m_lock);
                m_written = w;
            }
            emit signalTempDriftWriteFile(w, t);
        },
        &detail);
    if (!detail.isEmpty()) {
        QMutexLocker lock(&m_lock);
        m_detail = detail;
    }
    return code;
}
