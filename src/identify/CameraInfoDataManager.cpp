#include "CameraInfoDataManager.h"
#include "HistoryRecorder.h"

#include "CComonFun.h"
#include "CameraInfoDataManager_p.h"
#include "MovementInteractThread.h"

#include <QAtomicPointer>
#include <QCoreApplication>
#include <QMutexLocker>

namespace {
QAtomicPointer<CameraInfoDataManager> g_instance;
QMutex g_instanceLock;
} // namespace

CameraInfoDataManager* CameraInfoDataManager::instance()
{
    CameraInfoDataManager* p = g_instance.loadAcquire();
    if (!p) {
        QMutexLocker lock(&g_instanceLock);
        p = g_instance.loadAcquire();
        if (!p) {
            p = new CameraInfoDataManager; // lives until the program ends
            // Signals and slots belong to the main thread whoever asked first.
            if (QCoreApplication::instance())
                p->moveToThread(QCoreApplication::instance()->thread());
            g_instance.storeRelease(p);
        }
    }
    return p;
}

CameraInfoDataManager::CameraInfoDataManager()
    : QObject(nullptr)
    , d(new Data)
{
}

bool CameraInfoDataManager::isIdentified() const
{
    QMutexLocker lock(&m_infoLock);
    return d->identified;
}

QSize CameraInfoDataManager::frameSize() const
{
    QMutexLocker lock(&m_infoLock);
    return CModuleInfoDecoder::frameSizeOf(d->fields.resolutionIndex);
}

int CameraInfoDataManager::resolutionIndex() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.resolutionIndex;
}

QString CameraInfoDataManager::sensorId() const
{
    QMutexLocker lock(&m_infoLock);
    return d->sensorId;
}

QString CameraInfoDataManager::safeSensorId() const
{
    return CComonFun::sanitizeName(sensorId());
}

QString CameraInfoDataManager::serialNumber() const
{
    QMutexLocker lock(&m_infoLock);
    return d->serialNumber;
}

QString CameraInfoDataManager::safeSerialNumber() const
{
    return CComonFun::sanitizeName(serialNumber());
}

QString CameraInfoDataManager::moduleInfo() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.moduleInfo;
}

int CameraInfoDataManager::sensorTypeCode() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.sensorTypeCode;
}

int CameraInfoDataManager::coreClass() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.coreClass;
}

bool CameraInfoDataManager::isCoreClass3or4() const
{
    return CModuleInfoDecoder::isClass3or4(coreClass());
}

bool CameraInfoDataManager::isCoreClass1or2() const
{
    return CModuleInfoDecoder::isClass1or2(coreClass());
}

float CameraInfoDataManager::frameRate() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.frameRate;
}

int CameraInfoDataManager::frameRateVariant() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.frameRateVariant;
}

int CameraInfoDataManager::coreFamily() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.coreFamily;
}

int CameraInfoDataManager::outputType() const
{
    QMutexLocker lock(&m_infoLock);
    return d->fields.outputType;
}

QStringList CameraInfoDataManager::versions() const
{
    QMutexLocker lock(&m_infoLock);
    return d->versions;
}

int CameraInfoDataManager::readError() const
{
    QMutexLocker lock(&m_infoLock);
    return d->readError;
}

QString CameraInfoDataManager::readErrorText() const
{
    QMutexLocker lock(&m_infoLock);
    return d->readErrorText;
}

int CameraInfoDataManager::deviceForm() const
{
    QMutexLocker lock(&m_infoLock);
    return d->deviceForm;
}

FrameAddInfo CameraInfoDataManager::frameAddInfo() const
{
    QMutexLocker lock(&m_frameLock);
    return d->frame;
}

void CameraInfoDataManager::setFrameAddInfo(const FrameAddInfo& info)
{
    QMutexLocker lock(&m_frameLock);
    d->frame = info;
}

void CameraInfoDataManager::setConnectionValues(const QString& ip, const QString& user, const QString& password,
                                                int port)
{
    QMutexLocker lock(&m_infoLock);
    d->ip = ip;
    d->user = user;
    d->password = password;
    d->port = port;
    // The history names the camera each event went through.
    HistoryRecorder::instance()->setLink(QStringLiteral("%1:%2").arg(ip).arg(port));
}

void CameraInfoDataManager::setDeviceForm(int index)
{
    QMutexLocker lock(&m_infoLock);
    d->deviceForm = (index >= 1 && index <= 3) ? index : 0;
}

void CameraInfoDataManager::identifyNow()
{
    {
        QMutexLocker lock(&m_infoLock);
        d->running = true;
        d->runningGeneration = d->generation;
    }
    emit signalInteractRunning(true);
    const quint64 gen = MovementInteractThread::stageOne(this);
    MovementInteractThread::stageTwo(this, gen); // clears the running flag and signals the end
}

void CameraInfoDataManager::onConnectCameraInfoManagerPostEvent()
{
    {
        QMutexLocker lock(&m_infoLock);
        // The identification already running for this core will signal its end; one
        // still running for a forgotten core does not count.
        if (d->running && d->runningGeneration == d->generation)
            return;
        d->running = true;
        d->runningGeneration = d->generation;
    }
    emit signalInteractRunning(true);
    auto* thread = new MovementInteractThread(this);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}

void CameraInfoDataManager::onDisconnectCameraInfoManagerPostEvent()
{
    QMutexLocker lock(&m_infoLock);
    ++d->generation;
    d->resetIdentification();
    HistoryRecorder::instance()->clearCore();
}
