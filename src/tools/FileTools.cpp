#include "FileTools.h"

#include "HistoryRecorder.h"

#include <QFileInfo>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <vector>

namespace FileTools {

namespace {

std::array<uint32_t, 256> makeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? (c >> 1) ^ 0xEDB88320u : (c >> 1);
        table[i] = c;
    }
    return table;
}

const std::array<uint32_t, 256>& crcTable()
{
    static const std::array<uint32_t, 256> s_table = makeTable();
    return s_table;
}

void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

Result failure(const QString& error)
{
    Result r;
    r.ok = false;
    r.error = error;
    return r;
}

QString nameOf(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Reads exactly n bytes unless the file ends; -1 on a read error.
qint64 readBlock(QFile& f, char* buf, qint64 n)
{
    qint64 got = 0;
    while (got < n) {
        const qint64 r = f.read(buf + got, n - got);
        if (r < 0)
            return -1;
        if (r == 0)
            break;
        got += r;
    }
    return got;
}

} // namespace

uint8_t reverseBits(uint8_t b)
{
    // Spreads the byte over five copies, picks each bit at its mirrored position
    // and folds the copies together with the modulus.
    return static_cast<uint8_t>(((static_cast<uint64_t>(b) * 0x0202020202ull) & 0x010884422010ull) % 1023u);
}

void reverseBitsInPlace(uint8_t* data, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        data[i] = reverseBits(data[i]);
}

uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc)
{
    const auto& table = crcTable();
    for (size_t i = 0; i < n; ++i)
        crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFFu];
    return crc;
}

std::array<uint8_t, kHeaderSize> checksumHeader(uint32_t length, uint32_t crc)
{
    std::array<uint8_t, kHeaderSize> h{};
    putLe32(&h[0], kHeaderMagic);
    putLe32(&h[4], 1);
    putLe32(&h[8], kHeaderSize);
    putLe32(&h[12], length);
    putLe32(&h[16], 1);
    putLe32(&h[20], crc);
    return h;
}

QString prefixedPath(const QString& path, const QString& prefix)
{
    const int slash = path.lastIndexOf('/');
    QString out = path;
    out.insert(slash + 1, prefix);
    return out;
}

static Result invertSteps(const QString& inputPath, const Progress& progress)
{
    QFile in(inputPath);
    if (!in.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("无法打开文件 %1").arg(nameOf(inputPath)));
    const qint64 total = in.size();

    Result r;
    r.outputPath = prefixedPath(inputPath, QStringLiteral("Invert_"));
    QSaveFile out(r.outputPath);
    if (!out.open(QIODevice::WriteOnly))
        return failure(QStringLiteral("无法创建文件 %1").arg(nameOf(r.outputPath)));

    char buf[kBlockSize];
    qint64 done = 0;
    for (;;) {
        const qint64 got = readBlock(in, buf, kBlockSize);
        if (got < 0) {
            out.cancelWriting();
            return failure(QStringLiteral("读取文件 %1 失败").arg(nameOf(inputPath)));
        }
        reverseBitsInPlace(reinterpret_cast<uint8_t*>(buf), static_cast<size_t>(got));
        if (got > 0 && out.write(buf, got) != got) {
            out.cancelWriting();
            return failure(QStringLiteral("写入文件 %1 失败").arg(nameOf(r.outputPath)));
        }
        done += got;
        if (progress && !progress(done, total)) {
            out.cancelWriting();
            return failure(QStringLiteral("文件转换已取消"));
        }
        if (got < kBlockSize)
            break;
    }
    // commit() would rename the temporary even when the last buffered bytes fail.
    if (!out.flush() || !out.commit()) {
        out.cancelWriting();
        return failure(QStringLiteral("写入文件 %1 失败").arg(nameOf(r.outputPath)));
    }
    r.ok = true;
    r.length = done;
    return r;
}

