#include "StatusPageWidget.h"

#include "HistoryTabWidget.h"

#include "CComonFun.h"
#include "CModuleRecord.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "PathText.h"


#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kStatusIntervalMs = 500;
const char* const kNoDevice = "未连接任何设备!";

const char* const kVersionCaptions[6] = {
    "软件版本：", "软件版本日期：", "FPGA版本：", "FPGA版本日期：", "工艺版本日期：", "硬件版本日期：",
};
const char* const kStatusCaptions[6] = {"FPA：", "PCB：", "TEC：", "LBV：", "HBV：", "INX："};
const char* const kStatusNames[6] = {"m_pLabFpaValue", "m_pLabPcbValue", "m_pLabTecValue",
                                     "m_pLabLbvValue", "m_pLabHbvValue", "m_pLabInxValue"};

enum { kFpa, kPcb, kTec };

void info(const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), text, 0);
}

void warnNoDevice()
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QString::fromUtf8(kNoDevice), 0);
}

QLabel* valueLabel(const QString& name, QWidget* parent)
{
    auto* lab = new QLabel(parent);
    lab->setObjectName(name);
    lab->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lab->setMinimumWidth(160);
    return lab;
}

} // namespace

struct StatusPageWidget::Ui {
    QGroupBox* m_pGrpMovement = nullptr;
    QGroupBox* m_pGrpVersion = nullptr;
    QGroupBox* m_pGrpStatus = nullptr;
    QLabel* m_pLabSerial = nullptr;
    QLabel* m_pLabSensorId = nullptr;
    QLabel* m_pLabModuleInfo = nullptr;
    QLabel* m_pLabVersion[6] = {};
    QLabel* m_pLabStatus[6] = {};
    QTableWidget* m_pTabSerialNum = nullptr;
    QPushButton* m_pBtnUpdate = nullptr;
    QPushButton* m_pBtnSave = nullptr;
    QPushButton* m_pBtnGetChk = nullptr;
    QPushButton* m_pBtnShowStatus = nullptr;
    QTimer* m_pTimerStatus = nullptr;
    QString m_strRecordFolder;

    void setupUi(StatusPageWidget* w);
    void connectSignals(StatusPageWidget* w);
    void initRecordFolder();
    void clearIdentification();
    void clearStatus();
    void addRecordRow(const QString& strSerial);
};

void StatusPageWidget::Ui::setupUi(StatusPageWidget* w)
{
    m_pGrpMovement = new QGroupBox(QStringLiteral("MovementInfo"), w);
    auto* gMove = new QGridLayout(m_pGrpMovement);
    m_pLabSerial = valueLabel("m_pLabSerialValue", m_pGrpMovement);
    m_pLabSensorId = valueLabel("m_pLabSensorIdValue", m_pGrpMovement);
    m_pLabModuleInfo = valueLabel("m_pLabModuleInfoValue", m_pGrpMovement);
    gMove->addWidget(new QLabel(QStringLiteral("Module Serial："), m_pGrpMovement), 0, 0);
    gMove->addWidget(m_pLabSerial, 0, 1);
    gMove->addWidget(new QLabel(QStringLiteral("Sensor ID："), m_pGrpMovement), 1, 0);
    gMove->addWidget(m_pLabSensorId, 1, 1);
    gMove->addWidget(new QLabel(QStringLiteral("Module Info："), m_pGrpMovement), 2, 0);
    gMove->addWidget(m_pLabModuleInfo, 2, 1);

    m_pGrpVersion = new QGroupBox(QStringLiteral("Version Info"), w);
    auto* gVer = new QGridLayout(m_pGrpVersion);
    for (int i = 0; i < 6; ++i) {
        m_pLabVersion[i] = valueLabel(QStringLiteral("m_pLabVer%1").arg(i), m_pGrpVersion);
        gVer->addWidget(new QLabel(QString::fromUtf8(kVersionCaptions[i]), m_pGrpVersion), i, 0);
        gVer->addWidget(m_pLabVersion[i], i, 1);
    }

    m_pGrpStatus = new QGroupBox(QStringLiteral("Status Info"), w);
    auto* gStat = new QGridLayout(m_pGrpStatus);
    for (int i = 0; i < 6; ++i) {
        m_pLabStatus[i] = valueLabel(QString::fromLatin1(kStatusNames[i]), m_pGrpStatus);
        gStat->addWidget(new QLabel(QString::fromUtf8(kStatusCaptions[i]), m_pGrpStatus), i, 0);
        gStat->addWidget(m_pLabStatus[i], i, 1);
    }

    m_pTabSerialNum = new QTableWidget(0, 2, w);
    m_pTabSerialNum->setObjectName("m_pTabSerialNum");
    m_pTabSerialNum->setHorizontalHeaderLabels({QStringLiteral("NUM"), QStringLiteral("SERIAL")});
    m_pTabSerialNum->horizontalHeader()->setStretchLastSection(true);
    m_pTabSerialNum->verticalHeader()->setVisible(false);
    m_pTabSerialNum->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTabSerialNum->setSelectionBehavior(QAbstractItemView::SelectRows);

    m_pBtnUpdate = new QPushButton(QStringLiteral("更新"), w);
    m_pBtnUpdate->setObjectName("m_pBtnUpdate");
    m_pBtnSave = new QPushButton(QStringLiteral("保存"), w);
    m_pBtnSave->setObjectName("m_pBtnSave");
    m_pBtnGetChk = new QPushButton(QStringLiteral("获取信息"), w);
    m_pBtnGetChk->setObjectName("m_pBtnGetChk");
    m_pBtnShowStatus = new QPushButton(QStringLiteral("显示状态"), w);
    m_pBtnShowStatus->setObjectName("m_pBtnShowStatus");
    m_pBtnShowStatus->setCheckable(true);

    m_pTimerStatus = new QTimer(w);
    m_pTimerStatus->setObjectName("m_pTimerStatus");
    m_pTimerStatus->setInterval(kStatusIntervalMs);

    auto* left = new QVBoxLayout;
    left->addWidget(m_pGrpMovement);
    left->addWidget(m_pGrpVersion);
    left->addWidget(m_pGrpStatus);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(m_pTabSerialNum, 1);
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_pBtnUpdate, 0, 0);
    buttons->addWidget(m_pBtnSave, 0, 1);
    buttons->addWidget(m_pBtnGetChk, 1, 0);
    buttons->addWidget(m_pBtnShowStatus, 1, 1);
    right->addLayout(buttons);
    auto* tabs = new QTabWidget(w);
    tabs->setObjectName("m_pTabPages");
    auto* info = new QWidget(tabs);
    auto* top = new QHBoxLayout(info);
    top->addLayout(left, 3);
    top->addLayout(right, 2);
    tabs->addTab(info, QStringLiteral("机芯信息"));
    tabs->addTab(new HistoryTabWidget(tabs), QStringLiteral("历史记录"));
    auto* outer = new QVBoxLayout(w);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(tabs);
}

