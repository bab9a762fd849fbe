#include "FileTransfer.h"

#include "RemainingTime.h"
#include "CoreCommands.h"

#include "CFramePacker.h"
#include "DataExchange.h"
#include "ModuleInteract.h"
#include "UpgradeWriter.h"
#include "HistoryRecorder.h"
#include "NotingContext.h"
#include "Pace.h"

#include <QCryptographicHash>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <memory>

namespace {

using namespace corecmd;

const QString kTitle = QStringLiteral("提示");

constexpr int kReadBufSize = 260; // one long reply's payload fits

constexpr int kOccStartRegister = 0xF020;
constexpr int kOccPrepareRegister = 0x2001;
constexpr double kOccRunMs = 360000.0; // the core needs six minutes per correction
constexpr double kOccTickMs = 1000.0;


// Where read-back bytes go: a file that replaces the old one only when complete, or
// memory.
class ReadSink {
public:
    virtual ~ReadSink() = default;
    virtual bool open() = 0;
    virtual bool append(const char* data, int len) = 0;
    virtual bool finish() = 0;
    virtual void discard() = 0;
};

class FileSink : public ReadSink {
public:
    explicit FileSink(const QString& path)
        : m_file(path)
    {
        m_file.setDirectWriteFallback(true); // a writable file in a read-only folder
    }
    bool open() override { return m_file.open(QIODevice::WriteOnly | QIODevice::Truncate); }
    bool append(const char* data, int len) override { return m_file.write(data, len) == len; }
    // commit() would rename the temporary even when the last buffered bytes fail.
    bool finish() override { return m_file.flush() && m_file.commit(); }
    void discard() override
    {
        if (m_file.isOpen())
            m_file.cancelWriting();
    }

private:
    QSaveFile m_file;
};

class MemorySink : public ReadSink {
public:
    explicit MemorySink(QByteArray* out) : m_out(out) {}
    bool open() override
    {
        m_out->clear();
        return true;
    }
    bool append(const char* data, int len) override
    {
        m_out->append(data, len);
        return true;
    }
    bool finish() override { return true; }
    void discard() override {}

private:
    QByteArray* m_out;
};

// The read's end step, the sink kept, the exit.
bool endRead(TransferContext& ctx, ReadSink& sink)
{
    DataExchange* dx = DataExchange::instance();
    if (!dx->writeBlock(kCmdReadEnd, nullptr, 0)) {
        sink.discard();
        return failAndExitUpgrade(ctx, QStringLiteral("读取结束失败"));
    }
    if (!sink.finish()) {
        sendExitStep();
        ctx.message(kTitle, QStringLiteral("保存文件失败（磁盘已满或无写权限）"));
        return false;
    }
    if (!sendExitStep()) {
        ctx.message(kTitle, exitFailedText());
        return false;
    }
    return true;
}

bool readBack(TransferContext& ctx, int selector, ReadSink& sink, ReadBackVariant variant,
              EmptySetPolicy empty = EmptySetPolicy::Refuse)
{
    DataExchange* dx = DataExchange::instance();
    ctx.setProgress(0);
    if (!enterUpgradeMode(ctx))
        return false;
    const unsigned char sel = static_cast<unsigned char>(selector);
    if (!dx->writeBlock(kCmdReadStart, &sel, 1))
        return failAndExitUpgrade(ctx, QStringLiteral("读取开始失败"));
    if (variant == ReadBackVariant::VideoPage)
        Pace::sleepMs(1000);

    unsigned char buf[kReadBufSize];
    int len = 0;
    if (!dx->readBlock(kCmdReadLength, buf, kReadBufSize, &len))
        return failAndExitUpgrade(ctx, QStringLiteral("查询文件长度失败"));
    uint32_t total = 0;
    for (int i = 0; i < len; ++i)
        total = (total << 8) | buf[i];
    if (total > ModuleInteract::kFlashEnd) {
        // More than the whole flash: a garbled answer, not something to wait for.
        return failAndExitUpgrade(ctx, QStringLiteral("机芯回报的数据长度 %1 字节无效").arg(total));
    }

    if (!sink.open())
        return failAndExitUpgrade(ctx, QStringLiteral("文件打开失败"));
    // A table the core has never held: no records, which is a valid table.
    if (total == 0 && empty == EmptySetPolicy::EmptyFile)
        return endRead(ctx, sink);
    if (total == 0) {
        // Nothing stored: asking for a block would only wait out the poll budget.
        sink.discard();
        dx->writeBlock(kCmdReadEnd, nullptr, 0);
        return failAndExitUpgrade(ctx, QStringLiteral("机芯中没有该数据（长度为 0），未保存文件"));
    }

    uint32_t received = 0;
    RemainingTime remaining;
    remaining.start(total);
    while (received < total) {
        if (ctx.cancelled()) {
            // The program is closing: no message, just leave upgrade mode.
            sink.discard();
            dx->writeBlock(kCmdReadEnd, nullptr, 0);
            sendExitStep();
            return false;
        }
        if (!dx->readBlock(kCmdReadBlock, buf, kReadBufSize, &len) || len <= 0) {
            sink.discard();
            return failAndExitUpgrade(ctx, QStringLiteral("文件读取失败"));
        }
        if (!sink.append(reinterpret_cast<const char*>(buf), len)) {
            sink.discard();
            return failAndExitUpgrade(ctx, QStringLiteral("保存文件失败（磁盘已满或无写权限）"));
        }
        received += uint32_t(len);
        ctx.setProgress(int(std::min<uint64_t>(100, uint64_t(received) * 100 / total)));
        bool changed = false;
        const QString left = remaining.after(received, &changed);
        if (changed)
            ctx.setStatus(left);
    }
    if (received != total) {
        // A block longer than what was left: the file would not be what the core holds.
        sink.discard();
        dx->writeBlock(kCmdReadEnd, nullptr, 0);
        return failAndExitUpgrade(ctx, QStringLiteral("读回的数据共 %1 字节，与机芯回报的长度 %2 字节不符，未保存文件")
                                           .arg(received)
                                           .arg(total));
    }

    return endRead(ctx, sink);
}

// Hashes what the read hands to its sink.
class HashingSink : public ReadSink {
public:
    explicit HashingSink(ReadSink& inner) : m_inner(inner) {}
    bool open() override
    {
        m_hash.reset();
        m_bytes = 0;
        return m_inner.open();
    }
    bool append(const char* data, int len) override
    {
        m_hash.addData(QByteArrayView(data, len));
        m_bytes += len;
        return m_inner.append(data, len);
    }
    bool finish() override { return m_inner.finish(); }
    void discard() override { m_inner.discard(); }
    QString sha256() const { return QString::fromLatin1(m_hash.result().toHex()); }
    qint64 bytes() const { return m_bytes; }

private:
    ReadSink& m_inner;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_bytes = 0;
};

// The read, and its history event: selector, size and SHA-256 of what arrived.
bool recordedReadBack(TransferContext& ctx, int selector, ReadSink& sink, ReadBackVariant variant,
                      EmptySetPolicy empty, const QString& target)
{
    HistoryEvent e(HistoryKind::ReadBack);
    NotingContext noting(ctx);
    HashingSink hashing(sink);
    const bool ok = readBack(noting, selector, hashing, variant, empty);
    e.details["selector"] = selector;
    e.details["size"] = double(hashing.bytes());
    e.details["sha256"] = hashing.sha256();
    e.details["target"] = target;
    if (ok)
        e.succeed();
    else if (ctx.cancelled())
        e.fail(-1, QStringLiteral("已取消"), QStringLiteral("cancelled"));
    else
        e.fail(1, noting.last, QStringLiteral("read_back"));
    HistoryRecorder::instance()->record(std::move(e));
    return ok;
}

} // namespace

