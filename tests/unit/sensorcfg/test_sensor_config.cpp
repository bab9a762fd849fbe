// The detector configuration against the virtual camera: what lands in flash and in the
// registers for each vendor's fields, the frames on the way, the refusals that send
// nothing, and a failing step never told as success.
#include "ModuleInteract.h"
#include "Pace.h"
#include "SensorConfig.h"
#include "TransferRig.h"
#include "UpgradeWriter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace transfertest;
using sensorcfg::Item;
using sensorcfg::Request;
using sensorcfg::Vendor;

namespace {


QString word(uint32_t v)
{
    return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0'));
}

// One upgrade mode writing `size` bytes into each area in turn.
QStringList upgradeFrames(const std::vector<uint32_t>& areas, int size, bool reload, bool emptyLast)
{
    QStringList out{"F0E0=1", "F0E1=1"};
    for (uint32_t a : areas) {
        out << "E3 " + word(a) << "E4 " + word(uint32_t(size));
        for (int left = size; left > 0; left -= 1000)
            out << QStringLiteral("EE %1").arg(std::min(left, 1000));
        if (emptyLast && size % 1000 == 0)
            out << "EE 0";
        out << "E5";
        if (reload)
            out << "EC 01";
    }
    out << "E6";
    return out;
}

Request request(Vendor v, Item item, const QString& text, int sensorType = 0, int area = 0)
{
    Request r;
    r.vendor = v;
    r.item = item;
    r.text = text;
    r.sensorTypeCode = sensorType;
    r.area = area;
    return r;
}

class SensorConfigTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_rig.ok()) << m_rig.error(); }
    TransferRig m_rig;
    RecordingContext m_ctx;
};

// ---- identity strings and configuration codes into flash ----

struct IdentityCase {
    const char* name;
    Vendor vendor;
    Item item;
    const char* text; // UTF-8, repeated `repeat` times
    int repeat;
    int sensorType;
    int area;
    const char* bytes; // expected payload as hex, repeated likewise
    std::vector<uint32_t> areas;
    const char* done;
};

const IdentityCase kIdentity[] = {
    {"GwicSensorIdSeparators", Vendor::GWIC, Item::SensorId, "AB_12.3 4", 1, 0, 0, "ab1234", {0x0142C000}, "写入sensorID成功"},
    {"PicoSensorIdDash", Vendor::PICO, Item::SensorId, "AB-12", 1, 0, 0, "ab12", {0x0142C000}, "写入sensorID成功"},
    {"DaliSensorIdOddLength", Vendor::DALI, Item::SensorId, " ABC ", 1, 0, 0, "0abc", {0x0142C000}, "写入sensorID成功"},
    {"AsciiSensorId", Vendor::IRAY, Item::SensorId, "ir_A.7", 1, 4, 0, "69724137", {0x0142C000}, "写入sensorID成功"},
    {"WySensorIdLatin1", Vendor::WY, Item::SensorId, "Caf\xc3\xa9_1", 1, 0, 0, "436166e931", {0x0142C000}, "写入sensorID成功"},
    {"GwicBatchHex", Vendor::GWIC, Item::Batch, "12_34.56", 1, 0, 0, "123456", {0x0142F000}, "写入生产批次成功"},
    {"DaliBatchDash", Vendor::DALI, Item::Batch, "0A-0B", 1, 0, 0, "0a0b", {0x0142F000}, "写入生产批次成功"},
    {"WyBatchLatin1", Vendor::WY, Item::Batch, "B 12.x", 1, 0, 0, "423132 78", {0x0142F000}, "写入生产批次成功"},
    {"CoreIdLongForm", Vendor::IRAY, Item::CoreType, "112A3B", 1, 0, 0, "2a3b112a3b", {0x0142E000}, "写入机芯ID成功"},
    {"CoreIdOddLength", Vendor::GWIC, Item::CoreType, "1234567", 1, 0, 0, "034561234567", {0x0142E000}, "写入机芯ID成功"},
    {"GwicCodeFourAreas", Vendor::GWIC, Item::Data, "0102 0304", 1, 0, 0, "01020304",
     {0x01420000, 0x01421000, 0x01422000, 0x01423000}, "写入sensor配置码成功"},
    {"WyCodeLongFourAreas", Vendor::WY, Item::Data, "A5", 1200, 0, 0, "a5",
     {0x01420000, 0x01421000, 0x01422000, 0x01423000}, "写入sensor配置码成功"},
    {"IrayCodeArea0", Vendor::IRAY, Item::Data, "DE AD", 1, 0, 0, "dead", {0x01420000}, "写入sensor配置码成功"},
    {"IrayCodeArea1", Vendor::IRAY, Item::Data, "DEAD BEEF", 1, 0, 1, "deadbeef", {0x01421000}, "写入sensor配置码成功"},
    {"ExactlyOneBlock", Vendor::PICO, Item::SensorId, "5A", 1000, 0, 0, "5a", {0x0142C000}, "写入sensorID成功"},
};