void StatusPageWidget::Ui::connectSignals(StatusPageWidget* w)
{
    QObject::connect(m_pBtnUpdate, &QPushButton::clicked, w, &StatusPageWidget::onBtnUpdateModuleInfo);
    QObject::connect(m_pBtnSave, &QPushButton::clicked, w, &StatusPageWidget::onBtnSaveModuleInfo);
    QObject::connect(m_pBtnGetChk, &QPushButton::clicked, w, &StatusPageWidget::onBtnGetChkModule);
    // toggled: a programmatic uncheck also stops the timer and resets the text.
    QObject::connect(m_pBtnShowStatus, &QPushButton::toggled, w, &StatusPageWidget::onBtnShowStatusInfo);
    QObject::connect(m_pTimerStatus, &QTimer::timeout, w, &StatusPageWidget::onTimerOut);
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    QObject::connect(mgr, &CameraInfoDataManager::signalSetShowInfo, w, &StatusPageWidget::onShowInfo);
    QObject::connect(mgr, &CameraInfoDataManager::signalInteractRunning, w, &QWidget::setDisabled);
}

void StatusPageWidget::Ui::initRecordFolder()
{
    const QString date = CComonFun::dateStamp();
    m_strRecordFolder = CModuleRecord::folderFor(CComonFun::dataRoot(), date);
    if (CComonFun::fileExists(m_strRecordFolder))
        return;
    if (CComonFun::makePath(m_strRecordFolder))
        info(withFolderLine(QStringLiteral("文件夹../module_info/") + date + QStringLiteral("已创建!"),
                            m_strRecordFolder));
    else
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("错误"),
                                 withFolderLine(QStringLiteral("文件夹../module_info/") + date
                                                    + QStringLiteral("创建失败!"),
                                                m_strRecordFolder),
                                 0);
}

void StatusPageWidget::Ui::clearIdentification()
{
    m_pLabSerial->clear();
    m_pLabSensorId->clear();
    m_pLabModuleInfo->clear();
    for (QLabel* lab : m_pLabVersion)
        lab->clear();
}

void StatusPageWidget::Ui::clearStatus()
{
    for (QLabel* lab : m_pLabStatus)
        lab->clear();
}

void StatusPageWidget::Ui::addRecordRow(const QString& strSerial)
{
    const int row = m_pTabSerialNum->rowCount();
    m_pTabSerialNum->insertRow(row);
    m_pTabSerialNum->setItem(row, 0, new QTableWidgetItem(QString::number(row + 1)));
    m_pTabSerialNum->setItem(row, 1, new QTableWidgetItem(strSerial));
}

