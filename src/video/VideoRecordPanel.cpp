#include "VideoRecordPanel.h"

#include "CFindFrame.h"
#include "CFrameRecorder.h"
#include "CPageTransferContext.h"
#include "CalibrationTree.h"
#include "CustomMessageBox.h"
#include "DeviceRunner.h"
#include "IFrameSource.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <memory>

namespace {

void info(const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"), text, 0);
}

} // namespace

VideoRecordPanel::VideoRecordPanel(QWidget* parent)
    : QWidget(parent)
    , m_pRecorder(new CFrameRecorder(this))
{
    m_pBtnCreateOneFrame = new QPushButton(QStringLiteral("生成一帧"), this);
    m_pBtnCreateOneFrame->setObjectName("m_pBtnCreateOneFrame");
    m_pBtnVedioRecord = new QPushButton(QStringLiteral("录制视频"), this);
    m_pBtnVedioRecord->setObjectName("m_pBtnVedioRecord");
    m_pBtnVedioRecord->setCheckable(true);
    m_pEdtSampFreq = new QLineEdit(this);
    m_pEdtSampFreq->setObjectName("m_pEdtSampFreq");
    m_pEdtSampFreq->setValidator(new QIntValidator(CFrameRecorder::kMinIntervalMs, CFrameRecorder::kMaxIntervalMs, this));
    m_pEdtSampFreq->setMaximumWidth(90);
    int nFreq = 0;
    m_pEdtSampFreq->setText(SettingsStore::readSampFreq(&nFreq) && nFreq > 0 ? QString::number(nFreq)
                                                                           : QStringLiteral("1000"));
    m_pLabRecordState = new QLabel(this);
    m_pLabRecordState->setObjectName("m_pLabRecordState");
    m_pLabRecordState->setWordWrap(true);
    // Long file names wrap instead of widening the page.
    m_pLabRecordState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pLabRecordState->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 6, 8, 6);
    grid->setHorizontalSpacing(8);
    grid->addWidget(m_pBtnCreateOneFrame, 0, 0);
    grid->addWidget(m_pBtnVedioRecord, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("采样间隔："), this), 0, 2, Qt::AlignRight);
    grid->addWidget(m_pEdtSampFreq, 0, 3);
    grid->addWidget(new QLabel(QStringLiteral("ms"), this), 0, 4);
    grid->addWidget(m_pLabRecordState, 1, 0, 1, 6);
    grid->setColumnStretch(5, 1);
    grid->setRowStretch(2, 1);

    m_pStateTimer = new QTimer(this);
    m_pStateTimer->setInterval(500);
    connect(m_pStateTimer, &QTimer::timeout, this, &VideoRecordPanel::refreshState);
    connect(m_pBtnCreateOneFrame, &QPushButton::clicked, this, &VideoRecordPanel::On_BtnCreateOneFrame);
    connect(m_pBtnVedioRecord, &QPushButton::clicked, this, &VideoRecordPanel::On_BtnVedioRecord);
    connect(m_pRecorder, &CFrameRecorder::signalStopped, this, &VideoRecordPanel::onStopped);
}

VideoRecordPanel::~VideoRecordPanel()
{
    // Closed here, before the frame buffer it reads may go.
    m_pRecorder->disconnect(this);
    m_pRecorder->stop();
}

void VideoRecordPanel::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
}

void VideoRecordPanel::setFrameSource(IFrameSource* pFrames)
{
    if (pFrames != m_pFrames)
        streamStopped();
    m_pFrames = pFrames;
}

void VideoRecordPanel::streamStopped()
{
    if (!m_pRecorder->isRecording())
        return;
    const QString strReason = QStringLiteral("视频流已停止,录制结束。\n已录制 %1 帧:\n%2")
                                  .arg(m_pRecorder->framesWritten())
                                  .arg(QDir::toNativeSeparators(m_pRecorder->rawPath()));
    m_pRecorder->stop();
    info(strReason);
}

QString VideoRecordPanel::stateText() const
{
    return m_pLabRecordState->text();
}