class IdentityWrite : public SensorConfigTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityWrite, LandsInFlashInOneUpgradeMode)
{
    const IdentityCase& c = GetParam();
    const Request r = request(c.vendor, c.item, QString::fromUtf8(c.text).repeated(c.repeat), c.sensorType, c.area);
    const QByteArray want = QByteArray::fromHex(QByteArray(c.bytes).replace(' ', "")).repeated(c.repeat);
    ASSERT_EQ(sensorcfg::validate(r), QString());
    EXPECT_EQ(sensorcfg::payload(r), want);

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(sensorcfg::write(m_ctx, r)) << m_ctx.messages.join('\n').toStdString();
    const qint64 elapsed = clock.elapsed();

    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("提示|") + QString::fromUtf8(c.done)});
    EXPECT_EQ(m_rig.requestLines(), upgradeFrames(c.areas, int(want.size()), false, false));
    for (uint32_t a : c.areas)
        EXPECT_EQ(m_rig.flash(a, int(want.size())), want) << std::hex << a;
    if (c.item == Item::Data) {
        // Areas not chosen stay erased.
        for (uint32_t a : sensorcfg::kDataAreas) {
            if (std::find(c.areas.begin(), c.areas.end(), a) == c.areas.end()) {
                EXPECT_EQ(m_rig.flash(a, int(want.size())), QByteArray(want.size(), char(0xFF))) << std::hex << a;
            }
        }
    }
    if (c.areas.size() > 1) {
        // The core gets its settling time between the areas.
        EXPECT_GE(elapsed, qint64(Pace::scaledMs(double(c.areas.size() - 1) * sensorcfg::kDataAreaPauseMs)));
        // The bar keeps moving while the core settles, never goes back, and ends full.
        const QVector<int>& p = m_ctx.progress;
        ASSERT_FALSE(p.isEmpty());
        EXPECT_TRUE(std::is_sorted(p.begin(), p.end()));
        EXPECT_EQ(p.back(), 100);
        EXPECT_GT(QSet<int>(p.begin(), p.end()).size(), 4 * int(c.areas.size())) << "the pauses move the bar";
        EXPECT_TRUE(m_ctx.status.join('|').contains(QStringLiteral("剩余"))) << "remaining time during the pauses";
    }
}

INSTANTIATE_TEST_SUITE_P(Vendors, IdentityWrite, ::testing::ValuesIn(kIdentity),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- a failing step inside upgrade mode ----

struct FailCase {
    const char* name;
    Vendor vendor;
    Item item;
    const char* text;
    const char* fault;
    const char* told;
};

const FailCase kFails[] = {
    {"SensorIdBlockRefused", Vendor::GWIC, Item::SensorId, "AB12", "zero@block:0xEE", "写入sensorID失败"},
    {"BatchEnterRefused", Vendor::PICO, Item::Batch, "AB12", "zero@0xF0E0", "进入升级模式失败"},
    {"CoreIdEndRefused", Vendor::DALI, Item::CoreType, "112A3B", "zero@block:0xE5", "升级结束失败"},
    {"CodeThirdAreaAddressRefused", Vendor::GWIC, Item::Data, "0102", "zero@block:0xE3#3", "发送升级地址失败"},
};

class IdentityFailure : public SensorConfigTest, public ::testing::WithParamInterface<FailCase> {};

TEST_P(IdentityFailure, ToldOnceLeavesUpgradeModeNeverSuccess)
{
    const FailCase& c = GetParam();
    ASSERT_TRUE(m_rig.fault(c.fault));
    EXPECT_FALSE(sensorcfg::write(m_ctx, request(c.vendor, c.item, QString::fromUtf8(c.text))));
    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("提示|") + QString::fromUtf8(c.told)});
    EXPECT_TRUE(m_rig.lastRequestIsExit());
}

