#pragma once

#include <QString>
#include <QWidget>

class CNetConnect;
class QLabel;
class QTimer;

// Page 2 "检测": calibration workflows of the identified core. Its 50 ms refresh
// timer runs while the stream runs; the main window starts and stops it.
class DetectPageWidget : public QWidget {
    Q_OBJECT
public:
    explicit DetectPageWidget(QWidget* parent = nullptr);
    ~DetectPageWidget() override;

    void setNetConnect(CNetConnect* pNet);
    CNetConnect* netConnect() const { return m_pNet; }
    void setSensorId(const QString& strSensorId);
    QString sensorId() const { return m_strSensorId; }

    // Waits 50 ms, then ticks every 50 ms until stopped; a stop during the wait
    // cancels the start.
    void startPageTimer();
    void stopPageTimer();
    bool isPageTimerActive() const;
    bool isPageTimerPending() const;

signals:
    void signalDriftSamplingStarted();
    void signalDriftSamplingEnd();

public slots:
    void OnPageTimer();

private:
    CNetConnect* m_pNet = nullptr;
    QString m_strSensorId;
    QLabel* m_pLabTitle = nullptr;
    QLabel* m_pLabSensorId = nullptr;
    QTimer* m_pStartDelay = nullptr;
    QTimer* m_pPageTimer = nullptr;
};
