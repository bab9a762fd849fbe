#include "VideoPageWidget.h"

#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CameraInfoDataManager.h"
#include "IFrameSource.h"
#include "QSignPixelWidget.h"
#include "VideoDisplayPanel.h"
#include "VideoMarkPanel.h"
#include "VideoPixelToolsPanel.h"
#include "VideoRecordPanel.h"
#include "VideoStatusPanel.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QScrollArea>
#include <QTabWidget>

static_assert(VideoPageWidget::kValueLabels == VideoStatusPanel::kValueLabels, "one status panel");

VideoPageWidget::VideoPageWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName("VideoPageWidget");
    m_pDisplay = new VideoDisplayPanel(this);

    // Status panel and the bad-pixel table tools share one place below the picture;
    // the page has no room for both at once at the window's 800 x 600.
    m_pTabTools = new QTabWidget(this);
    m_pTabTools->setObjectName("m_pTabTools");
    m_pTabTools->setDocumentMode(true);
    m_pStatus = new VideoStatusPanel(m_pTabTools);
    m_pMark = new VideoMarkPanel(m_pDisplay->surface(), this);
    m_pPixelTools = new VideoPixelToolsPanel(this, m_pMark, m_pTabTools);
    m_pTabTools->addTab(m_pStatus, QStringLiteral("状态"));
    m_pTabTools->addTab(m_pPixelTools, QStringLiteral("坏点表"));
    m_pRecord = new VideoRecordPanel(m_pTabTools);
    m_pTabTools->addTab(m_pRecord, QStringLiteral("录制"));

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);
    layout->addWidget(m_pDisplay->pictureArea(), 0, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(m_pDisplay, 0, 1);
    layout->addWidget(m_pTabTools, 1, 0, Qt::AlignTop);
    layout->addWidget(m_pMark, 1, 1);
    layout->setColumnStretch(1, 1);
    layout->setRowStretch(1, 1);

    connect(m_pStatus, &VideoStatusPanel::signalFrameTick, this, &VideoPageWidget::onFrameTick);
}

VideoPageWidget::~VideoPageWidget() = default;

void VideoPageWidget::setSensorId(const QString& strSensorId)
{
    m_strSensorId = strSensorId;
    m_pPixelTools->setSensorId(strSensorId);
    m_pRecord->setSensorId(strSensorId);
}

void VideoPageWidget::setDetectPage(DetectPageWidget* pDetect)
{
    m_pDetect = pDetect;
    m_pStatus->setDetectPage(pDetect);
    m_pPixelTools->setDetectPage(pDetect);
}

void VideoPageWidget::setFrameSource(IFrameSource* pFrames)
{
    m_pFrames = pFrames;
    m_pDisplay->setFrameSource(pFrames);
    m_pMark->setFrameSource(pFrames);
    m_pPixelTools->setFrameSource(pFrames);
    m_pStatus->setFrameSource(pFrames);
    m_pRecord->setFrameSource(pFrames);
}

void VideoPageWidget::setNetConnect(CNetConnect* pNet)
{
    m_pNet = pNet;
    m_pStatus->setNetConnect(pNet);
    setFrameSource(pNet);
}

void VideoPageWidget::startPageTimer()
{
    m_pStatus->startPageTimer();
}

void VideoPageWidget::stopPageTimer()
{
    m_pRecord->streamStopped();
    m_pStatus->stopPageTimer();
}

bool VideoPageWidget::isPageTimerActive() const
{
    return m_pStatus->isPageTimerActive();
}

bool VideoPageWidget::isPageTimerPending() const
{
    return m_pStatus->isPageTimerPending();
}

void VideoPageWidget::stopStream()
{
    if (m_pNet)
        m_pNet->StopStream();
    m_pStatus->updateStreamState();
}

QSignPixelWidget* VideoPageWidget::pictureSurface() const { return m_pDisplay->surface(); }
QVector<QPoint> VideoPageWidget::marks() const { return m_pMark->marks(); }
QString VideoPageWidget::valueText(int index) const { return m_pStatus->valueText(index); }
QString VideoPageWidget::meanText() const { return m_pStatus->meanText(); }
QString VideoPageWidget::gridText(int cell) const { return m_pMark->gridText(cell); }
QString VideoPageWidget::gridStyle(int cell) const { return m_pMark->gridStyle(cell); }
bool VideoPageWidget::gridVisible() const { return m_pMark->gridVisible(); }
CCursorWriter* VideoPageWidget::cursorWriter() const { return m_pMark->cursorWriter(); }

void VideoPageWidget::onFrameTick()
{
    CFindFrame* frames = m_pFrames ? m_pFrames->FrameBuffer() : nullptr;
    QSize bounds = CameraInfoDataManager::instance()->frameSize();
    if (bounds.isEmpty() && frames && frames->HasFrame())
        bounds = frames->FrameSize() + QSize(0, 2);
    m_pDisplay->surface()->setFrameBounds(bounds);
    m_pMark->refreshCross();
}

void VideoPageWidget::OnPageTimer() { m_pStatus->OnPageTimer(); }
void VideoPageWidget::OnChangeAGCMode(int nIndex) { m_pDisplay->OnChangeAGCMode(nIndex); }
void VideoPageWidget::On_ModifyRect() { m_pDisplay->On_ModifyRect(); }
void VideoPageWidget::On_HRectHMove(int nValue) { m_pDisplay->On_HRectHMove(nValue); }
void VideoPageWidget::On_HRectVMove(int nValue) { m_pDisplay->On_HRectVMove(nValue); }
void VideoPageWidget::On_LRectHMove(int nValue) { m_pDisplay->On_LRectHMove(nValue); }
void VideoPageWidget::On_LRectVMove(int nValue) { m_pDisplay->On_LRectVMove(nValue); }
void VideoPageWidget::On_PixelSwitch(int nState) { m_pMark->On_PixelSwitch(nState); }
void VideoPageWidget::On_SignPixel() { m_pMark->On_SignPixel(); }
void VideoPageWidget::On_BtnToCrossShairs(QPoint pt) { m_pMark->On_BtnToCrossShairs(pt); }
void VideoPageWidget::On_KeyToCrossShairs(QPoint pt) { m_pMark->On_KeyToCrossShairs(pt); }
void VideoPageWidget::On_BtnLoadCross() { m_pMark->On_BtnLoadCross(); }
void VideoPageWidget::On_BtnDisCross() { m_pMark->On_BtnDisCross(); }
void VideoPageWidget::On_ChangeEnlargeTimes(int nIndex) { m_pMark->On_ChangeEnlargeTimes(nIndex); }
void VideoPageWidget::On_Revoke() { m_pMark->On_Revoke(); }
void VideoPageWidget::On_BtnAutoDetect() { m_pPixelTools->On_BtnAutoDetect(); }
void VideoPageWidget::On_CreatePixel() { m_pPixelTools->On_CreatePixel(); }
void VideoPageWidget::On_ReSet() { m_pPixelTools->On_ReSet(); }
void VideoPageWidget::On_BtnSendPixel() { m_pPixelTools->On_BtnSendPixel(); }
void VideoPageWidget::On_ShutterCorrect() { m_pPixelTools->On_ShutterCorrect(); }

void VideoPageWidget::keyPressEvent(QKeyEvent* event)
{
    // The cursor keys also work with the focus on the page around the picture.
    if (!m_pMark->handleKey(event))
        QWidget::keyPressEvent(event);
}