bool writeFileToCore(TransferContext& ctx, uint32_t address, const QString& path)
{
    FileSource source(path);
    UpgradeOptions options;
    options.what = QFileInfo(path).fileName();
    return writeUpgrade(ctx, address, source, options).ok;
}

bool readBackToFile(TransferContext& ctx, int selector, const QString& path, ReadBackVariant variant,
                    EmptySetPolicy empty)
{
    FileSink sink(path);
    return recordedReadBack(ctx, selector, sink, variant, empty, QFileInfo(path).fileName());
}

bool readBackToMemory(TransferContext& ctx, int selector, QByteArray* out, ReadBackVariant variant)
{
    if (!out)
        return false;
    MemorySink sink(out);
    return recordedReadBack(ctx, selector, sink, variant, EmptySetPolicy::Refuse, QStringLiteral("memory"));
}

bool runOccCorrection(TransferContext& ctx, int n)
{
    if (n < 1 || n > 4)
        return false;
    DataExchange* dx = DataExchange::instance();
    ctx.setProgress(0);
    dx->writeRegister(kOccPrepareRegister, 0); // not every core acknowledges it
    Pace::sleepMs(1000);
    if (!dx->writeRegister(kOccStartRegister, 0x100 + n)) {
        ctx.message(kTitle, QStringLiteral("做Occ%1失败：机芯未确认校正命令").arg(n));
        return false;
    }
    for (double waited = 0; waited < kOccRunMs; waited += kOccTickMs) {
        const int left = int((kOccRunMs - waited) / 1000.0 + 0.5);
        ctx.setStatus(QStringLiteral("Occ%1 校正中，剩余 %2 分 %3 秒")
                          .arg(n).arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0')));
        ctx.setProgress(int(waited * 100 / kOccRunMs));
        if (ctx.cancelled()) {
            ctx.setStatus(QString());
            return false;
        }
        Pace::sleepMs(kOccTickMs);
    }
    ctx.setStatus(QString());
    ctx.setProgress(100);
    return true;
}

bool isDatPath(const QString& path)
{
    return path.endsWith(QLatin1String("dat"), Qt::CaseSensitive);
}

QString datBinaryPath(const QString& textPath)
{
    const int dot = textPath.lastIndexOf(QLatin1Char('.'));
    const int slash = std::max(textPath.lastIndexOf(QLatin1Char('/')), textPath.lastIndexOf(QLatin1Char('\\')));
    if (dot < 0 || dot < slash) // no extension in the file name itself
        return textPath + QStringLiteral(".bin");
    return textPath.left(dot + 1) + QStringLiteral("bin");
}

bool readDatTable(const QString& textPath, int valueBytes, DatTable* table)
{
    if ((valueBytes != 2 && valueBytes != 4) || !table)
        return false;
    *table = DatTable();
    QFile text(textPath);
    if (!text.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QByteArray& bytes = table->bytes;
    char line[32];
    for (;;) {
        // At most 31 characters per read: a longer line counts as several.
        const qint64 got = text.readLine(line, sizeof(line));
        if (got <= 0)
            break;
        int i = 0;
        while (i < got && (line[i] == ' ' || line[i] == '\t' || line[i] == '\n' || line[i] == '\r'
                           || line[i] == '\v' || line[i] == '\f'))
            ++i;
        if (i == got)
            continue; // a blank line carries no value
        bool negative = false;
        if (line[i] == '+' || line[i] == '-') {
            negative = line[i] == '-';
            ++i;
        }
        const int digitsFrom = i;
        uint32_t v = 0;
        for (; i < got && line[i] >= '0' && line[i] <= '9'; ++i)
            v = v * 10u + uint32_t(line[i] - '0');
        if (i > digitsFrom)
            ++table->numericLines;
        if (negative)
            v = 0u - v;
        if (valueBytes == 4) {
            bytes.append(char(v >> 24));
            bytes.append(char(v >> 16));
        }
        bytes.append(char(v >> 8));
        bytes.append(char(v));
    }
    return text.error() == QFileDevice::NoError;
}

bool convertDatFile(const QString& textPath, int valueBytes, QString* binPath)
{
    DatTable table;
    if (!readDatTable(textPath, valueBytes, &table))
        return false;
    const QString outPath = datBinaryPath(textPath);
    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    if (out.write(table.bytes) != table.bytes.size() || !out.flush() || !out.commit())
        return false;
    if (binPath)
        *binPath = outPath;
    return true;
}
