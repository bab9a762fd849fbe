// The calibration page's box "本底写入" and the video page's tab "录制" from their
// buttons, against the virtual camera over real TCP.
#include "CFindFrame.h"
#include "CFrameRecorder.h"
#include "CNetConnect.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "LiveCamera.h"
#include "TestSupport.h"
#include "VideoPageWidget.h"
#include "VideoRecordPanel.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <gtest/gtest.h>

#include <chrono>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;
using Msg = QPair<QString, QString>;

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QStringList items(QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

TEST(NoShutterBox, KindsChangeTheAddressControlsAndAWrongAddressSendsNothing)
{
    takeMessages();
    DetectPageWidget page;
    page.show();
    auto* kind = child<QComboBox>(&page, "m_pCbxFileType");
    auto* address = child<QComboBox>(&page, "m_pCbxNucAddress");
    auto* other = child<QLineEdit>(&page, "m_pEdtOtherAddr");
    const QStringList bases = items(child<QComboBox>(&page, "m_pCmbFlashAdd"));
    ASSERT_EQ(bases.size(), 20);
    EXPECT_EQ(bases.first(), QStringLiteral("本底一"));
    EXPECT_EQ(bases[10], QStringLiteral("本底十一"));
    EXPECT_EQ(bases.last(), QStringLiteral("本底二十"));
    EXPECT_EQ(items(address).last(), QStringLiteral("自定义"));
    EXPECT_TRUE(address->isVisible());
    EXPECT_FALSE(other->isVisible());

    kind->setCurrentIndex(1);
    EXPECT_FALSE(address->isVisible());
    EXPECT_FALSE(other->isVisible());
    kind->setCurrentIndex(2);
    EXPECT_EQ(items(address), bases);
    EXPECT_TRUE(address->isVisible());
    kind->setCurrentIndex(0);
    EXPECT_EQ(items(address).size(), 4);
    kind->setCurrentIndex(3);
    EXPECT_TRUE(other->isVisible());
    EXPECT_FALSE(address->isVisible());

    // "其它" without an address stops at its warning, before any device is asked for.
    child<QLineEdit>(&page, "m_pEdtNUCLocalFilePath")->setText(QDir::temp().filePath("any.nuc"));
    child<QPushButton>(&page, "m_pBtnSendFile")->click();
    EXPECT_EQ(takeMessages(), QList<Msg>({{QStringLiteral("警告"), QStringLiteral("地址值不能为空！")}}));
    EXPECT_FALSE(DeviceRunner::instance()->busy());
}

class LiveBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = "res384";
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_TRUE(net.StartStream());
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }));
        takeMessages();
    }
    void TearDown() override
    {
        DeviceRunner::instance()->waitIdle(30000);
        irtest::stopLiveCamera(cam.get(), &net);
    }

    irtest::ScopedDataRoot root;
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
};

TEST_F(LiveBox, GetBaseFromTheButtonWithThePageDisabledMeanwhile)
{
    DetectPageWidget page;
    page.setNetConnect(&net);
    page.setSensorId(CameraInfoDataManager::instance()->sensorId());
    page.show();
    child<QComboBox>(&page, "m_pCmbFlashAdd")->setCurrentIndex(2);
    child<QPushButton>(&page, "m_pBtnGetBase")->click();
    EXPECT_FALSE(page.isEnabled());
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    EXPECT_TRUE(page.isEnabled());
    EXPECT_EQ(takeMessages(), QList<Msg>({{QStringLiteral("提示"), QStringLiteral("数据采集完成,准备写入数据")},
                                          {QStringLiteral("提示"), QStringLiteral("写入数据完毕")}}));
    EXPECT_EQ(child<QLabel>(&page, "m_pLabBaseGetInfo")->text(), QStringLiteral("本底3写入完成"));
    EXPECT_EQ(child<QLineEdit>(&page, "m_pEdtWidth")->text(), QStringLiteral("384"));
    EXPECT_EQ(child<QLineEdit>(&page, "m_pEdtHeight")->text(), QStringLiteral("286"));
    const QByteArray base = irtest::readAll(page.tree().noShutterDir() + "/base3.bin");
    ASSERT_EQ(base.size(), 384 * 286 * 2);
    const auto flash = cam->core().readFlash(0x1B00000 + 2 * 0x36000, size_t(base.size()));
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(flash.data()), int(flash.size())), base);
}

