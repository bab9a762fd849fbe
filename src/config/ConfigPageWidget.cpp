#include "ConfigPageWidget.h"

#include "CCmdTableWidget.h"
#include "CComonFun.h"
#include "CDevice.h"
#include "CWriteFileTypes.h"
#include "CustomMessageBox.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "SensorConfigWidget.h"

#include <QAction>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

QPushButton* button(const char* name, QWidget* parent)
{
    auto* btn = new QPushButton(parent);
    btn->setObjectName(QString::fromLatin1(name));
    return btn;
}

QLabel* label(const char* name, QWidget* parent)
{
    auto* lab = new QLabel(parent);
    lab->setObjectName(QString::fromLatin1(name));
    return lab;
}

} // namespace

ConfigPageWidget::ConfigPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("ConfigPageWidget");
    SetupUI();
    ReTranslateUI();
    ConnectSignals();
    InitBkgs();
}

ConfigPageWidget::~ConfigPageWidget() = default;

bool ConfigPageWidget::SetupUI()
{
    m_pLabTitle = label("PageTitle", this);
    m_pLabSensorId = label("m_pLabSensorId", this);
    m_pLabSensorId->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_pLabVendor = label("m_pLabVendor", this);

    // Left: the tabs (fixed commands here; detector configuration joins as its own
    // tab). Right: the command console.
    m_pTabConfig = new QTabWidget(this);
    m_pTabConfig->setObjectName("m_pTabConfig");
    m_pTabConfig->addTab(SetupFixedCmdTab(), QString());
    m_pSensorConfig = new SensorConfigWidget(this);
    m_pTabConfig->addTab(m_pSensorConfig, QString());

    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(m_pLabTitle);
    header->addWidget(m_pLabSensorId);
    header->addWidget(m_pLabVendor);
    header->addStretch(1);

    auto* body = new QHBoxLayout;
    body->setSpacing(10);
    body->addWidget(m_pTabConfig, 5);
    body->addWidget(SetupConsole(), 4);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);
    layout->addLayout(header);
    layout->addLayout(body, 1);
    return true;
}

QWidget* ConfigPageWidget::SetupFixedCmdTab()
{
    auto* tab = new QWidget(this);
    tab->setObjectName("m_pWdtFixedCmd");

    m_pGbxWriteFile = new QGroupBox(tab);
    m_pGbxWriteFile->setObjectName("m_pGbxWriteFile");
    m_pLabFileType = label("m_pLabFileType", m_pGbxWriteFile);
    m_pCbxWriteType = new QComboBox(m_pGbxWriteFile);
    m_pCbxWriteType->setObjectName("m_pCbxWriteType");
    m_pLabWriteAddr = label("m_pLabWriteAddr", m_pGbxWriteFile);
    m_pCbxWriteAddr = new QComboBox(m_pGbxWriteFile);
    m_pCbxWriteAddr->setObjectName("m_pCbxWriteAddr");
    m_pLabFilePath = label("m_pLabFilePath", m_pGbxWriteFile);
    m_pCbxFilePath = new QComboBox(m_pGbxWriteFile);
    m_pCbxFilePath->setObjectName("m_pCbxFilePath");
    m_pCbxFilePath->setEditable(true);
    m_pCbxFilePath->setInsertPolicy(QComboBox::NoInsert);
    m_pCbxFilePath->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pCbxFilePath->setMinimumContentsLength(16);
    m_pBtnScanFile = button("m_pBtnScanFile", m_pGbxWriteFile);
    m_pBtnWriteFile = button("m_pBtnWriteFile", m_pGbxWriteFile);
    m_pPgbWriteFile = new QProgressBar(m_pGbxWriteFile);
    m_pPgbWriteFile->setObjectName("m_pPgbWriteFile");
    m_pPgbWriteFile->setRange(0, 100);
    m_pPgbWriteFile->setFormat("%p%");

    auto* grid = new QGridLayout(m_pGbxWriteFile);
    grid->setHorizontalSpacing(8);
    grid->addWidget(m_pLabFileType, 0, 0);
    grid->addWidget(m_pCbxWriteType, 0, 1);
    grid->addWidget(m_pLabWriteAddr, 0, 2);
    grid->addWidget(m_pCbxWriteAddr, 0, 3);
    grid->addWidget(m_pLabFilePath, 1, 0);
    grid->addWidget(m_pCbxFilePath, 1, 1, 1, 3);
    grid->addWidget(m_pBtnScanFile, 1, 4);
    grid->addWidget(m_pPgbWriteFile, 2, 0, 1, 4);
    grid->addWidget(m_pBtnWriteFile, 2, 4);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    m_pGbxReadBack = new QGroupBox(tab);
    m_pGbxReadBack->setObjectName("m_pGbxReadBack");
    auto* readGrid = new QGridLayout(m_pGbxReadBack);
    static const char* const occNames[4] = {"m_pBtnReadOcc1FromFPGA", "m_pBtnReadOcc2FromFPGA",
                                            "m_pBtnReadOcc3FromFPGA", "m_pBtnReadOcc4FromFPGA"};
    static const char* const kNames[4] = {"m_pBtnReadk1FromFPGA", "m_pBtnReadk2FromFPGA",
                                          "m_pBtnReadk3FromFPGA", "m_pBtnReadk4FromFPGA"};
    for (int i = 0; i < 4; ++i) {
        m_pBtnReadOccFromFPGA[i] = button(occNames[i], m_pGbxReadBack);
        m_pBtnReadkFromFPGA[i] = button(kNames[i], m_pGbxReadBack);
        readGrid->addWidget(m_pBtnReadOccFromFPGA[i], 0, i);
        readGrid->addWidget(m_pBtnReadkFromFPGA[i], 1, i);
    }
    m_pBtnReadPixelFromFPGA = button("m_pBtnReadPixelFromFPGA", m_pGbxReadBack);
    m_pBtnReadCustomDataFromFPGA = button("m_pBtnReadCustomDataFromFPGA", m_pGbxReadBack);
    readGrid->addWidget(m_pBtnReadPixelFromFPGA, 0, 4);
    readGrid->addWidget(m_pBtnReadCustomDataFromFPGA, 1, 4);

    m_pGbxOcc = new QGroupBox(tab);
    m_pGbxOcc->setObjectName("m_pGbxOcc");
    auto* occGrid = new QGridLayout(m_pGbxOcc);
    static const char* const doNames[4] = {"m_pBtnDoOcc1", "m_pBtnDoOcc2", "m_pBtnDoOcc3", "m_pBtnDoOcc4"};
    for (int i = 0; i < 4; ++i) {
        m_pBtnDoOcc[i] = button(doNames[i], m_pGbxOcc);
        occGrid->addWidget(m_pBtnDoOcc[i], 0, i);
    }
    m_pLabOccStatus = label("m_pLabOccStatus", m_pGbxOcc);
    occGrid->addWidget(m_pLabOccStatus, 1, 0, 1, 4);

    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(m_pGbxWriteFile);
    layout->addWidget(m_pGbxReadBack);
    layout->addWidget(m_pGbxOcc);
    layout->addStretch(1);
    return tab;
}

