#include "SensorConfigThread.h"

#include "ConfigPageWidget.h"
#include "SensorConfig.h"

SensorConfigThread::SensorConfigThread(ConfigPageWidget* pPage, int nMode)
    : m_nMode(nMode)
{
    setObjectName("SensorConfigThread");
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    if (pPage) {
        connect(this, &SensorConfigThread::SigIRAYNTCCConfigOKEnd, pPage, &ConfigPageWidget::OnIRAYNTCCConfigOKEnd,
                Qt::QueuedConnection);
        connect(this, &SensorConfigThread::SigIRAYNTCCConfigFailEnd, pPage,
                &ConfigPageWidget::OnIRAYNTCCConfigFailEnd, Qt::QueuedConnection);
        connect(this, &SensorConfigThread::signalProccessDlgResult, pPage, &ConfigPageWidget::onShowProcessDialog,
                Qt::QueuedConnection);
    }
}

SensorConfigThread::~SensorConfigThread() = default;

void SensorConfigThread::run()
{
    if (m_nMode == ModeNtcc) {
        if (sensorcfg::runNtcc())
            emit SigIRAYNTCCConfigOKEnd();
        else
            emit SigIRAYNTCCConfigFailEnd();
    } else {
        emit signalProccessDlgResult(sensorcfg::runAutoCorrect() ? QStringLiteral("机芯自动校正成功")
                                                                 : QStringLiteral("机芯自动校正失败"));
    }
    if (m_hook)
        m_hook();
}
