#pragma once

#include "CModuleInfoDecoder.h"
#include "CameraInfoDataManager.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <atomic>

// Identification data of CameraInfoDataManager; guarded by its m_infoLock except the
// frame status record (m_frameLock) and the running flag (atomic).
struct CameraInfoDataManager::Data {
    ModuleFields fields;
    QString serialNumber;
    QString sensorId;
    QStringList versions = CModuleInfoDecoder::defaultVersions();

    QString ip;
    QString user;
    QString password;
    int port = 0;
    int deviceForm = 0;

    bool identified = false;
    int readError = 0;
    QString readErrorText; // what did not answer, for the operator
    unsigned char raw[CModuleInfoDecoder::kRawModuleBytes] = {0, 0, 0, 0, 0};

    // Bumped when the core is forgotten: results of an identification that was
    // running at that moment belong to the old core and are dropped.
    quint64 generation = 0;

    FrameAddInfo frame;
    QDateTime identifyStarted; // UTC, for the history

    // One threaded identification per core at a time (under m_infoLock). An
    // identification of a forgotten core may still be finishing while the next core's
    // starts: only the one of runningGeneration clears the flag and signals the end.
    bool running = false;
    quint64 runningGeneration = 0;

    // Back to the defaults, keeping connection values, raw bytes and frame record.
    void resetIdentification()
    {
        fields = ModuleFields();
        serialNumber.clear();
        sensorId.clear();
        versions = CModuleInfoDecoder::defaultVersions();
        identified = false;
        readError = 0;
        readErrorText.clear();
    }
};
