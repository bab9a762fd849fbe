// The calibration page's boxes "温漂补偿" and "无快门操作": what they refuse before
// anything runs, and against the virtual camera over real TCP the sweep from the
// buttons to the coefficients in flash (a failed write resumed with "烧录"), and a
// stabilisation run continued without clearing its data unasked.
#include "CNetConnect.h"
#include "CDevice.h"
#include "CFindFrame.h"
#include "CameraInfoDataManager.h"
#include "DetectPageWidget.h"
#include "GuiTestSupport.h"
#include "LiveCamera.h"
#include "StableFpaData.h"
#include "StableFpaWidget.h"
#include "TempDriftData.h"
#include "TempDriftWidget.h"
#include "TestSupport.h"
#include "CoreFrames.h"
#include "VirtualCamera.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString lastText()
{
    const auto m = takeMessages();
    return m.isEmpty() ? QString() : m.last().second;
}

TEST(DriftBoxes, StartWithoutADeviceIsRefused)
{
    CDevice::SetConnect(nullptr);
    DetectPageWidget page;
    takeMessages();
    page.tempDriftBox()->OnBtnTempDriftStart();
    EXPECT_EQ(lastText(), QStringLiteral("未连接任何设备!"));
    EXPECT_FALSE(page.tempDriftBox()->isSampling());
    child<QPushButton>(&page, "m_pBtnJudgeStableBegin")->click();
    EXPECT_EQ(lastText(), QStringLiteral("未连接任何设备!"));
    EXPECT_FALSE(page.stableFpaBox()->isRunning());
    EXPECT_EQ(child<QPushButton>(&page, "m_pBtnJudgeStableBegin")->text(), QStringLiteral("开始判稳"));
    EXPECT_EQ(child<QLabel>(&page, "m_pLabWriteFile")->text(), QStringLiteral("文件已写入 0 / 总共 0"));
}

class DriftBoxesSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = "drift4";
        o.stream.scene.fpaTempC = 24.0;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_EQ(CameraInfoDataManager::instance()->sensorTypeCode(), 4);
        ASSERT_TRUE(net.StartStream());
        page = std::make_unique<DetectPageWidget>();
        page->setNetConnect(&net);
        page->setSensorId(CameraInfoDataManager::instance()->sensorId());
        page->show();
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }));
        QDir(page->tree().coreDir()).removeRecursively();
        takeMessages();
    }
    void TearDown() override
    {
        if (page) {
            page->tempDriftBox()->OnBtnTempDriftStop();
            waitUntil([&] { return !page->tempDriftBox()->samplerRunning() && !page->tempDriftBox()->writerRunning(); });
            QDir(page->tree().coreDir()).removeRecursively();
        }
        page.reset();
        irtest::stopLiveCamera(cam.get(), &net);
    }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(page.get(), name); }
    QPushButton* button(const char* name) { return child<QPushButton>(page.get(), name); }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<DetectPageWidget> page;
};

struct BadStart {
    const char* step;
    const char* frames;
    const char* message;
};

class DriftStartRefusal : public DriftBoxesSim, public ::testing::WithParamInterface<BadStart> {};

