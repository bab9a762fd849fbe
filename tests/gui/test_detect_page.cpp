// The calibration page: its controls and refusals without a camera, then against the
// virtual camera over real TCP: captures into the calibration tree, the core's own
// one-key commands, and the whole two-point correction from the page's buttons to the
// tables read back from the core's flash.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CPixelDetector.h"
#include "CTwoPointNuc.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "FileTransfer.h"
#include "GuiTestSupport.h"
#include "ProgramStyle.h"
#include "VirtualCamera.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include "LiveCamera.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;
using Messages = QList<QPair<QString, QString>>;
using Step = ProgramStyle::StepState;

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QPair<QString, QString> tip(const char* text)
{
    return {QStringLiteral("提示"), QString::fromUtf8(text)};
}

// A capture's message names the folder the frames went to.
QList<QPair<QString, QString>> captured(const QString& dir)
{
    return {{QStringLiteral("提示"), "完成捕获!\n文件夹：" + QDir::toNativeSeparators(QFileInfo(dir).absoluteFilePath())}};
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeText(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

// Clicks a button and waits for the sequence it started; the messages shown meanwhile.
Messages clickAndWait(QPushButton* button, int timeoutMs = 30000)
{
    button->click();
    EXPECT_TRUE(DeviceRunner::instance()->waitIdle(timeoutMs)) << button->text().toStdString();
    return takeMessages();
}

class TestContext : public TransferContext {
public:
    void message(const QString& title, const QString& text) override { messages << title + "|" + text; }
    QStringList messages;
};

// ---------------------------------------------------------------------------
// Without a camera.

class DetectPageAlone : public ::testing::Test {
protected:
    void SetUp() override
    {
        page = std::make_unique<DetectPageWidget>();
        page->setSensorId(QStringLiteral("ALONE-01"));
        takeMessages();
    }
    void TearDown() override
    {
        page.reset();
        QDir(CalibrationTree(QStringLiteral("ALONE-01")).coreDir()).removeRecursively();
    }
    QPushButton* button(const char* name) { return child<QPushButton>(page.get(), name); }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(page.get(), name); }

    std::unique_ptr<DetectPageWidget> page;
};

TEST_F(DetectPageAlone, ControlsParametersAndGuidedStart)
{
    QLineEdit* capNum = edit("m_pEdtCapNum");
    QLineEdit* thresh = edit("m_pEdtBPThreshHold");
    EXPECT_EQ(capNum->text(), "128");
    EXPECT_EQ(thresh->text(), "0.02");
    EXPECT_TRUE(capNum->isReadOnly());
    EXPECT_TRUE(thresh->isReadOnly());
    EXPECT_FALSE(capNum->isEnabled()) << "greyed while it ignores typing";
    EXPECT_FALSE(thresh->isEnabled());
    for (const char* name : {"m_pEdtWidth", "m_pEdtHeight", "m_pEdtFrameAvg"})
        EXPECT_TRUE(edit(name)->isReadOnly()) << name;
    auto* modify = child<QCheckBox>(page.get(), "m_pChbModifyPara");
    modify->setChecked(true);
    EXPECT_FALSE(capNum->isReadOnly());
    EXPECT_FALSE(thresh->isReadOnly());
    EXPECT_TRUE(capNum->isEnabled() && thresh->isEnabled());
    EXPECT_TRUE(edit("m_pEdtWidth")->isReadOnly());
    modify->setChecked(false);
    EXPECT_TRUE(capNum->isReadOnly());
    EXPECT_TRUE(thresh->isReadOnly());
    EXPECT_FALSE(capNum->isEnabled() || thresh->isEnabled());

    for (const char* name : {"m_pBtnGetHighT", "m_pBtnOneKeyCorrect", "m_pBtnOnKeyWrite", "m_pBtnBPDetect_V20"})
        EXPECT_EQ(ProgramStyle::stepState(button(name)), Step::Plain) << name;
    EXPECT_EQ(ProgramStyle::stepState(button("m_pBtnGetLowT")), Step::Next);

    // "工具V10": the bad-pixel button only moves the guide.
    child<QComboBox>(page.get(), "m_pCmbSolution")->setCurrentIndex(1);
    button("m_pBtnBPDetect_V20")->click();
    EXPECT_EQ(ProgramStyle::stepState(button("m_pBtnBPDetect_V20")), Step::Finished);
    EXPECT_EQ(ProgramStyle::stepState(button("m_pBtnGetLowT")), Step::Next);
    EXPECT_TRUE(takeMessages().isEmpty());
    EXPECT_FALSE(QFile::exists(page->tree().pixelTable()));
}

TEST_F(DetectPageAlone, RefusalsWithoutLinkFramesOrGains)
{
    const CalibrationTree tree = page->tree();
    // No link: the capture does nothing and says nothing.
    button("m_pBtnGetLowT")->click();
    EXPECT_FALSE(DeviceRunner::instance()->busy());
    EXPECT_TRUE(takeMessages().isEmpty());
    EXPECT_FALSE(page->captureFrames(DetectPageWidget::FrameLow));

    // A link without a stream: the count is checked first, then the missing stream.
    CNetConnect net;
    page->setNetConnect(&net);
    for (const char* bad : {"0", "129", "abc", "", "-3", "12.5"}) {
        edit("m_pEdtCapNum")->setText(QString::fromLatin1(bad));
        button("m_pBtnGetHighT")->click();
        EXPECT_FALSE(DeviceRunner::instance()->busy()) << bad;
        const Messages shown = takeMessages();
        ASSERT_EQ(shown.size(), 1) << bad;
        EXPECT_EQ(shown[0].first, QStringLiteral("警告"));
        EXPECT_TRUE(shown[0].second.contains("1~128")) << shown[0].second.toStdString();
    }
    edit("m_pEdtCapNum")->setText("4");
    const Messages noStream = clickAndWait(button("m_pBtnGetLowT"));
    ASSERT_EQ(noStream.size(), 1);
    EXPECT_EQ(noStream[0].first, QStringLiteral("提示"));
    EXPECT_FALSE(QDir(tree.rawRoot()).exists());
    EXPECT_EQ(ProgramStyle::stepState(button("m_pBtnGetLowT")), Step::Next) << "nothing captured";

    // Frame mean without frames.
    page->OnPageTimer();
    EXPECT_EQ(edit("m_pEdtFrameAvg")->text(), "0");
    EXPECT_EQ(page->frameMean(), 0);

    // "坏点检测" before any gain table: told, and no table written.
    button("m_pBtnBPDetect_V20")->click();
    const Messages noGains = takeMessages();
    ASSERT_EQ(noGains.size(), 1);
    EXPECT_EQ(noGains[0].first, QStringLiteral("提示"));
    EXPECT_TRUE(noGains[0].second.contains(QStringLiteral("一键校正")));
    EXPECT_FALSE(QFile::exists(tree.pixelTable()));
    EXPECT_EQ(ProgramStyle::stepState(button("m_pBtnBPDetect_V20")), Step::Plain);

    // "一键校正" before any capture this session.
    const Messages noCapture = clickAndWait(button("m_pBtnOneKeyCorrect"));
    EXPECT_EQ(noCapture, Messages{tip("请先采集低温点和高温点!")});
    EXPECT_FALSE(QFile::exists(tree.gainFile(1)));

    // No current device: the core operations refuse at once.
    ASSERT_EQ(CDevice::Current(), nullptr);
    const QPair<QString, QString> noDevice{QStringLiteral("警告"), QStringLiteral("未连接任何设备!")};
    button("m_pBtnBPDetect_V30")->click();
    button("m_pBtnOnKeyWrite")->click();
    EXPECT_FALSE(page->SendPixelTable());
    EXPECT_EQ(takeMessages(), (Messages{noDevice, noDevice, noDevice}));
    EXPECT_FALSE(DeviceRunner::instance()->busy());
    page->setNetConnect(nullptr);
}

TEST_F(DetectPageAlone, ClearLocalRemovesOnlyCapturedFrames)
{
    const CalibrationTree tree = page->tree();
    writeText(tree.rawDir(1, false) + "/Frame1.frame", "low");
    writeText(tree.rawDir(3, true) + "/Frame9.frame", "high");
    writeText(tree.compensateRoot() + "/a/b.bin", "comp");
    const QStringList kept = {tree.gainFile(1), tree.pixelTable(), tree.pixelBackup(),
                              tree.noShutterBaseDir(2) + "/Frame1.frame", tree.nvffcDir() + "/nvffc_mod1.bin",
                              tree.tempDriftDir() + "/s.txt", tree.stableFpaDir() + "/t.txt"};
    for (const QString& path : kept)
        writeText(path, "keep");

    button("m_pBtnClearLocal")->click();
    EXPECT_FALSE(QDir(tree.rawRoot()).exists());
    EXPECT_FALSE(QDir(tree.compensateRoot()).exists());
    for (const QString& path : kept)
        EXPECT_EQ(readAll(path), "keep") << path.toStdString();
    EXPECT_TRUE(takeMessages().isEmpty());

    // Nothing left to remove is not a failure.
    button("m_pBtnClearLocal")->click();
    EXPECT_TRUE(takeMessages().isEmpty());
}

// ---------------------------------------------------------------------------
// Against the virtual camera.

class DetectPageSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The completion reply of the core's work comes five polls after the
        // command: its acknowledgement always lands inside its own transaction.
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = "res160";
        o.completionDelayMs = int(5 * DataExchange::pollIntervalMs());
        o.stream.scene.flatField = true;
        o.stream.scene.sceneTempC = 20.0;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_EQ(CameraInfoDataManager::instance()->frameSize(), QSize(160, 120));
        ASSERT_TRUE(net.StartStream());
        page = std::make_unique<DetectPageWidget>();
        page->setNetConnect(&net);
        page->setSensorId(CameraInfoDataManager::instance()->sensorId());
        page->show();
        child<QCheckBox>(page.get(), "m_pChbModifyPara")->setChecked(true);
        edit("m_pEdtCapNum")->setText("4");
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }));
        takeMessages();
    }
    void TearDown() override
    {
        DeviceRunner::instance()->waitIdle(30000);
        if (page)
            QDir(page->tree().coreDir()).removeRecursively();
        page.reset();
        cam->core().setWriteObserver({});
        irtest::stopLiveCamera(cam.get(), &net);
    }

    QPushButton* button(const char* name) { return child<QPushButton>(page.get(), name); }
    QLineEdit* edit(const char* name) { return child<QLineEdit>(page.get(), name); }
    Step step(const char* name) { return ProgramStyle::stepState(button(name)); }

    // The blackbody changes from the next rendered frame; two more make sure the
    // buffer's newest frame shows it.
    void setBlackbody(double celsius)
    {
        cam->stream()->setSceneTemp(celsius);
        const uint64_t sent = cam->stream()->packetsSent();
        ASSERT_TRUE(waitUntil([&] { return cam->stream()->packetsSent() >= sent + 3; }));
    }

    void recordWrites()
    {
        cam->core().setWriteObserver([this](bool isShort, uint32_t address, uint32_t value) {
            std::lock_guard<std::mutex> g(lock);
            if (!isShort && (address == 0xF023 || address == 0xF03D || address == 0xF057))
                writes.emplace_back(address, value);
        });
    }
    std::vector<std::pair<uint32_t, uint32_t>> takeWrites()
    {
        std::lock_guard<std::mutex> g(lock);
        std::vector<std::pair<uint32_t, uint32_t>> out;
        out.swap(writes);
        return out;
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<DetectPageWidget> page;
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> writes;
};