INSTANTIATE_TEST_SUITE_P(Steps, IdentityFailure, ::testing::ValuesIn(kFails),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- numeric parameters as register writes ----

struct RegisterCase {
    const char* name;
    Vendor vendor;
    Item item;
    const char* text;
    int reg;
    uint32_t value;
    const char* done;
};

const RegisterCase kRegisters[] = {
    {"CoreTypeShort", Vendor::GWIC, Item::CoreType, "2A3B", 0xF027, 0x2A3B, "写入机芯型号成功"},
    {"CoreTypeFiveChars", Vendor::WY, Item::CoreType, "1a2B3", 0xF027, 0x1A2B3, "写入机芯型号成功"},
    {"IrayVtemp", Vendor::IRAY, Item::Vtemp, " 1234 ", 0xF040, 1234, "写入IRAY 25 Vtemp值成功"},
    {"PicoGfid", Vendor::PICO, Item::GFidGsk, "2147483647", 0xF040, 2147483647u, "写入IRAY 25 Vtemp值成功"},
    {"DaliVbs", Vendor::DALI, Item::Vbs, "0", 0xF02C, 0, "写入VBS偏压值成功"},
    {"DaliTint", Vendor::DALI, Item::Tint, "321", 0xF02A, 321, "写入TINT积分时间成功"},
    {"DaliResponse", Vendor::DALI, Item::Response, "0045", 0xF02D, 45, "写入响应率成功"},
    {"DaliSitf", Vendor::DALI, Item::Sitf, "88", 0xF02E, 88, "写入期望响应率成功"},
};

class RegisterWrite : public SensorConfigTest, public ::testing::WithParamInterface<RegisterCase> {};

TEST_P(RegisterWrite, OneRegisterWithItsMessage)
{
    const RegisterCase& c = GetParam();
    m_rig.core().setLongRegister(uint32_t(c.reg), 0xA5A5A5A5u);
    const Request r = request(c.vendor, c.item, QString::fromUtf8(c.text));
    EXPECT_TRUE(sensorcfg::payload(r).isEmpty());
    ASSERT_TRUE(sensorcfg::write(m_ctx, r)) << m_ctx.messages.join('\n').toStdString();
    EXPECT_EQ(m_rig.core().longRegister(uint32_t(c.reg)), c.value);
    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("提示|") + QString::fromUtf8(c.done)});
    EXPECT_EQ(m_rig.requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Vendors, RegisterWrite, ::testing::ValuesIn(kRegisters),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- refusals: the "警告" text and nothing sent ----

struct RefusalCase {
    const char* name;
    Vendor vendor;
    Item item;
    QString text;
    int sensorType;
    int area;
    QString told;
};

const QString kHexOnly = QStringLiteral("只能包含十六进制字符（0-9、A-F）！");
const QString kWhole = QStringLiteral("必须是 0 到 2147483647 之间的整数！");

const RefusalCase kRefusals[] = {
    {"SensorIdEmpty", Vendor::GWIC, Item::SensorId, "  ", 0, 0, "Sensor编号不能为空！"},
    {"SensorIdOnlySeparators", Vendor::IRAY, Item::SensorId, "_._", 0, 0, "Sensor编号不能为空！"},
    {"PicoSensorIdOnlySeparators", Vendor::PICO, Item::SensorId, "-_.", 0, 0, "Sensor编号不能为空！"},
    {"CodeOnlyBlanks", Vendor::GWIC, Item::Data, "   ", 0, 0, "配置码Data不能为空！"},
    {"CoreTypeEmpty", Vendor::DALI, Item::CoreType, "", 0, 0, "机芯型号不能为空！"},
    {"BatchOnlySeparators", Vendor::WY, Item::Batch, " . _", 0, 0, "机芯序列号不能为空！"},
    {"VtempEmpty", Vendor::IRAY, Item::Vtemp, " ", 0, 0, "25 Vtemp不能为空！"},
    {"GfidEmpty", Vendor::PICO, Item::GFidGsk, "", 0, 0, "GFid/GKS不能为空！"},
    {"VbsEmpty", Vendor::DALI, Item::Vbs, "", 0, 0, "VBS偏压不能为空！"},
    {"TintEmpty", Vendor::DALI, Item::Tint, "", 0, 0, "TINIT积分时间不能为空！"},
    {"ResponseEmpty", Vendor::DALI, Item::Response, "", 0, 0, "响应率不能为空！"},
    {"SitfEmpty", Vendor::DALI, Item::Sitf, "", 0, 0, "期望响应率不能为空！"},
    {"SensorIdNotHex", Vendor::GWIC, Item::SensorId, "AB1G", 0, 0, "Sensor编号" + kHexOnly},
    {"GwicBatchDashIsNotSeparator", Vendor::GWIC, Item::Batch, "12-34", 0, 0, "机芯序列号" + kHexOnly},
    {"CodeNotHex", Vendor::IRAY, Item::Data, "01 0x", 0, 0, "配置码Data" + kHexOnly},
    {"CoreTypeNotHex", Vendor::PICO, Item::CoreType, "G123", 0, 0, "机芯型号" + kHexOnly},
    {"CoreTypeThreeChars", Vendor::GWIC, Item::CoreType, "2A3", 0, 0, "机芯型号至少需要 4 个十六进制字符！"},
    {"CoreTypeOneChar", Vendor::GWIC, Item::CoreType, "7", 0, 0, "机芯型号至少需要 4 个十六进制字符！"},
    {"WyNotLatin1", Vendor::WY, Item::SensorId, QStringLiteral("传感器1"), 0, 0, "Sensor编号只能包含 Latin-1 字符！"},
    {"WyBatchNotLatin1", Vendor::WY, Item::Batch, QStringLiteral("B€1"), 0, 0, "机芯序列号只能包含 Latin-1 字符！"},
    {"AsciiSensorIdNotAscii", Vendor::DALI, Item::SensorId, QStringLiteral("SNé1"), 4, 0, "Sensor编号只能包含 ASCII 字符！"},
    {"VtempFraction", Vendor::IRAY, Item::Vtemp, "12.5", 0, 0, "25 Vtemp" + kWhole},
    {"VbsNegative", Vendor::DALI, Item::Vbs, "-1", 0, 0, "VBS偏压" + kWhole},
    {"TintOutOfRange", Vendor::DALI, Item::Tint, "2147483648", 0, 0, "TINIT积分时间" + kWhole},
    {"SitfExponent", Vendor::DALI, Item::Sitf, "1e3", 0, 0, "期望响应率" + kWhole},
    {"TargetNotNumber", Vendor::PICO, Item::Target, "abc", 0, 0, "目标值" + kWhole},
    {"TargetEmpty", Vendor::PICO, Item::Target, "", 0, 0, "目标值不能为空！"},
    {"ItemOfOtherVendor", Vendor::GWIC, Item::Vtemp, "12", 0, 0, "GWIC 没有此配置项：vtemp"},
    {"NtccOnDali", Vendor::DALI, Item::Ntcc, "", 0, 0, "DALI 没有此配置项：ntcc"},
    {"IrayAreaTwo", Vendor::IRAY, Item::Data, "0102", 0, 2, "配置码空间只能是 0空间 或 1空间！"},
    {"CodeLargerThanArea", Vendor::GWIC, Item::Data, QStringLiteral("AB").repeated(4097), 0, 0,
     upgradeTooLargeText(0x01420000, 4097)},
    {"InitTablePathEmpty", Vendor::PICO, Item::InitTable, " ", 0, 0, "初始坏点表文件不存在"},
    {"InitTableMissing", Vendor::PICO, Item::InitTable, "/nonexistent/table.bin", 0, 0, "初始坏点表文件不存在"},
};

class Refusal : public SensorConfigTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, WarnsAndSendsNothing)
{
    const RefusalCase& c = GetParam();
    const Request r = request(c.vendor, c.item, c.text, c.sensorType, c.area);
    EXPECT_EQ(sensorcfg::validate(r), c.told);
    const uint64_t before = m_rig.core().requestCount();
    EXPECT_FALSE(sensorcfg::write(m_ctx, r));
    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("警告|") + c.told});
    EXPECT_EQ(m_rig.core().requestCount(), before);
}

