// write-file and read-back of irbench-cli against the virtual camera: every data set
// written, verified and read back byte for byte.
#include "CComonFun.h"
#include "CliApp.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sstream>

using namespace transfertest;

namespace {

struct Cli {
    int rc = -1;
    std::string out;
    std::string err;
};

Cli cli(int port, const std::vector<std::string>& args)
{
    std::vector<std::string> all = {"--net", "127.0.0.1:" + std::to_string(port), "--poll-ms",
                                    std::to_string(int(kPollMs))};
    all.insert(all.end(), args.begin(), args.end());
    std::ostringstream out, err;
    Cli r;
    r.rc = irbench_cli::run(all, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

// Where each read-back selector's data set lives in the virtual camera.
uint32_t selectorAddress(int selector)
{
    if (selector == 1)
        return 0x1400000;
    if (selector <= 5)
        return 0x1000000 + uint32_t(selector - 2) * 0x100000;
    if (selector <= 9)
        return 0xC00000 + uint32_t(selector - 6) * 0x100000;
    return 0x1A00000;
}

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

} // namespace

TEST(TransferCli, EverySelectorRoundTripsByteForByte)
{
    TransferRig rig(false);
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir dir;
    for (int sel = 1; sel <= 10; ++sel) {
        SCOPED_TRACE(sel);
        // Sizes around the block edges: whole blocks, a short last block, one byte.
        const int size = sel == 1 ? 1 : (sel == 2 ? 3000 : 254 * sel + 17 * sel);
        const QByteArray data = pattern(size, sel);
        const QString in = dir.filePath(QString("in%1.bin").arg(sel));
        ASSERT_TRUE(CComonFun::writeFile(in, data));
        const Cli w = cli(rig.port(), {"write-file", hex(selectorAddress(sel)), in.toStdString(), "--verify",
                                       std::to_string(sel)});
        EXPECT_EQ(w.rc, 0) << w.err;
        EXPECT_NE(w.out.find("校验通过"), std::string::npos) << w.out;
        EXPECT_NE(w.err.find("写入 100%"), std::string::npos) << w.err;

        const QString out = dir.filePath(QString("out%1.bin").arg(sel));
        const Cli r = cli(rig.port(), {"read-back", std::to_string(sel), out.toStdString()});
        EXPECT_EQ(r.rc, 0) << r.err;
        EXPECT_EQ(irtest::readAll(out), data);
    }
    EXPECT_EQ(rig.core().upgradeState(), irsim::UpgradeEngine::State::Idle);
}

TEST(TransferCli, VerifyReportsTheFirstDifferenceAndReloadIsSent)
{
    TransferRig rig(false);
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir dir;
    QByteArray a = pattern(600, 1);
    QByteArray b = a;
    b[0x123] = char(b[0x123] ^ 0x40);
    const QString fa = dir.filePath("a.bin"), fb = dir.filePath("b.bin");
    ASSERT_TRUE(CComonFun::writeFile(fa, a));
    ASSERT_TRUE(CComonFun::writeFile(fb, b));
    ASSERT_EQ(cli(rig.port(), {"write-file", "0x1100000", fb.toStdString()}).rc, 0);

    // Written to OCC 1, compared with OCC 2 (which holds b): first difference at 0x123.
    const Cli w = cli(rig.port(), {"write-file", "0x1000000", fa.toStdString(), "--reload", "--verify", "3"});
    EXPECT_EQ(w.rc, 1);
    EXPECT_NE(w.err.find("0x123"), std::string::npos) << w.err;
    EXPECT_EQ(rig.core().reloadCount(), 1);
    EXPECT_EQ(rig.flash(0x1000000, 600), a);
}

TEST(TransferCli, BadArgumentsAreRefusedBeforeConnecting)
{
    TransferRig rig(false);
    ASSERT_TRUE(rig.ok()) << rig.error();
    QTemporaryDir dir;
    const QString big = dir.filePath("big.bin");
    ASSERT_TRUE(CComonFun::writeFile(big, QByteArray(0x2001, 'x')));
    const QString empty = dir.filePath("empty.bin");
    ASSERT_TRUE(CComonFun::writeFile(empty, QByteArray()));

    EXPECT_EQ(cli(rig.port(), {"write-file", "0x1428000", big.toStdString()}).rc, 2);
    EXPECT_EQ(cli(rig.port(), {"write-file", "0x1428000", empty.toStdString()}).rc, 2);
    EXPECT_EQ(cli(rig.port(), {"write-file", "0x1000000", dir.filePath("none").toStdString()}).rc, 2);
    EXPECT_EQ(cli(rig.port(), {"write-file", "0x1000000", big.toStdString(), "--verify", "11"}).rc, 2);
    EXPECT_EQ(cli(rig.port(), {"read-back", "0", dir.filePath("o").toStdString()}).rc, 2);
    const Cli missing = cli(rig.port(), {"read-back", "2", dir.filePath("no/dir/o.bin").toStdString()});
    EXPECT_EQ(missing.rc, 2);
    EXPECT_NE(missing.err.find("文件打开失败"), std::string::npos);
    EXPECT_TRUE(rig.requests().empty()) << "nothing reached the core";
}
