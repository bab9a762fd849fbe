#pragma once

#include <QWidget>

class CNetConnect;
class DetectPageWidget;
class IFrameSource;
class QLabel;
class QTimer;

// The "状态" tab of the video page: the stream state, the frame mean ("帧平均像素")
// and the 14 housekeeping values of the newest frame, refreshed by the page's 50 ms
// timer. Each tick with a frame buffer is announced to the rest of the page.
class VideoStatusPanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kValueLabels = 14;

    explicit VideoStatusPanel(QWidget* parent = nullptr);

    void setFrameSource(IFrameSource* pFrames);
    // Only asked whether the stream plays.
    void setNetConnect(CNetConnect* pNet);
    // Its mean is shown when known: the figure its detection uses.
    void setDetectPage(DetectPageWidget* pDetect);

    // Waits 50 ms, then ticks every 50 ms. Stopping also resets the value labels.
    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

    QString valueText(int index) const;
    QString meanText() const;
    void updateStreamState();

signals:
    // A tick that found a frame buffer, before the values are read.
    void signalFrameTick();

public slots:
    void OnPageTimer();

private:
    void resetValueLabels();

    IFrameSource* m_pFrames = nullptr;
    CNetConnect* m_pNet = nullptr;
    DetectPageWidget* m_pDetect = nullptr;
    QTimer* m_pStartDelay = nullptr;
    QTimer* m_pPageTimer = nullptr;
    QLabel* m_pLabStream = nullptr;
    QLabel* m_pLabMean = nullptr;
    QLabel* m_pLabValues[kValueLabels] = {};
};