INSTANTIATE_TEST_SUITE_P(Fields, Refusal, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- PICO one-key configuration stops at the first refusal ----

struct OneKeyCase {
    const char* name;
    const char* fault; // empty: none
    int writes;        // registers asked before it stops
    const char* told;
};

const OneKeyCase kOneKey[] = {
    {"AllAccepted", "", 4, "一键配置成功"},
    {"BadPixelRefused", "zero@0x7012", 1, "关闭去坏点失败"},
    {"VerticalLineRefused", "zero@0x7080", 2, "关闭去竖线失败"},
    {"VignetteRefused", "zero@0x70C6", 3, "关闭去锅盖失败"},
    {"NucRefused", "zero@0x7015", 4, "关闭NUC失败"},
};

class OneKey : public SensorConfigTest, public ::testing::WithParamInterface<OneKeyCase> {};

TEST_P(OneKey, WritesInOrderUntilRefused)
{
    const OneKeyCase& c = GetParam();
    if (*c.fault) {
        ASSERT_TRUE(m_rig.fault(c.fault));
    }
    const bool ok = sensorcfg::write(m_ctx, request(Vendor::PICO, Item::PicoConfig, QString()));
    EXPECT_EQ(ok, c.writes == 4 && !*c.fault);
    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("提示|") + QString::fromUtf8(c.told)});
    QStringList want;
    for (int i = 0; i < c.writes; ++i)
        want << QStringLiteral("%1=0").arg(sensorcfg::kPicoConfigRegisters[i], 0, 16).toUpper();
    EXPECT_EQ(m_rig.requestLines(), want);
}