static Result checksumSteps(const QString& inputPath, const Progress& progress)
{
    QFile in(inputPath);
    if (!in.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("无法打开文件 %1").arg(nameOf(inputPath)));
    const qint64 total = in.size();
    if (total > kMaxChecksumInput)
        return failure(QStringLiteral("文件 %1 超过4GB,校验头无法记录其长度").arg(nameOf(inputPath)));

    // Two passes over the input: the CRC goes into the header, which comes first;
    // the second pass copies the bytes and checks they are the ones summed.
    constexpr qint64 kChunk = 1 << 20;
    std::vector<char> buf(static_cast<size_t>(kChunk));
    const qint64 work = 2 * total;
    uint32_t crc = 0;
    qint64 length = 0;
    for (;;) {
        const qint64 got = readBlock(in, buf.data(), kChunk);
        if (got < 0)
            return failure(QStringLiteral("读取文件 %1 失败").arg(nameOf(inputPath)));
        crc = crc32(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<size_t>(got), crc);
        length += got;
        if (length > kMaxChecksumInput)
            return failure(QStringLiteral("文件 %1 超过4GB,校验头无法记录其长度").arg(nameOf(inputPath)));
        if (progress && !progress(length, work))
            return failure(QStringLiteral("文件校验已取消"));
        if (got < kChunk)
            break;
    }

    Result r;
    r.outputPath = prefixedPath(inputPath, QStringLiteral("crc_"));
    QSaveFile out(r.outputPath);
    if (!out.open(QIODevice::WriteOnly))
        return failure(QStringLiteral("无法创建文件 %1").arg(nameOf(r.outputPath)));
    const auto header = checksumHeader(static_cast<uint32_t>(length), crc);
    if (out.write(reinterpret_cast<const char*>(header.data()), kHeaderSize) != kHeaderSize) {
        out.cancelWriting();
        return failure(QStringLiteral("写入文件 %1 失败").arg(nameOf(r.outputPath)));
    }

    if (!in.seek(0)) {
        out.cancelWriting();
        return failure(QStringLiteral("读取文件 %1 失败").arg(nameOf(inputPath)));
    }
    uint32_t again = 0;
    qint64 copied = 0;
    for (;;) {
        const qint64 got = readBlock(in, buf.data(), kChunk);
        if (got < 0) {
            out.cancelWriting();
            return failure(QStringLiteral("读取文件 %1 失败").arg(nameOf(inputPath)));
        }
        again = crc32(reinterpret_cast<const uint8_t*>(buf.data()), static_cast<size_t>(got), again);
        copied += got;
        if (copied > length || (got > 0 && out.write(buf.data(), got) != got)) {
            out.cancelWriting();
            return failure(copied > length ? QStringLiteral("文件 %1 在校验过程中被修改").arg(nameOf(inputPath))
                                           : QStringLiteral("写入文件 %1 失败").arg(nameOf(r.outputPath)));
        }
        if (progress && !progress(length + copied, work)) {
            out.cancelWriting();
            return failure(QStringLiteral("文件校验已取消"));
        }
        if (got < kChunk)
            break;
    }
    if (copied != length || again != crc) {
        out.cancelWriting();
        return failure(QStringLiteral("文件 %1 在校验过程中被修改").arg(nameOf(inputPath)));
    }
    // commit() would rename the temporary even when the last buffered bytes fail.
    if (!out.flush() || !out.commit()) {
        out.cancelWriting();
        return failure(QStringLiteral("写入文件 %1 失败").arg(nameOf(r.outputPath)));
    }
    r.ok = true;
    r.length = length;
    r.crc = crc;
    return r;
}

// Each run of a tool goes into the history: input, output, length, checksum.
static Result recorded(const char* tool, const QString& inputPath, const Result& r)
{
    HistoryEvent e(HistoryKind::FileTool);
    e.details["tool"] = QString::fromLatin1(tool);
    e.details["input"] = QFileInfo(inputPath).fileName();
    e.details["output"] = QFileInfo(r.outputPath).fileName();
    e.details["length"] = double(r.length);
    if (std::strcmp(tool, "checksum") == 0 && r.ok)
        e.details["crc32"] = QStringLiteral("0x%1").arg(r.crc, 8, 16, QLatin1Char('0'));
    if (r.ok)
        e.succeed();
    else
        e.fail(1, r.error, QString::fromLatin1(tool));
    HistoryRecorder::instance()->record(std::move(e));
    return r;
}

Result invertFile(const QString& inputPath, const Progress& progress)
{
    return recorded("invert", inputPath, invertSteps(inputPath, progress));
}

Result checksumFile(const QString& inputPath, const Progress& progress)
{
    return recorded("checksum", inputPath, checksumSteps(inputPath, progress));
}

} // namespace FileTools
