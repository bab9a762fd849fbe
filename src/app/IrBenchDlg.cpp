#include "IrBenchDlg.h"

#include "AboutDlg.h"
#include "CComConnect.h"
#include "CDevice.h"
#include "LinkClosing.h"
#include "PacingAction.h"
#include "CNetConnect.h"
#include "CameraInfoDataManager.h"
#include "FrameLayoutSource.h"
#include "ComConnectDlg.h"
#include "ComInfo.h"
#include "ConfigPageWidget.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "FileToolActions.h"
#include "HistoryActions.h"
#include "QualityLimitsDlg.h"
#include "NetConnectDialog.h"
#include "NetLoginError.h"
#include "SettingsStore.h"
#include "StatusPageWidget.h"
#include "TempDriftWidget.h"
#include "VideoPageWidget.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char* const kBusyText = "有操作正在进行,请等待其完成后再试";

struct PageRow {
    const char* text;
    const char* icon;
};
const PageRow kRows[4] = {
    {"状态", ":/Resources/zhuangtaitu.png"},
    {"配置", ":/Resources/shedingtu.png"},
    {"检测", ":/Resources/shipingtu.png"},
    {"标定", ":/Resources/agctu.png"},
};

void setConnectedLook(QLabel* label, bool bConnected)
{
    label->setProperty("connected", bConnected);
    label->style()->unpolish(label);
    label->style()->polish(label);
}

} // namespace

IrBenchDlg::IrBenchDlg(QWidget* parent)
    : CustomDialog(parent)
{
    setObjectName("IrBenchDlg");
    // A top-level window with its own title bar, not a dialog over another window.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinMaxButtonsHint);
    SetResizable(true);
}

IrBenchDlg::~IrBenchDlg()
{
    // A sequence still running may use the links below; let it end first.
    DeviceRunner* runner = DeviceRunner::instance();
    if (runner->busy()) {
        runner->cancel();
        runner->waitIdle(30000);
    }
    // Never leave the process-wide slot pointing at a link that is about to go.
    CInterfaceConnect* current = CDevice::Current();
    if (current && (current == m_pNetConnect.get() || current == m_pComConnect.get()))
        closeCurrentLink();
}

IrBenchDlg::Placement IrBenchDlg::ComputePlacement(const QRect& available)
{
    Placement p;
    if (available.height() < 600 || available.width() < 600) {
        p.bFillAvailable = true;
        p.rect = available;
    } else {
        p.bFillAvailable = false;
        p.rect = QRect(QPoint(0, 0), QSize(800, 600));
        p.rect.moveCenter(available.center());
    }
    return p;
}

void IrBenchDlg::ApplyPlacement(QWidget* window, const QRect& available)
{
    const Placement p = ComputePlacement(available);
    if (p.bFillAvailable) {
        window->setMinimumSize(p.rect.size());
        window->resize(p.rect.size());
        window->move(p.rect.topLeft());
    } else {
        window->resize(p.rect.size());
        window->move(p.rect.topLeft());
    }
}

