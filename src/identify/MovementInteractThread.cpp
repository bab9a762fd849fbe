#include "MovementInteractThread.h"

#include "CameraInfoDataManager.h"
#include "CameraInfoDataManager_p.h"
#include "DataExchange.h"
#include "Pace.h"

#include <QMutexLocker>
#include <QThreadPool>

#include <cstring>

namespace {

constexpr int kSensorIdHighReg = 0xF0E3;
constexpr int kSensorIdLowReg = 0xF0E4;
constexpr int kSoftwareVerReg = 0xF031;
constexpr int kSoftwareDateReg = 0xF032;
constexpr int kFpgaVerReg = 0xF033;
constexpr int kFpgaDateReg = 0xF034;
constexpr int kProcessDateShort = 14;
constexpr int kHardwareDateShort = 15;
constexpr int kSerialShort = 132;
constexpr int kRawSerialMax = 32;
constexpr int kLongReplyBytes = 259;
constexpr int kRawSensorIdMax = 64;
constexpr int kSensorTypeRawText = 5; // answers sensor ID and serial number as bytes
constexpr double kReadPauseMs = 20.0;
constexpr double kStageTwoDelayMs = 1000.0;

// A read counts only when it was sent and the core answered: a silent core must not
// turn into an ID of zeros.
bool readWord(DataExchange* dx, int addr, unsigned* value)
{
    const bool ok = dx->readRegister(addr, value) && dx->lastReplyReceived();
    Pace::sleepMs(kReadPauseMs);
    return ok;
}

} // namespace

MovementInteractThread::MovementInteractThread(CameraInfoDataManager* pManager, QObject* parent)
    : QThread(parent)
    , m_pManager(pManager)
{
}

void MovementInteractThread::run()
{
    const quint64 gen = stageOne(m_pManager);
    CameraInfoDataManager* mgr = m_pManager;
    QThreadPool::globalInstance()->start([mgr, gen] { stageTwo(mgr, gen); });
}

quint64 MovementInteractThread::stageOne(CameraInfoDataManager* pManager)
{
    quint64 gen;
    int form;
    {
        QMutexLocker lock(&pManager->m_infoLock);
        pManager->d->identified = true;
        gen = pManager->d->generation;
        form = pManager->d->deviceForm;
    }
    readModuleInfo(pManager, gen, form);
    int sensorType;
    {
        QMutexLocker lock(&pManager->m_infoLock);
        sensorType = pManager->d->fields.sensorTypeCode;
    }
    readSensorId(pManager, gen, sensorType);
    emit pManager->signalConnectPostEventFinish();
    return gen;
}

void MovementInteractThread::readModuleInfo(CameraInfoDataManager* pManager, quint64 nGeneration, int nForm)
{
    {
        QMutexLocker lock(&pManager->m_infoLock);
        std::memset(pManager->d->raw, 0, sizeof pManager->d->raw);
    }
    const int reg = CModuleInfoDecoder::moduleRegister(nForm);
    if (reg < 0)
        return; // this device form carries no module block
    DataExchange* dx = DataExchange::instance();
    char reply[kLongReplyBytes];
    std::memset(reply, 0, sizeof reply);
    const bool ok = dx->readShortRegisterLong(reg, reply, kLongReplyBytes) && dx->lastReplyReceived();
    Pace::sleepMs(kReadPauseMs);
    if (!ok)
        return; // keep what an earlier read decoded

    unsigned char raw[CModuleInfoDecoder::kRawModuleBytes] = {0, 0, 0, 0, 0};
    // Bytes this form does not use stay 0 for the core-class rules.
    std::memcpy(raw, reply, size_t(CModuleInfoDecoder::moduleByteCount(nForm)));
    QMutexLocker lock(&pManager->m_infoLock);
    if (pManager->d->generation != nGeneration)
        return;
    std::memcpy(pManager->d->raw, raw, sizeof raw);
    CModuleInfoDecoder::decodeModule(raw, nForm, &pManager->d->fields);
}

