#include "StableFpaWidget.h"

#include "CDevice.h"
#include "CFindFrame.h"
#include "CameraInfoDataManager.h"
#include "CurveChart.h"
#include "CustomMessageBox.h"
#include "DetectPageWidget.h"
#include "IFrameSource.h"
#include "Pace.h"
#include "TempDriftThread.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QValueAxis>
#include <QVBoxLayout>

namespace {

const QString kTip = QStringLiteral("提示");
const QString kWarn = QStringLiteral("警告");
const QString kBegin = QStringLiteral("开始判稳");
const QString kStop = QStringLiteral("停止判稳");
constexpr int kMaxCurvePoints = 5000;

QLineEdit* edit(QWidget* parent, const char* name, const char* text)
{
    auto* e = new QLineEdit(QString::fromLatin1(text), parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setMaximumWidth(70);
    return e;
}

} // namespace

StableFpaWidget::StableFpaWidget(DetectPageWidget* pPage)
    : QGroupBox(QStringLiteral("无快门操作"), pPage)
    , m_pPage(pPage)
{
    setObjectName("m_pGBoxStable");
    m_pBtnJudgeStableBegin = new QPushButton(kBegin, this);
    m_pBtnJudgeStableBegin->setObjectName("m_pBtnJudgeStableBegin");
    m_pBtnJudgeStableBegin->setCheckable(true);
    m_pEdtBeginFPAVal = edit(this, "m_pEdtBeginFPAVal", "-40");
    m_pEdtSampingNumVal = edit(this, "m_pEdtSampingNumVal", "0");
    m_pEdtStableDiff = edit(this, "m_pEdtStableDiff", "5");
    m_pCBoxStableClearDataDir = new QCheckBox(QStringLiteral("清空数据目录"), this);
    m_pCBoxStableClearDataDir->setObjectName("m_pCBoxStableClearDataDir");
    m_pCBoxStableClearDataDir->setChecked(true);
    m_pLabStableStatus = new QLabel(this);
    m_pLabStableStatus->setObjectName("m_pLabStableStatus");
    m_pLabStableStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    m_pChartView = curvechart::makeView(this, QStringLiteral("时间 (s)"), QStringLiteral("焦温"), &m_pAxisX, &m_pAxisY);
    m_pChartView->setObjectName("m_pChartStable");
    QChart* chart = m_pChartView->chart();
    m_pFpa = new QLineSeries(chart);
    m_pFpa->setName(QStringLiteral("焦温"));
    m_pCollections = new QScatterSeries(chart);
    m_pCollections->setName(QStringLiteral("采集"));
    m_pCollections->setMarkerSize(9);
    for (QXYSeries* s : {static_cast<QXYSeries*>(m_pFpa), static_cast<QXYSeries*>(m_pCollections)}) {
        chart->addSeries(s);
        s->attachAxis(m_pAxisX);
        s->attachAxis(m_pAxisY);
    }

    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QStringLiteral("起始温度："), this), 0, 0, Qt::AlignRight);
    grid->addWidget(m_pEdtBeginFPAVal, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("采集编号："), this), 0, 2, Qt::AlignRight);
    grid->addWidget(m_pEdtSampingNumVal, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("判稳温差："), this), 1, 0, Qt::AlignRight);
    grid->addWidget(m_pEdtStableDiff, 1, 1);
    grid->addWidget(m_pCBoxStableClearDataDir, 1, 2, 1, 2);
    grid->addWidget(m_pBtnJudgeStableBegin, 0, 4);
    grid->setColumnStretch(5, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(4);
    layout->addLayout(grid);
    layout->addWidget(m_pLabStableStatus);
    layout->addWidget(m_pChartView, 1);

    connect(m_pBtnJudgeStableBegin, &QPushButton::clicked, this, &StableFpaWidget::OnBtnJudgeStable);
}

StableFpaWidget::~StableFpaWidget()
{
    m_bRunning = false;
    if (m_pWorker)
        m_pWorker->wait();
}

QString StableFpaWidget::chartFile() const
{
    return m_pPage->tree().stableFpaDir() + QStringLiteral("/stable.png");
}

void StableFpaWidget::setRunningControls(bool bRunning)
{
    m_pBtnJudgeStableBegin->setChecked(bRunning);
    m_pBtnJudgeStableBegin->setText(bRunning ? kStop : kBegin);
    if (bRunning)
        m_pBtnJudgeStableBegin->setFont(QFont(QStringLiteral("微软雅黑"), 9));
    m_pEdtStableDiff->setEnabled(!bRunning);
    m_pEdtBeginFPAVal->setEnabled(!bRunning);
    m_pEdtSampingNumVal->setEnabled(!bRunning);
    // A new run once the last one has ended.
    m_pBtnJudgeStableBegin->setEnabled(bRunning || m_pWorker.isNull());
}

