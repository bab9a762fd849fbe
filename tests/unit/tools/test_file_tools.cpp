// Bit inversion and the checksum header, checked against independent references:
// a bit-by-bit reversal and a bit-by-bit CRC that share no code with the tools.
#include "FileTools.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <random>

namespace {

uint8_t referenceReverse(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        if (b & (1u << i))
            r |= static_cast<uint8_t>(0x80u >> i);
    return r;
}

// Reflected CRC-32, polynomial 0xEDB88320, start 0, no final inversion, one bit at a time.
uint32_t referenceCrc(const QByteArray& data)
{
    uint32_t crc = 0;
    for (char ch : data) {
        crc ^= static_cast<uint8_t>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

uint32_t le32(const QByteArray& b, int offset)
{
    const auto* p = reinterpret_cast<const uint8_t*>(b.constData() + offset);
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QByteArray randomBytes(qint64 n, unsigned seed)
{
    std::mt19937 gen(seed);
    QByteArray out(n, Qt::Uninitialized);
    for (qint64 i = 0; i < n; ++i)
        out[i] = static_cast<char>(gen() & 0xFF);
    return out;
}

QString writeInput(const irtest::ScopedDataRoot& root, const QString& name, const QByteArray& data)
{
    const QString path = root.file(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(f.write(data), data.size());
    return path;
}

// Every header field, then the data after it.
void expectChecksummed(const QByteArray& out, const QByteArray& input)
{
    ASSERT_EQ(out.size(), 48 + input.size());
    EXPECT_EQ(le32(out, 0), 0x5A5AA5A5u);
    EXPECT_EQ(le32(out, 4), 1u);
    EXPECT_EQ(le32(out, 8), 48u);
    EXPECT_EQ(le32(out, 12), static_cast<uint32_t>(input.size()));
    EXPECT_EQ(le32(out, 16), 1u);
    EXPECT_EQ(le32(out, 20), referenceCrc(input));
    EXPECT_EQ(out.mid(24, 24), QByteArray(24, '\0'));
    EXPECT_TRUE(out.mid(48) == input);
}

} // namespace

TEST(BitReversal, EveryByteMatchesTheBitByBitReference)
{
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(FileTools::reverseBits(uint8_t(b)), referenceReverse(uint8_t(b))) << b;
    uint8_t buf[3] = {0x01, 0x80, 0x0F};
    FileTools::reverseBitsInPlace(buf, 3);
    EXPECT_EQ(buf[0], 0x80);
    EXPECT_EQ(buf[1], 0x01);
    EXPECT_EQ(buf[2], 0xF0);
}

TEST(Crc, MatchesTheReferenceAndContinuesOverPieces)
{
    EXPECT_EQ(FileTools::crc32(reinterpret_cast<const uint8_t*>("abc"), 3), 0xCA6598D0u);
    EXPECT_EQ(FileTools::crc32(nullptr, 0), 0u);
    const QByteArray data = randomBytes(4099, 7);
    const auto* p = reinterpret_cast<const uint8_t*>(data.constData());
    const uint32_t whole = FileTools::crc32(p, data.size());
    EXPECT_EQ(whole, referenceCrc(data));
    EXPECT_EQ(FileTools::crc32(p + 1000, data.size() - 1000, FileTools::crc32(p, 1000)), whole);
}

TEST(Header, FieldsAreLittleEndian)
{
    const auto h = FileTools::checksumHeader(0x01020304u, 0xCA6598D0u);
    const QByteArray b(reinterpret_cast<const char*>(h.data()), int(h.size()));
    EXPECT_EQ(b.left(24).toHex(), QByteArray("a5a55a5a01000000300000000403020101000000d09865ca"));
    EXPECT_EQ(b.mid(24), QByteArray(24, '\0'));
}

TEST(OutputName, PrefixGoesAfterTheLastSlash)
{
    EXPECT_EQ(FileTools::prefixedPath("/data/app.elf", "crc_"), "/data/crc_app.elf");
    EXPECT_EQ(FileTools::prefixedPath("/a.b/c/x.dat", "Invert_"), "/a.b/c/Invert_x.dat");
    EXPECT_EQ(FileTools::prefixedPath("x.dat", "Invert_"), "Invert_x.dat");
}

TEST(InvertFile, SmallEmptyBlockSizedAndLargeInputs)
{
    irtest::ScopedDataRoot root;
    struct Case {
        const char* name;
        qint64 size;
    };
    // 1024 bytes: read in two rounds, the second returning nothing.
    for (const Case& c : {Case{"abc.dat", 3}, Case{"empty.dat", 0}, Case{"k.dat", 1024}, Case{"big.dat", 6 * 1024 * 1024 + 5}}) {
        const QByteArray input = c.size == 3 ? QByteArray("abc") : randomBytes(c.size, unsigned(c.size));
        const QString in = writeInput(root, c.name, input);
        const FileTools::Result r = FileTools::invertFile(in);
        ASSERT_TRUE(r.ok) << c.name << " " << r.error.toStdString();
        EXPECT_EQ(r.outputPath, root.file(QString("Invert_") + c.name));
        EXPECT_EQ(r.length, c.size);
        const QByteArray out = irtest::readAll(r.outputPath);
        ASSERT_EQ(out.size(), input.size()) << c.name;
        bool allReversed = true;
        for (qint64 i = 0; i < input.size() && allReversed; ++i)
            allReversed = uint8_t(out[i]) == referenceReverse(uint8_t(input[i]));
        EXPECT_TRUE(allReversed) << c.name;

        // Inverting the inverted file gives the input back.
        const FileTools::Result back = FileTools::invertFile(r.outputPath);
        ASSERT_TRUE(back.ok);
        EXPECT_TRUE(irtest::readAll(back.outputPath) == input) << c.name;
    }
}

TEST(ChecksumFile, SmallEmptyBlockSizedAndBeyondTheOldFiveMegabyteBuffer)
{
    irtest::ScopedDataRoot root;
    const QString abc = writeInput(root, "abc.elf", "abc");
    FileTools::Result r = FileTools::checksumFile(abc);
    ASSERT_TRUE(r.ok) << r.error.toStdString();
    EXPECT_EQ(r.outputPath, root.file("crc_abc.elf"));
    EXPECT_EQ(r.crc, 0xCA6598D0u);
    QByteArray out = irtest::readAll(r.outputPath);
    ASSERT_EQ(out.size(), 51);
    EXPECT_EQ(le32(out, 20), 0xCA6598D0u);
    EXPECT_EQ(le32(out, 12), 3u);
    expectChecksummed(out, "abc");

    r = FileTools::checksumFile(writeInput(root, "empty.elf", QByteArray()));
    ASSERT_TRUE(r.ok);
    out = irtest::readAll(r.outputPath);
    ASSERT_EQ(out.size(), 48);
    EXPECT_EQ(le32(out, 12), 0u);
    EXPECT_EQ(le32(out, 20), 0u);
    expectChecksummed(out, QByteArray());

    const QByteArray k = randomBytes(1024, 3);
    r = FileTools::checksumFile(writeInput(root, "k.elf", k));
    ASSERT_TRUE(r.ok);
    expectChecksummed(irtest::readAll(r.outputPath), k);

    // 6 MB: more than the 5,242,832 bytes a fixed 5 MiB buffer could hold after the
    // header; nothing may be cut or overrun.
    const QByteArray big = randomBytes(6 * 1000 * 1000, 11);
    r = FileTools::checksumFile(writeInput(root, "big.elf", big));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.length, big.size());
    expectChecksummed(irtest::readAll(r.outputPath), big);
}

TEST(FileToolFailures, UnreadableInputAndUnwritableOutputAreReported)
{
    irtest::ScopedDataRoot root;
    FileTools::Result r = FileTools::invertFile(root.file("missing.dat"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.error.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root.file("Invert_missing.dat")));
    r = FileTools::checksumFile(root.file("missing.elf"));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(QFileInfo::exists(root.file("crc_missing.elf")));

    // A folder where the output should go: the write fails and says so.
    const QString in = writeInput(root, "x.elf", "data");
    ASSERT_TRUE(QDir().mkpath(root.file("crc_x.elf")));
    r = FileTools::checksumFile(in);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("crc_x.elf")) << r.error.toStdString();
    ASSERT_TRUE(QDir().mkpath(root.file("Invert_x.elf")));
    r = FileTools::invertFile(in);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("Invert_x.elf")) << r.error.toStdString();
}

TEST(FileToolFailures, CancelledRunLeavesTheOldOutputUntouched)
{
    irtest::ScopedDataRoot root;
    const QString in = writeInput(root, "y.dat", randomBytes(10000, 5));
    const QString old = writeInput(root, "Invert_y.dat", "previous result");
    int calls = 0;
    const FileTools::Result r = FileTools::invertFile(in, [&](qint64 done, qint64 total) {
        EXPECT_LE(done, total);
        return ++calls < 3;
    });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(irtest::readAll(old), QByteArray("previous result"));

    const FileTools::Result c = FileTools::checksumFile(in, [](qint64, qint64) { return false; });
    EXPECT_FALSE(c.ok);
    EXPECT_FALSE(QFileInfo::exists(root.file("crc_y.dat")));
}

TEST(FileToolFailures, InputBeyondWhatTheHeaderCanDescribeIsRefused)
{
    irtest::ScopedDataRoot root;
    const QString in = root.file("huge.elf");
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    // Sparse: takes no space, but is one byte longer than a 32-bit length allows.
    if (!f.resize(FileTools::kMaxChecksumInput + 1))
        GTEST_SKIP() << "file system cannot hold a 4 GiB sparse file";
    f.close();
    const FileTools::Result r = FileTools::checksumFile(in);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.error.contains("4GB")) << r.error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(root.file("crc_huge.elf")));
}
