// irbench-cli against irbench-sim, both as real processes, over real TCP and a real pty.
#include "SimProcess.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using irtest::CliResult;
using irtest::runCli;
using irtest::SimProcess;

namespace {

QStringList net(const SimProcess& sim, QStringList rest)
{
    QStringList a{"--net", QString("127.0.0.1:%1").arg(sim.port()), "--poll-ms", "5"};
    return a + rest;
}

} // namespace

TEST(CliOverTcp, RegistersRoundTripWithExactOutputForms)
{
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();

    CliResult w = runCli(net(sim, {"write-reg", "0x1234", "0xCAFEBABE"}));
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    CliResult r = runCli(net(sim, {"read-reg", "4660"})); // the same register in decimal
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0xcafebabe\n");

    w = runCli(net(sim, {"write-short", "0x13", "0x1234", "2"}));
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    r = runCli(net(sim, {"read-short", "0x13"}));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0x1234\n");

    // A small register value still prints eight digits.
    runCli(net(sim, {"write-reg", "0x1235", "7"}));
    EXPECT_EQ(runCli(net(sim, {"read-reg", "0x1235"})).out, "0x00000007\n");

    CliResult raw = runCli(net(sim, {"raw", "F004361300014AFF"}));
    EXPECT_EQ(raw.exitCode, 0) << raw.err.toStdString();
    EXPECT_EQ(sim.terminate(), 0) << "the virtual camera exits cleanly on SIGTERM";
}

TEST(CliOverTcp, TraceShowsEveryFrameAsTheHistoryDoes)
{
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    CliResult r = runCli(net(sim, {"--trace", "write-reg", "0xF0E0", "1"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    // The write frame, then its 11-byte acknowledgement.
    EXPECT_TRUE(r.err.contains("]-[S][f00b36fe000000f0e00000000105ff]")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QRegularExpression("\\]-\\[R\\]\\[f007[0-9a-f]{18}\\]"))) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QRegularExpression("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\]-",
                                                  QRegularExpression::MultilineOption)));
}

