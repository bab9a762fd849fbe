// The calibration page: its controls, parameters, refresh timer, frame capture and
// local data. The two-point correction and bad-pixel slots are in DetectPageNuc.cpp.
#include "DetectPageWidget.h"

#include "CComonFun.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CPageTransferContext.h"
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"
#include "CalibrationSequences.h"
#include "CameraInfoDataManager.h"
#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "NoShutterGroup.h"
#include "QualityGroup.h"
#include "PathText.h"
#include "ProgramStyle.h"
#include "QProcessingDlg.h"
#include "StableFpaWidget.h"
#include "TempDriftWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, bool bReadOnly)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setReadOnly(bReadOnly);
    edit->setMaximumWidth(120);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setMinimumWidth(96);
    return button;
}

} // namespace

DetectPageWidget::DetectPageWidget(QWidget* parent)
    : QWidget(parent)
    , m_pNuc(std::make_unique<CTwoPointNuc>())
    , m_pDetector(std::make_unique<CPixelDetector>())
{
    setObjectName("DetectPageWidget");
    setWindowTitle(QStringLiteral("校正"));
    buildUi();

    m_pStartDelay = new QTimer(this);
    m_pStartDelay->setSingleShot(true);
    m_pStartDelay->setInterval(50);
    m_pPageTimer = new QTimer(this);
    m_pPageTimer->setInterval(50);
    m_pCaptureProgress = new QTimer(this);
    m_pCaptureProgress->setInterval(100);
    connectSignals();
    setSensorId(QString());
}

DetectPageWidget::~DetectPageWidget() = default;