bool IrBenchDlg::SetupUI()
{
    if (!CustomDialog::SetupUI())
        return false;

    m_pComConnectDlg = new ComConnectDlg(this);

    m_pMenuBar = new QMenuBar(ContentWidget());
    m_pMenuBar->setObjectName("m_pMenuBar");
    m_pMenuBar->setNativeMenuBar(false);
    m_pMenuCamera = m_pMenuBar->addMenu(QString());
    m_pMenuSetting = m_pMenuBar->addMenu(QString());
    m_pMenuTool = m_pMenuBar->addMenu(QString());
    m_pMenuAbout = m_pMenuBar->addMenu(QString());

    m_pActNetConnect = m_pMenuCamera->addAction(QString());
    m_pActComConnect = m_pMenuCamera->addAction(QString());
    m_pActDisconnect = m_pMenuCamera->addAction(QString());
    m_pMenuCamera->addSeparator();
    m_pActExit = m_pMenuCamera->addAction(QString());
    m_pActGetStream = m_pMenuSetting->addAction(QString());
    m_pActGetStream->setCheckable(true);
    m_pActSensorExcel = m_pMenuSetting->addAction(QString());
    m_pActFileInvert = m_pMenuTool->addAction(QString());
    m_pActFileCrc = m_pMenuTool->addAction(QString());
    m_pActAbout = m_pMenuAbout->addAction(QString());

    m_pLstPages = new QListWidget(ContentWidget());
    m_pLstPages->setObjectName("PageList");
    for (int i = 0; i < 4; ++i) {
        auto* item = new QListWidgetItem(m_pLstPages);
        item->setTextAlignment(Qt::AlignHCenter);
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    }

    m_pStatusPage = new StatusPageWidget(nullptr);
    m_pConfigPage = new ConfigPageWidget(nullptr);
    m_pDetectPage = new DetectPageWidget(nullptr);
    m_pVideoPage = new VideoPageWidget(nullptr);
    m_pStkPages = new QStackedWidget(ContentWidget());
    m_pStkPages->setObjectName("m_pStkPages");
    m_pStkPages->addWidget(m_pStatusPage);
    m_pStkPages->addWidget(m_pConfigPage);
    m_pStkPages->addWidget(m_pDetectPage);
    m_pStkPages->addWidget(m_pVideoPage);

    m_pLabConnect = new QLabel(ContentWidget());
    m_pLabConnect->setObjectName("ConnectLabel");

    // Layout: menu bar, then the page list beside the pages, then a status strip
    // with the connection state and the progress of a running operation.
    m_pMainArea = new QWidget(ContentWidget());
    m_pMainArea->setObjectName("MainArea");
    auto* body = new QHBoxLayout(m_pMainArea);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    body->addWidget(m_pLstPages);
    body->addWidget(m_pStkPages, 1);

    auto* strip = new QWidget(ContentWidget());
    strip->setObjectName("StatusStrip");
    strip->setAttribute(Qt::WA_StyledBackground, true);
    m_pLabRunStatus = new QLabel(strip);
    m_pLabRunStatus->setObjectName("RunStatus");
    m_pPrgRun = new QProgressBar(strip);
    m_pPrgRun->setObjectName("RunProgress");
    m_pPrgRun->setFixedWidth(180);
    m_pPrgRun->hide();
    m_pLabConnect->setParent(strip);
    auto* pacing = new QLabel(strip);
    pacing->setObjectName("PacingLabel");
    addPacingAction(m_pMenuSetting, pacing);
    auto* stripLayout = new QHBoxLayout(strip);
    stripLayout->setContentsMargins(6, 1, 18, 1);
    stripLayout->addWidget(m_pLabConnect);
    stripLayout->addSpacing(16);
    stripLayout->addWidget(pacing);
    addHistoryActions(m_pMenuSetting, stripLayout);
    addQualityLimitsAction(m_pMenuSetting, this);
    stripLayout->addStretch(1);
    stripLayout->addWidget(m_pLabRunStatus);
    stripLayout->addWidget(m_pPrgRun);

    auto* layout = new QVBoxLayout(ContentWidget());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_pMenuBar);
    layout->addWidget(m_pMainArea, 1);
    layout->addWidget(strip);
    return true;
}

bool IrBenchDlg::ReTranslateUI()
{
    if (!CustomDialog::ReTranslateUI())
        return false;
    m_pMenuCamera->setTitle(QStringLiteral("相机"));
    m_pMenuSetting->setTitle(QStringLiteral("设置"));
    m_pMenuTool->setTitle(QStringLiteral("工具"));
    m_pMenuAbout->setTitle(QStringLiteral("关于"));
    m_pActNetConnect->setText(QStringLiteral("连接网络"));
    m_pActComConnect->setText(QStringLiteral("连接串口"));
    m_pActDisconnect->setText(QStringLiteral("断开连接"));
    m_pActExit->setText(QStringLiteral("退出"));
    m_pActGetStream->setText(QStringLiteral("开启取流"));
    m_pActSensorExcel->setText(QStringLiteral("配置机芯规格书"));
    m_pActFileInvert->setText(QStringLiteral("文件比特倒置转换"));
    m_pActFileCrc->setText(QStringLiteral("文件校验"));
    m_pActAbout->setText(QStringLiteral("关于"));
    for (int i = 0; i < 4; ++i)
        m_pLstPages->item(i)->setText(QString::fromUtf8(kRows[i].text));
    return true;
}