QString VideoRecordPanel::occDir() const
{
    return CalibrationTree(m_strSensorId).occDir();
}

void VideoRecordPanel::On_BtnCreateOneFrame()
{
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames)
        return;
    const QString dir = occDir();
    auto path = std::make_shared<QString>();
    QPointer<VideoRecordPanel> self(this);
    const bool started = DeviceRunner::instance()->run(
        this, nullptr,
        [frames, dir, path](DeviceTaskContext& task) {
            CPageTransferContext ctx(task);
            QString why;
            if (saveOneFrame(frames, dir, path.get(), &why))
                return true;
            ctx.message(QStringLiteral("提示"), why);
            return false;
        },
        [self, path](bool ok) {
            if (!self || !ok)
                return;
            self->m_pLabRecordState->setText(QStringLiteral("已保存: %1").arg(QDir::toNativeSeparators(*path)));
            info(QStringLiteral("成功生成一帧"));
        });
    if (!started)
        info(QStringLiteral("设备正忙,请等待当前操作完成后再试!"));
}

void VideoRecordPanel::On_BtnVedioRecord(bool bChecked)
{
    bool ok = false;
    const int nInterval = m_pEdtSampFreq->text().trimmed().toInt(&ok, 10);
    if (!bChecked) {
        m_pRecorder->stop();
        return;
    }
    if (!ok || nInterval < CFrameRecorder::kMinIntervalMs || nInterval > CFrameRecorder::kMaxIntervalMs) {
        showRecording(false);
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"),
                                 QStringLiteral("采样间隔必须是%1~%2之间的整数(毫秒)!")
                                     .arg(CFrameRecorder::kMinIntervalMs)
                                     .arg(CFrameRecorder::kMaxIntervalMs),
                                 0);
        return;
    }
    SettingsStore::writeSampFreq(nInterval);
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    QString why;
    if (!m_pRecorder->start(frames, occDir(), nInterval, &why)) {
        showRecording(false);
        info(why);
        return;
    }
    m_clock.start();
    showRecording(true);
    refreshState();
}

void VideoRecordPanel::showRecording(bool bOn)
{
    m_pBtnVedioRecord->setChecked(bOn);
    m_pBtnVedioRecord->setText(bOn ? QStringLiteral("录制中") : QStringLiteral("录制视频"));
    QFont font = m_pBtnVedioRecord->font();
    font.setFamily(QStringLiteral("微软雅黑"));
    m_pBtnVedioRecord->setFont(font);
    m_pEdtSampFreq->setEnabled(!bOn);
    if (bOn)
        m_pStateTimer->start();
    else
        m_pStateTimer->stop();
}

void VideoRecordPanel::onStopped(const QString& strReason)
{
    const int nFrames = m_pRecorder->framesWritten();
    const QString strRaw = QDir::toNativeSeparators(m_pRecorder->rawPath());
    showRecording(false);
    m_pLabRecordState->setText(QStringLiteral("录制结束: %1 帧, %2").arg(nFrames).arg(strRaw));
    if (!strReason.isEmpty())
        info(strReason);
}

void VideoRecordPanel::refreshState()
{
    if (!m_pRecorder->isRecording())
        return;
    const qint64 s = m_clock.elapsed() / 1000;
    // The last log line as the file has it: tFPA, EOCC, VIEC, TINT, BVAL, BaseL, mean.
    const QString strLine = QString::fromLatin1(m_pRecorder->lastLogLine()).trimmed().replace(QLatin1Char('\t'), "  ");
    m_pLabRecordState->setText(QStringLiteral("录制中 %1:%2, %3 帧 (%4x%5), %6\nFPA EOCC VIEC TINT BVAL BaseL 均值: %7")
                                   .arg(s / 60)
                                   .arg(s % 60, 2, 10, QLatin1Char('0'))
                                   .arg(m_pRecorder->framesWritten())
                                   .arg(m_pRecorder->geometry().width())
                                   .arg(m_pRecorder->geometry().height())
                                   .arg(QFileInfo(m_pRecorder->rawPath()).fileName())
                                   .arg(strLine));
}
