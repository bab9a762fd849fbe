#pragma once

#include <QString>
#include <QWidget>

class CNetConnect;
class DetectPageWidget;
class QLabel;
class QTimer;

// Page 3 "标定": the live picture of a networked camera. The main window hands it the
// sensor ID, the calibration page and, when the stream starts, the network link.
class VideoPageWidget : public QWidget {
    Q_OBJECT
public:
    explicit VideoPageWidget(QWidget* parent = nullptr);
    ~VideoPageWidget() override;

    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }
    void setDetectPage(DetectPageWidget* pDetect);
    DetectPageWidget* detectPage() const { return m_pDetect; }
    // The link whose stream the page shows (null: no stream).
    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }

    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

    // Stops the network link's stream; the link stays logged in.
    void stopStream();

public slots:
    void OnPageTimer();

private:
    void updateInfo();

    QString m_strSensorId;
    DetectPageWidget* m_pDetect = nullptr;
    CNetConnect* m_pNet = nullptr;
    QLabel* m_pLabTitle = nullptr;
    QLabel* m_pLabSensorId = nullptr;
    QLabel* m_pLabStream = nullptr;
    QTimer* m_pStartDelay = nullptr;
    QTimer* m_pPageTimer = nullptr;
};