INSTANTIATE_TEST_SUITE_P(Pico, OneKey, ::testing::ValuesIn(kOneKey),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- the calibration commands and the PICO correction ----

struct CommandCase {
    const char* name;
    Vendor vendor;
    Item item;
    const char* fault;
    bool ok;
    QStringList frames;
    const char* told;
};

const CommandCase kCommands[] = {
    {"NtccDone", Vendor::IRAY, Item::Ntcc, "", true, {"F021=1"}, "NTCC校正完成"},
    {"NtccRefused", Vendor::IRAY, Item::Ntcc, "zero@0xF021", false, {"F021=1"}, "NTCC校正失败"},
    {"AutoCorrectDone", Vendor::DALI, Item::AutoCorrect, "", true, {"F029=1"}, "机芯自动校正成功"},
    {"AutoCorrectRefused", Vendor::DALI, Item::AutoCorrect, "zero@0xF029", false, {"F029=1"}, "机芯自动校正失败"},
    {"TargetThenCorrection", Vendor::PICO, Item::Target, "", true, {"F02A=6500", "F029=1"}, "自动校正成功"},
    {"TargetRefusedNoCorrection", Vendor::PICO, Item::Target, "zero@0xF02A", false, {"F02A=6500"}, "写入目标值失败"},
    {"CorrectionRefused", Vendor::PICO, Item::Target, "zero@0xF029", false, {"F02A=6500", "F029=1"}, "自动校正失败"},
};

class Command : public SensorConfigTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(Command, ResultAndItsText)
{
    const CommandCase& c = GetParam();
    if (*c.fault) {
        ASSERT_TRUE(m_rig.fault(c.fault));
    }
    EXPECT_EQ(sensorcfg::write(m_ctx, request(c.vendor, c.item, QStringLiteral("6500"))), c.ok);
    EXPECT_EQ(m_ctx.messages, QStringList{QStringLiteral("提示|") + QString::fromUtf8(c.told)});
    EXPECT_EQ(m_rig.requestLines(), c.frames);
}

INSTANTIATE_TEST_SUITE_P(Calibration, Command, ::testing::ValuesIn(kCommands),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SensorConfigTest, RunNtccAndAutoCorrectGiveTheCoreAnswer)
{
    EXPECT_TRUE(sensorcfg::runNtcc());
    ASSERT_TRUE(m_rig.fault("zero@0xF029"));
    EXPECT_FALSE(sensorcfg::runAutoCorrect());
    EXPECT_EQ(m_rig.requestLines(), (QStringList{"F021=1", "F029=1"}));
    EXPECT_TRUE(m_ctx.messages.isEmpty());
}

// ---- the PICO initial bad-pixel table ----

class InitTable : public SensorConfigTest {
protected:
    QString file(const QByteArray& data)
    {
        const QString path = m_dir.filePath("init.bin");
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(data);
        return path;
    }
    QTemporaryDir m_dir;
};

TEST_F(InitTable, WholeFileIntoTableRegionWithReload)
{
    const QByteArray data = pattern(20000, 3);
    const int reloads = m_rig.core().reloadCount();
    ASSERT_TRUE(sensorcfg::write(m_ctx, request(Vendor::PICO, Item::InitTable, file(data))));
    EXPECT_EQ(m_rig.flash(0x1400000, data.size()), data);
    EXPECT_EQ(m_rig.core().reloadCount(), reloads + 1);
    EXPECT_EQ(m_rig.requestLines(), upgradeFrames({0x1400000}, int(data.size()), true, true));
    EXPECT_EQ(m_ctx.messages, QStringList{"提示|写入初始坏点表完成"});
}

TEST_F(InitTable, EmptyOrTooLargeRefusedBeforeSending)
{
    const uint32_t room = ModuleInteract::areaEnd(0x1400000) - 0x1400000;
    const uint64_t before = m_rig.core().requestCount();
    const QString empty = file(QByteArray());
    Request r = request(Vendor::PICO, Item::InitTable, empty);
    EXPECT_FALSE(sensorcfg::write(m_ctx, r));
    const QString large = m_dir.filePath("large.bin");
    {
        QFile f(large);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(int(room) + 1, '\x11'));
    }
    r.text = large;
    EXPECT_FALSE(sensorcfg::write(m_ctx, r));
    EXPECT_EQ(m_ctx.messages, (QStringList{"警告|初始坏点表文件为空，未写入",
                                            "警告|" + upgradeTooLargeText(0x1400000, qint64(room) + 1)}));
    EXPECT_EQ(m_rig.core().requestCount(), before);
}