bool IrBenchDlg::ConnectSignals()
{
    if (!CustomDialog::ConnectSignals())
        return false;
    connect(m_pActNetConnect, &QAction::triggered, this, &IrBenchDlg::OnActionNetConnectClicked);
    connect(m_pActComConnect, &QAction::triggered, this, &IrBenchDlg::OnActionComConnectClicked);
    connect(m_pActDisconnect, &QAction::triggered, this, &IrBenchDlg::OnActionDisconnectClicked);
    connect(m_pActExit, &QAction::triggered, this, &IrBenchDlg::OnActionExitClicked);
    connect(m_pActGetStream, &QAction::triggered, this, &IrBenchDlg::OnActionGetStreamClicked);
    connect(m_pActSensorExcel, &QAction::triggered, this, &IrBenchDlg::onSetSensorExcel);
    connect(m_pActFileInvert, &QAction::triggered, this, &IrBenchDlg::OnActionFileByteInvertClicked);
    connect(m_pActFileCrc, &QAction::triggered, this, &IrBenchDlg::OnActionFileCrcClicked);
    connect(m_pActAbout, &QAction::triggered, this, &IrBenchDlg::OnActionAboutClicked);
    connect(m_pComConnectDlg, &ComConnectDlg::SigLogin, this, &IrBenchDlg::OnComLogin);
    connect(m_pLstPages, &QListWidget::currentRowChanged, this, qOverload<int>(&IrBenchDlg::OnChangePage));
    connect(m_pDetectPage, &DetectPageWidget::signalDriftSamplingStarted, this, &IrBenchDlg::OnClosePageTimerEvent);
    connect(m_pDetectPage, &DetectPageWidget::signalDriftSamplingEnd, this, &IrBenchDlg::OnStartPageTimerEvent);
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    connect(mgr, &CameraInfoDataManager::signalConnectPostEventFinish, this, &IrBenchDlg::OnConnectFinishPostProcess);
    connect(this, &IrBenchDlg::signalDisConnectPostEvent, mgr,
            &CameraInfoDataManager::onDisconnectCameraInfoManagerPostEvent);

    DeviceRunner* runner = DeviceRunner::instance();
    connect(runner, &DeviceRunner::signalStatus, m_pLabRunStatus, &QLabel::setText);
    connect(runner, &DeviceRunner::signalBusyChanged, this, [this](bool bBusy) {
        if (!bBusy)
            m_pLabRunStatus->clear();
    });
    return true;
}

bool IrBenchDlg::InitBkgs()
{
    if (!CustomDialog::InitBkgs())
        return false;
    SetTitleIcon(QStringLiteral(":/Resources/setting_logo.png"), QSize(16, 15));
    SetTitleText(QStringLiteral("IrBench"));
    setWindowTitle(QStringLiteral("IrBench"));
    setWindowIcon(QIcon(QStringLiteral(":/Resources/camera1.png")));

    m_pLstPages->setViewMode(QListView::IconMode);
    m_pLstPages->setFlow(QListView::TopToBottom);
    m_pLstPages->setMovement(QListView::Static);
    m_pLstPages->setIconSize(QSize(46, 37));
    m_pLstPages->setSpacing(20);
    m_pLstPages->setWrapping(false);
    m_pLstPages->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int i = 0; i < 4; ++i)
        m_pLstPages->item(i)->setIcon(QIcon(QString::fromUtf8(kRows[i].icon)));
    for (int i = 1; i < 4; ++i)
        m_pLstPages->item(i)->setHidden(true);

    m_pLabConnect->setText(QStringLiteral("未连接"));
    setConnectedLook(m_pLabConnect, false);
    m_pLstPages->setCurrentRow(0);
    m_pActGetStream->setChecked(true);
    m_pLstPages->setFixedWidth(100);
    m_pActSensorExcel->setEnabled(false);
    return true;
}

// ---- connect -------------------------------------------------------------------

bool IrBenchDlg::refuseWhileBusy()
{
    if (!DeviceRunner::instance()->busy())
        return false;
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QString::fromUtf8(kBusyText), 0);
    return true;
}

CNetConnect* IrBenchDlg::currentNetLink() const
{
    return m_pNetConnect && CDevice::Current() == m_pNetConnect.get() ? m_pNetConnect.get() : nullptr;
}

