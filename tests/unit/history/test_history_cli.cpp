// irbench-cli's history: a scripted verified write is recorded with the read-back's
// verdict, `history` prints it (lines and CSV, filtered), refusals before anything runs.
#include "CliApp.h"
#include "HistoryEvent.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QFile>
#include <algorithm>
#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Cli {
    int rc = -1;
    std::string out;
    std::string err;
};

Cli cli(const std::vector<std::string>& args)
{
    std::ostringstream out, err;
    Cli r;
    r.rc = irbench_cli::run(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

TEST(HistoryCli, AVerifiedWriteIsPrintedWithItsHashAndVerdict)
{
    irtest::ScopedDataRoot root;
    transfertest::TransferRig rig(false);
    ASSERT_TRUE(rig.ok()) << rig.error();
    const QByteArray data = transfertest::pattern(2345, 5);
    const QString file = root.file("occ.bin");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(data) == data.size());
    f.close();
    const std::string db = "sqlite:" + root.file("cli.sqlite").toStdString();
    const std::string net = "127.0.0.1:" + std::to_string(rig.port());

    Cli w = cli({"--net", net, "--poll-ms", "300", "--db", db, "write-file", "0x1000000", file.toStdString(),
                 "--verify", "2"});
    ASSERT_EQ(w.rc, 0) << w.err;
    Cli h = cli({"--db", db, "history", "--kind", "flash_write", "--since", "2000-01-01"});
    ASSERT_EQ(h.rc, 0) << h.err;
    const std::string sha = sha256Hex(data).toStdString();
    EXPECT_NE(h.out.find("sha256=" + sha), std::string::npos) << h.out;
    EXPECT_NE(h.out.find("verified=true"), std::string::npos) << h.out;
    EXPECT_EQ(std::count(h.out.begin(), h.out.end(), '\n'), 1) << "the read-back is another kind";

    Cli csv = cli({"--db", db, "history", "--csv"});
    ASSERT_EQ(csv.rc, 0) << csv.err;
    EXPECT_EQ(csv.out.rfind("uuid,kind,", 0), 0u);
    EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3) << csv.out; // header, write, read-back
    Cli none = cli({"--db", db, "history", "no-such-core"});
    EXPECT_EQ(none.rc, 0);
    EXPECT_TRUE(none.out.empty());
}

struct Refusal {
    std::vector<std::string> args;
    const char* says;
};

class HistoryCliRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(HistoryCliRefuses, WithAUsageError)
{
    irtest::ScopedDataRoot root;
    const Cli r = cli(GetParam().args);
    EXPECT_EQ(r.rc, 2);
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    History, HistoryCliRefuses,
    ::testing::Values(Refusal{{"history", "--since", "08.12.2026"}, "YYYY-MM-DD"},
                      Refusal{{"history", "--kind", "coffee"}, "未知事件类型"},
                      Refusal{{"history", "a", "b"}, "参数个数不对"},
                      Refusal{{"db-sync"}, "未设置数据库服务器"},
                      Refusal{{"--db", "mysql://x@y/z", "history"}, "sqlite:PATH"}));

} // namespace