void StableFpaWidget::OnBtnJudgeStable()
{
    const bool start = m_pBtnJudgeStableBegin->isChecked();
    if (!start) {
        stopRun();
        return;
    }
    m_pBtnJudgeStableBegin->setChecked(false);
    if (!CDevice::Current()) {
        CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("未连接任何设备!"), 0);
        return;
    }
    if (m_pWorker) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("上一次判稳尚未结束"), 0);
        return;
    }
    bool okNumber = false, okDiff = false;
    const int number = m_pEdtSampingNumVal->text().trimmed().toInt(&okNumber);
    const double diff = m_pEdtStableDiff->text().trimmed().toDouble(&okDiff);
    if (!okNumber || number < 0) {
        CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("采集编号须为不小于 0 的整数"), 0);
        return;
    }
    if (!okDiff || !(diff > 0)) {
        CustomMessageBox::MsgBox(nullptr, kWarn, QStringLiteral("判稳温差须为正数"), 0);
        return;
    }
    IFrameSource* source = m_pPage->frameSource();
    CFindFrame* buffer = source ? source->FrameBuffer() : nullptr;
    if (!buffer) {
        CustomMessageBox::MsgBox(nullptr, kTip, QStringLiteral("没有视频流，无法判稳"), 0);
        return;
    }
    bool clear = m_pCBoxStableClearDataDir->isChecked();
    if (clear && number > 0) {
        // Continuing a run: its earlier collections are not thrown away unasked.
        const int answer = CustomMessageBox::MsgBox(
            nullptr, kTip,
            QStringLiteral("采集编号为 %1，清空数据目录将删除之前的采集数据。\n确定清空吗？（取消则保留数据继续采集）").arg(number), 1);
        clear = answer == 1;
    }
    const int coreClass = CameraInfoDataManager::instance()->coreClass();
    StableJob job;
    job.frames = buffer;
    job.stableDir = m_pPage->tree().stableFpaDir();
    job.clear = clear;
    job.diff = diff;
    job.startNumber = number;
    job.coreClass = coreClass;
    job.running = &m_bRunning;
    job.judging = &m_bJudging;

    m_bRunning = true;
    m_bJudging = true;
    m_nNextNumber = number;
    m_pFpa->clear();
    m_pCollections->clear();
    m_pLabStableStatus->clear();
    auto* t = new TempJudgeStableThread(0, m_pPage);
    t->setJob(job);
    connect(t, &TempJudgeStableThread::signalWatched, this, &StableFpaWidget::onWatched, Qt::QueuedConnection);
    connect(t, &TempJudgeStableThread::signalCollected, this, &StableFpaWidget::onCollected, Qt::QueuedConnection);
    connect(t, &TempJudgeStableThread::signalNextNumber, this, &StableFpaWidget::onNextNumber, Qt::QueuedConnection);
    connect(t, &TempJudgeStableThread::signalWarning, this, &StableFpaWidget::onWarning, Qt::QueuedConnection);
    connect(t, &TempJudgeStableThread::signalFailed, this, &StableFpaWidget::onFailed, Qt::QueuedConnection);
    connect(t, &QThread::finished, this, &StableFpaWidget::onWorkerFinished, Qt::QueuedConnection);
    connect(t, &QThread::finished, t, &QObject::deleteLater);
    m_pWorker = t;
    setRunningControls(true);
    t->start(QThread::InheritPriority);
}

void StableFpaWidget::stopRun()
{
    m_bRunning = false;
    m_bJudging = false;
    setRunningControls(false);
}

void StableFpaWidget::onWatched(double dSeconds, double dFpa)
{
    const bool first = m_pFpa->count() == 0;
    if (m_pFpa->count() >= kMaxCurvePoints)
        m_pFpa->remove(0);
    m_pFpa->append(dSeconds, dFpa);
    curvechart::include(m_pAxisX, dSeconds, first);
    curvechart::include(m_pAxisY, dFpa, first);
}

void StableFpaWidget::onCollected(int nNumber, double dFpa, int nMean)
{
    const double t = m_pFpa->count() > 0 ? m_pFpa->at(m_pFpa->count() - 1).x() : 0.0;
    m_pCollections->append(t, dFpa);
    m_pLabStableStatus->setText(QStringLiteral("采集 %1：焦温 %2，均值 %3").arg(nNumber).arg(dFpa).arg(nMean));
}

void StableFpaWidget::onNextNumber(int nNext)
{
    m_nNextNumber = nNext;
    m_pEdtSampingNumVal->setText(QString::number(nNext));
}

void StableFpaWidget::onWarning(QString strText)
{
    CustomMessageBox::MsgBox(nullptr, kTip, strText, 0);
}

void StableFpaWidget::onFailed(QString strText)
{
    stopRun();
    CustomMessageBox::MsgBox(nullptr, kTip, strText, 0);
}

void StableFpaWidget::onWorkerFinished()
{
    m_pWorker = nullptr;
    if (m_pCollections->count() > 0 && !curvechart::savePng(m_pChartView, chartFile()))
        m_pLabStableStatus->setText(QStringLiteral("曲线图 stable.png 保存失败"));
    setRunningControls(m_bRunning);
}
