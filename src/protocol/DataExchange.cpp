#include "DataExchange.h"

#include "CComonFun.h"
#include "CDevice.h"
#include "CFramePacker.h"
#include "CoreCommands.h"
#include "CReplyParser.h"
#include "ReplyScanner.h"
#include "Pace.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>
#include <cstring>

namespace {

std::atomic<double> g_pollIntervalMs{200.0};
// Whether the last transaction parsed a reply; reads succeed without one.
std::atomic<bool> g_replyReceived{false};

constexpr int kWriteSendLen = 15;  // register writes always go out as 15 bytes
constexpr int kReadSendLen = 11;   // register reads always go out as 11 bytes
constexpr int kWritePolls = DataExchange::kCommandPolls;
constexpr int kLongCommandPolls = 200;
constexpr int kReadPolls = 50;
constexpr int kBlockWritePolls = 600;
constexpr int kBlockReadPolls = 200;

// One-key configuration and automatic correction run for tens of seconds in the core.
int writePollBudget(int addr)
{
    return (addr == corecmd::kOneKeyConfigRegister || addr == corecmd::kAutoCorrectionRegister) ? kLongCommandPolls : kWritePolls;
}

constexpr int kReadChunk = 1024;
// Reply pacing looks at the link at least this often (nominal ms, through Pace).
constexpr double kReplyPollMs = 1.0;

std::atomic<int> g_pacing{int(DataExchange::Pacing::Fixed)};

// Collects what the link has into `scanner` and looks for the reply once.
bool lookOnce(DataExchange* dx, ReplyScanner& scanner, std::vector<uint8_t>* reply)
{
    // Zeroed: a link that reports more than it copied adds zeros, never stale stack.
    unsigned char chunk[kReadChunk] = {};
    int count = 0;
    if (CDevice::Read(chunk, kReadChunk, &count) && count > 0)
        scanner.append(chunk, std::min(count, kReadChunk));
    const bool got = scanner.take(reply);
    for (const ReplyScanner::Dropped& d : scanner.takeDropped())
        dx->announceDropped(d.bytes.data(), int(d.bytes.size()), d.reason);
    return got;
}

// Waits for a whole, checked reply within the poll budget. Fixed pacing: the pause
// comes before each read, so even an immediate answer costs one interval. Reply
// pacing: the same time budget, but the link is looked at every millisecond and the
// wait ends as soon as the reply is in.
bool awaitReply(DataExchange* dx, const ReplyScanner::Expect& expect, int budget, std::vector<uint8_t>* reply)
{
    ReplyScanner scanner(expect);
    const double interval = DataExchange::pollIntervalMs();
    if (DataExchange::pacing() == DataExchange::Pacing::Fixed) {
        for (int i = 0; i < budget; ++i) {
            Pace::sleepMs(interval);
            if (lookOnce(dx, scanner, reply))
                return true;
        }
        return false;
    }
    const auto budgetTime = std::chrono::duration<double, std::milli>(Pace::scaledMs(interval * budget));
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration_cast<std::chrono::steady_clock::duration>(budgetTime);
    for (;;) {
        if (lookOnce(dx, scanner, reply))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        // Woken by the link as soon as bytes come, where it can; a look a millisecond
        // at the latest.
        CDevice::WaitForData(kReplyPollMs);
    }
}

// The address byte a register reply echoes: byte 3 of the request.
ReplyScanner::Expect echoing(const unsigned char* frame, int len)
{
    ReplyScanner::Expect e;
    if (frame && len >= 4 && frame[0] == ReplyScanner::kRegisterStart)
        e.echo = frame[3];
    return e;
}

// Puts a whole reply where the parse rules read it; the rest of the buffer is zero.
void keepReply(unsigned char* buf, int size, const std::vector<uint8_t>& reply)
{
    std::memset(buf, 0, size_t(size));
    std::memcpy(buf, reply.data(), std::min(reply.size(), size_t(size)));
}

// Waits for the reply into the short reply buffer and announces it.
bool pollShortReply(DataExchange* dx, const ReplyScanner::Expect& expect, int budget)
{
    std::vector<uint8_t> reply;
    if (!awaitReply(dx, expect, budget, &reply))
        return false;
    unsigned char* buf = CReplyParser::instance()->shortReplyBuffer();
    keepReply(buf, CReplyParser::kShortSize, reply);
    g_replyReceived = true;
    dx->emitCommand(buf, 1, CReplyParser::kShortSize);
    return true;
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
    if (!sendRequest(dx, frame, sendLen) || !pollShortReply(dx, echoing(frame, sendLen), budget))
        return false;
    uint32_t reply = 0;
    CReplyParser::instance()->parseValue(&reply);
    return reply == 1;
}

// A register read: succeeds when the core answered it within the budget. A read
// without an answer is a failure: its late answer would otherwise be taken for the
// next request's.
bool shortRead(DataExchange* dx, const unsigned char* frame)
{
    return sendRequest(dx, frame, kReadSendLen) && pollShortReply(dx, echoing(frame, kReadSendLen), kReadPolls);
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

void DataExchange::setPacing(Pacing pacing)
{
    g_pacing.store(int(pacing));
}

DataExchange::Pacing DataExchange::pacing()
{
    return Pacing(g_pacing.load());
}

QString DataExchange::pacingName(Pacing pacing)
{
    return pacing == Pacing::Reply ? QStringLiteral("reply") : QStringLiteral("fixed");
}

bool DataExchange::pacingFromName(const QString& name, Pacing* pacing)
{
    const QString n = name.trimmed().toLower();
    if (n != "fixed" && n != "reply")
        return false;
    if (pacing)
        *pacing = n == "reply" ? Pacing::Reply : Pacing::Fixed;
    return true;
}

void DataExchange::announceDropped(const unsigned char* bytes, int len, const QString& reason)
{
    if (!bytes || len <= 0)
        return;
    emit signalDroppedReply(QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(bytes), len).toHex()), reason);
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
    std::vector<uint8_t> reply;
    if (!awaitReply(this, ReplyScanner::Expect(), kWritePolls, &reply))
        return false;
    keepReply(CReplyParser::instance()->shortReplyBuffer(), CReplyParser::kShortSize, reply);
    g_replyReceived = true;
    uint32_t value = 0;
    CReplyParser::instance()->parseValue(&value);
    return value == 1;
}

