#include "TempDriftWidget.h"

#include "CDevice.h"
#include "CFindFrame.h"
#include "CTemperDrift.h"
#include "CameraInfoDataManager.h"
#include "CurveChart.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "DriftFit.h"
#include "IFrameSource.h"
#include "TempDriftThread.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

namespace {

const QString kTip = QStringLiteral("提示");
const QString kWarn = QStringLiteral("警告");

QLineEdit* edit(QWidget* parent, const char* name, const char* text)
{
    auto* e = new QLineEdit(QString::fromLatin1(text), parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaximumWidth(70);
    return e;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

bool requireDevice()
{
    if (CDevice::Current())
        return true;
    CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("未连接任何设备!"), 0);
    return false;
}

QString writeLabel(int written, int total)
{
    return QStringLiteral("文件已写入 %1 / 总共 %2").arg(written).arg(total);
}

} // namespace

TempDriftWidget::TempDriftWidget(DetectPageWidget* pPage)
    : QGroupBox(QStringLiteral("温漂补偿"), pPage)
    , m_pPage(pPage)
    , m_pDrift(new CTemperDrift(this))
{
    setObjectName("m_pGBoxTempDrift");
    buildUi();
    connect(m_pBtnTempDrifStart, &QPushButton::clicked, this, &TempDriftWidget::OnBtnTempDriftStart);
    connect(m_pBtnTempDrifStop, &QPushButton::clicked, this, &TempDriftWidget::OnBtnTempDriftStop);
    connect(m_pBtnTDContinueWriteFile, &QPushButton::clicked, this, &TempDriftWidget::OnBtnTempDriftContinueWriteFile);
    connect(m_pDrift, &CTemperDrift::signalSetProgressBarValue, m_pPgbTDWriteFile, &QProgressBar::setValue);
    connect(m_pDrift, &CTemperDrift::signalTempDriftWriteFile, this, &TempDriftWidget::OnWriteTempDriftFileShowLabel);
    connect(m_pDrift, &CTemperDrift::signalWriteFileFinished, this, &TempDriftWidget::onWriteTempDriftFileFinished);
    connect(m_pDrift, &CTemperDrift::signalShowErrMsg, this, &TempDriftWidget::onShowErrMsg);
    connect(m_pDrift, &CTemperDrift::signalStatus, m_pLabTDStatus, &QLabel::setText);
    connect(m_pDrift, &CTemperDrift::signalFitDone, this, &TempDriftWidget::onFitDone);
}

TempDriftWidget::~TempDriftWidget()
{
    // The workers hold pointers into this box: let them end first.
    m_bSampling = false;
    for (TempDriftThread* t : {m_pSampler.data(), m_pWriter.data()})
        if (t) {
            t->requestInterruption();
            t->wait();
        }
}

void TempDriftWidget::buildUi()
{
    m_pBtnTempDrifStart = button(this, "m_pBtnTempDrifStart", QStringLiteral("开始采样"));
    m_pBtnTempDrifStop = button(this, "m_pBtnTempDrifStop", QStringLiteral("停止采样"));
    m_pBtnTDContinueWriteFile = button(this, "m_pBtnTDContinueWriteFile", QStringLiteral("烧录"));
    m_pEdtTempDiff = edit(this, "m_pEdtTempDiff", "100");
    m_pEdtFrameNumOneTime = edit(this, "m_pEdtFrameNumOneTime", "10");
    m_pEdtLastTDWriteFileNum = edit(this, "m_pEdtLastTDWriteFileNum", "0");
    m_pEdtLastTDWriteFileTotalNum = edit(this, "m_pEdtLastTDWriteFileTotalNum", "0");
    m_pCBoxClearDataDir = new QCheckBox(QStringLiteral("清空采样数据目录"), this);
    m_pCBoxClearDataDir->setObjectName("m_pCBoxClearDataDir");
    m_pLabWriteFile = new QLabel(writeLabel(0, 0), this);
    m_pLabWriteFile->setObjectName("m_pLabWriteFile");
    m_pLabTDStatus = new QLabel(this);
    m_pLabTDStatus->setObjectName("m_pLabTDStatus");
    // Its changing text must not resize the page.
    m_pLabTDStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pLabTDStatus->setMinimumWidth(140);
    m_pPgbTDWriteFile = new QProgressBar(this);
    m_pPgbTDWriteFile->setObjectName("m_pPgbTDWriteFile");
    m_pPgbTDWriteFile->setRange(0, 100);
    m_pPgbTDWriteFile->setValue(0);

    m_pChartView = curvechart::makeView(this, QStringLiteral("焦温"), QStringLiteral("帧均值"), &m_pAxisX, &m_pAxisY);
    m_pChartView->setObjectName("m_pChartTempDrift");
    QChart* chart = m_pChartView->chart();
    m_pSamples = new QScatterSeries(chart);
    m_pSamples->setName(QStringLiteral("采样点"));
    m_pSamples->setMarkerSize(7);
    chart->addSeries(m_pSamples);
    m_pSamples->attachAxis(m_pAxisX);
    m_pSamples->attachAxis(m_pAxisY);
    for (int s = 0; s < 2; ++s) {
        m_pFit[s] = new QLineSeries(chart);
        m_pFit[s]->setName(QStringLiteral("拟合 第%1段").arg(s + 1));
        chart->addSeries(m_pFit[s]);
        m_pFit[s]->attachAxis(m_pAxisX);
        m_pFit[s]->attachAxis(m_pAxisY);
    }

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(6);
    grid->addWidget(new QLabel(QStringLiteral("采样温差："), this), 0, 0, Qt::AlignRight);
    grid->addWidget(m_pEdtTempDiff, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("采样帧数(每次温差)："), this), 0, 2, Qt::AlignRight);
    grid->addWidget(m_pEdtFrameNumOneTime, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("已写入机芯文件数："), this), 1, 0, Qt::AlignRight);
    grid->addWidget(m_pEdtLastTDWriteFileNum, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("待写入机芯文件数："), this), 1, 2, Qt::AlignRight);
    grid->addWidget(m_pEdtLastTDWriteFileTotalNum, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pBtnTempDrifStart);
    buttons->addWidget(m_pBtnTempDrifStop);
    buttons->addWidget(m_pBtnTDContinueWriteFile);
    buttons->addWidget(m_pCBoxClearDataDir);
    buttons->addStretch(1);
    auto* progress = new QHBoxLayout;
    progress->addWidget(m_pLabWriteFile);
    progress->addWidget(m_pPgbTDWriteFile, 1);
    progress->addWidget(m_pLabTDStatus);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->addLayout(progress);
    layout->addWidget(m_pChartView, 1);
}

