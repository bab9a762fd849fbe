#include "MovementInteractThread.h"

#include "CameraInfoDataManager.h"
#include "CameraInfoDataManager_p.h"
#include "DataExchange.h"
#include "HistoryRecorder.h"
#include "Pace.h"

#include <QJsonArray>
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
constexpr int kErrSensorId = 0x10001;
constexpr int kErrModule = 0x10002;
constexpr int kErrVersions = 0x10003;

QString noAnswer(const char* what, int reg, bool shortReg)
{
    return QStringLiteral("机芯未应答%1读取（%2寄存器 0x%3），识别已停止")
        .arg(QString::fromUtf8(what), shortReg ? QStringLiteral("短") : QString(), QString::number(reg, 16).toUpper());
}

// The first read that went unanswered stops the identification: its answer may still
// come and would be taken for the next field's.
void stopAt(int& readError, QString& readErrorText, int code, const QString& text)
{
    if (readError == 0) {
        readError = code;
        readErrorText = text;
    }
}

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
        pManager->d->readError = 0;
        pManager->d->readErrorText.clear();
        pManager->d->identifyStarted = QDateTime::currentDateTimeUtc();
        gen = pManager->d->generation;
        form = pManager->d->deviceForm;
    }
    readModuleInfo(pManager, gen, form);
    int sensorType;
    bool stopped;
    {
        QMutexLocker lock(&pManager->m_infoLock);
        sensorType = pManager->d->fields.sensorTypeCode;
        stopped = pManager->d->readError != 0;
    }
    if (!stopped)
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
    if (!ok) {
        // Keep what an earlier read decoded.
        QMutexLocker lock(&pManager->m_infoLock);
        if (pManager->d->generation == nGeneration)
            stopAt(pManager->d->readError, pManager->d->readErrorText, kErrModule, noAnswer("模块信息", reg, true));
        return;
    }

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
        stopAt(pManager->d->readError, pManager->d->readErrorText, kErrSensorId, noAnswer("传感器 ID", kSensorIdHighReg, false));
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

    struct VersionRead {
        int reg;
        bool shortReg;
        const char* what;
    };
    static const VersionRead kReads[6] = {
        {kSoftwareVerReg, false, "软件版本"},      {kSoftwareDateReg, false, "软件日期"},
        {kFpgaVerReg, false, "FPGA 版本"},        {kFpgaDateReg, false, "FPGA 日期"},
        {kProcessDateShort, true, "工艺日期"},     {kHardwareDateShort, true, "硬件日期"},
    };
    unsigned v[6] = {0, 0, 0, 0, 0, 0};
    QString failed;
    for (int i = 0; i < 6 && failed.isEmpty(); ++i) {
        const VersionRead& r = kReads[i];
        const bool ok = r.shortReg ? dx->readShortRegister(r.reg, &v[i]) : dx->readRegister(r.reg, &v[i]);
        pause();
        if (!ok)
            failed = noAnswer(r.what, r.reg, r.shortReg);
    }
    QString serial;
    if (failed.isEmpty()) {
        if (sensorType == kSensorTypeRawText) {
            char buf[kRawSerialMax];
            int len = 0;
            if (dx->readShortRegisterBytes(kSerialShort, buf, kRawSerialMax, &len))
                serial = CModuleInfoDecoder::textFromBytes(buf, len);
            else
                failed = noAnswer("序列号", kSerialShort, true);
        } else {
            unsigned long long value = 0;
            if (dx->readShortRegister64(kSerialShort, &value))
                serial = CModuleInfoDecoder::serialFromValue(value);
            else
                failed = noAnswer("序列号", kSerialShort, true);
        }
        pause();
    }
    if (!failed.isEmpty()) {
        QMutexLocker lock(&pManager->m_infoLock);
        if (pManager->d->generation == nGeneration)
            stopAt(pManager->d->readError, pManager->d->readErrorText, kErrVersions, failed);
        lock.unlock();
        finishStageTwo(pManager, nGeneration);
        return;
    }
    const QStringList versions{
        CModuleInfoDecoder::versionTriple(v[0]), CModuleInfoDecoder::versionHex(v[1]),
        CModuleInfoDecoder::versionTriple(v[2]), CModuleInfoDecoder::versionHex(v[3]),
        CModuleInfoDecoder::versionHex(v[4]),    CModuleInfoDecoder::versionHex(v[5]),
    };

    {
        QMutexLocker lock(&pManager->m_infoLock);
        if (pManager->d->generation == nGeneration) {
            pManager->d->versions = versions;
            pManager->d->serialNumber = serial;
        }
    }
    finishStageTwo(pManager, nGeneration);
}

void MovementInteractThread::recordIdentification(CameraInfoDataManager* pManager, quint64 nGeneration)
{
    HistoryEvent e(HistoryKind::Identify);
    {
        QMutexLocker lock(&pManager->m_infoLock);
        const CameraInfoDataManager::Data& d = *pManager->d;
        if (d.generation != nGeneration)
            return; // the core was forgotten meanwhile
        if (d.identifyStarted.isValid())
            e.started = d.identifyStarted;
        e.sensorId = d.sensorId;
        e.serial = d.serialNumber;
        e.details["module_info"] = d.fields.moduleInfo;
        e.details["versions"] = QJsonArray::fromStringList(d.versions);
        e.details["sensor_type"] = d.fields.sensorTypeCode;
        e.details["core_class"] = d.fields.coreClass;
        const QSize size = CModuleInfoDecoder::frameSizeOf(d.fields.resolutionIndex);
        e.details["frame_size"] = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        e.details["device_form"] = d.deviceForm;
        if (d.readError)
            e.fail(d.readError, d.readErrorText, QStringLiteral("identify"));
        else
            e.succeed();
    }
    // Later events of this core carry its names.
    HistoryRecorder::instance()->setCore(e.sensorId, e.serial);
    HistoryRecorder::instance()->record(std::move(e));
}

void MovementInteractThread::finishStageTwo(CameraInfoDataManager* pManager, quint64 nGeneration)
{
    recordIdentification(pManager, nGeneration);
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
