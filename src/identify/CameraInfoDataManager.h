#pragma once

#include "FrameAddInfo.h"

#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

// The process-wide identification of the connected core. Every page reads the sensor
// ID, sensor type code, core class and frame size from here. Identification data and
// the frame status record have a mutex each.
class CameraInfoDataManager : public QObject {
    Q_OBJECT
public:
    static CameraInfoDataManager* instance();

    bool isIdentified() const;
    QSize frameSize() const;         // from the resolution index; 0 x 0 when unknown
    int resolutionIndex() const;
    QString sensorId() const;        // as read from the core (display)
    QString safeSensorId() const;    // sanitised: use this for folder and file names
    QString serialNumber() const;
    QString safeSerialNumber() const;
    QString moduleInfo() const;
    int sensorTypeCode() const;
    int coreClass() const;
    bool isCoreClass3or4() const;
    bool isCoreClass1or2() const;
    float frameRate() const;
    int frameRateVariant() const;
    int coreFamily() const;
    int outputType() const;
    QStringList versions() const;    // six texts
    // Nonzero when the last identification stopped at a read the core did not answer;
    // the text names it.
    int readError() const;
    QString readErrorText() const;
    int deviceForm() const;

    FrameAddInfo frameAddInfo() const;
    void setFrameAddInfo(const FrameAddInfo& info);

    void setConnectionValues(const QString& ip, const QString& user, const QString& password, int port);
    // Network dialog index: 1, 2 and 3 pass unchanged, anything else becomes 0.
    void setDeviceForm(int index);

    // Runs both identification stages synchronously on the calling thread (the worker
    // thread and the CLI use it). Emits the same signals as the threaded path.
    void identifyNow();

signals:
    void signalConnectPostEventFinish();
    void signalSetShowInfo();
    void signalInteractRunning(bool bRunning);

public slots:
    void onConnectCameraInfoManagerPostEvent();
    void onDisconnectCameraInfoManagerPostEvent();

private:
    CameraInfoDataManager();
    struct Data;
    Data* d;
    mutable QMutex m_infoLock;
    mutable QMutex m_frameLock;
    friend class MovementInteractThread;
};