TEST_P(DriftStartRefusal, NothingStartsAndNothingIsSent)
{
    edit("m_pEdtTempDiff")->setText(GetParam().step);
    edit("m_pEdtFrameNumOneTime")->setText(GetParam().frames);
    button("m_pBtnTempDrifStart")->click();
    EXPECT_EQ(lastText(), QString::fromUtf8(GetParam().message));
    EXPECT_FALSE(page->tempDriftBox()->isSampling());
    EXPECT_TRUE(cam->stream()->driftRegisters().empty());
    EXPECT_TRUE(button("m_pBtnTempDrifStart")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Cases, DriftStartRefusal,
    ::testing::Values(BadStart{"abc", "10", "采样温差须为正数"}, BadStart{"-5", "10", "采样温差须为正数"},
                      BadStart{"0", "10", "采样温差须为正数"}, BadStart{"100", "0", "采样帧数须在 1 到 128 之间"},
                      BadStart{"100", "129", "采样帧数须在 1 到 128 之间"}));

TEST_F(DriftBoxesSim, SweepFitsWritesAndResumesFromTheButtons)
{
    edit("m_pEdtTempDiff")->setText("10");
    edit("m_pEdtFrameNumOneTime")->setText("8");
    child<QCheckBox>(page.get(), "m_pCBoxClearDataDir")->setChecked(true);
    // 24.00 -> 27.50 degrees: about 15 samples below the band and 9 above it.
    cam->stream()->rampFpaTo(27.5, 0.12);
    button("m_pBtnTempDrifStart")->click();
    EXPECT_TRUE(page->tempDriftBox()->isSampling());
    EXPECT_FALSE(button("m_pBtnTempDrifStart")->isEnabled());
    EXPECT_FALSE(button("m_pBtnTDContinueWriteFile")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return cam->stream()->currentFpa() >= 27.5; }, 60000));
    const QString temps = tempdrift::temperatureFile(tempdrift::dataDir(page->tree().tempDriftDir()));
    ASSERT_TRUE(waitUntil([&] {
        const QByteArray t = irtest::readAll(temps);
        return t.size() >= 2 && qFromLittleEndian<int16_t>(t.constData() + t.size() - 2) >= 2730;
    }, 10000));
    button("m_pBtnTempDrifStop")->click();
    // Start comes back once the worker has ended, not before.
    ASSERT_TRUE(waitUntil([&] { return !page->tempDriftBox()->samplerRunning(); }));
    EXPECT_TRUE(waitUntil([&] { return button("m_pBtnTempDrifStart")->isEnabled(); }));
    EXPECT_TRUE(QFile::exists(page->tempDriftBox()->chartFile()));

    // The fifth file's 10th block fails; the counters keep what went through.
    irsim::FaultRule rule;
    std::string why;
    ASSERT_TRUE(irsim::FaultRule::parse("zero@block:0xEE#" + std::to_string(4 * 39 + 10), &rule, &why)) << why;
    cam->faults().add(rule);
    takeMessages();
    button("m_pBtnTDContinueWriteFile")->click();
    ASSERT_TRUE(waitUntil([&] { return !page->tempDriftBox()->writerRunning(); }, 30000));
    ASSERT_TRUE(waitUntil([&] { return page->tempDriftBox()->isEnabled(); }));
    const QString failed = lastText();
    EXPECT_TRUE(failed.startsWith(QStringLiteral("写文件数据块失败"))) << failed.toStdString();
    EXPECT_EQ(edit("m_pEdtLastTDWriteFileNum")->text(), "4");
    EXPECT_EQ(edit("m_pEdtLastTDWriteFileTotalNum")->text(), "8");
    EXPECT_EQ(child<QLabel>(page.get(), "m_pLabWriteFile")->text(), QStringLiteral("文件已写入 4 / 总共 8"));

    // "烧录" again: only files 4..7 are sent.
    cam->faults().clear();
    const size_t before = cam->core().requestLog().size();
    button("m_pBtnTDContinueWriteFile")->click();
    ASSERT_TRUE(waitUntil([&] { return !page->tempDriftBox()->writerRunning(); }, 30000));
    waitUntil([&] { return page->tempDriftBox()->isEnabled(); });
    EXPECT_EQ(lastText(), QStringLiteral("整个温漂补偿系数写入机芯成功"));
    EXPECT_EQ(edit("m_pEdtLastTDWriteFileNum")->text(), "8");
    std::vector<uint32_t> addresses;
    const auto log = cam->core().requestLog();
    for (size_t i = before; i < log.size(); ++i) {
        const irsim::Request r = irsim::classifyFrame(log[i]);
        if (r.kind == irsim::Request::Block && r.command == 0xE3 && r.data.size() == 4)
            addresses.push_back(qFromBigEndian<uint32_t>(r.data.data()));
    }
    EXPECT_EQ(addresses, (std::vector<uint32_t>{0x1946000, 0x193C000, 0x1932000, 0x1928000}));
    const QString ret = tempdrift::retDir(page->tree().tempDriftDir());
    for (int k = 0; k < 8; ++k) {
        const QByteArray file = irtest::readAll(tempdrift::coefficientFile(ret, k));
        ASSERT_EQ(file.size(), 160 * 120 * 2 + 8) << k;
        const auto flash = cam->core().readFlash(tempdrift::fileAddress(k), size_t(file.size()));
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(flash.data()), int(flash.size())), file) << k;
    }
}

TEST_F(DriftBoxesSim, StabilisationContinuesWithoutClearingUnasked)
{
    const QString data = stablefpa::dataDir(page->tree().stableFpaDir());
    ASSERT_TRUE(QDir().mkpath(data));
    QFile old(stablefpa::imageFile(data, 0));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("earlier collection");
    old.close();
    edit("m_pEdtStableDiff")->setText("0");
    button("m_pBtnJudgeStableBegin")->click();
    EXPECT_EQ(lastText(), QStringLiteral("判稳温差须为正数"));
    EXPECT_FALSE(page->stableFpaBox()->isRunning());

    edit("m_pEdtStableDiff")->setText("5");
    edit("m_pEdtSampingNumVal")->setText("1");
    guitest::setMessageAnswer(0); // keep the data
    button("m_pBtnJudgeStableBegin")->click();
    guitest::setMessageAnswer(1);
    EXPECT_EQ(button("m_pBtnJudgeStableBegin")->text(), QStringLiteral("停止判稳"));
    EXPECT_FALSE(edit("m_pEdtSampingNumVal")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return edit("m_pEdtSampingNumVal")->text() == "2"; }, 15000));
    button("m_pBtnJudgeStableBegin")->click();
    ASSERT_TRUE(waitUntil([&] { return !page->stableFpaBox()->workerRunning(); }));
    EXPECT_EQ(button("m_pBtnJudgeStableBegin")->text(), QStringLiteral("开始判稳"));
    EXPECT_EQ(irtest::readAll(stablefpa::imageFile(data, 0)), QByteArray("earlier collection"));
    EXPECT_EQ(QFileInfo(stablefpa::imageFile(data, 1)).size(), 160 * 118 * 2);
    EXPECT_TRUE(QFile::exists(page->stableFpaBox()->chartFile()));
    // The question, then the missing template, told at the start.
    const auto messages = takeMessages();
    ASSERT_GE(messages.size(), 2);
    EXPECT_TRUE(messages[0].second.contains(QStringLiteral("清空数据目录将删除")));
    EXPECT_TRUE(messages[1].second.contains(QStringLiteral("找不到模板文件")));
}

} // namespace
