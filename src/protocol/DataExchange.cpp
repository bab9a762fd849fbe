#include "DataExchange.h"

#include "CComonFun.h"
#include "CDevice.h"
#include "CFramePacker.h"
#include "CoreCommands.h"
#include "CReplyParser.h"
#include "Pace.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

std::atomic<double> g_pollIntervalMs{200.0};
// Whether the last transaction parsed a reply; reads succeed without one.
std::atomic<bool> g_replyReceived{false};

constexpr int kWriteSendLen = 15;  // register writes always go out as 15 bytes
constexpr int kReadSendLen = 11;   // register reads always go out as 11 bytes
constexpr int kWritePolls = 10;
constexpr int kLongCommandPolls = 200;
constexpr int kReadPolls = 50;
constexpr int kBlockWritePolls = 600;
constexpr int kBlockReadPolls = 200;

// One-key configuration and automatic correction run for tens of seconds in the core.
int writePollBudget(int addr)
{
    return (addr == corecmd::kOneKeyConfigRegister || addr == corecmd::kAutoCorrectionRegister) ? kLongCommandPolls : kWritePolls;
}

// One poll step: the pause comes first, so even an immediate answer costs one interval.
bool pollOnce(unsigned char* buf, int size, int* count)
{
    Pace::sleepMs(DataExchange::pollIntervalMs());
    return CDevice::Read(buf, size, count);
}

// Polls the short reply buffer until a reply with a known start byte is in it and
// announces that reply. A poll that brings nothing leaves the buffer as it was.
bool pollShortReply(DataExchange* dx, int budget)
{
    unsigned char* buf = CReplyParser::instance()->shortReplyBuffer();
    for (int i = 0; i < budget; ++i) {
        int count = 0;
        if (!pollOnce(buf, CReplyParser::kShortSize, &count))
            continue;
        if (CReplyParser::payloadOffset(buf, CReplyParser::kShortSize) >= 0) {
            g_replyReceived = true;
            dx->emitCommand(buf, 1, CReplyParser::kShortSize);
            return true;
        }
    }
    return false;
}

// Every transaction starts by forgetting earlier replies: a late answer to a previous
// request must not be taken for this one's.
void startTransaction(bool longReply)
{
    g_replyReceived = false;
    if (longReply)
        CReplyParser::instance()->clearLong();
    else
        CReplyParser::instance()->clearShort();
}

bool sendRequest(DataExchange* dx, const unsigned char* frame, int len)
{
    if (!CDevice::Write(frame, len))
        return false;
    dx->emitCommand(frame, 0, len);
    return true;
}

// A request acknowledged in the short reply buffer with the value 1.
bool acknowledged(DataExchange* dx, const unsigned char* frame, int sendLen, int budget)
{
    if (!sendRequest(dx, frame, sendLen) || !pollShortReply(dx, budget))
        return false;
    uint32_t reply = 0;
    CReplyParser::instance()->parseValue(&reply);
    return reply == 1;
}

// A register read: succeeds once the request went out; *replied tells whether the
// short reply buffer holds the answer.
bool shortRead(DataExchange* dx, const unsigned char* frame, bool* replied)
{
    *replied = false;
    if (!sendRequest(dx, frame, kReadSendLen))
        return false;
    *replied = pollShortReply(dx, kReadPolls);
    return true;
}

QByteArray regLogLine(const char* fmt, unsigned a, unsigned v)
{
    return QString::asprintf(fmt, a, v).toLatin1();
}

bool appendLog(const QString& path, const QByteArray& bytes)
{
    return CComonFun::appendFile(path, bytes.constData(), bytes.size());
}

} // namespace

DataExchange* DataExchange::instance()
{
    static DataExchange* dx = [] {
        auto* d = new DataExchange; // lives until the program ends
        // Belong to the main thread whichever thread asked first.
        if (QCoreApplication::instance())
            d->moveToThread(QCoreApplication::instance()->thread());
        return d;
    }();
    return dx;
}

DataExchange::DataExchange()
    : QObject(nullptr)
{
}

void DataExchange::setPollIntervalMs(double ms)
{
    g_pollIntervalMs.store(std::max(ms, 0.0));
}

double DataExchange::pollIntervalMs()
{
    return g_pollIntervalMs.load();
}

QString DataExchange::logPath()
{
    return CComonFun::dataRoot() + "/log.txt";
}