TEST_F(DetectPageSim, CaptureOverwritesTheRunAndKeepsOlderHigherFrames)
{
    const QString dir = page->tree().rawDir(1, false);
    for (int i = 1; i <= 6; ++i)
        writeText(QStringLiteral("%1/Frame%2.frame").arg(dir).arg(i), "older run");

    EXPECT_EQ(clickAndWait(button("m_pBtnGetLowT")), captured(page->tree().rawDir(1, false)));
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(QFileInfo(QStringLiteral("%1/Frame%2.frame").arg(dir).arg(i)).size(), 160 * 118 * 2) << i;
    EXPECT_EQ(readAll(dir + "/Frame5.frame"), "older run");
    EXPECT_EQ(readAll(dir + "/Frame6.frame"), "older run");
    EXPECT_EQ(edit("m_pEdtWidth")->text(), "160");
    EXPECT_EQ(edit("m_pEdtHeight")->text(), "118");
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Finished);
    EXPECT_EQ(step("m_pBtnGetHighT"), Step::Next);
    EXPECT_TRUE(page->isEnabled());

    // The frames on disk are the captured run.
    std::vector<std::vector<uint16_t>> run;
    int w = 0, h = 0;
    ASSERT_TRUE(net.GetCapturedFrames(&run, &w, &h));
    ASSERT_EQ(run.size(), 4u);
    const QByteArray first = readAll(dir + "/Frame1.frame");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(run[0].data()), int(run[0].size() * 2)), first);

    // The TEC combo chooses the set's folder; the high set leaves the low one alone.
    child<QComboBox>(page.get(), "m_pCmbEnvType")->setCurrentIndex(3);
    EXPECT_EQ(clickAndWait(button("m_pBtnGetHighT")), captured(page->tree().rawDir(4, true)));
    EXPECT_TRUE(QFile::exists(page->tree().rawDir(4, true) + "/Frame4.frame"));
    EXPECT_FALSE(QFile::exists(page->tree().rawDir(4, true) + "/Frame5.frame"));
    EXPECT_EQ(step("m_pBtnGetHighT"), Step::Finished);
    EXPECT_EQ(step("m_pBtnOneKeyCorrect"), Step::Next);

    // The frame mean follows the live frame on the page timer.
    page->startPageTimer();
    ASSERT_TRUE(waitUntil([&] { return page->frameMean() > 0; }));
    bool ok = false;
    EXPECT_EQ(edit("m_pEdtFrameAvg")->text().toInt(&ok), page->frameMean());
    EXPECT_TRUE(ok);
    page->stopPageTimer();
}

