#include "VideoPageWidget.h"

#include "CNetConnect.h"
#include "DetectPageWidget.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

VideoPageWidget::VideoPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("VideoPageWidget");
    m_pLabTitle = new QLabel(QStringLiteral("标定"), this);
    m_pLabTitle->setObjectName("PageTitle");
    m_pLabSensorId = new QLabel(this);
    m_pLabSensorId->setObjectName("m_pLabSensorId");
    m_pLabSensorId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pLabStream = new QLabel(this);
    m_pLabStream->setObjectName("m_pLabStream");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(m_pLabTitle);
    layout->addWidget(m_pLabSensorId);
    layout->addWidget(m_pLabStream);
    layout->addStretch(1);

    m_pStartDelay = new QTimer(this);
    m_pStartDelay->setSingleShot(true);
    m_pStartDelay->setInterval(50);
    m_pPageTimer = new QTimer(this);
    m_pPageTimer->setInterval(50);
    connect(m_pStartDelay, &QTimer::timeout, m_pPageTimer, qOverload<>(&QTimer::start));
    connect(m_pPageTimer, &QTimer::timeout, this, &VideoPageWidget::OnPageTimer);
    updateInfo();
}

VideoPageWidget::~VideoPageWidget() = default;

void VideoPageWidget::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
    updateInfo();
}

void VideoPageWidget::setDetectPage(DetectPageWidget* pDetect)
{
    m_pDetect = pDetect;
}

void VideoPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
    updateInfo();
}

void VideoPageWidget::startPageTimer()
{
    m_pPageTimer->stop();
    m_pStartDelay->start();
}

void VideoPageWidget::stopPageTimer()
{
    m_pStartDelay->stop();
    m_pPageTimer->stop();
}

bool VideoPageWidget::isPageTimerActive() const
{
    return m_pPageTimer->isActive();
}

bool VideoPageWidget::isPageTimerPending() const
{
    return m_pStartDelay->isActive();
}

void VideoPageWidget::stopStream()
{
    if (m_pNet)
        m_pNet->StopStream();
    updateInfo();
}

void VideoPageWidget::OnPageTimer()
{
    updateInfo();
}

void VideoPageWidget::updateInfo()
{
    m_pLabSensorId->setText(
        QStringLiteral("Sensor ID：%1").arg(m_strSensorId.isEmpty() ? QStringLiteral("-") : m_strSensorId));
    const bool bPlaying = m_pNet && m_pNet->IsPlaying();
    const QString text = bPlaying ? QStringLiteral("取流中：已收到 %1 个数据包").arg(m_pNet->StreamChunkCount())
                                  : QStringLiteral("未取流");
    if (m_pLabStream->text() != text)
        m_pLabStream->setText(text);
}
