#include "SensorConfigWidget.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

using sensorcfg::Item;
using sensorcfg::Vendor;

namespace {

using Signal = void (SensorConfigWidget::*)();

// One row of a vendor page: a caption, its field and its button. Rows without a
// caption are buttons of their own (the long commands, table file, one-key setup).
struct Row {
    Vendor vendor;
    Item item;
    const char* name;    // object name stem: m_pEdt<name>, m_pBtn<name>
    const char* caption; // empty: a button only
    const char* button;
    Signal signal;
};

const Row kRows[] = {
    {Vendor::GWIC, Item::SensorId, "GWICSensorID", "Sensor 编号：", "写入", &SensorConfigWidget::signalGWICSensorIDWrite},
    {Vendor::GWIC, Item::Data, "GWICData", "Data：", "写入", &SensorConfigWidget::signalGWICDataWrite},
    {Vendor::GWIC, Item::CoreType, "GWICMovementType", "机芯型号：", "写入", &SensorConfigWidget::signalGWICMovementTypeWrite},
    {Vendor::GWIC, Item::Batch, "GWICMovementSerial", "机芯序列号：", "写入", &SensorConfigWidget::signalGWICMovementSerialWrite},
    {Vendor::IRAY, Item::SensorId, "IRAYSensorID", "Sensor 编号：", "写入", &SensorConfigWidget::signalIRAYSensorIDWrite},
    {Vendor::IRAY, Item::Data, "IRAYData", "Data：", "写入", &SensorConfigWidget::signalIRAYDataWrite},
    {Vendor::IRAY, Item::CoreType, "IRAYMovementType", "机芯型号：", "写入", &SensorConfigWidget::signalIRAYMovementTypeWrite},
    {Vendor::IRAY, Item::Batch, "IRAYMovementSerial", "机芯序列号：", "写入", &SensorConfigWidget::signalIRAYMovementSerialWrite},
    {Vendor::IRAY, Item::Vtemp, "IRAY25Vtemp", "IRAY25 Vtemp：", "写入", &SensorConfigWidget::signalIRAY25VtempWrite},
    {Vendor::IRAY, Item::Ntcc, "IRAYNTCC", "", "NTCC", &SensorConfigWidget::signalIRAYNTCC},
    {Vendor::PICO, Item::SensorId, "PICOSensorID", "Sensor 编号：", "写入", &SensorConfigWidget::signalPICOSensorIDWrite},
    {Vendor::PICO, Item::CoreType, "PICOMovementType", "机芯型号：", "写入", &SensorConfigWidget::signalPICOMovementTypeWrite},
    {Vendor::PICO, Item::Batch, "PICOMovementSerial", "机芯序列号：", "写入", &SensorConfigWidget::signalPICOMovementSerialWrite},
    {Vendor::PICO, Item::Target, "PICOTarget", "目标值：", "校正", &SensorConfigWidget::signalPICOCorrect},
    {Vendor::PICO, Item::GFidGsk, "PICOGFidGSK", "GFid/GSK：", "写入", &SensorConfigWidget::signalPICOGFidGSKWrite},
    {Vendor::PICO, Item::InitTable, "PICOWriteInitBPTable", "", "写入初始坏点表", &SensorConfigWidget::signalPICOWriteInitBPTable},
    {Vendor::PICO, Item::PicoConfig, "PICOSensorConfig", "", "PICO 配置", &SensorConfigWidget::signalPICOOnekeyConfig},
    {Vendor::DALI, Item::SensorId, "DALISensorID", "Sensor 编号：", "写入", &SensorConfigWidget::signalDALISensorIDWrite},
    {Vendor::DALI, Item::CoreType, "DALIMovementType", "机芯型号：", "写入", &SensorConfigWidget::signalDALIMovementTypeWrite},
    {Vendor::DALI, Item::Batch, "DALIMovementSerial", "机芯序列号：", "写入", &SensorConfigWidget::signalDALIMovementSerialWrite},
    {Vendor::DALI, Item::Vbs, "DALIVBS", "VBS偏压：", "写入", &SensorConfigWidget::signalDALIVBSWrite},
    {Vendor::DALI, Item::Tint, "DALITINT", "TINI积分时间：", "写入", &SensorConfigWidget::signalDALITINTWrite},
    {Vendor::DALI, Item::Response, "DALIResponseRatio", "响应率：", "写入", &SensorConfigWidget::signalDALIResponseRatioWrite},
    {Vendor::DALI, Item::Sitf, "DALISITF", "期望响应率：", "写入", &SensorConfigWidget::signalDALISITF},
    {Vendor::DALI, Item::AutoCorrect, "DALIAutoCorrect", "", "自动矫正", &SensorConfigWidget::signalDALIAutoCorrect},
    {Vendor::WY, Item::SensorId, "WYSensorID", "Sensor 编号：", "写入", &SensorConfigWidget::signalWYSensorIDWrite},
    {Vendor::WY, Item::Data, "WYData", "Data：", "写入", &SensorConfigWidget::signalWYDataWrite},
    {Vendor::WY, Item::CoreType, "WYMovementType", "机芯型号：", "写入", &SensorConfigWidget::signalWYMovementTypeWrite},
    {Vendor::WY, Item::Batch, "WYMovementSerial", "机芯序列号：", "写入", &SensorConfigWidget::signalWYICMovementSerialWrite},
};

} // namespace