void DetectPageWidget::buildUi()
{
    auto* title = new QLabel(QStringLiteral("检测"), this);
    title->setObjectName("PageTitle");
    m_pLabSensorId = new QLabel(this);
    m_pLabSensorId->setObjectName("m_pLabSensorId");
    m_pLabSensorId->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // Parameters: read from the edits each time an operation runs, never saved.
    m_pGBoxPara = new QGroupBox(QStringLiteral("参数设置"), this);
    m_pGBoxPara->setObjectName("m_pGBoxPara");
    m_pEdtCapNum = makeEdit(m_pGBoxPara, "m_pEdtCapNum", QStringLiteral("128"), true);
    m_pEdtWidth = makeEdit(m_pGBoxPara, "m_pEdtWidth", QString(), true);
    m_pEdtHeight = makeEdit(m_pGBoxPara, "m_pEdtHeight", QString(), true);
    m_pEdtFrameAvg = makeEdit(m_pGBoxPara, "m_pEdtFrameAvg", QString(), true);
    m_pEdtBPThreshHold = makeEdit(m_pGBoxPara, "m_pEdtBPThreshHold", QStringLiteral("0.02"), true);
    m_pChbModifyPara = new QCheckBox(QStringLiteral("修改参数"), m_pGBoxPara);
    m_pChbModifyPara->setObjectName("m_pChbModifyPara");
    auto* para = new QGridLayout(m_pGBoxPara);
    para->setHorizontalSpacing(8);
    para->setVerticalSpacing(6);
    const QList<QPair<QString, QLineEdit*>> rows = {
        {QStringLiteral("统计帧数："), m_pEdtCapNum},
        {QStringLiteral("视频宽度："), m_pEdtWidth},
        {QStringLiteral("视频高度："), m_pEdtHeight},
        {QStringLiteral("帧像素平均值："), m_pEdtFrameAvg},
        {QStringLiteral("坏点阈值："), m_pEdtBPThreshHold},
    };
    for (int i = 0; i < rows.size(); ++i) {
        const int r = i / 3;
        const int c = (i % 3) * 2;
        para->addWidget(new QLabel(rows[i].first, m_pGBoxPara), r, c, Qt::AlignRight);
        para->addWidget(rows[i].second, r, c + 1);
    }
    para->addWidget(m_pChbModifyPara, 1, 4, 1, 2);
    para->setColumnStretch(6, 1);

    // Two-point correction and bad pixels.
    m_pGBoxCorrect = new QGroupBox(QStringLiteral("校正操作"), this);
    m_pGBoxCorrect->setObjectName("m_pGBoxCorrect");
    m_pCmbSolution = new QComboBox(m_pGBoxCorrect);
    m_pCmbSolution->setObjectName("m_pCmbSolution");
    m_pCmbSolution->addItems({QStringLiteral("工具V20"), QStringLiteral("工具V10"), QStringLiteral("机芯")});
    m_pCmbEnvType = new QComboBox(m_pGBoxCorrect);
    m_pCmbEnvType->setObjectName("m_pCmbEnvType");
    m_pCmbEnvType->addItems({QStringLiteral("TEC1"), QStringLiteral("TEC2"), QStringLiteral("TEC3"), QStringLiteral("TEC4")});
    m_pBtnGetLowT = makeButton(m_pGBoxCorrect, "m_pBtnGetLowT", QStringLiteral("采集低温点"));
    m_pBtnGetHighT = makeButton(m_pGBoxCorrect, "m_pBtnGetHighT", QStringLiteral("采集高温点"));
    m_pBtnOneKeyCorrect = makeButton(m_pGBoxCorrect, "m_pBtnOneKeyCorrect", QStringLiteral("一键校正"));
    m_pBtnOnKeyWrite = makeButton(m_pGBoxCorrect, "m_pBtnOnKeyWrite", QStringLiteral("一键写入"));
    m_pBtnBPDetect_V20 = makeButton(m_pGBoxCorrect, "m_pBtnBPDetect_V20", QStringLiteral("坏点检测"));
    m_pBtnBPDetect_V30 = makeButton(m_pGBoxCorrect, "m_pBtnBPDetect_V30", QStringLiteral("坏点检测V30"));
    m_pBtnClearLocal = makeButton(m_pGBoxCorrect, "m_pBtnClearLocal", QStringLiteral("清除本地"));
    m_pPgbWriteFile = new QProgressBar(m_pGBoxCorrect);
    m_pPgbWriteFile->setObjectName("m_pPgbWriteFile");
    m_pPgbWriteFile->setRange(0, 100);
    m_pPgbWriteFile->setValue(0);

    auto* correct = new QGridLayout(m_pGBoxCorrect);
    correct->setHorizontalSpacing(10);
    correct->setVerticalSpacing(8);
    auto* choices = new QHBoxLayout;
    choices->addWidget(new QLabel(QStringLiteral("校正方式："), m_pGBoxCorrect));
    choices->addWidget(m_pCmbSolution);
    choices->addSpacing(16);
    choices->addWidget(new QLabel(QStringLiteral("温度档位："), m_pGBoxCorrect));
    choices->addWidget(m_pCmbEnvType);
    choices->addStretch(1);
    correct->addLayout(choices, 0, 0, 1, 4);
    correct->addWidget(m_pBtnGetLowT, 1, 0);
    correct->addWidget(m_pBtnGetHighT, 1, 1);
    correct->addWidget(m_pBtnOneKeyCorrect, 1, 2);
    correct->addWidget(m_pBtnOnKeyWrite, 1, 3);
    correct->addWidget(m_pBtnBPDetect_V20, 2, 0);
    correct->addWidget(m_pBtnBPDetect_V30, 2, 1);
    correct->addWidget(m_pBtnClearLocal, 2, 3);
    correct->addWidget(m_pPgbWriteFile, 3, 0, 1, 4);

    m_pProcessingDlg = new QProcessingDlg(this);

    // The boxes are taller than a bench monitor: the page scrolls instead of pushing
    // the window's status strip off the screen.
    auto* content = new QWidget;
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("m_pScrDetectPage");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(10);
    layout->addWidget(title);
    layout->addWidget(m_pLabSensorId);
    layout->addWidget(m_pGBoxPara);
    layout->addWidget(m_pGBoxCorrect);
    layout->addWidget(new NoShutterGroup(this));
    m_pTempDrift = new TempDriftWidget(this);
    m_pStableFpa = new StableFpaWidget(this);
    auto* drift = new QHBoxLayout;
    drift->addWidget(m_pTempDrift, 3);
    drift->addWidget(m_pStableFpa, 2);
    layout->addLayout(drift, 1);
    // The last step: the corrected picture judged against the limits.
    m_pQuality = new QualityGroup(this);
    layout->addWidget(m_pQuality);
    scroll->setWidget(content);
    // Only the height scrolls: the page stays as wide as its boxes need.
    scroll->setMinimumWidth(content->minimumSizeHint().width() + scroll->verticalScrollBar()->sizeHint().width());

    // The first step of the correction is marked as the next one.
    ProgramStyle::setStepState(m_pBtnGetLowT, ProgramStyle::StepState::Next);
    OnModifyPara();
}