TEST_F(DetectPageSim, StalledStreamEndsTheCaptureWithAMessage)
{
    net.FrameBuffer()->SetCaptureStallMs(100);
    net.StopStream();
    const Messages shown = clickAndWait(button("m_pBtnGetLowT"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].second.startsWith(QStringLiteral("采集图像失败"))) << shown[0].second.toStdString();
    EXPECT_FALSE(QDir(page->tree().rawRoot()).exists());
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Next);
    EXPECT_TRUE(page->isEnabled());
}

// A failed correction: the guide shows the step to repeat and the bar starts again,
// whether the captures were at fault or the core refused its own correction.
TEST_F(DetectPageSim, FailedCorrectionPointsAtTheStepToRepeat)
{
    setBlackbody(20.0);
    ASSERT_EQ(clickAndWait(button("m_pBtnGetLowT")), captured(page->tree().rawDir(1, false)));
    ASSERT_EQ(clickAndWait(button("m_pBtnGetHighT")), captured(page->tree().rawDir(1, true))); // blackbody unchanged
    const Messages shown = clickAndWait(button("m_pBtnOneKeyCorrect"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].second.startsWith(QStringLiteral("高温点图像均值"))) << shown[0].second.toStdString();
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Next);
    EXPECT_EQ(step("m_pBtnGetHighT"), Step::Plain);
    EXPECT_EQ(step("m_pBtnOneKeyCorrect"), Step::Plain);
    EXPECT_EQ(child<QProgressBar>(page.get(), "m_pPgbWriteFile")->value(), 0);

    // The core's own correction refused: that step is the one to do again.
    child<QComboBox>(page.get(), "m_pCmbSolution")->setCurrentIndex(2);
    ASSERT_EQ(clickAndWait(button("m_pBtnGetLowT")), Messages{tip("操作完成,机芯正常返回!")});
    ASSERT_EQ(clickAndWait(button("m_pBtnGetHighT")), Messages{tip("操作完成,机芯正常返回!")});
    cam->faults().add([] {
        irsim::FaultRule f;
        std::string why;
        irsim::FaultRule::parse("zero@0xF023", &f, &why);
        return f;
    }());
    const Messages failed = clickAndWait(button("m_pBtnOneKeyCorrect"), 60000);
    ASSERT_EQ(failed.size(), 1);
    EXPECT_TRUE(failed[0].second.contains(QStringLiteral("操作未完成"))) << failed[0].second.toStdString();
    EXPECT_EQ(step("m_pBtnOneKeyCorrect"), Step::Next);
    EXPECT_EQ(step("m_pBtnBPDetect_V20"), Step::Plain);
}

