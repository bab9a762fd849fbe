#pragma once

#include <QPoint>
#include <QString>
#include <QVector>
#include <QWidget>

class CCursorWriter;
class CNetConnect;
class DetectPageWidget;
class IFrameSource;
class QSignPixelWidget;
class QTabWidget;
class VideoDisplayPanel;
class VideoMarkPanel;
class VideoPixelToolsPanel;
class VideoRecordPanel;
class VideoStatusPanel;

// Page 3 "标定": the live picture of a networked camera with its AGC, the sampling
// rectangles and the status panel; manual bad-pixel marking on the picture and the
// core's own crosshair with the 5 x 5 neighbourhood of its cursor; the bad-pixel
// table tools (automatic detection, table from the marks, reset, send, shutter
// correction), which run on the device runner with the page disabled. The main window
// hands it the sensor ID, the calibration page, the frame source and the link whose
// stream it shows. The page only places its panels and passes these on.
class VideoPageWidget : public QWidget {
    Q_OBJECT
public:
    static constexpr int kValueLabels = 14;

    explicit VideoPageWidget(QWidget* parent = nullptr);
    ~VideoPageWidget() override;

    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }
    void setDetectPage(DetectPageWidget* pDetect);
    DetectPageWidget* detectPage() const { return m_pDetect; }
    // Where the picture, the marks' grey values and the cursor grid come from (null:
    // no stream).
    void setFrameSource(IFrameSource* pFrames);
    IFrameSource* frameSource() const { return m_pFrames; }
    // The link whose stream the page shows and stops (null: no stream); the link is
    // also the page's frame source.
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }

    // Waits 50 ms, then ticks every 50 ms. Stopping also resets the value labels.
    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

    // Stops the network link's stream; the link stays logged in.
    void stopStream();

    // For tests and the screenshot.
    QSignPixelWidget* pictureSurface() const;
    QVector<QPoint> marks() const;
    QString valueText(int index) const; // status values in caption order
    QString meanText() const;
    QString gridText(int cell) const;
    QString gridStyle(int cell) const;
    bool gridVisible() const;
    CCursorWriter* cursorWriter() const;
    VideoRecordPanel* recordPanel() const { return m_pRecord; }

public slots:
    void OnPageTimer();
    void OnChangeAGCMode(int nIndex);
    void On_ModifyRect();
    void On_HRectHMove(int nValue);
    void On_HRectVMove(int nValue);
    void On_LRectHMove(int nValue);
    void On_LRectVMove(int nValue);
    void On_PixelSwitch(int nState);
    void On_SignPixel();
    void On_BtnToCrossShairs(QPoint pt);
    void On_KeyToCrossShairs(QPoint pt);
    void On_BtnLoadCross();
    void On_BtnDisCross();
    void On_ChangeEnlargeTimes(int nIndex);
    void On_Revoke();
    void On_BtnAutoDetect();
    void On_CreatePixel();
    void On_ReSet();
    void On_BtnSendPixel();
    void On_ShutterCorrect();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void onFrameTick();

    QString m_strSensorId;
    DetectPageWidget* m_pDetect = nullptr;
    IFrameSource* m_pFrames = nullptr;
    CNetConnect* m_pNet = nullptr;

    VideoDisplayPanel* m_pDisplay = nullptr;
    VideoStatusPanel* m_pStatus = nullptr;
    VideoMarkPanel* m_pMark = nullptr;
    VideoPixelToolsPanel* m_pPixelTools = nullptr;
    VideoRecordPanel* m_pRecord = nullptr;
    QTabWidget* m_pTabTools = nullptr;
};