TEST_F(InitTable, FailingBlockToldWithoutStaleSuccess)
{
    ASSERT_TRUE(m_rig.fault("zero@block:0xEE#2"));
    EXPECT_FALSE(sensorcfg::write(m_ctx, request(Vendor::PICO, Item::InitTable, file(pattern(3000, 9)))));
    EXPECT_EQ(m_ctx.messages, QStringList{"提示|" + UpgradeTexts().block});
    EXPECT_TRUE(m_rig.lastRequestIsExit());
    EXPECT_EQ(m_rig.requestLines().count("E5"), 0);
}

// ---- vendors and names ----

TEST(SensorConfigNames, VendorOfSensorTypeAndNamesRoundTrip)
{
    const std::pair<int, Vendor> codes[] = {{0, Vendor::GWIC}, {1, Vendor::IRAY}, {2, Vendor::PICO},
                                            {3, Vendor::GWIC}, {4, Vendor::DALI}, {5, Vendor::WY},
                                            {-1, Vendor::GWIC}, {99, Vendor::GWIC}};
    for (const auto& c : codes)
        EXPECT_EQ(sensorcfg::vendorForSensorType(c.first), c.second) << c.first;
    for (int v = 0; v < 5; ++v) {
        Vendor back = Vendor::WY;
        EXPECT_TRUE(sensorcfg::vendorFromName(sensorcfg::vendorName(Vendor(v)).toLower(), &back));
        EXPECT_EQ(back, Vendor(v));
    }
    for (int i = 0; i <= int(Item::InitTable); ++i) {
        Item back = Item::SensorId;
        EXPECT_TRUE(sensorcfg::itemFromName(sensorcfg::itemName(Item(i)), &back));
        EXPECT_EQ(back, Item(i));
    }
    EXPECT_FALSE(sensorcfg::vendorFromName("flir", nullptr));
    EXPECT_FALSE(sensorcfg::itemFromName("gain", nullptr));
}

} // namespace