void DetectPageWidget::connectSignals()
{
    connect(m_pStartDelay, &QTimer::timeout, m_pPageTimer, qOverload<>(&QTimer::start));
    connect(m_pPageTimer, &QTimer::timeout, this, &DetectPageWidget::OnPageTimer);
    connect(m_pChbModifyPara, &QCheckBox::toggled, this, &DetectPageWidget::OnModifyPara);
    connect(m_pBtnGetLowT, &QPushButton::clicked, this, &DetectPageWidget::OnBtnGetLowT);
    connect(m_pBtnGetHighT, &QPushButton::clicked, this, &DetectPageWidget::OnBtnGetHighT);
    connect(m_pBtnOneKeyCorrect, &QPushButton::clicked, this, &DetectPageWidget::OnBtnOneKeyCorrect);
    connect(m_pBtnOnKeyWrite, &QPushButton::clicked, this, &DetectPageWidget::OnBtnOneKeyWrite);
    connect(m_pBtnBPDetect_V20, &QPushButton::clicked, this, &DetectPageWidget::OnBtnDetectBP_V20);
    connect(m_pBtnBPDetect_V30, &QPushButton::clicked, this, &DetectPageWidget::OnBtnDetectBP_V30);
    connect(m_pBtnClearLocal, &QPushButton::clicked, this, &DetectPageWidget::OnBtnClearLocalData);
    connect(this, &DetectPageWidget::signalDectBPV30Result, this, &DetectPageWidget::OnProcessDetectBPV30Result,
            Qt::QueuedConnection);
}

void DetectPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
    setFrameSource(pNet);
}

void DetectPageWidget::setFrameSource(IFrameSource* pFrames)
{
    m_pFrames = pFrames;
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
    int nMean = 0;
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames || !newestFrameMean(frames, CameraInfoDataManager::instance()->frameSize(), &nMean))
        nMean = 0;
    m_nFrameMean = nMean;
    m_pEdtFrameAvg->setText(QString::number(nMean));
    m_pEdtFrameAvg->setReadOnly(true);
}

void DetectPageWidget::OnModifyPara()
{
    const bool bEditable = m_pChbModifyPara->isChecked();
    // Greyed while they ignore typing, so that they do not look editable.
    for (QLineEdit* pEdit : {m_pEdtCapNum, m_pEdtBPThreshHold}) {
        pEdit->setReadOnly(!bEditable);
        pEdit->setEnabled(bEditable);
    }
}

int DetectPageWidget::readCaptureCount()
{
    bool ok = false;
    const uint n = m_pEdtCapNum->text().trimmed().toUInt(&ok, 10);
    if (!ok || n < 1 || n > uint(kMaxCaptureFrames)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"),
                                 QStringLiteral("统计帧数必须是1~128之间的整数!"), 0);
        return 0;
    }
    return int(n);
}

int DetectPageWidget::tecIndex() const
{
    return qBound(0, m_pCmbEnvType->currentIndex(), 3);
}

int DetectPageWidget::solution() const
{
    return m_pCmbSolution->currentIndex();
}

void DetectPageWidget::collectDetectParams()
{
    bool ok = false;
    const int nMean = m_pEdtFrameAvg->text().trimmed().toInt(&ok);
    if (ok)
        m_nFrameMean = nMean;
    const float fThreshold = m_pEdtBPThreshHold->text().trimmed().toFloat(&ok);
    if (ok)
        m_fBPThreshold = fThreshold;
}

bool DetectPageWidget::deviceConnected() const
{
    return CDevice::Current() != nullptr;
}

void DetectPageWidget::showCaptureSize(int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0)
        return;
    m_nWidth = nWidth;
    m_nHeight = nHeight;
    m_pEdtWidth->setText(QString::number(m_nWidth));
    m_pEdtHeight->setText(QString::number(m_nHeight));
}

