// irbench-cli sensor-config against irbench-sim, both as processes: one item of each
// kind lands where the core keeps it (flash model or register file), with the page's
// message on stderr and the README's exit code.
#include "SimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

using irtest::CliResult;
using irtest::runCli;
using irtest::SimProcess;

namespace {

struct Case {
    const char* name;
    QStringList args;       // after "sensor-config"
    QStringList setup;      // control lines sent to the camera first
    QStringList before;     // CLI commands run first (each must succeed)
    const char* check;      // control line whose answer is compared ("flash A N" / "reg A"), or none
    const char* want;       // expected answer after "ok "
    int exitCode;
    const char* told;       // fragment of stderr
};

const QString kTable = QStringLiteral("@TABLE@");

const Case kCases[] = {
    // Hex identity; the type is given, so nothing is identified first.
    {"HexSensorId", {"gwic", "sensor-id", "AB_12.3 4", "--sensor-type", "0"}, {}, {}, "flash 0x0142C000 3",
     "ab1234", 0, "写入sensorID成功"},
    // ASCII identity: the dali preset identifies as sensor type 4.
    {"AsciiSensorIdFromIdentifiedType", {"dali", "sensor-id", "DL_09.24"}, {}, {}, "flash 0x0142C000 6",
     "444c30393234", 0, "写入sensorID成功"},
    {"Latin1Batch", {"wy", "batch", "Caf\u00e9 1"}, {}, {}, "flash 0x0142F000 5", "436166e931", 0,
     "写入生产批次成功"},
    {"FourAreaCodeLastArea", {"gwic", "data", "0102 0304"}, {}, {}, "flash 0x01423000 4", "01020304", 0,
     "写入sensor配置码成功"},
    {"IrayCodeArea1", {"iray", "data", "DEAD", "--area", "1"}, {}, {}, "flash 0x01421000 2", "dead", 0,
     "写入sensor配置码成功"},
    {"NumericRegister", {"dali", "tint", "321"}, {}, {}, "reg 0xF02A", "0x00000141", 0, "写入TINT积分时间成功"},
    {"NtccDone", {"iray", "ntcc"}, {}, {}, "reg 0xF021", "0x00000001", 0, "NTCC校正完成"},
    {"NtccRefused", {"iray", "ntcc"}, {"fault zero@0xF021"}, {}, nullptr, nullptr, 1, "NTCC校正失败"},
    // Every switch is set first, so the one-key configuration's zeros are its own.
    {"PicoOneKeyConfig", {"pico", "pico-config"}, {},
     {"write-reg 0x7012 1", "write-reg 0x7080 1", "write-reg 0x70C6 1", "write-reg 0x7015 1"}, "reg 0x7015",
     "0x00000000", 0, "一键配置成功"},
    {"PicoOneKeyStopsAtFirstFailure", {"pico", "pico-config"}, {"fault zero@0x7080"},
     {"write-reg 0x7012 1", "write-reg 0x70C6 1", "write-reg 0x7015 1"}, "reg 0x70C6", "0x00000001", 1, "关闭去竖线失败"},
    {"InitTable", {"pico", "init-table", "@TABLE@"}, {}, {}, "flash 0x01400000 5", "0114020300", 0, "写入初始坏点表完成"},
};

class CliSensor : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite()
    {
        sim = std::make_unique<SimProcess>(QStringList{"--preset", "dali", "--long-delay", "50"});
    }
    static void TearDownTestSuite() { sim.reset(); }
    void SetUp() override
    {
        ASSERT_TRUE(sim && sim->ok());
        ASSERT_TRUE(sim->control("fault clear").startsWith("ok"));
    }
    static QStringList link()
    {
        return {"--net", QString("127.0.0.1:%1").arg(sim->port()), "--poll-ms", "10", "--pacing", "reply"};
    }
    static std::unique_ptr<SimProcess> sim;
};
std::unique_ptr<SimProcess> CliSensor::sim;

} // namespace

TEST_P(CliSensor, LandsWhereTheCoreKeepsIt)
{
    const Case& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString table = dir.filePath("init.bin");
    {
        QFile f(table);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray::fromHex("0114020300"));
    }
    for (const QString& line : c.before) {
        const CliResult r = runCli(link() + line.split(' '));
        ASSERT_EQ(r.exitCode, 0) << line.toStdString() << ": " << r.err.toStdString();
    }
    for (const QString& line : c.setup)
        ASSERT_TRUE(sim->control(line).startsWith("ok")) << line.toStdString();

    QStringList args = c.args;
    args.replaceInStrings(kTable, table);
    const CliResult r = runCli(link() + QStringList{"sensor-config"} + args, 60000);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.told))) << r.err.toStdString();
    if (c.exitCode != 0) {
        EXPECT_FALSE(r.err.contains(QStringLiteral("成功"))) << "a failure is never also told as success";
    }
    ASSERT_TRUE(sim->control("fault clear").startsWith("ok"));
    if (c.check) {
        EXPECT_EQ(sim->control(QString::fromUtf8(c.check)), QStringLiteral("ok ") + QString::fromUtf8(c.want));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, CliSensor, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A refused text is a usage error told before anything is connected: nothing listens
// on the port, and the answer is still the "警告" text with exit 2.
TEST(CliSensorRefusal, BeforeConnecting)
{
    struct Refused { QStringList args; const char* told; };
    const Refused cases[] = {
        {{"gwic", "batch", "AB1G"}, "只能包含十六进制字符"},
        {{"gwic", "sensor-id", "AB\u00e9"}, "只能包含十六进制字符"},
        {{"gwic", "core-type", "2A3"}, "至少需要 4 个十六进制字符"},
        {{"dali", "vbs", "12.5"}, "必须是 0 到 2147483647 之间的整数"},
        {{"pico", "target", "-3"}, "必须是 0 到 2147483647 之间的整数"},
        {{"iray", "sensor-id", "_._"}, "Sensor编号不能为空"},
        {{"pico", "init-table", "/nonexistent/init.bin"}, "初始坏点表文件不存在"},
    };
    for (const Refused& c : cases) {
        const CliResult r = runCli(QStringList{"--net", "127.0.0.1:1", "sensor-config"} + c.args, 10000);
        EXPECT_EQ(r.exitCode, 2) << c.args.join(' ').toStdString() << ": " << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.told))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("连接"))) << "refused before connecting: " << r.err.toStdString();
    }
}
