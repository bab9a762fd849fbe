#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class CPixelDetector;
class DetectPageWidget;
class DeviceTaskContext;
class IFrameSource;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class VideoMarkPanel;

// The "坏点表" tab of the video page: detection thresholds and detector choice
// ("工具V20" / "工具V10"), automatic detection into the mark list, the table from the
// marks, reset, send and shutter correction. Each runs on the device runner with the
// whole page disabled; the work itself is in PixelTableTasks.
class VideoPixelToolsPanel : public QWidget {
    Q_OBJECT
public:
    // `pPage` is what the runner disables; `pMarks` holds the mark list and the
    // cursor writer whose pending writes must land first.
    VideoPixelToolsPanel(QWidget* pPage, VideoMarkPanel* pMarks, QWidget* parent = nullptr);
    ~VideoPixelToolsPanel() override;

    void setFrameSource(IFrameSource* pFrames) { m_pFrames = pFrames; }
    void setSensorId(const QString& strSensorId) { m_strSensorId = strSensorId; }
    // The calibration page owns the send when it is known.
    void setDetectPage(DetectPageWidget* pDetect) { m_pDetect = pDetect; }

public slots:
    void On_BtnAutoDetect();
    void On_CreatePixel();
    void On_ReSet();
    void On_BtnSendPixel();
    void On_ShutterCorrect();

private:
    bool readThresholdEdits(int* nHigh, int* nLow);
    bool checkTableTarget();
    bool runPixelTask(const std::function<bool(DeviceTaskContext&)>& task, const std::function<void(bool)>& done);

    QWidget* m_pPage = nullptr;
    VideoMarkPanel* m_pMarks = nullptr;
    IFrameSource* m_pFrames = nullptr;
    DetectPageWidget* m_pDetect = nullptr;
    QString m_strSensorId;

    QLineEdit* m_pEdtHThrd = nullptr;
    QLineEdit* m_pEdtLThrd = nullptr;
    QComboBox* m_pCmbSolution = nullptr;
    QPushButton* m_pBtnAutoDetect = nullptr;
    QPushButton* m_pBtnCreatePixel = nullptr;
    QPushButton* m_pBtnReSet = nullptr;
    QPushButton* m_pBtnSendPixel = nullptr;
    QPushButton* m_pBtnShutterCorrect = nullptr;
    QProgressBar* m_pPrgPixel = nullptr;
    std::unique_ptr<CPixelDetector> m_pDetector; // created on first use
};