QString TempDriftWidget::chartFile() const
{
    return m_pPage->tree().tempDriftDir() + QStringLiteral("/drift.png");
}

void TempDriftWidget::setIdleControls(bool bIdle)
{
    // Start comes back only once the sampling worker has ended.
    m_pBtnTempDrifStart->setEnabled(bIdle && m_pSampler.isNull());
    m_pEdtTempDiff->setEnabled(bIdle);
    m_pEdtFrameNumOneTime->setEnabled(bIdle);
    m_pBtnTDContinueWriteFile->setEnabled(bIdle);
    m_pEdtLastTDWriteFileNum->setEnabled(bIdle);
    m_pEdtLastTDWriteFileTotalNum->setEnabled(bIdle);
}

void TempDriftWidget::OnBtnTempDriftStart()
{
    if (!requireDevice())
        return;
    if (m_bSampling || m_pSampler || m_pWriter) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("上一次温漂采样或写入尚未结束"), 0);
        return;
    }
    bool okStep = false, okFrames = false;
    const double step = m_pEdtTempDiff->text().trimmed().toDouble(&okStep);
    const int frames = m_pEdtFrameNumOneTime->text().trimmed().toInt(&okFrames);
    if (!okStep || !(step > 0)) {
        CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("采样温差须为正数"), 0);
        return;
    }
    if (!okFrames || frames < 1 || frames > CFindFrame::kMaxCapture) {
        CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("采样帧数须在 1 到 %1 之间").arg(CFindFrame::kMaxCapture), 0);
        return;
    }
    IFrameSource* source = m_pPage->frameSource();
    CFindFrame* buffer = source ? source->FrameBuffer() : nullptr;
    if (!buffer) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("没有视频流，无法温漂采样"), 0);
        return;
    }
    m_pDrift->setDirectory(m_pPage->tree().tempDriftDir());
    m_job = DriftSamplingJob();
    m_job.frames = buffer;
    m_job.dataDir = m_pDrift->dataDir();
    m_job.clear = m_pCBoxClearDataDir->isChecked();
    m_job.step = step;
    m_job.frameCount = frames;
    m_job.running = &m_bSampling;

    m_bSampling = true;
    setIdleControls(false);
    m_pEdtLastTDWriteFileNum->setText("0");
    m_pEdtLastTDWriteFileTotalNum->setText("0");
    m_pPgbTDWriteFile->setValue(0);
    m_pLabWriteFile->setText(writeLabel(0, 0));
    m_pSamples->clear();
    for (QLineSeries* s : m_pFit)
        s->clear();
    emit m_pPage->signalDriftSamplingStarted();
    // The main window starts the worker on the signal; a page without one starts it here.
    if (!m_pSampler)
        startSamplingThread();
}