void IrBenchDlg::OnActionNetConnectClicked()
{
    if (refuseWhileBusy())
        return;
    NetConnectDialog dlg(this);
    if (dlg.RunModal() != QDialog::Accepted)
        return;
    const SettingsStore::NetLogin info = dlg.LoginInfo();

    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    mgr->setConnectionValues(info.ip, info.user, info.password, info.port);
    mgr->setDeviceForm(info.deviceForm);
    SettingsStore::writeNetLogin(info);

    if (!m_pNetConnect)
        m_pNetConnect = std::make_unique<CNetConnect>();

    NetLoginParams params;
    params.ip = info.ip.toStdString();
    params.port = info.port;
    params.user = info.user.toStdString();
    params.password = info.password.toStdString();
    params.channel = info.channel;
    params.deviceForm = info.deviceForm;

    // The login waits for the camera's answer (up to its connect time-out); it runs
    // off the GUI thread so the window keeps painting.
    CNetConnect* net = m_pNetConnect.get();
    const QString ip = info.ip;
    QPointer<IrBenchDlg> self(this);
    const bool started = DeviceRunner::instance()->run(
        m_pMainArea, m_pPrgRun,
        [net, params, ip](DeviceTaskContext& ctx) {
            ctx.setStatus(QStringLiteral("正在连接 %1 ...").arg(ip));
            // A link still logged in says goodbye on its old connection first.
            closeLink(net);
            return net->Login(params);
        },
        [self, ip, nPort = info.port](bool) {
            if (self)
                self->finishNetLogin(ip, nPort);
        });
    if (!started)
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), QString::fromUtf8(kBusyText), 0);
}

void IrBenchDlg::finishNetLogin(const QString& strIp, int nPort)
{
    m_nLoginHandle = m_pNetConnect->LoginHandle();
    if (m_nLoginHandle < 0) {
        // No dead link is left in the slot: the state stays "not connected".
        if (CDevice::Current() == m_pNetConnect.get())
            CDevice::SetConnect(nullptr);
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), netLoginFailureText(m_pNetConnect->LastLoginError(), strIp, nPort), 0);
        return;
    }
    CDevice::SetConnect(m_pNetConnect.get());
    linkOpened(strIp + QStringLiteral("已连接"));
}

void IrBenchDlg::OnActionComConnectClicked()
{
    if (refuseWhileBusy())
        return;
    m_pComConnectDlg->ShowRequest();
}

void IrBenchDlg::OnComLogin(QVariant varInfo)
{
    const ComInfo info = varInfo.value<ComInfo>();
    if (!m_pComConnect)
        m_pComConnect = std::make_unique<CComConnect>();
    if (!m_pComConnect->Open(info.strPortName.toStdString(), info.nBaudRate)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("串口打开失败!"), 0);
        return;
    }
    CDevice::SetConnect(m_pComConnect.get());
    // A core on a local port is a bare core: its module information is read the
    // device-form-0 way.
    CameraInfoDataManager::instance()->setDeviceForm(0);
    linkOpened(info.strPortName + QStringLiteral(" 已连接"));
}

void IrBenchDlg::linkOpened(const QString& strLabel)
{
    // One link at a time: a second connect would leave the first one open.
    m_pActNetConnect->setEnabled(false);
    m_pActComConnect->setEnabled(false);
    m_pLabConnect->setText(strLabel);
    setConnectedLook(m_pLabConnect, true);
    // Identification starts once this slot has returned.
    QTimer::singleShot(10, CameraInfoDataManager::instance(),
                       &CameraInfoDataManager::onConnectCameraInfoManagerPostEvent);
}

void IrBenchDlg::OnConnectFinishPostProcess()
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    // An identification that ends after a disconnect reveals nothing.
    if (!CDevice::Current() || !mgr->isIdentified())
        return;
    const QString sensorId = mgr->sensorId();
    CNetConnect* net = currentNetLink();

    for (int i = 1; i < 4; ++i)
        m_pLstPages->item(i)->setHidden(false);
    m_pActSensorExcel->setEnabled(true);
    m_pStatusPage->showIdentification();
    m_pDetectPage->setNetConnect(net);
    m_pDetectPage->setSensorId(sensorId);
    m_pConfigPage->setNetConnect(net);
    m_pConfigPage->setSensorId(sensorId);
    m_pConfigPage->selectVendorPage(mgr->sensorTypeCode());
    m_pVideoPage->setSensorId(sensorId);
    m_pVideoPage->setDetectPage(m_pDetectPage);
    if (m_pActGetStream->isChecked())
        startStreamAndTimers();
}

void IrBenchDlg::startStreamAndTimers()
{
    // Live video comes only from a networked camera; a local port has none.
    CNetConnect* net = currentNetLink();
    if (!net)
        return;
    net->SetFrameLayout(identifiedLayoutProvider(), identifiedAddInfoSink());
    net->StartStream();
    m_pVideoPage->setNetConnect(net);
    m_pDetectPage->startPageTimer();
    m_pVideoPage->startPageTimer();
}

