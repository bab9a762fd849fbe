// irbench-cli against irbench-sim, both as processes, with the reply faults a bad line
// or a faulty core produces, in both pacings: every answer printed is the core's, every
// fault ends in a failure that says so, and nothing wrong is reported as success.
#include "SimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

using irtest::CliResult;
using irtest::runCli;
using irtest::SimProcess;

namespace {

struct Case {
    const char* name;
    const char* fault;
    bool answers; // the read succeeds with the core's value
};

const Case kCases[] = {
    {"split", "split=30@0xF0E3", true},
    {"delay_past_polls", "delay=60@0xF0E3", true},
    {"noise_before", "noise=9@0xF0E3", true},
    {"flipped_bit", "flip@0xF0E3", false},
    {"wrong_checksum", "badsum@0xF0E3", false},
    {"wrong_terminator", "badend@0xF0E3", false},
    {"wrong_echo", "echo@0xF0E3", false},
};

class CliReplies : public ::testing::TestWithParam<std::tuple<const char*, Case>> {
protected:
    static void SetUpTestSuite() { sim = std::make_unique<SimProcess>(); }
    static void TearDownTestSuite() { sim.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(sim && sim->ok());
        ASSERT_TRUE(sim->control("fault clear").startsWith("ok"));
    }
    static CliResult cli(QStringList rest)
    {
        QStringList a{"--net", QString("127.0.0.1:%1").arg(sim->port()), "--poll-ms", "10", "--pacing",
                      std::get<0>(GetParam())};
        return runCli(a + rest);
    }
    static std::unique_ptr<SimProcess> sim;
};
std::unique_ptr<SimProcess> CliReplies::sim;

} // namespace

TEST_P(CliReplies, ReadRegisterIsTheCoresValueOrAFailure)
{
    const Case& c = std::get<1>(GetParam());
    const CliResult truth = cli({"read-reg", "0xF0E3"});
    ASSERT_EQ(truth.exitCode, 0) << truth.err.toStdString();
    ASSERT_TRUE(sim->control(QString("fault %1").arg(c.fault)).startsWith("ok"));
    const CliResult r = cli({"--trace", "read-reg", "0xF0E3"});
    if (c.answers) {
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        EXPECT_EQ(r.out, truth.out);
    } else {
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << "no value at all rather than a wrong one";
        EXPECT_TRUE(r.err.contains(QStringLiteral("已丢弃"))) << "the trace says what came and why it was dropped";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, CliReplies,
                         ::testing::Combine(::testing::Values("fixed", "reply"), ::testing::ValuesIn(kCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
                         });

// A late reply is never taken for the next request's: identification stops at the
// read that went unanswered and says which.
TEST(CliLateReplies, IdentifyStopsAtTheSilentReadInsteadOfMixingFields)
{
    for (const char* pacing : {"fixed", "reply"}) {
        SCOPED_TRACE(pacing);
        SimProcess sim({"--fault", "delay=700"});
        ASSERT_TRUE(sim.ok());
        const CliResult r = runCli({"--net", QString("127.0.0.1:%1").arg(sim.port()), "--poll-ms", "10", "--pacing",
                                    pacing, "identify"});
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("识别已停止"))) << r.err.toStdString();
        EXPECT_FALSE(r.out.contains("sensor_id: 1")) << "no sensor ID made of other registers' answers";
    }
}

// Flash writes and read-backs through the faults that must not corrupt them.
TEST(CliTransferReplies, ReadBackThroughNoiseAndWritesWithARefusedExit)
{
    SimProcess sim;
    ASSERT_TRUE(sim.ok());
    QTemporaryDir dir;
    const QStringList net{"--net", QString("127.0.0.1:%1").arg(sim.port()), "--poll-ms", "5", "--pacing", "reply"};
    const QString file = dir.filePath("w.bin"), back = dir.filePath("back.bin");
    QByteArray data(51200, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131) >> 3);
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
    }
    ASSERT_EQ(runCli(net + QStringList{"write-file", "0x1A00000", file}).exitCode, 0);
    ASSERT_TRUE(sim.control("fault garbage=5@block:0xEA#5").startsWith("ok"));
    const CliResult r = runCli(net + QStringList{"read-back", "10", back});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QFile got(back);
    ASSERT_TRUE(got.open(QIODevice::ReadOnly));
    EXPECT_EQ(got.readAll(), data) << "the noise is not part of the table";

    ASSERT_TRUE(sim.control("fault clear").startsWith("ok"));
    ASSERT_TRUE(sim.control("fault zero@block:0xE6*2").startsWith("ok"));
    CliResult w = runCli(net + QStringList{"write-file", "0x1000000", file});
    EXPECT_EQ(w.exitCode, 0) << "the exit was asked again: " << w.err.toStdString();
    ASSERT_TRUE(sim.control("fault clear").startsWith("ok"));
    ASSERT_TRUE(sim.control("fault zero@block:0xE6").startsWith("ok"));
    w = runCli(net + QStringList{"write-file", "0x1000000", file});
    EXPECT_EQ(w.exitCode, 1);
    EXPECT_TRUE(w.err.contains(QStringLiteral("机芯可能仍处于升级模式"))) << w.err.toStdString();
}

// At 9600 baud the reply reaches the host a few bytes at a time; the reply pacing
// gathers it and returns the core's value.
TEST(CliSlowLine, ReplyArrivingBytewiseAt9600BaudIsTakenWhole)
{
    SimProcess sim({"--baud", "9600"});
    ASSERT_TRUE(sim.ok());
    const QStringList net{"--net", QString("127.0.0.1:%1").arg(sim.port()), "--poll-ms", "20"};
    const CliResult fixed = runCli(net + QStringList{"--pacing", "fixed", "read-reg", "0xF0E3"});
    ASSERT_EQ(fixed.exitCode, 0) << fixed.err.toStdString();
    const CliResult reply = runCli(net + QStringList{"--pacing", "reply", "read-reg", "0xF0E3"});
    EXPECT_EQ(reply.exitCode, 0) << reply.err.toStdString();
    EXPECT_EQ(reply.out, fixed.out);
}