SensorConfigWidget::SensorConfigWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("SensorConfigWidget");
    m_pLabSensorType = new QLabel(QStringLiteral("Sensor Type："), this);
    m_pLabSensorType->setObjectName("m_pLabSensorType");
    m_pCbxSensorType = new QComboBox(this);
    m_pCbxSensorType->setObjectName("m_pCbxSensorType");
    m_pStkVendor = new QStackedWidget(this);
    m_pStkVendor->setObjectName("m_pStkVendor");
    for (int i = 0; i <= int(Vendor::WY); ++i) {
        m_pCbxSensorType->addItem(sensorcfg::vendorName(Vendor(i)));
        m_pStkVendor->addWidget(SetupVendorPage(Vendor(i)));
    }
    setField(Vendor::PICO, Item::Target, QStringLiteral("6500"));

    auto* head = new QHBoxLayout;
    head->addWidget(m_pLabSensorType);
    head->addWidget(m_pCbxSensorType);
    head->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(head);
    layout->addWidget(m_pStkVendor);
    layout->addStretch(1);
    m_pPgbWrite = new QProgressBar(this);
    m_pPgbWrite->setObjectName("m_pPgbSensorWrite");
    m_pPgbWrite->setRange(0, 100);
    m_pPgbWrite->setValue(0);
    m_pPgbWrite->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_pPgbWrite);

    connect(m_pCbxSensorType, qOverload<int>(&QComboBox::currentIndexChanged), this, [this](int nIndex) {
        m_pStkVendor->setCurrentIndex(nIndex);
        emit signalVendorChanged(nIndex);
    });
}

SensorConfigWidget::~SensorConfigWidget() = default;

QWidget* SensorConfigWidget::SetupVendorPage(Vendor vendor)
{
    auto* page = new QWidget(m_pStkVendor);
    page->setObjectName(QStringLiteral("m_pWdt%1").arg(sensorcfg::vendorName(vendor)));
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 6, 0, 0);
    grid->setHorizontalSpacing(8);
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    int row = 0;
    for (const Row& r : kRows) {
        if (r.vendor != vendor)
            continue;
        auto* btn = new QPushButton(QString::fromUtf8(r.button), page);
        btn->setObjectName(QStringLiteral("m_pBtn") + QString::fromLatin1(r.name));
        const Signal signal = r.signal;
        connect(btn, &QPushButton::clicked, this, [this, signal]() { (this->*signal)(); });
        if (!*r.caption) {
            buttons->addWidget(btn);
            continue;
        }
        auto* lab = new QLabel(QString::fromUtf8(r.caption), page);
        auto* edt = new QLineEdit(page);
        edt->setObjectName(QStringLiteral("m_pEdt") + QString::fromLatin1(r.name));
        m_edits.insert(key(vendor, r.item), edt);
        grid->addWidget(lab, row, 0);
        if (vendor == Vendor::IRAY && r.item == Item::Data) {
            m_pCbxIRAYDataArea = new QComboBox(page);
            m_pCbxIRAYDataArea->setObjectName("m_pCbxIRAYDataArea");
            m_pCbxIRAYDataArea->addItems({QStringLiteral("0空间"), QStringLiteral("1空间")});
            grid->addWidget(edt, row, 1);
            grid->addWidget(m_pCbxIRAYDataArea, row, 2);
        } else {
            grid->addWidget(edt, row, 1, 1, 2);
        }
        grid->addWidget(btn, row, 3);
        ++row;
    }
    buttons->addStretch(1);
    grid->addLayout(buttons, row, 0, 1, 4);
    grid->setRowStretch(row + 1, 1);
    return page;
}

int SensorConfigWidget::vendorIndex() const
{
    return m_pCbxSensorType->currentIndex();
}

void SensorConfigWidget::setVendorIndex(int nIndex)
{
    if (nIndex >= 0 && nIndex < m_pCbxSensorType->count())
        m_pCbxSensorType->setCurrentIndex(nIndex);
}

int SensorConfigWidget::IRAYDataArea() const
{
    return m_pCbxIRAYDataArea->currentIndex();
}

void SensorConfigWidget::setIRAYDataArea(int nArea)
{
    if (nArea >= 0 && nArea < m_pCbxIRAYDataArea->count())
        m_pCbxIRAYDataArea->setCurrentIndex(nArea);
}

QString SensorConfigWidget::field(Vendor vendor, Item item) const
{
    const QLineEdit* edt = m_edits.value(key(vendor, item));
    return edt ? edt->text().trimmed() : QString();
}

bool SensorConfigWidget::setField(Vendor vendor, Item item, const QString& strText)
{
    QLineEdit* edt = m_edits.value(key(vendor, item));
    if (!edt)
        return false;
    edt->setText(strText);
    return true;
}

int SensorConfigWidget::PICOTarget(bool* ok) const
{
    bool bOk = false;
    const int value = PICOTargetText().toInt(&bOk);
    if (ok)
        *ok = bOk && value >= 0;
    return bOk && value >= 0 ? value : 0;
}