QWidget* ConfigPageWidget::SetupConsole()
{
    auto* console = new QWidget(this);
    console->setObjectName("m_pWdtConsole");

    m_pGbxCustomCmd = new QGroupBox(console);
    m_pGbxCustomCmd->setObjectName("m_pGbxCustomCmd");
    m_pLabCmdDesc = label("m_pLabCmdDesc", m_pGbxCustomCmd);
    m_pLabCmdAddr = label("m_pLabCmdAddr", m_pGbxCustomCmd);
    m_pLabCmdValue = label("m_pLabCmdValue", m_pGbxCustomCmd);
    m_pEdtInputCmdDesc = new QLineEdit(m_pGbxCustomCmd);
    m_pEdtInputCmdDesc->setObjectName("m_pEdtInputCmdDesc");
    m_pEdtInputCmdAddr = new QLineEdit(m_pGbxCustomCmd);
    m_pEdtInputCmdAddr->setObjectName("m_pEdtInputCmdAddr");
    m_pEdtInputCmdValue = new QLineEdit(m_pGbxCustomCmd);
    m_pEdtInputCmdValue->setObjectName("m_pEdtInputCmdValue");
    m_pBtnNewCmd = button("m_pBtnNewCmd", m_pGbxCustomCmd);
    m_pBtnSendCmd = button("m_pBtnSendCmd", m_pGbxCustomCmd);
    m_pTabCustomCmd = new CCmdTableWidget(m_pGbxCustomCmd);
    m_pTabCustomCmd->setObjectName("m_pTabCustomCmd");
    m_pMenuCmd = new QMenu(this);
    m_pMenuCmd->setObjectName("m_pMenuCmd");
    m_pActDelList = m_pMenuCmd->addAction(QString());
    m_pActDelList->setObjectName("m_pActDelList");

    auto* grid = new QGridLayout(m_pGbxCustomCmd);
    grid->addWidget(m_pLabCmdDesc, 0, 0);
    grid->addWidget(m_pEdtInputCmdDesc, 0, 1, 1, 3);
    grid->addWidget(m_pLabCmdAddr, 1, 0);
    grid->addWidget(m_pEdtInputCmdAddr, 1, 1, 1, 3);
    grid->addWidget(m_pLabCmdValue, 2, 0);
    grid->addWidget(m_pEdtInputCmdValue, 2, 1);
    grid->addWidget(m_pBtnNewCmd, 2, 2);
    grid->addWidget(m_pBtnSendCmd, 2, 3);
    grid->addWidget(m_pTabCustomCmd, 3, 0, 1, 4);
    grid->setColumnStretch(1, 1);

    m_pGbxCmdHistory = new QGroupBox(console);
    m_pGbxCmdHistory->setObjectName("m_pGbxCmdHistory");
    m_pTbrCmdHistory = new QTextBrowser(m_pGbxCmdHistory);
    m_pTbrCmdHistory->setObjectName("m_pTbrCmdHistory");
    m_pTbrCmdHistory->setReadOnly(true);
    m_pTbrCmdHistory->setLineWrapMode(QTextEdit::WidgetWidth);
    m_pTbrCmdHistory->setWordWrapMode(QTextOption::WrapAnywhere);
    // A long session (every block of every write) must not grow without bound.
    m_pTbrCmdHistory->document()->setMaximumBlockCount(5000);
    auto* historyLayout = new QVBoxLayout(m_pGbxCmdHistory);
    historyLayout->addWidget(m_pTbrCmdHistory);

    auto* layout = new QVBoxLayout(console);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_pGbxCustomCmd, 1);
    layout->addWidget(m_pGbxCmdHistory, 1);
    return console;
}