TEST(CliOverTcp, ConnectionFailuresExitWithThree)
{
    SimProcess sim({"--user", "op", "--password", "secret"});
    ASSERT_TRUE(sim.ok());
    CliResult r = runCli({"--net", QString("127.0.0.1:%1").arg(sim.port()), "--user", "op", "--password", "wrong",
                          "read-reg", "0xF0E3"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("用户名或密码错误"))) << r.err.toStdString();
    r = runCli({"--net", QString("127.0.0.1:%1").arg(sim.port()), "--user", "op", "--password", "secret",
                "--poll-ms", "5", "write-reg", "0x10", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();

    sim.terminate();
    r = runCli({"--net", QString("127.0.0.1:%1").arg(sim.port()), "read-reg", "0xF0E3"});
    EXPECT_EQ(r.exitCode, 3) << "nothing listens any more";
    EXPECT_TRUE(r.err.contains(QStringLiteral("127.0.0.1:%1 没有设备在监听").arg(sim.port()))) << r.err.toStdString();
    EXPECT_LT(r.elapsedMs, 5000);

    r = runCli({"--serial", "/dev/does-not-exist-irbench", "read-reg", "1"});
    EXPECT_EQ(r.exitCode, 3);
}

TEST(CliUsage, BadCommandLinesExitWithTwoAndSendNothing)
{
    // No camera is needed: usage errors are found before connecting.
    for (const QStringList& args : {QStringList{}, QStringList{"frobnicate"}, QStringList{"read-reg"},
                                    QStringList{"read-reg", "0xZZ"}, QStringList{"read-reg", "-5"},
                                    QStringList{"write-reg", "1", "0x1FFFFFFFF"},
                                    QStringList{"write-short", "0x13", "1", "3"},
                                    QStringList{"read-short", "0x100"}, QStringList{"raw", "F0 0B"},
                                    QStringList{"raw", "F00G"}, QStringList{"raw", QString(66, 'A')},
                                    QStringList{"--poll-ms"}, QStringList{"--bogus", "read-reg", "1"},
                                    QStringList{"--serial", "/dev/null", "--net", "h", "read-reg", "1"}}) {
        CliResult r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("irbench-cli")) << "usage is shown for " << args.join(' ').toStdString();
    }
}

TEST(CliFaults, RefusalsAndSilenceExitWithOneWithinThePollBudget)
{
    SimProcess sim({"--fault", "zero@0xF02A", "--fault", "noreply@0xF031", "--fault", "drop@0xF032"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();

    CliResult r = runCli(net(sim, {"write-reg", "0xF02A", "100"}));
    EXPECT_EQ(r.exitCode, 1) << "value 0 is a refusal";

    r = runCli(net(sim, {"read-reg", "0xF031"}));
    EXPECT_EQ(r.exitCode, 1) << "no answer at all";
    EXPECT_LT(r.elapsedMs, 10000) << "50 polls of 5 ms plus the closing command";

    // The core vanishes in the middle of the transaction: fail, do not hang or crash.
    r = runCli(net(sim, {"read-reg", "0xF032"}));
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_LT(r.elapsedMs, 10000);

    // Other registers are unaffected.
    EXPECT_EQ(runCli(net(sim, {"write-reg", "0xF02C", "5"})).exitCode, 0);
}

TEST(CliOverPty, SerialPortOfTheVirtualCamera)
{
    SimProcess sim({"--no-network"}, true);
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    const QStringList base{"--serial", sim.ptyPath(), "--baud", "115200", "--poll-ms", "5"};
    CliResult w = runCli(base + QStringList{"write-reg", "0x2001", "0x0"});
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    w = runCli(base + QStringList{"write-reg", "0x4242", "0x01020304"});
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
    CliResult r = runCli(base + QStringList{"read-reg", "0x4242"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, "0x01020304\n");
    // A padded short read over the serial line.
    w = runCli(base + QStringList{"write-short", "0x30", "0x7", "1"});
    EXPECT_EQ(w.exitCode, 0) << w.err.toStdString();
}

TEST(CliIdentify, PrintsTheIdentificationOfThePreset)
{
    SimProcess sim({"--preset", "default"});
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    CliResult r = runCli(net(sim, {"identify"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 12) << r.out.toStdString();
    EXPECT_EQ(lines[0], "module_info: 1022");
    EXPECT_TRUE(lines.contains("sensor_id: 20240815")) << r.out.toStdString();
    EXPECT_TRUE(lines.contains("sensor_type: 1"));
    EXPECT_TRUE(lines.contains("frame_size: 640x512"));
    for (const QString& l : lines)
        EXPECT_TRUE(l.contains(QRegularExpression("^[a-z_]+: "))) << l.toStdString();

    SimProcess four({"--preset", "type4"});
    ASSERT_TRUE(four.ok());
    r = runCli(net(four, {"identify", "--form", "1"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("sensor_id: IRB0123\n")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("sensor_type: 4\n"));

    EXPECT_EQ(runCli(net(sim, {"identify", "--form", "7"})).exitCode, 2);
    EXPECT_EQ(runCli(net(sim, {"identify", "extra"})).exitCode, 2);
}

namespace {
uint32_t reflectedCrcInitZero(const QByteArray& d)
{
    uint32_t crc = 0;
    for (unsigned char b : d) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}
uint32_t le32(const QByteArray& d, int at)
{
    return uint32_t(uint8_t(d[at])) | uint32_t(uint8_t(d[at + 1])) << 8 | uint32_t(uint8_t(d[at + 2])) << 16
        | uint32_t(uint8_t(d[at + 3])) << 24;
}
} // namespace

TEST(CliFileTools, InvertAndChecksumWriteBesideTheInputWithoutACamera)
{
    QTemporaryDir dir;
    const QString in = dir.filePath("app.bin");
    {
        QFile f(in);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("abc");
    }
    CliResult r = runCli({"invert", in});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), dir.filePath("Invert_app.bin"));
    QFile inv(dir.filePath("Invert_app.bin"));
    ASSERT_TRUE(inv.open(QIODevice::ReadOnly));
    EXPECT_EQ(inv.readAll(), QByteArray("\x86\x46\xC6"));

    r = runCli({"crc", in});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.trimmed(), dir.filePath("crc_app.bin"));
    QFile out(dir.filePath("crc_app.bin"));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray d = out.readAll();
    ASSERT_EQ(d.size(), 48 + 3);
    EXPECT_EQ(le32(d, 0), 0x5A5AA5A5u);
    EXPECT_EQ(le32(d, 12), 3u);
    EXPECT_EQ(le32(d, 20), reflectedCrcInitZero("abc"));
    EXPECT_EQ(d.mid(48), QByteArray("abc"));

    r = runCli({"crc", dir.filePath("missing.bin")});
    EXPECT_EQ(r.exitCode, 2) << "a file that cannot be read is refused, not \"done\"";
    EXPECT_FALSE(QFile::exists(dir.filePath("crc_missing.bin")));
}

TEST(CliWriteFile, BlocksReadFromTheFileAreVerifiedAgainstIt)
{
    SimProcess sim;
    ASSERT_TRUE(sim.ok()) << sim.output().toStdString();
    QTemporaryDir dir;
    // Three blocks and a short one; b differs from a only in the second block.
    QByteArray a(3500, Qt::Uninitialized);
    for (int i = 0; i < a.size(); ++i)
        a[i] = char((i * 7 + i / 251) & 0xFF);
    QByteArray b = a;
    b[1234] = char(b[1234] ^ 0x10);
    const QString fa = dir.filePath("a.bin"), fb = dir.filePath("b.bin");
    for (const auto& [path, bytes] : {std::pair{fa, a}, std::pair{fb, b}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
    }

    CliResult r = runCli(net(sim, {"write-file", "0x1000000", fa, "--verify", "2"}));
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("已写入 3500 字节到 0x01000000")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("校验通过: 3500 字节一致")) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains("写入 100%")) << r.err.toStdString();

    // Written to OCC 2, compared with OCC 1, which holds a.
    r = runCli(net(sim, {"write-file", "0x1100000", fb, "--verify", "2"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("偏移 0x4d2 处不同")) << r.err.toStdString();

    // The same file against a longer data set: the length is the difference.
    QFile shortFile(dir.filePath("s.bin"));
    ASSERT_TRUE(shortFile.open(QIODevice::WriteOnly) && shortFile.write(a.left(2000)) == 2000);
    shortFile.close();
    r = runCli(net(sim, {"write-file", "0x1200000", shortFile.fileName(), "--verify", "2"}));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("写入 2000 字节, 读回 3500 字节 (偏移 0x7d0 起不同)")) << r.err.toStdString();
}