QString DataExchange::dataLogPath()
{
    return CComonFun::dataRoot() + "/data_log.txt";
}

QString DataExchange::updateLogPath()
{
    return CComonFun::dataRoot() + "/update_log.txt";
}

bool DataExchange::lastReplyReceived() const
{
    return g_replyReceived.load();
}

void DataExchange::emitCommand(const unsigned char* bytes, int direction, int len)
{
    if (!bytes || len < 0 || (direction != 0 && direction != 1))
        return;
    const QString text = QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes), len).toHex());
    if (direction == 0)
        emit signalSendCMD(text);
    else
        emit signalRecvCMD(text);
}

bool DataExchange::writeRegister(int addr, int value)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    const unsigned char* frame = CFramePacker::instance()->packWriteRegister(uint32_t(addr), uint32_t(value));
    if (!acknowledged(this, frame, kWriteSendLen, writePollBudget(addr)))
        return false;
    return appendLog(logPath(), regLogLine("addr: %x\tvalue: %x\r\n", unsigned(addr), unsigned(value)));
}

bool DataExchange::writeRegisterSized(int addr8, int* value, int width)
{
    if (!value || (width != 1 && width != 2 && width != 4))
        return false;
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    // The frame is 8..11 bytes; the rest of the 15 sent are the cleared buffer's zeros.
    const unsigned char* frame = CFramePacker::instance()->packWriteShort(uint8_t(addr8), uint32_t(*value), width);
    if (!acknowledged(this, frame, kWriteSendLen, kWritePolls))
        return false;
    return appendLog(logPath(), regLogLine("addr: %x\tvalue: %x\r\n", unsigned(addr8), unsigned(*value)));
}

bool DataExchange::sendRawCommand(const QString& hexText)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    const int n = std::min(static_cast<int>((hexText.size() + 1) / 2), int(CFramePacker::kWriteBufSize));
    if (n <= 0)
        return false; // no command in the text: sending a frame of zeros helps nobody
    const unsigned char* frame = CFramePacker::instance()->packHexText(hexText);
    // Short commands are padded to the usual 15 bytes; a longer one goes out whole
    // instead of being cut.
    return acknowledged(this, frame, std::max(kWriteSendLen, n), kWritePolls);
}

bool DataExchange::waitAcknowledge()
{
    QMutexLocker lock(&m_lock);
    startTransaction(false); // only an acknowledgement that arrives now counts
    CReplyParser* rp = CReplyParser::instance();
    unsigned char* buf = rp->shortReplyBuffer();
    for (int i = 0; i < kWritePolls; ++i) {
        int count = 0;
        if (!pollOnce(buf, CReplyParser::kShortSize, &count))
            continue;
        uint32_t reply = 0;
        if (rp->parseValue(&reply)) {
            g_replyReceived = true;
            return reply == 1;
        }
    }
    return false;
}

// Register reads succeed once the request went out; without an answer the value is
// 0 (lastReplyReceived() tells the two apart).
bool DataExchange::readValue(bool shortAddress, int addr, uint64_t* value)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    if (value)
        *value = 0;
    // A short read is a 7-byte frame followed by 4 zero bytes of the cleared buffer.
    CFramePacker* packer = CFramePacker::instance();
    const unsigned char* frame = shortAddress ? packer->packReadShort(uint8_t(addr)) : packer->packReadRegister(uint32_t(addr));
    bool replied = false;
    if (!shortRead(this, frame, &replied))
        return false;
    uint64_t v = 0;
    if (replied && value && CReplyParser::instance()->parseValue64(&v))
        *value = v;
    return true;
}

bool DataExchange::readBytes(bool shortAddress, int addr, char* buf, int cap, int* len)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    if (len)
        *len = 0;
    if (!buf)
        return false;
    CFramePacker* packer = CFramePacker::instance();
    const unsigned char* frame = shortAddress ? packer->packReadShort(uint8_t(addr)) : packer->packReadRegister(uint32_t(addr));
    bool replied = false;
    if (!shortRead(this, frame, &replied))
        return false;
    if (replied)
        CReplyParser::instance()->copyPayload(reinterpret_cast<unsigned char*>(buf), cap, len);
    return true;
}

bool DataExchange::readRegister(int addr, unsigned* value)
{
    uint64_t v = 0;
    const bool ok = readValue(false, addr, &v);
    if (value)
        *value = static_cast<unsigned>(v);
    return ok;
}