bool DetectPageWidget::requireDevice()
{
    if (deviceConnected())
        return true;
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("未连接任何设备!"), 0);
    return false;
}

bool DetectPageWidget::runOnPage(std::function<bool(DeviceTaskContext&)> task, std::function<void(bool)> done,
                                 QWidget* pPage, QProgressBar* pBar)
{
    QPointer<DetectPageWidget> self(this);
    auto guarded = [self, done = std::move(done)](bool ok) {
        if (self && done)
            done(ok);
    };
    if (!DeviceRunner::instance()->run(pPage ? pPage : this, pBar, std::move(task), guarded)) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("设备正忙,请等待当前操作完成后再试!"), 0);
        return false;
    }
    return true;
}

void DetectPageWidget::setSteps(QPushButton* pFinished, QPushButton* pNext)
{
    if (pFinished)
        ProgramStyle::setStepState(pFinished, ProgramStyle::StepState::Finished);
    if (pNext)
        ProgramStyle::setStepState(pNext, ProgramStyle::StepState::Next);
}

bool DetectPageWidget::captureFrames(int nKind, int nBase)
{
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames)
        return false;
    const CalibrationTree t = tree();
    QString strDir;
    switch (nKind) {
    case FrameLow:
    case FrameHigh:
        strDir = t.rawDir(tecIndex() + 1, nKind == FrameHigh);
        break;
    case FrameNoShutter:
        strDir = t.noShutterBaseDir(nBase);
        break;
    default:
        return false;
    }
    FrameWriteResult result;
    const bool ok = writeCapturedFrames(frames, strDir, &result);
    if (result.captured > 0)
        showCaptureSize(result.width, result.height);
    return ok;
}

void DetectPageWidget::captureSet(bool bHigh)
{
    QPushButton* pThis = bHigh ? m_pBtnGetHighT : m_pBtnGetLowT;
    QPushButton* pNext = bHigh ? m_pBtnOneKeyCorrect : m_pBtnGetHighT;
    if (solution() == SolutionCore) {
        runCoreStep(corecmd::kOneKeyRegister, bHigh ? 2 : 1, [this, pThis, pNext] { setSteps(pThis, pNext); });
        return;
    }
    if (!m_pFrames)
        return;
    const int n = readCaptureCount();
    if (n == 0)
        return;
    CFindFrame* frames = m_pFrames->FrameBuffer();
    const QString strDir = tree().rawDir(tecIndex() + 1, bHigh);
    auto result = std::make_shared<FrameWriteResult>();

    // The capture itself blocks the worker; the bar follows the store from here.
    m_pCaptureProgress->disconnect();
    if (frames) {
        connect(m_pCaptureProgress, &QTimer::timeout, this, [this, frames, n] {
            m_pPgbWriteFile->setValue(qMin(frames->CapturedCount(), n) * 50 / n);
        });
    }
    const bool started = runOnPage(
        [frames, n, strDir, result](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            return captureRunToDir(ctx, frames, n, strDir, result.get());
        },
        [this, result, pThis, pNext, strDir](bool ok) {
            m_pCaptureProgress->stop();
            if (result->captured > 0)
                showCaptureSize(result->width, result->height);
            if (!ok)
                return;
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), withFolderLine(QStringLiteral("完成捕获!"), strDir), 0);
            setSteps(pThis, pNext);
        },
        nullptr, m_pPgbWriteFile);
    if (started && frames)
        m_pCaptureProgress->start();
}

void DetectPageWidget::OnBtnGetLowT()
{
    captureSet(false);
}

void DetectPageWidget::OnBtnGetHighT()
{
    captureSet(true);
}

void DetectPageWidget::OnBtnClearLocalData()
{
    if (m_strSensorId.isEmpty())
        return;
    const CalibrationTree t = tree();
    // Only the captured frames go; gains, tables, bases and models stay.
    const bool bRaw = CComonFun::removeTree(t.rawRoot());
    const bool bCompensate = CComonFun::removeTree(t.compensateRoot());
    if (!bRaw || !bCompensate)
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("清除本地数据失败,请检查文件是否被占用!"), 0);
}