StatusPageWidget::StatusPageWidget(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui)
{
    ui->setupUi(this);
    ui->connectSignals(this);
    ui->initRecordFolder();
}

StatusPageWidget::~StatusPageWidget()
{
    delete ui;
}

QString StatusPageWidget::recordFolder() const
{
    return ui->m_strRecordFolder;
}

void StatusPageWidget::showIdentification()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    ui->m_pLabSensorId->setText(mgr->sensorId());
    ui->m_pLabModuleInfo->setText(mgr->moduleInfo());
}

void StatusPageWidget::clearDisplay()
{
    ui->clearIdentification();
    // Live values of a core that is gone would only mislead.
    ui->m_pBtnShowStatus->setChecked(false);
    ui->m_pTimerStatus->stop();
    ui->clearStatus();
}

void StatusPageWidget::onBtnUpdateModuleInfo()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    if (!mgr->isIdentified()) {
        warnNoDevice();
        return;
    }
    ui->clearIdentification();
    ui->m_pBtnUpdate->setEnabled(false); // back on when the versions are shown
    const bool started = DeviceRunner::instance()->run(this, nullptr, [](DeviceTaskContext&) {
        CameraInfoDataManager::instance()->identifyNow();
        return true;
    });
    if (!started) {
        ui->m_pBtnUpdate->setEnabled(true);
        info(QStringLiteral("设备正忙,请等待当前操作完成后再试!"));
        return;
    }
    info(QStringLiteral("机芯数据更新,等待所有信息显示完后点击Save保存"));
}

void StatusPageWidget::onBtnSaveModuleInfo()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    if (!mgr->isIdentified()) {
        warnNoDevice();
        return;
    }
    const QString serial = mgr->serialNumber();
    if (serial.isEmpty()) {
        // No serial number (not read yet, or the core did not answer): a record
        // without a name would be overwritten by every such core.
        info(QStringLiteral("未读取到机芯序列号,请等待信息显示完后再保存!"));
        return;
    }
    QStringList versions;
    for (QLabel* lab : ui->m_pLabVersion)
        versions << lab->text();
    const QByteArray text = CModuleRecord::recordText(serial, mgr->moduleInfo(), mgr->sensorId(), versions);
    const QString strFile = CModuleRecord::filePath(ui->m_strRecordFolder, serial);
    if (!CModuleRecord::write(ui->m_strRecordFolder, serial, text)) {
        info(withFileLine(QStringLiteral("保存失败!"), strFile));
        return;
    }
    // The table lists saved records only.
    ui->addRecordRow(serial);
    ui->m_pTabSerialNum->scrollToBottom();
    info(withFileLine(QStringLiteral("已保存!"), strFile));
}

void StatusPageWidget::onBtnGetChkModule()
{
    ui->m_pTabSerialNum->setRowCount(0);
    for (const QString& name : CModuleRecord::list(ui->m_strRecordFolder))
        ui->addRecordRow(name);
}

void StatusPageWidget::onBtnShowStatusInfo(bool bChecked)
{
    if (!bChecked) {
        ui->m_pBtnShowStatus->setText(QStringLiteral("显示状态"));
        ui->m_pTimerStatus->stop();
        ui->clearStatus();
        return;
    }
    ui->m_pBtnShowStatus->setText(QStringLiteral("关闭显示"));
    if (!CameraInfoDataManager::instance()->isIdentified()) {
        warnNoDevice();
        ui->m_pBtnShowStatus->setChecked(false); // nothing to show: back to "显示状态"
        return;
    }
    ui->m_pTimerStatus->start();
}

void StatusPageWidget::onTimerOut()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    if (!mgr->isIdentified()) {
        ui->m_pBtnShowStatus->setChecked(false);
        return;
    }
    const FrameAddInfo fi = mgr->frameAddInfo();
    ui->m_pLabStatus[kFpa]->setText(QString::number(double(fi.tFPA), 'g', 6));
    ui->m_pLabStatus[kPcb]->setText(QString::number(double(fi.tBoard), 'g', 6));
    ui->m_pLabStatus[kTec]->setText(QString::number(fi.TEC));
}

void StatusPageWidget::onShowInfo()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    // An update clears the whole display, so the first-stage values come back too.
    showIdentification();
    ui->m_pLabSerial->setText(mgr->serialNumber());
    const QStringList versions = mgr->versions();
    for (int i = 0; i < 6; ++i)
        ui->m_pLabVersion[i]->setText(versions.value(i));
    ui->m_pBtnUpdate->setEnabled(true);
}