bool TempDriftWidget::startSamplingThread()
{
    if (!m_bSampling || m_pSampler)
        return false;
    auto* t = new TempDriftThread(0, m_pPage);
    t->setSamplingJob(m_job);
    connect(t, &TempDriftThread::signalSampled, this, &TempDriftWidget::onSampled, Qt::QueuedConnection);
    connect(t, &TempDriftThread::signalSamplingFailed, this, &TempDriftWidget::onSamplingFailed, Qt::QueuedConnection);
    connect(t, &QThread::finished, this, &TempDriftWidget::onSamplerFinished, Qt::QueuedConnection);
    connect(t, &QThread::finished, t, &QObject::deleteLater);
    m_pSampler = t;
    t->start(QThread::InheritPriority);
    return true;
}

void TempDriftWidget::OnBtnTempDriftStop()
{
    // Stopping works with or without a link: the loop only needs its flag.
    if (!m_bSampling)
        return;
    m_bSampling = false;
    setIdleControls(true);
    emit m_pPage->signalDriftSamplingEnd();
    saveChart();
}

void TempDriftWidget::onSampled(int nNumber, float fTemperature, int nMean)
{
    const bool first = m_pSamples->count() == 0;
    m_pSamples->append(double(fTemperature), double(nMean));
    curvechart::include(m_pAxisX, fTemperature, first);
    curvechart::include(m_pAxisY, nMean, first);
    m_pLabTDStatus->setText(QStringLiteral("第 %1 次采样：焦温 %2，帧均值 %3").arg(nNumber).arg(fTemperature).arg(nMean));
}

void TempDriftWidget::onSamplingFailed(QString strText)
{
    const bool wasSampling = m_bSampling.exchange(false);
    setIdleControls(true);
    if (wasSampling)
        emit m_pPage->signalDriftSamplingEnd();
    CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("温漂采样停止：%1").arg(strText), 0);
}

void TempDriftWidget::onSamplerFinished()
{
    m_pSampler = nullptr;
    setIdleControls(!m_bSampling && !m_pWriter);
}