// Register reads fail without an answer; the value is then 0.
bool DataExchange::readValue(bool shortAddress, int addr, uint64_t* value)
{
    QMutexLocker lock(&m_lock);
    startTransaction(false);
    if (value)
        *value = 0;
    // A short read is a 7-byte frame followed by 4 zero bytes of the cleared buffer.
    CFramePacker* packer = CFramePacker::instance();
    const unsigned char* frame = shortAddress ? packer->packReadShort(uint8_t(addr)) : packer->packReadRegister(uint32_t(addr));
    if (!shortRead(this, frame))
        return false;
    uint64_t v = 0;
    if (value && CReplyParser::instance()->parseValue64(&v))
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
    if (!shortRead(this, frame))
        return false;
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
    const unsigned char* frame = CFramePacker::instance()->packReadShort(uint8_t(addr8));
    if (!sendRequest(this, frame, kReadSendLen))
        return false;
    // Only register replies (0xF0) carry the module block.
    ReplyScanner::Expect expect = echoing(frame, kReadSendLen);
    expect.acceptBlock = false;
    std::vector<uint8_t> reply;
    if (!awaitReply(this, expect, kReadPolls, &reply))
        return false;
    unsigned char* buf = rp->longReplyBuffer();
    keepReply(buf, CReplyParser::kLongSize, reply);
    int len = 0;
    const unsigned char* p = rp->longPayload(&len, 0);
    if (!p || len < 0 || len > CReplyParser::kLongSize)
        return false;
    const int n = std::min(len, std::max(cap, 0));
    if (n > 0)
        std::memcpy(dst, p, static_cast<size_t>(n));
    g_replyReceived = true;
    emitCommand(buf, 1, CReplyParser::kLongSize);
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
    if (pollShortReply(this, ReplyScanner::Expect(), kBlockWritePolls))
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
    // A reply with an empty payload is no block: the wait goes on for one that has data.
    ReplyScanner::Expect expect;
    expect.minPayload = 1;
    std::vector<uint8_t> reply;
    if (!awaitReply(this, expect, kBlockReadPolls, &reply))
        return false;
    unsigned char* buf = rp->longReplyBuffer();
    keepReply(buf, CReplyParser::kLongSize, reply);
    int n = 0;
    const unsigned char* p = rp->longPayload(&n, int(reply.size()));
    if (!p || n < 1 || n > cap)
        return false;
    std::memcpy(dst, p, static_cast<size_t>(n));
    if (len)
        *len = n;
    g_replyReceived = true;
    emitCommand(buf, 1, CReplyParser::kLongSize);
    return true;
}
