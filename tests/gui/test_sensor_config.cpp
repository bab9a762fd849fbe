// The detector configuration panel of the configuration page against the virtual
// camera: vendor pages, the writes through the device runner, refusals and the two
// long calibration commands on their own thread.
#include "CDevice.h"
#include "ConfigPageWidget.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "SensorConfigWidget.h"
#include "TransferRig.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

using guitest::takeMessages;
using transfertest::TransferRig;

namespace {

using Msg = QPair<QString, QString>;

template <typename T>
T* child(QWidget* page, const QString& name)
{
    T* w = page->findChild<T*>(name);
    EXPECT_NE(w, nullptr) << name.toStdString();
    return w;
}

class SensorPanel : public ::testing::Test {
protected:
    void SetUp() override
    {
        rig = std::make_unique<TransferRig>();
        ASSERT_TRUE(rig->ok()) << rig->error();
        page = std::make_unique<ConfigPageWidget>();
        page->show();
        panel = page->sensorConfigWidget();
        ASSERT_NE(panel, nullptr);
        takeMessages();
    }
    void TearDown() override
    {
        EXPECT_TRUE(DeviceRunner::instance()->waitIdle(60000));
        page.reset();
        rig.reset();
        takeMessages();
    }
    // The operator picks the vendor, types into the field and clicks its button.
    void typeAndClick(int vendor, const char* name, const QString& text)
    {
        child<QComboBox>(panel, "m_pCbxSensorType")->setCurrentIndex(vendor);
        if (!text.isNull())
            child<QLineEdit>(panel, QStringLiteral("m_pEdt") + name)->setText(text);
        child<QPushButton>(panel, QStringLiteral("m_pBtn") + name)->click();
    }
    bool waitDone(int ms = 60000)
    {
        return guitest::waitUntil(
            [this] {
                auto* dlg = page->findChild<QWidget*>("m_pSensorProcessingDlg");
                return !DeviceRunner::instance()->busy() && page->isEnabled() && (!dlg || dlg->isHidden());
            },
            ms);
    }

