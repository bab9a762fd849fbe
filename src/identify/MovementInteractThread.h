#pragma once

#include <QThread>

class CameraInfoDataManager;

// Identifies the connected core. run() does the first stage (module information and
// sensor ID), signals its end and hands the second stage (versions and serial number)
// to the global thread pool. The stages are also called synchronously by
// CameraInfoDataManager::identifyNow().
class MovementInteractThread : public QThread {
    Q_OBJECT
public:
    explicit MovementInteractThread(CameraInfoDataManager* pManager, QObject* parent = nullptr);

    // The first stage returns the generation of the core it identified; the second
    // stage drops its results when that core was forgotten in the meantime.
    static quint64 stageOne(CameraInfoDataManager* pManager);
    static void stageTwo(CameraInfoDataManager* pManager, quint64 nGeneration);

protected:
    void run() override;

private:
    static void readModuleInfo(CameraInfoDataManager* pManager, quint64 nGeneration, int nForm);
    static void readSensorId(CameraInfoDataManager* pManager, quint64 nGeneration, int nSensorType);
    static void recordIdentification(CameraInfoDataManager* pManager, quint64 nGeneration);
    static void finishStageTwo(CameraInfoDataManager* pManager, quint64 nGeneration);

    CameraInfoDataManager* m_pManager;
};