TEST_F(DetectPageSim, CoreModeWritesTheCommandRegistersAndWaitsForCompletion)
{
    recordWrites();
    child<QComboBox>(page.get(), "m_pCmbSolution")->setCurrentIndex(2);
    child<QComboBox>(page.get(), "m_pCmbEnvType")->setCurrentIndex(2);
    const auto done = Messages{tip("操作完成,机芯正常返回!")};

    EXPECT_EQ(clickAndWait(button("m_pBtnGetLowT")), done);
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Finished);
    EXPECT_EQ(step("m_pBtnGetHighT"), Step::Next);
    setBlackbody(60.0);
    EXPECT_EQ(clickAndWait(button("m_pBtnGetHighT")), done);
    EXPECT_EQ(clickAndWait(button("m_pBtnOneKeyCorrect")), done);
    EXPECT_EQ(step("m_pBtnOneKeyCorrect"), Step::Finished);
    EXPECT_EQ(step("m_pBtnBPDetect_V20"), Step::Next);
    EXPECT_EQ(clickAndWait(button("m_pBtnBPDetect_V20")), done);
    EXPECT_EQ(step("m_pBtnBPDetect_V20"), Step::Finished);
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Next);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {0xF023, 1}, {0xF023, 2}, {0xF023, 5}, {0xF03D, 0xD3}};
    EXPECT_EQ(takeWrites(), expected);
    // Nothing of the page's own files in the core mode.
    EXPECT_FALSE(QDir(page->tree().rawRoot()).exists());
    EXPECT_FALSE(QFile::exists(page->tree().gainFile(3)));

    // A core that never reports completion: the wait ends with a time-out message
    // (2 minutes nominal) and the guide stays.
    cam->core().setCompletionDelayMs(-1);
    const Messages timedOut = clickAndWait(button("m_pBtnGetHighT"), 60000);
    ASSERT_EQ(timedOut.size(), 1);
    EXPECT_TRUE(timedOut[0].second.contains(QStringLiteral("超时"))) << timedOut[0].second.toStdString();
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Next);
    EXPECT_EQ(takeWrites(), (std::vector<std::pair<uint32_t, uint32_t>>{{0xF023, 2}}));
    EXPECT_TRUE(page->isEnabled());
}

