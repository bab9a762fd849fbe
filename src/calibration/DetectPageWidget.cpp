#include "DetectPageWidget.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

DetectPageWidget::DetectPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("DetectPageWidget");
    m_pLabTitle = new QLabel(QStringLiteral("检测"), this);
    m_pLabTitle->setObjectName("PageTitle");
    m_pLabSensorId = new QLabel(this);
    m_pLabSensorId->setObjectName("m_pLabSensorId");
    m_pLabSensorId->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(m_pLabTitle);
    layout->addWidget(m_pLabSensorId);
    layout->addStretch(1);

    m_pStartDelay = new QTimer(this);
    m_pStartDelay->setSingleShot(true);
    m_pStartDelay->setInterval(50);
    m_pPageTimer = new QTimer(this);
    m_pPageTimer->setInterval(50);
    connect(m_pStartDelay, &QTimer::timeout, m_pPageTimer, qOverload<>(&QTimer::start));
    connect(m_pPageTimer, &QTimer::timeout, this, &DetectPageWidget::OnPageTimer);
    setSensorId(QString());
}

DetectPageWidget::~DetectPageWidget() = default;

void DetectPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
}

void DetectPageWidget::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
    m_pLabSensorId->setText(
        QStringLiteral("Sensor ID：%1").arg(strSensorId.isEmpty() ? QStringLiteral("-") : strSensorId));
}

void DetectPageWidget::startPageTimer()
{
    m_pPageTimer->stop();
    m_pStartDelay->start();
}

void DetectPageWidget::stopPageTimer()
{
    m_pStartDelay->stop();
    m_pPageTimer->stop();
}

bool DetectPageWidget::isPageTimerActive() const
{
    return m_pPageTimer->isActive();
}

bool DetectPageWidget::isPageTimerPending() const
{
    return m_pStartDelay->isActive();
}

void DetectPageWidget::OnPageTimer()
{
    // The frame mean and the recorder run on this tick once the page has them.
}