void TempDriftWidget::OnBtnTempDriftContinueWriteFile()
{
    if (!requireDevice())
        return;
    if (m_bSampling || m_pSampler || m_pWriter) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("温漂采样进行中，请先停止采样"), 0);
        return;
    }
    // Another upgrade-mode sequence of the page must not be interleaved with this one.
    if (DeviceRunner::instance()->busy()) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("设备正忙,请等待当前操作完成后再试!"), 0);
        return;
    }
    bool okW = false, okT = false;
    const int written = m_pEdtLastTDWriteFileNum->text().trimmed().toInt(&okW);
    const int total = m_pEdtLastTDWriteFileTotalNum->text().trimmed().toInt(&okT);
    if (!okW || !okT || (written != total && !tempdrift::countersValid(written, total))) {
        CustomMessageBox::MsgBox(nullptr, kTip, tempdrift::writeCodeText(tempdrift::WriteBadCounters), 0);
        return;
    }
    CameraInfoDataManager* info = CameraInfoDataManager::instance();
    const QSize size = info->frameSize();
    m_pDrift->setDirectory(m_pPage->tree().tempDriftDir());
    m_pDrift->setConfig(driftfit::fitTypeOfSensor(info->sensorTypeCode()), size.width(), size.height());
    if (written != total)
        m_pDrift->prepareResume(written, total);
    else
        m_pDrift->prepareFit();
    setEnabled(false);
    auto* t = new TempDriftThread(1, this);
    t->setDrift(m_pDrift);
    connect(t, &TempDriftThread::signalWriteDataRetCode, m_pDrift, &CTemperDrift::signalShowErrMsg, Qt::QueuedConnection);
    connect(t, &QThread::finished, m_pDrift, &CTemperDrift::signalWriteFileFinished, Qt::QueuedConnection);
    connect(t, &QThread::finished, t, &QObject::deleteLater);
    m_pWriter = t;
    t->start(QThread::InheritPriority);
}

void TempDriftWidget::OnWriteTempDriftFileShowLabel(int nWritten, int nTotal)
{
    m_pEdtLastTDWriteFileNum->setText(QString::number(nWritten));
    m_pEdtLastTDWriteFileTotalNum->setText(QString::number(nTotal));
    m_pLabWriteFile->setText(writeLabel(nWritten, nTotal));
}

void TempDriftWidget::onWriteTempDriftFileFinished()
{
    m_pWriter = nullptr;
    setEnabled(true);
    setIdleControls(!m_bSampling);
}

void TempDriftWidget::onShowErrMsg(int nCode)
{
    QString text = tempdrift::writeCodeText(nCode);
    const QString detail = m_pDrift->lastDetail();
    if (nCode != tempdrift::NoSampleData && !detail.isEmpty())
        text += QStringLiteral("\n") + detail;
    m_pLabTDStatus->clear();
    saveChart();
    CustomMessageBox::MsgBox(nullptr, kTip, text, 0);
}

void TempDriftWidget::onFitDone()
{
    const tempdrift::FitOutcome fit = m_pDrift->lastFit();
    if (fit.temperatures.empty())
        return;
    // The samples as fitted (the fit reads them back from disk, a restart included).
    m_pSamples->clear();
    for (size_t i = 0; i < fit.temperatures.size() && i < fit.frameMeans.size(); ++i) {
        const bool first = i == 0;
        m_pSamples->append(fit.temperatures[i], fit.frameMeans[i]);
        curvechart::include(m_pAxisX, fit.temperatures[i], first);
        curvechart::include(m_pAxisY, fit.frameMeans[i], first);
    }
    for (int s = 0; s < 2; ++s) {
        m_pFit[s]->clear();
        if (size_t(s) < fit.curves.size())
            for (const auto& p : fit.curves[size_t(s)]) {
                m_pFit[s]->append(p.first, p.second);
                curvechart::include(m_pAxisY, p.second, false);
            }
    }
}

void TempDriftWidget::saveChart()
{
    if (m_pSamples->count() > 0 && !curvechart::savePng(m_pChartView, chartFile()))
        m_pLabTDStatus->setText(QStringLiteral("曲线图 drift.png 保存失败"));
}