TEST_F(DetectPageSim, BadPixelV30ShowsProcessingAndReportsTheRegisterResult)
{
    recordWrites();
    button("m_pBtnBPDetect_V30")->click();
    auto* dlg = page->findChild<QWidget*>("QProcessingDlg");
    ASSERT_NE(dlg, nullptr);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(dlg->isModal());
    ASSERT_TRUE(waitUntil([] { return !DeviceRunner::instance()->busy(); }, 30000));
    Messages shown;
    ASSERT_TRUE(waitUntil([&] {
        shown += takeMessages();
        return !shown.isEmpty();
    }));
    EXPECT_EQ(shown, Messages{tip("坏点检测V30成功")});
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(takeWrites(), (std::vector<std::pair<uint32_t, uint32_t>>{{0xF057, 1}}));

    // The core does not answer: the register transaction fails.
    cam->faults().add([] {
        irsim::FaultRule f;
        std::string why;
        irsim::FaultRule::parse("noreply@0xF057", &f, &why);
        return f;
    }());
    button("m_pBtnBPDetect_V30")->click();
    shown.clear();
    ASSERT_TRUE(waitUntil([&] {
        shown += takeMessages();
        return !shown.isEmpty();
    }, 30000));
    EXPECT_EQ(shown, Messages{tip("坏点检测V30失败")});
    EXPECT_FALSE(dlg->isVisible());
}

