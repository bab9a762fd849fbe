#include "VideoStatusPanel.h"

#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CameraInfoDataManager.h"
#include "DetectPageWidget.h"
#include "IFrameSource.h"

#include <QGridLayout>
#include <QLabel>
#include <QTimer>

namespace {

const char* const kCaptions[VideoStatusPanel::kValueLabels] = {
    "| FPA: ", "| CAV: ", "| PCB: ", "| TEC:", "| SENS: ", "| HBV: ", "| LBV: ",
    "| BaseL: ", "| Ival: ", "| INX: ", "| TINT: ", "| EOCC: ", "| VIEC: ", "| BVAL: "};

} // namespace

VideoStatusPanel::VideoStatusPanel(QWidget* parent)
    : QWidget(parent)
{
    auto* state = new QGridLayout(this);
    state->setHorizontalSpacing(4);
    state->setVerticalSpacing(2);
    state->setContentsMargins(8, 4, 8, 6);
    m_pLabStream = new QLabel(this);
    m_pLabStream->setObjectName("m_pLabStream");
    m_pLabMean = new QLabel(this);
    m_pLabMean->setObjectName("m_pLabMean");
    state->addWidget(m_pLabStream, 0, 0, 1, 3);
    state->addWidget(new QLabel(QStringLiteral("帧平均像素："), this), 0, 3, 1, 2);
    state->addWidget(m_pLabMean, 0, 5);
    for (int i = 0; i < kValueLabels; ++i) {
        m_pLabValues[i] = new QLabel(this);
        m_pLabValues[i]->setObjectName(QStringLiteral("m_pLabValue%1").arg(i));
        m_pLabValues[i]->setMinimumWidth(52);
        const int row = 1 + i / 3, col = (i % 3) * 2;
        state->addWidget(new QLabel(QString::fromUtf8(kCaptions[i]), this), row, col);
        state->addWidget(m_pLabValues[i], row, col + 1);
    }

    m_pStartDelay = new QTimer(this);
    m_pStartDelay->setSingleShot(true);
    m_pStartDelay->setInterval(50);
    m_pPageTimer = new QTimer(this);
    m_pPageTimer->setInterval(50);
    connect(m_pStartDelay, &QTimer::timeout, m_pPageTimer, qOverload<>(&QTimer::start));
    connect(m_pPageTimer, &QTimer::timeout, this, &VideoStatusPanel::OnPageTimer);
    resetValueLabels();
}

void VideoStatusPanel::setFrameSource(IFrameSource* pFrames)
{
    m_pFrames = pFrames;
    updateStreamState();
}

void VideoStatusPanel::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
    updateStreamState();
}

void VideoStatusPanel::setDetectPage(DetectPageWidget* pDetect)
{
    m_pDetect = pDetect;
}

void VideoStatusPanel::startPageTimer()
{
    m_pPageTimer->stop();
    m_pStartDelay->start();
}

void VideoStatusPanel::stopPageTimer()
{
    m_pStartDelay->stop();
    m_pPageTimer->stop();
    resetValueLabels();
}

bool VideoStatusPanel::isPageTimerActive() const
{
    return m_pPageTimer->isActive();
}

bool VideoStatusPanel::isPageTimerPending() const
{
    return m_pStartDelay->isActive();
}

QString VideoStatusPanel::valueText(int index) const
{
    return index >= 0 && index < kValueLabels ? m_pLabValues[index]->text() : QString();
}

QString VideoStatusPanel::meanText() const
{
    return m_pLabMean->text();
}

void VideoStatusPanel::resetValueLabels()
{
    for (QLabel* lab : m_pLabValues)
        lab->setText("0");
    m_pLabMean->setText("0");
    updateStreamState();
}

void VideoStatusPanel::updateStreamState()
{
    const bool bPlaying = m_pNet && m_pNet->IsPlaying();
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    QString text = bPlaying ? QStringLiteral("取流中：已收到 %1 帧").arg(frames ? frames->FrameCount() : 0)
                            : QStringLiteral("未取流");
    // Chunks the decoder could not keep up with: the picture skipped, nothing else.
    const StreamQueueCounts drops = m_pFrames ? m_pFrames->StreamDropCounts() : StreamQueueCounts();
    if (drops.droppedChunks > 0)
        text += QStringLiteral("（解码跟不上，已丢弃 %1 段 %2 KB）")
                    .arg(drops.droppedChunks)
                    .arg((drops.droppedBytes + 1023) / 1024);
    if (m_pLabStream->text() != text)
        m_pLabStream->setText(text);
}

void VideoStatusPanel::OnPageTimer()
{
    updateStreamState();
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    if (!frames)
        return;
    emit signalFrameTick();
    // The calibration page's mean when it is known (the figure its detection uses);
    // the page's own otherwise.
    double mean = 0;
    if (m_pDetect)
        m_pLabMean->setText(QString::number(m_pDetect->frameMean()));
    else if (frames->ImageMean(&mean))
        m_pLabMean->setText(QString::number(mean, 'f', 2));
    const FrameAddInfo a = CameraInfoDataManager::instance()->frameAddInfo();
    const QString values[kValueLabels] = {
        QString::asprintf("%.2f", double(a.tFPA)), QString::asprintf("%.2f", double(a.tCavity)),
        QString::asprintf("%.2f", double(a.tBoard)), QString::number(int16_t(a.TEC)),
        QString::number(int16_t(a.SENS)), QString::number(int16_t(a.HBV)), QString::number(int16_t(a.LBV)),
        QString::number(int16_t(a.BaseL)), QString::number(int16_t(a.Ival)), QString::number(int16_t(a.INX)),
        QString::number(int16_t(a.TINT)), QString::number(int16_t(a.EOCC)), QString::number(int16_t(a.VIEC)),
        QString::number(int16_t(a.BVAL))};
    for (int i = 0; i < kValueLabels; ++i)
        if (m_pLabValues[i]->text() != values[i])
            m_pLabValues[i]->setText(values[i]);
}