    std::unique_ptr<TransferRig> rig;
    std::unique_ptr<ConfigPageWidget> page;
    SensorConfigWidget* panel = nullptr;
};

// --- Vendor page chosen on connect -------------------------------------------------

struct VendorCase {
    int sensorTypeCode;
    int vendorIndex;
};

class VendorOnConnect : public SensorPanel, public ::testing::WithParamInterface<VendorCase> {};

TEST_P(VendorOnConnect, SensorTypeCodeSelectsThePageAndTheOperatorCanChangeIt)
{
    auto* list = child<QComboBox>(panel, "m_pCbxSensorType");
    auto* stack = child<QStackedWidget>(panel, "m_pStkVendor");
    ASSERT_EQ(list->count(), 5);
    EXPECT_EQ(list->itemText(3), QStringLiteral("DALI"));
    // Start away from the expected page so that a selection that does nothing fails.
    list->setCurrentIndex((GetParam().vendorIndex + 2) % 5);
    page->selectVendorPage(GetParam().sensorTypeCode);
    EXPECT_EQ(list->currentIndex(), GetParam().vendorIndex);
    EXPECT_EQ(stack->currentIndex(), GetParam().vendorIndex);
    EXPECT_EQ(page->vendorIndex(), GetParam().vendorIndex);

    const int other = (GetParam().vendorIndex + 1) % 5;
    list->setCurrentIndex(other);
    EXPECT_EQ(stack->currentIndex(), other);
    EXPECT_EQ(panel->vendorIndex(), other);
    EXPECT_EQ(page->vendorIndex(), other) << "the page header follows the operator's choice";
}

INSTANTIATE_TEST_SUITE_P(Codes, VendorOnConnect,
                         ::testing::Values(VendorCase{0, 0}, VendorCase{1, 1}, VendorCase{2, 2}, VendorCase{4, 3},
                                           VendorCase{5, 4}, VendorCase{7, 0}, VendorCase{3, 0}));

TEST_F(SensorPanel, GettersAreTrimmedAndPicoTargetIsAWholeNumber)
{
    EXPECT_EQ(panel->PICOTargetText(), QStringLiteral("6500"));
    EXPECT_EQ(panel->PICOTarget(), 6500);
    child<QLineEdit>(panel, "m_pEdtDALIVBS")->setText("  42 \t");
    EXPECT_EQ(panel->DALIVBS(), QStringLiteral("42"));
    child<QLineEdit>(panel, "m_pEdtPICOTarget")->setText(" 6500.5 ");
    bool ok = true;
    EXPECT_EQ(panel->PICOTarget(&ok), 0);
    EXPECT_FALSE(ok);
    auto* area = child<QComboBox>(panel, "m_pCbxIRAYDataArea");
    ASSERT_EQ(area->count(), 2);
    EXPECT_EQ(area->itemText(1), QStringLiteral("1空间"));
    EXPECT_FALSE(panel->setField(sensorcfg::Vendor::PICO, sensorcfg::Item::Data, "01"))
        << "PICO has no configuration code field";
}

// --- Writes through the runner --------------------------------------------------------

struct WriteCase {
    const char* label;
    int vendor;
    const char* field;
    const char* text;
    int area;
    Msg message;
    std::function<void(TransferRig&)> landed;
};

class PanelWrite : public SensorPanel, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(PanelWrite, TypedFieldLandsInTheCore)
{
    const WriteCase& c = GetParam();
    child<QComboBox>(panel, "m_pCbxIRAYDataArea")->setCurrentIndex(c.area);
    typeAndClick(c.vendor, c.field, QString::fromUtf8(c.text));
    ASSERT_TRUE(waitDone());
    EXPECT_EQ(takeMessages(), QList<Msg>{c.message});
    c.landed(*rig);
}

Msg tip(const char* text) { return {QStringLiteral("提示"), QString::fromUtf8(text)}; }

INSTANTIATE_TEST_SUITE_P(
    Items, PanelWrite,
    ::testing::Values(
        WriteCase{"GwicSensorIdCleaned", 0, "GWICSensorID", " AB_12.3 4 ", 0, tip("写入sensorID成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.flash(0x0142C000, 3), QByteArray::fromHex("AB1234")); }},
        WriteCase{"IrayDataSecondArea", 1, "IRAYData", "0102 0304", 1, tip("写入sensor配置码成功"),
                  [](TransferRig& r) {
                      EXPECT_EQ(r.flash(0x01421000, 4), QByteArray::fromHex("01020304"));
                      EXPECT_NE(r.flash(0x01420000, 4), QByteArray::fromHex("01020304"));
                  }},
        WriteCase{"IrayVtempRegister", 1, "IRAY25Vtemp", "2500", 0, tip("写入IRAY 25 Vtemp值成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.core().longRegister(0xF040), 2500u); }},
        WriteCase{"PicoSensorIdDash", 2, "PICOSensorID", "AB-12", 0, tip("写入sensorID成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.flash(0x0142C000, 2), QByteArray::fromHex("AB12")); }},
        WriteCase{"PicoTargetThenCorrection", 2, "PICOTarget", "7000", 0, tip("自动校正成功"),
                  [](TransferRig& r) {
                      EXPECT_EQ(r.core().longRegister(0xF02A), 7000u);
                      EXPECT_EQ(r.core().longRegister(0xF029), 1u);
                  }},
        WriteCase{"DaliVbsRegister", 3, "DALIVBS", "123", 0, tip("写入VBS偏压值成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.core().longRegister(0xF02C), 123u); }},
        WriteCase{"DaliCoreTypeShortForm", 3, "DALIMovementType", "2A3B", 0, tip("写入机芯型号成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.core().longRegister(0xF027), 0x2A3Bu); }},
        WriteCase{"WyBatchLatin1", 4, "WYMovementSerial", "WY-0x1", 0, tip("写入生产批次成功"),
                  [](TransferRig& r) { EXPECT_EQ(r.flash(0x0142F000, 6), QByteArray("WY-0x1")); }}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.label); });

// --- Refusals before anything is sent -------------------------------------------------

struct RefusalCase {
    const char* label;
    int vendor;
    const char* field;
    const char* text;
};

class PanelRefusal : public SensorPanel, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(PanelRefusal, WarnsAndSendsNothing)
{
    const RefusalCase& c = GetParam();
    typeAndClick(c.vendor, c.field, QString::fromUtf8(c.text));
    ASSERT_TRUE(waitDone());
    const QList<Msg> messages = takeMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first().first, QStringLiteral("警告"));
    EXPECT_FALSE(messages.first().second.isEmpty());
    EXPECT_TRUE(rig->requests().empty()) << "a refused field never reaches the core";
}

INSTANTIATE_TEST_SUITE_P(Fields, PanelRefusal,
                         ::testing::Values(RefusalCase{"OnlySeparators", 0, "GWICSensorID", "_._"},
                                           RefusalCase{"NotHex", 1, "IRAYMovementSerial", "12G4"},
                                           RefusalCase{"NotWhole", 3, "DALITINT", "12.5"},
                                           RefusalCase{"TargetNotWhole", 2, "PICOTarget", "abc"}),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.label); });

TEST_F(SensorPanel, EmptySensorIdTellsItsOwnMessage)
{
    typeAndClick(0, "GWICSensorID", QStringLiteral("_._"));
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"警告", "Sensor编号不能为空！"}}));
}

TEST_F(SensorPanel, MissingInitialTableIsRefused)
{
    typeAndClick(2, "PICOWriteInitBPTable", QString());
    ASSERT_TRUE(waitDone());
    const QList<Msg> messages = takeMessages();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages.first().second, QStringLiteral("初始坏点表文件不存在"));
    EXPECT_TRUE(rig->requests().empty());
}

// --- The long commands on their thread ------------------------------------------------

struct LongCase {
    const char* label;
    int vendor;
    const char* button;
    const char* fault; // empty: none
    uint32_t reg;
    Msg message;
};

class LongCommand : public SensorPanel, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongCommand, RunsBehindTheProcessingWindowAndTellsTheResult)
{
    const LongCase& c = GetParam();
    if (*c.fault) {
        ASSERT_TRUE(rig->fault(c.fault));
    }
    typeAndClick(c.vendor, c.button, QString());
    auto* dlg = page->findChild<QWidget*>("m_pSensorProcessingDlg");
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(dlg->windowTitle(), QStringLiteral("提示"));
    EXPECT_FALSE(page->isEnabled()) << "no second command while the core works";
    EXPECT_TRUE(DeviceRunner::instance()->busy()) << "the runner is held for the thread";
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(dlg->isHidden());
    EXPECT_EQ(takeMessages(), QList<Msg>{c.message});
    bool sent = false;
    for (const irsim::Request& r : rig->requests())
        sent = sent || (r.kind == irsim::Request::LongWrite && r.address == c.reg);
    EXPECT_TRUE(sent);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LongCommand,
    ::testing::Values(LongCase{"NtccOk", 1, "IRAYNTCC", "", 0xF021, {"提示", "NTCC校正完成"}},
                      LongCase{"NtccFails", 1, "IRAYNTCC", "zero@0xF021", 0xF021, {"提示", "NTCC校正失败"}},
                      LongCase{"AutoCorrectOk", 3, "DALIAutoCorrect", "", 0xF029, {"提示", "机芯自动校正成功"}},
                      LongCase{"AutoCorrectFails", 3, "DALIAutoCorrect", "zero@0xF029", 0xF029,
                               {"提示", "机芯自动校正失败"}}),
    [](const ::testing::TestParamInfo<LongCase>& info) { return std::string(info.param.label); });

TEST_F(SensorPanel, LongCommandIsRefusedWhileTheRunnerIsBusy)
{
    std::atomic<bool> release{false};
    ASSERT_TRUE(DeviceRunner::instance()->run(nullptr, nullptr, [&release](DeviceTaskContext&) {
        while (!release.load())
            QThread::yieldCurrentThread();
        return true;
    }));
    typeAndClick(1, "IRAYNTCC", QString());
    EXPECT_EQ(takeMessages(), (QList<Msg>{{"提示", "设备正忙,请等待当前操作完成后再试!"}}));
    auto* dlg = page->findChild<QWidget*>("m_pSensorProcessingDlg");
    EXPECT_TRUE(!dlg || dlg->isHidden());
    release.store(true);
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    EXPECT_TRUE(rig->requests().empty());
}

TEST_F(SensorPanel, WindowKeepsPaintingWhileTheConfigurationCodeIsWritten)
{
    int ticksWhileBusy = 0;
    QSet<int> barWhileBusy;
    auto* bar = panel->findChild<QProgressBar*>("m_pPgbSensorWrite");
    ASSERT_NE(bar, nullptr);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (DeviceRunner::instance()->busy()) {
            ++ticksWhileBusy;
            barWhileBusy.insert(bar->value());
        }
    });
    timer.start(5);
    // Four areas with a pause between: the longest write of the panel.
    typeAndClick(0, "GWICData", QStringLiteral("A1B2 C3D4"));
    EXPECT_TRUE(DeviceRunner::instance()->busy());
    ASSERT_TRUE(waitDone());
    EXPECT_GE(ticksWhileBusy, 3) << "the GUI thread was blocked by the write";
    EXPECT_GE(barWhileBusy.size(), 3) << "the panel's own bar follows the write, pauses included";
    EXPECT_EQ(bar->value(), 100);
    EXPECT_EQ(takeMessages(), QList<Msg>{tip("写入sensor配置码成功")});
    for (uint32_t a : sensorcfg::kDataAreas)
        EXPECT_EQ(rig->flash(a, 4), QByteArray::fromHex("A1B2C3D4")) << std::hex << a;
}

} // namespace