void MovementInteractThread::readSensorId(CameraInfoDataManager* pManager, quint64 nGeneration, int nSensorType)
{
    DataExchange* dx = DataExchange::instance();
    QString text;
    bool ok;
    if (nSensorType == kSensorTypeRawText) {
        char buf[kRawSensorIdMax];
        int len = 0;
        ok = dx->readRegisterBytes(kSensorIdHighReg, buf, int(sizeof buf), &len) && dx->lastReplyReceived();
        Pace::sleepMs(kReadPauseMs);
        if (ok)
            text = CModuleInfoDecoder::textFromBytes(buf, len);
    } else {
        unsigned high = 0, low = 0;
        ok = readWord(dx, kSensorIdHighReg, &high) && readWord(dx, kSensorIdLowReg, &low);
        if (ok)
            text = CModuleInfoDecoder::sensorIdFromWords(high, low, nSensorType);
    }
    QMutexLocker lock(&pManager->m_infoLock);
    if (pManager->d->generation != nGeneration)
        return;
    if (!ok) {
        pManager->d->readError = 0x10001;
        return;
    }
    pManager->d->sensorId = text;
}

void MovementInteractThread::stageTwo(CameraInfoDataManager* pManager, quint64 nGeneration)
{
    Pace::sleepMs(kStageTwoDelayMs);
    int sensorType;
    {
        QMutexLocker lock(&pManager->m_infoLock);
        if (pManager->d->generation != nGeneration) {
            // Forgotten already: nothing to ask the (possibly closed) link.
            lock.unlock();
            finishStageTwo(pManager, nGeneration);
            return;
        }
        sensorType = pManager->d->fields.sensorTypeCode;
    }
    DataExchange* dx = DataExchange::instance();
    auto pause = [] { Pace::sleepMs(kReadPauseMs); };

    // A version that does not answer shows as zero ("0.0.0", "0").
    unsigned v[6] = {0, 0, 0, 0, 0, 0};
    dx->readRegister(kSoftwareVerReg, &v[0]);
    pause();
    dx->readRegister(kSoftwareDateReg, &v[1]);
    pause();
    dx->readRegister(kFpgaVerReg, &v[2]);
    pause();
    dx->readRegister(kFpgaDateReg, &v[3]);
    pause();
    dx->readShortRegister(kProcessDateShort, &v[4]);
    pause();
    dx->readShortRegister(kHardwareDateShort, &v[5]);
    pause();
    const QStringList versions{
        CModuleInfoDecoder::versionTriple(v[0]), CModuleInfoDecoder::versionHex(v[1]),
        CModuleInfoDecoder::versionTriple(v[2]), CModuleInfoDecoder::versionHex(v[3]),
        CModuleInfoDecoder::versionHex(v[4]),    CModuleInfoDecoder::versionHex(v[5]),
    };

    // No answer leaves the serial number empty rather than "0".
    QString serial;
    if (sensorType == kSensorTypeRawText) {
        char buf[kRawSerialMax];
        int len = 0;
        if (dx->readShortRegisterBytes(kSerialShort, buf, kRawSerialMax, &len) && dx->lastReplyReceived())
            serial = CModuleInfoDecoder::textFromBytes(buf, len);
    } else {
        unsigned long long value = 0;
        if (dx->readShortRegister64(kSerialShort, &value) && dx->lastReplyReceived())
            serial = CModuleInfoDecoder::serialFromValue(value);
    }
    pause();

    {
        QMutexLocker lock(&pManager->m_infoLock);
        if (pManager->d->generation == nGeneration) {
            pManager->d->versions = versions;
            pManager->d->serialNumber = serial;
        }
    }
    finishStageTwo(pManager, nGeneration);
}

void MovementInteractThread::finishStageTwo(CameraInfoDataManager* pManager, quint64 nGeneration)
{
    {
        QMutexLocker lock(&pManager->m_infoLock);
        // A newer identification has taken over: its own end will be signalled.
        if (!pManager->d->running || pManager->d->runningGeneration != nGeneration)
            return;
        pManager->d->running = false;
    }
    emit pManager->signalSetShowInfo();
    emit pManager->signalInteractRunning(false);
}