bool ConfigPageWidget::ReTranslateUI()
{
    m_pLabTitle->setText(QStringLiteral("配置"));
    m_pTabConfig->setTabText(0, QStringLiteral("固定指令"));
    m_pTabConfig->setTabText(1, QStringLiteral("探测器配置"));

    m_pGbxWriteFile->setTitle(QStringLiteral("文件写入"));
    m_pLabFileType->setText(QStringLiteral("文件类型："));
    m_pLabWriteAddr->setText(QStringLiteral("写入区域："));
    m_pLabFilePath->setText(QStringLiteral("文件："));
    m_pBtnScanFile->setText(QStringLiteral("浏览"));
    m_pBtnWriteFile->setText(QStringLiteral("写入"));

    m_pGbxReadBack->setTitle(QStringLiteral("读取"));
    for (int i = 0; i < 4; ++i) {
        m_pBtnReadOccFromFPGA[i]->setText(QStringLiteral("读Occ%1").arg(i + 1));
        m_pBtnReadkFromFPGA[i]->setText(QStringLiteral("读K%1").arg(i + 1));
        m_pBtnDoOcc[i]->setText(QStringLiteral("做Occ%1").arg(i + 1));
    }
    m_pBtnReadPixelFromFPGA->setText(QStringLiteral("读坏点"));
    m_pBtnReadCustomDataFromFPGA->setText(QStringLiteral("读Data"));
    m_pGbxOcc->setTitle(QStringLiteral("OCC校正"));

    m_pGbxCustomCmd->setTitle(QStringLiteral("自定义命令"));
    m_pLabCmdDesc->setText(QStringLiteral("命令描述："));
    m_pLabCmdAddr->setText(QStringLiteral("地址："));
    m_pLabCmdValue->setText(QStringLiteral("值："));
    m_pBtnNewCmd->setText(QStringLiteral("新建"));
    m_pBtnSendCmd->setText(QStringLiteral("发送"));
    m_pTabCustomCmd->setHorizontalHeaderLabels(
        {QStringLiteral("新建列"), QStringLiteral("命令"), QStringLiteral("值")});
    m_pActDelList->setText(QStringLiteral("删除"));
    m_pGbxCmdHistory->setTitle(QStringLiteral("命令历史"));
    m_pEdtInputCmdAddr->setPlaceholderText(QStringLiteral("如 F010"));
    m_pEdtInputCmdAddr->setToolTip(QStringLiteral("十六进制寄存器地址；值为空时，这里填写整条命令的十六进制字节（最多32字节）"));
    m_pEdtInputCmdValue->setPlaceholderText(QStringLiteral("如 1"));
    m_pEdtInputCmdValue->setToolTip(QStringLiteral("十六进制数值；留空则把地址栏作为整条命令发送"));
    return true;
}

