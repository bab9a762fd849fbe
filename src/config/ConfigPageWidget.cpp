#include "ConfigPageWidget.h"

#include <QLabel>
#include <QVBoxLayout>

ConfigPageWidget::ConfigPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("ConfigPageWidget");
    m_pLabTitle = new QLabel(QStringLiteral("配置"), this);
    m_pLabTitle->setObjectName("PageTitle");
    m_pLabSensorId = new QLabel(this);
    m_pLabSensorId->setObjectName("m_pLabSensorId");
    m_pLabSensorId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pLabVendor = new QLabel(this);
    m_pLabVendor->setObjectName("m_pLabVendor");

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(m_pLabTitle);
    layout->addWidget(m_pLabSensorId);
    layout->addWidget(m_pLabVendor);
    layout->addStretch(1);
    updateInfo();
}

ConfigPageWidget::~ConfigPageWidget() = default;

void ConfigPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
}

void ConfigPageWidget::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
    updateInfo();
}

QStringList ConfigPageWidget::vendorNames()
{
    return {"GWIC", "IRAY", "PICO", "DALI", "WY"};
}

int ConfigPageWidget::vendorIndexFor(int nSensorTypeCode)
{
    switch (nSensorTypeCode) {
    case 1: return 1;
    case 2: return 2;
    case 4: return 3;
    case 5: return 4;
    default: return 0;
    }
}

void ConfigPageWidget::selectVendorPage(int nSensorTypeCode)
{
    m_nVendorIndex = vendorIndexFor(nSensorTypeCode);
    updateInfo();
}

void ConfigPageWidget::clearCmdHistory()
{
    // The console keeps no history yet; nothing else on the page outlives a link.
}

void ConfigPageWidget::updateInfo()
{
    m_pLabSensorId->setText(QStringLiteral("Sensor ID：%1")
                                .arg(m_strSensorId.isEmpty() ? QStringLiteral("-") : m_strSensorId));
    m_pLabVendor->setText(QStringLiteral("探测器厂家：%1").arg(vendorNames().value(m_nVendorIndex)));
}