bool DataExchange::readRegisterBytes(int addr, char* buf, int cap, int* len)
{
    return readBytes(false, addr, buf, cap, len);
}

bool DataExchange::readShortRegister(int addr8, unsigned* value)
{
    uint64_t v = 0;
    const bool ok = readValue(true, addr8, &v);
    if (value)
        *value = static_cast<unsigned>(v);
    return ok;
}

bool DataExchange::readShortRegister64(int addr8, unsigned long long* value)
{
    uint64_t v = 0;
    const bool ok = readValue(true, addr8, &v);
    if (value)
        *value = v;
    return ok;
}

bool DataExchange::readShortRegisterBytes(int addr8, char* buf, int cap, int* len)
{
    return readBytes(true, addr8, buf, cap, len);
}

bool DataExchange::readShortRegisterLong(int addr8, char* dst, int cap)
{
    QMutexLocker lock(&m_lock);
    startTransaction(true);
    if (!dst)
        return false;
    CReplyParser* rp = CReplyParser::instance();
    if (!sendRequest(this, CFramePacker::instance()->packReadShort(uint8_t(addr8)), kReadSendLen))
        return false;
    unsigned char* buf = rp->longReplyBuffer();
    for (int i = 0; i < kReadPolls; ++i) {
        int count = 0;
        if (!pollOnce(buf, CReplyParser::kLongSize, &count))
            continue;
        // The received count is deliberately not used here: with it taken as 0 only
        // register replies (0xF0) qualify.
        int len = 0;
        const unsigned char* p = rp->longPayload(&len, 0);
        if (!p || len < 0 || len > CReplyParser::kLongSize)
            continue;
        const int n = std::min(len, std::max(cap, 0));
        if (n > 0)
            std::memcpy(dst, p, static_cast<size_t>(n));
        g_replyReceived = true;
        emitCommand(buf, 1, CReplyParser::kLongSize);
        break;
    }
    return true;
}

bool DataExchange::writeBlock(int cmd, const void* data, int n)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    CReplyParser* rp = CReplyParser::instance();
    // Same rules as the packer, so that what is sent, announced and logged agree.
    n = std::clamp(n, 0, CFramePacker::kMaxBlockData);
    if (!data)
        n = 0;
    if (!sendRequest(this, CFramePacker::instance()->packBlock(uint8_t(cmd), data, n), n + 6))
        return false;
    bool logsOk = CComonFun::appendFile(dataLogPath(), static_cast<const char*>(data), n);
    logsOk = CComonFun::appendFile(updateLogPath(), nullptr, 0) && logsOk;
    // The core got the block, so its answer is collected even when the logs failed:
    // left in the link it would be taken for the answer to the next request.
    uint32_t reply = 0;
    if (pollShortReply(this, kBlockWritePolls))
        rp->parseValue(&reply);
    if (reply != 1) {
        appendLog(updateLogPath(), regLogLine("addr: %x\tbackvalue: %x\r\n", unsigned(cmd & 0xFF), reply));
        return false;
    }
    return logsOk;
}

bool DataExchange::readBlock(int cmd, void* dst, int cap, int* len)
{
    QMutexLocker lock(&m_lock);
    startTransaction(true);
    if (len)
        *len = 0;
    if (!dst || cap <= 0)
        return false;
    CReplyParser* rp = CReplyParser::instance();
    if (!sendRequest(this, CFramePacker::instance()->packBlock(uint8_t(cmd), nullptr, 0), 6))
        return false;
    unsigned char* buf = rp->longReplyBuffer();
    int received = 0; // keeps what the link reported last
    for (int i = 0; i < kBlockReadPolls; ++i) {
        int count = received;
        const bool ok = pollOnce(buf, CReplyParser::kLongSize, &count);
        received = count;
        if (!ok)
            continue;
        int n = 0;
        const unsigned char* p = rp->longPayload(&n, received);
        // An empty payload is no block: keep asking until one arrives or time runs out.
        if (!p || n < 1 || n > cap)
            continue;
        std::memcpy(dst, p, static_cast<size_t>(n));
        if (len)
            *len = n;
        g_replyReceived = true;
        emitCommand(buf, 1, CReplyParser::kLongSize);
        return true;
    }
    return false;
}