bool ConfigPageWidget::ConnectSignals()
{
    connect(m_pCbxWriteType, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &ConfigPageWidget::OnWriteTypeChanged);
    connect(m_pBtnScanFile, &QPushButton::clicked, this, &ConfigPageWidget::OnScanFile);
    connect(m_pBtnWriteFile, &QPushButton::clicked, this, &ConfigPageWidget::OnWriteFile);
    connect(m_pBtnReadPixelFromFPGA, &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadPixel);
    connect(m_pBtnReadOccFromFPGA[0], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadOcc1);
    connect(m_pBtnReadOccFromFPGA[1], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadOcc2);
    connect(m_pBtnReadOccFromFPGA[2], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadOcc3);
    connect(m_pBtnReadOccFromFPGA[3], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadOcc4);
    connect(m_pBtnReadkFromFPGA[0], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadK1);
    connect(m_pBtnReadkFromFPGA[1], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadK2);
    connect(m_pBtnReadkFromFPGA[2], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadK3);
    connect(m_pBtnReadkFromFPGA[3], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadK4);
    connect(m_pBtnReadCustomDataFromFPGA, &QPushButton::clicked, this, &ConfigPageWidget::On_BtnReadData);
    connect(m_pBtnDoOcc[0], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnDoOcc1);
    connect(m_pBtnDoOcc[1], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnDoOcc2);
    connect(m_pBtnDoOcc[2], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnDoOcc3);
    connect(m_pBtnDoOcc[3], &QPushButton::clicked, this, &ConfigPageWidget::On_BtnDoOcc4);

    connect(m_pBtnSendCmd, &QPushButton::clicked, this, &ConfigPageWidget::OnBtnSendInput);
    connect(m_pBtnNewCmd, &QPushButton::clicked, this, &ConfigPageWidget::OnBtnNewCmd);
    connect(m_pTabCustomCmd, &QTableWidget::doubleClicked, this, &ConfigPageWidget::OnTableDoubleClicked);
    connect(m_pTabCustomCmd, &CCmdTableWidget::SigShowFileTableRightMenu, this, &ConfigPageWidget::OnShowRightMenu);
    connect(m_pActDelList, &QAction::triggered, this, &ConfigPageWidget::OnActionDelList);
    ConnectSensorSignals();
    // Frames are announced on whichever thread runs the transaction; lines reach the
    // history in order on the GUI thread.
    DataExchange* dx = DataExchange::instance();
    connect(dx, &DataExchange::signalSendCMD, this, &ConfigPageWidget::onShowSendCMDMessage);
    connect(dx, &DataExchange::signalRecvCMD, this, &ConfigPageWidget::onShowRecvCMDMessage);
    connect(dx, &DataExchange::signalDroppedReply, this, &ConfigPageWidget::onShowDroppedReply);

    DeviceRunner* runner = DeviceRunner::instance();
    connect(runner, &DeviceRunner::signalStatus, m_pLabOccStatus, &QLabel::setText);
    connect(runner, &DeviceRunner::signalBusyChanged, m_pLabOccStatus, [this](bool bBusy) {
        if (!bBusy)
            m_pLabOccStatus->clear();
    });
    return true;
}

bool ConfigPageWidget::InitBkgs()
{
    m_pCbxWriteType->addItems(CWriteFileTypes::typeCaptions());
    m_pCbxWriteType->setCurrentIndex(0);
    OnWriteTypeChanged(0);
    m_pPgbWriteFile->setValue(0);

    QVector<LocalCmdEntry> commands;
    loadLocalCommands(commands);
    for (const LocalCmdEntry& entry : commands)
        addCommandRow(entry);
    updateInfo();
    return true;
}

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
    m_pSensorConfig->setVendorIndex(m_nVendorIndex);
    updateInfo();
}

void ConfigPageWidget::clearCmdHistory()
{
    m_pTbrCmdHistory->clear();
}

QString ConfigPageWidget::readBackFolder()
{
    return CComonFun::dataRoot() + QStringLiteral("/ReadBackFiles");
}

void ConfigPageWidget::updateInfo()
{
    m_pLabSensorId->setText(QStringLiteral("Sensor ID：%1")
                                .arg(m_strSensorId.isEmpty() ? QStringLiteral("-") : m_strSensorId));
    m_pLabVendor->setText(QStringLiteral("探测器厂家：%1").arg(vendorNames().value(m_nVendorIndex)));
}

bool ConfigPageWidget::runSequence(const std::function<bool(DeviceTaskContext&)>& task,
                                   const std::function<void(bool)>& done, bool bProgress)
{
    return runSequence(task, done, bProgress ? m_pPgbWriteFile : nullptr);
}

bool ConfigPageWidget::runSequence(const std::function<bool(DeviceTaskContext&)>& task,
                                   const std::function<void(bool)>& done, QProgressBar* bar)
{
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"), 0);
        return false;
    }
    if (!DeviceRunner::instance()->run(this, bar, task, done)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("设备正忙,请等待当前操作完成后再试!"), 0);
        return false;
    }
    return true;
}