TEST_F(LiveBox, RecordButtonShowsRecordingOnlyWhileFilesAreOpen)
{
    VideoPageWidget page;
    page.setSensorId(CameraInfoDataManager::instance()->sensorId());
    page.setNetConnect(&net);
    page.show();
    VideoRecordPanel* panel = page.recordPanel();
    auto* record = child<QPushButton>(panel, "m_pBtnVedioRecord");
    child<QLineEdit>(panel, "m_pEdtSampFreq")->setText("40");

    record->click();
    EXPECT_EQ(record->text(), QStringLiteral("录制中"));
    EXPECT_TRUE(record->isChecked());
    ASSERT_TRUE(waitUntil([&] { return panel->recorder()->framesWritten() >= 3; }));
    const QString raw = panel->recorder()->rawPath();
    record->click();
    EXPECT_EQ(record->text(), QStringLiteral("录制视频"));
    EXPECT_FALSE(panel->recorder()->isRecording());
    EXPECT_EQ(QFileInfo(raw).size() % (384 * 288 * 2), 0);
    EXPECT_GE(QFileInfo(raw).size(), 3 * 384 * 288 * 2);
    EXPECT_TRUE(takeMessages().isEmpty());

    // The stream going away closes the recording and says so.
    record->click();
    ASSERT_TRUE(panel->recorder()->isRecording());
    page.stopPageTimer();
    EXPECT_FALSE(panel->recorder()->isRecording());
    EXPECT_EQ(record->text(), QStringLiteral("录制视频"));
    const auto told = takeMessages();
    ASSERT_EQ(told.size(), 1);
    EXPECT_TRUE(told[0].second.startsWith(QStringLiteral("视频流已停止"))) << told[0].second.toStdString();

    // Files that cannot be opened: refused, and the button does not claim to record.
    const QString occ = CalibrationTree(CameraInfoDataManager::instance()->sensorId()).occDir();
    QDir(occ).removeRecursively();
    QFile blocker(occ);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    record->click();
    EXPECT_FALSE(record->isChecked());
    EXPECT_EQ(record->text(), QStringLiteral("录制视频"));
    ASSERT_EQ(takeMessages().size(), 1);
    QFile::remove(occ);
}

TEST_F(LiveBox, OneFrameIsReportedOnlyOnceWritten)
{
    VideoPageWidget page;
    page.setSensorId(CameraInfoDataManager::instance()->sensorId());
    page.setNetConnect(&net);
    auto* one = child<QPushButton>(page.recordPanel(), "m_pBtnCreateOneFrame");
    one->click();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    EXPECT_EQ(takeMessages(), QList<Msg>({{QStringLiteral("提示"), QStringLiteral("成功生成一帧")}}));
    const QString occ = CalibrationTree(CameraInfoDataManager::instance()->sensorId()).occDir();
    const QStringList files = QDir(occ).entryList({"*.raw"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    EXPECT_EQ(QFileInfo(occ + "/" + files[0]).size(), 384 * 286 * 2);

    // No stream: the capture runs out and the failure is told instead. A frame still in
    // flight when the stream stops may be taken once (a slow build decodes late); every
    // answer must match what reached the disk, and the stopped stream must fail soon.
    net.StopStream();
    net.FrameBuffer()->SetCaptureStallMs(100);
    // The camera has stopped once no chunk has come for a while (it may take a moment
    // to act on the stop, longer on a slow build).
    int lastChunks = -1;
    auto lastChange = std::chrono::steady_clock::now();
    ASSERT_TRUE(irtest::waitFor(
        [&] {
            const int n = net.StreamChunkCount();
            const auto now = std::chrono::steady_clock::now();
            if (n != lastChunks) {
                lastChunks = n;
                lastChange = now;
            }
            return now - lastChange > std::chrono::milliseconds(300);
        },
        10000));
    int written = 1;
    bool failed = false;
    for (int attempt = 0; attempt < 4 && !failed; ++attempt) {
        one->click();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
        const auto told = takeMessages();
        ASSERT_EQ(told.size(), 1);
        failed = told[0].second != QStringLiteral("成功生成一帧");
        if (!failed)
            ++written;
        EXPECT_EQ(QDir(occ).entryList({"*.raw"}, QDir::Files).size(), written) << "told as written only once on disk";
    }
    EXPECT_TRUE(failed) << "a stopped stream yields no frame";
}

} // namespace