void IrBenchDlg::OnActionGetStreamClicked(bool bChecked)
{
    if (!CameraInfoDataManager::instance()->isIdentified())
        return;
    CNetConnect* net = currentNetLink();
    if (!net)
        return;
    if (!bChecked) {
        net->StopStream();
        m_pVideoPage->stopPageTimer();
        return;
    }
    if (!net->IsPlaying())
        startStreamAndTimers();
}

// ---- disconnect and close ------------------------------------------------------

void IrBenchDlg::OnActionDisconnectClicked()
{
    if (refuseWhileBusy())
        return;
    startDisconnect(nullptr);
}

bool IrBenchDlg::startDisconnect(std::function<void()> then)
{
    // Nothing may keep reading the stream while the link goes away.
    m_pDetectPage->stopPageTimer();
    m_pVideoPage->stopPageTimer();
    if (!CDevice::Current()) {
        finishDisconnect();
        if (then)
            then();
        return true;
    }
    // Closing a network link sends its last command and waits for the answer.
    QPointer<IrBenchDlg> self(this);
    return DeviceRunner::instance()->run(
        m_pMainArea, m_pPrgRun,
        [](DeviceTaskContext& ctx) {
            ctx.setStatus(QStringLiteral("正在断开连接 ..."));
            closeCurrentLink();
            return true;
        },
        [self, then](bool) {
            if (!self)
                return;
            self->finishDisconnect();
            if (then)
                then();
        });
}

void IrBenchDlg::finishDisconnect()
{
    m_pLabConnect->setText(QStringLiteral("未连接"));
    setConnectedLook(m_pLabConnect, false);
    m_pActComConnect->setEnabled(true);
    m_pActNetConnect->setEnabled(true);
    m_pActSensorExcel->setEnabled(false);
    emit signalDisConnectPostEvent();
    m_pStatusPage->clearDisplay();
    m_pConfigPage->clearCmdHistory();
    m_pVideoPage->stopStream();
    m_pDetectPage->stopPageTimer();
    m_pVideoPage->stopPageTimer();
    m_pLstPages->setCurrentRow(0);
    for (int i = 1; i < 4; ++i)
        m_pLstPages->item(i)->setHidden(true);
}

void IrBenchDlg::OnActionExitClicked()
{
    close();
}

void IrBenchDlg::closeEvent(QCloseEvent* event)
{
    if (m_bCloseReady) {
        event->accept();
        return;
    }
    if (DeviceRunner::instance()->busy()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("有操作正在进行,请等待其完成后再关闭"), 0);
        event->ignore();
        return;
    }
    if (!CDevice::Current()) {
        finishDisconnect();
        event->accept();
        return;
    }
    // Disconnect first (off the GUI thread), then close for real.
    event->ignore();
    QPointer<IrBenchDlg> self(this);
    startDisconnect([self]() {
        if (!self)
            return;
        self->m_bCloseReady = true;
        self->close();
    });
}

void IrBenchDlg::keyPressEvent(QKeyEvent* event)
{
    // Escape must not hide the main window behind the operator's back.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    CustomDialog::keyPressEvent(event);
}

// ---- pages, tools, about -------------------------------------------------------

void IrBenchDlg::OnChangePage(QListWidgetItem* current, QListWidgetItem* previous)
{
    Q_UNUSED(previous);
    if (current)
        OnChangePage(m_pLstPages->row(current));
}

void IrBenchDlg::OnChangePage(int nRow)
{
    if (nRow >= 0 && nRow < m_pStkPages->count())
        m_pStkPages->setCurrentIndex(nRow);
}

void IrBenchDlg::OnClosePageTimerEvent()
{
    if (sender() != m_pDetectPage)
        return;
    m_pDetectPage->stopPageTimer(); // drift sampling owns the stream's frames while it runs
    m_pVideoPage->stopPageTimer();
    m_pDetectPage->tempDriftBox()->startSamplingThread();
}

void IrBenchDlg::OnStartPageTimerEvent()
{
    m_pDetectPage->startPageTimer();
    m_pVideoPage->startPageTimer();
}

void IrBenchDlg::OnActionAboutClicked()
{
    if (!m_pAboutDlg)
        m_pAboutDlg = new AboutDlg(this);
    m_pAboutDlg->ShowRequest();
}

bool IrBenchDlg::OnActionFileByteInvertClicked()
{
    return FileToolActions::runByteInvert(m_pMainArea, m_pPrgRun);
}

bool IrBenchDlg::OnActionFileCrcClicked()
{
    return FileToolActions::runChecksum(m_pMainArea, m_pPrgRun);
}
