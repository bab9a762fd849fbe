// irbench-cli drift-fit on a sample folder and drift-write into the virtual camera's
// flash, a failed write resumed with --from.
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

namespace {

using irtest::CliResult;
using irtest::runCli;

std::string text(const CliResult& r)
{
    return (r.out + r.err).toStdString();
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Four samples of an 8 x 6 frame (picture rows only): value 1000 + 7 x temperature.
void makeSamples(const QString& dir)
{
    QDir().mkpath(dir);
    QByteArray temps;
    const int t[] = {10, 20, 30, 40};
    for (int i = 0; i < 4; ++i) {
        char b[2];
        qToLittleEndian<int16_t>(int16_t(t[i]), b);
        temps.append(b, 2);
        QByteArray img(8 * 4 * 2, '\0');
        for (int p = 0; p < 32; ++p)
            qToLittleEndian<uint16_t>(uint16_t(1000 + 7 * t[i]), img.data() + 2 * p);
        ASSERT_TRUE(writeBytes(QStringLiteral("%1/avgFiltering%2.bin").arg(dir).arg(i + 1), img));
    }
    ASSERT_TRUE(writeBytes(dir + "/tfpa.bin", temps));
}

TEST(CliDrift, FitWritesCoefficientFilesAndRefusesOtherTypes)
{
    QTemporaryDir tmp;
    makeSamples(tmp.filePath("data"));
    CliResult r = runCli({"drift-fit", tmp.filePath("data"), "8", "6", "2", tmp.filePath("ret")});
    EXPECT_EQ(r.exitCode, 2) << text(r);
    EXPECT_TRUE(r.err.contains("只支持类型 1 和 3")) << text(r);
    EXPECT_FALSE(QDir(tmp.filePath("ret")).exists());

    r = runCli({"drift-fit", tmp.filePath("data"), "8", "6", "1", tmp.filePath("ret")});
    ASSERT_EQ(r.exitCode, 0) << text(r);
    for (int k = 0; k < 4; ++k) {
        QFile f(tmp.filePath(QStringLiteral("ret/%1.bin").arg(k)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << k;
        const QByteArray b = f.readAll();
        ASSERT_EQ(b.size(), 8 * 6 * 2) << k;
        // c1 = 7 on the picture rows (6.99.. truncates to 6 at worst), 0 on the info rows.
        const int16_t first = qFromLittleEndian<int16_t>(b.constData());
        const int16_t info = qFromLittleEndian<int16_t>(b.constData() + 2 * 8 * 4);
        if (k == 0)
            EXPECT_TRUE(first == 7 || first == 6) << first;
        EXPECT_EQ(info, 0);
    }
}

TEST(CliDrift, WriteIntoTheSlotsResumesFromTheFileThatFailed)
{
    // The second file's third data block is refused once.
    irtest::SimProcess sim({"--fault", "zero@block:0xEE#42"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir tmp;
    QList<QByteArray> files;
    for (int k = 0; k < 4; ++k) {
        QByteArray b(38408, '\0');
        for (int i = 0; i < b.size(); ++i)
            b[i] = char((i * 7 + k * 31) & 0xFF);
        files << b;
        ASSERT_TRUE(writeBytes(tmp.filePath(QStringLiteral("%1.bin").arg(k)), b));
    }
    const QString net = QStringLiteral("127.0.0.1:%1").arg(sim.port());
    CliResult r = runCli({"--net", net, "--pacing", "reply", "drift-write", tmp.path()}, 120000);
    EXPECT_EQ(r.exitCode, 1) << text(r);
    EXPECT_TRUE(r.err.contains("--from 1")) << text(r);
    EXPECT_TRUE(r.out.contains("文件已写入 1 / 总共 4")) << text(r);

    r = runCli({"--net", net, "--pacing", "reply", "drift-write", tmp.path(), "--from", "1"}, 120000);
    ASSERT_EQ(r.exitCode, 0) << text(r);
    EXPECT_TRUE(r.out.contains("文件已写入 4 / 总共 4")) << text(r);
    const uint32_t kSlot[] = {0x191E000, 0x1914000, 0x190A000, 0x1900000};
    for (int k = 0; k < 4; ++k) {
        // The head and the trailer of each file, through the camera's control line.
        for (int offset : {0, 38408 - 64}) {
            const QString line = sim.control(QStringLiteral("flash 0x%1 64").arg(kSlot[k] + uint32_t(offset), 0, 16));
            EXPECT_TRUE(line.contains(QString::fromLatin1(files[k].mid(offset, 64).toHex())))
                << k << " " << line.toStdString();
        }
    }
}

TEST(CliDrift, WriteRefusesAFolderWithoutAWholeSet)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(writeBytes(tmp.filePath("0.bin"), QByteArray(10, 'x')));
    const CliResult r = runCli({"drift-write", tmp.path()});
    EXPECT_EQ(r.exitCode, 2) << text(r);
    EXPECT_TRUE(r.err.contains("没有完整的温漂补偿系数文件")) << text(r);
}

} // namespace