// The whole correction through the page: low and high blackbody, gains, K written
// into the core, the gain-based bad-pixel table and its transfer, each checked
// against the core's flash and the camera's truth.
TEST_F(DetectPageSim, EndToEndTwoPointCorrectionAndGainBadPixelTable)
{
    auto* tec = child<QComboBox>(page.get(), "m_pCmbEnvType");
    tec->setCurrentIndex(1); // TEC2: K2.bin at 0xD00000, read back with selector 7
    const CalibrationTree tree = page->tree();

    setBlackbody(20.0);
    ASSERT_EQ(clickAndWait(button("m_pBtnGetLowT")), captured(tree.rawDir(2, false)));
    setBlackbody(60.0);
    ASSERT_EQ(clickAndWait(button("m_pBtnGetHighT")), captured(tree.rawDir(2, true)));

    ASSERT_EQ(clickAndWait(button("m_pBtnOneKeyCorrect")),
              (Messages{{QStringLiteral("提示"), QStringLiteral("完成校正!\n文件：")
                                                    + QDir::toNativeSeparators(QFileInfo(tree.gainFile(2)).absoluteFilePath())}}));
    EXPECT_EQ(readAll(tree.pixelBackup()), QByteArray::fromHex("00010143"));
    const QByteArray gains = readAll(tree.gainFile(2));
    ASSERT_EQ(gains.size(), 160 * 118 * 2);
    ASSERT_NE(page->twoPointNuc(), nullptr);
    ASSERT_EQ(page->twoPointNuc()->state(), CTwoPointNuc::StateGain);
    EXPECT_EQ(step("m_pBtnOneKeyCorrect"), Step::Finished);
    EXPECT_EQ(step("m_pBtnOnKeyWrite"), Step::Next);

    ASSERT_EQ(clickAndWait(button("m_pBtnOnKeyWrite")), Messages{tip("写入数据完毕")});
    EXPECT_EQ(step("m_pBtnOnKeyWrite"), Step::Finished);
    EXPECT_EQ(step("m_pBtnBPDetect_V20"), Step::Next);
    TestContext ctx;
    QByteArray fromCore;
    ASSERT_TRUE(readBackToMemory(ctx, 7, &fromCore)) << ctx.messages.join("; ").toStdString();
    EXPECT_EQ(fromCore, gains);

    ASSERT_EQ(clickAndWait(button("m_pBtnBPDetect_V20")), Messages{tip("写入数据完毕")});
    EXPECT_EQ(step("m_pBtnBPDetect_V20"), Step::Finished);
    EXPECT_EQ(step("m_pBtnGetLowT"), Step::Next);
    const QByteArray table = readAll(tree.pixelTable());
    ASSERT_FALSE(table.isEmpty());
    std::vector<uint8_t> map(160 * 118, 0);
    CPixelDetector::TableStats stats;
    ASSERT_TRUE(CPixelDetector::DecodeTable(reinterpret_cast<const uint8_t*>(table.constData()), size_t(table.size()),
                                            160, 118, map.data(), &stats));
    EXPECT_EQ(stats.outside, 0u);
    EXPECT_EQ(stats.duplicates, 0u);
    const auto dead = cam->stream()->deadPixels();
    const auto hot = cam->stream()->hotPixels();
    ASSERT_FALSE(dead.empty());
    ASSERT_FALSE(hot.empty());
    std::set<std::pair<int, int>> truth;
    for (const auto& p : dead) {
        EXPECT_EQ(map[size_t(p.second * 160 + p.first)], 1) << "dead " << p.first << "," << p.second;
        truth.insert(p);
    }
    for (const auto& p : hot) {
        EXPECT_EQ(map[size_t(p.second * 160 + p.first)], 1) << "hot " << p.first << "," << p.second;
        truth.insert(p);
    }
    // Working pixels, noisy ones included, keep gains inside the limits.
    EXPECT_EQ(stats.records, truth.size());

    QByteArray tableFromCore;
    ASSERT_TRUE(readBackToMemory(ctx, 1, &tableFromCore)) << ctx.messages.join("; ").toStdString();
    EXPECT_EQ(tableFromCore, table);

    // The video page's "发送坏点" path: the same table again, with its own signal.
    bool sent = false;
    QObject::connect(page.get(), &DetectPageWidget::signalPixelTableSent, page.get(), [&](bool ok) { sent = ok; });
    ASSERT_TRUE(page->SendPixelTable());
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    EXPECT_TRUE(sent);
    EXPECT_EQ(takeMessages(), Messages{tip("写入数据完毕")});
}

TEST_F(DetectPageSim, OneKeyWriteWithoutGainFileIsReportedNotWritten)
{
    const Messages shown = clickAndWait(button("m_pBtnOnKeyWrite"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].second.contains("K1.bin")) << shown[0].second.toStdString();
    EXPECT_NE(shown[0].second, QStringLiteral("写入数据完毕"));
    EXPECT_EQ(step("m_pBtnOnKeyWrite"), Step::Plain);
}

} // namespace
