// The video page's bad-pixel table tools against the virtual camera over real TCP:
// thresholds and their settings, automatic detection into the mark list, reset, send
// and shutter correction, each run off the GUI thread with the page disabled.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CVideoRender.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "DeviceRunner.h"
#include "Faults.h"
#include "FileTransfer.h"
#include "GuiTestSupport.h"
#include "QSignPixelWidget.h"
#include "SettingsStore.h"
#include "VideoPageWidget.h"
#include "VirtualCamera.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include "LiveCamera.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;
using Message = QPair<QString, QString>;

class Silent : public TransferContext {
public:
    void message(const QString& title, const QString& text) override { messages << title + "|" + text; }
    QStringList messages;
};

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class VideoPagePixel : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::CameraOptions o = irtest::liveOptions();
        o.completionDelayMs = -1;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        sensorId = CameraInfoDataManager::instance()->safeSensorId();
        ASSERT_FALSE(sensorId.isEmpty());
        tree = std::make_unique<CalibrationTree>(sensorId);
        QDir(tree->coreDir()).removeRecursively();
        QFile::remove(SettingsStore::settingsPath());
        page = std::make_unique<VideoPageWidget>();
        page->resize(760, 560);
        page->show();
        page->setSensorId(sensorId);
        ASSERT_TRUE(net.StartStream());
        page->setNetConnect(&net);
        page->startPageTimer();
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer()->HasFrame(); }));
        takeMessages();
    }
    void TearDown() override
    {
        DeviceRunner::instance()->waitIdle(20000);
        page.reset();
        irtest::stopLiveCamera(cam.get(), &net);
    }

    template <typename T>
    T* child(const char* name)
    {
        T* w = page->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    // Clicks a tool and waits until the runner has finished and the page is back.
    QList<Message> run(const char* button)
    {
        child<QPushButton>(button)->click();
        EXPECT_TRUE(DeviceRunner::instance()->waitIdle(30000)) << button;
        EXPECT_TRUE(page->isEnabled()) << button;
        return takeMessages();
    }
    QByteArray coreTable()
    {
        Silent ctx;
        QByteArray out;
        EXPECT_TRUE(readBackToMemory(ctx, 1, &out)) << ctx.messages.join('\n').toStdString();
        return out;
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    QString sensorId;
    std::unique_ptr<CalibrationTree> tree;
    std::unique_ptr<VideoPageWidget> page;
};

TEST_F(VideoPagePixel, ThresholdsStartAtFiftyAndAreSavedByEachDetection)
{
    auto* high = child<QLineEdit>("m_pEdtHThrd");
    auto* low = child<QLineEdit>("m_pEdtLThrd");
    EXPECT_EQ(high->text(), "50");
    EXPECT_EQ(low->text(), "50");
    auto* solution = child<QComboBox>("m_pCmbSolution");
    ASSERT_EQ(solution->count(), 2);
    EXPECT_EQ(solution->itemText(0), QStringLiteral("工具V20"));
    EXPECT_EQ(solution->itemText(1), QStringLiteral("工具V10"));

    high->setText("");
    auto msgs = run("m_pBtnAutoDetect");
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, QStringLiteral("警告"));
    int h = -1, l = -1;
    SettingsStore::readThresholds(&h, &l);
    EXPECT_EQ(h, 0) << "nothing saved from a refused entry";

    // Saved before the detection starts, even though this one cannot read a table.
    page->setSensorId(QString());
    high->setText("1200");
    low->setText("900");
    msgs = run("m_pBtnAutoDetect");
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].second, QStringLiteral("未获取到机芯 Sensor ID, 请重新连接设备!"));
    SettingsStore::readThresholds(&h, &l);
    EXPECT_EQ(h, 1200);
    EXPECT_EQ(l, 900);
    VideoPageWidget again;
    EXPECT_EQ(again.findChild<QLineEdit*>("m_pEdtHThrd")->text(), "1200");
    EXPECT_EQ(again.findChild<QLineEdit*>("m_pEdtLThrd")->text(), "900");
}

TEST_F(VideoPagePixel, ResetThenV10DetectionFillsTheMarkList)
{
    EXPECT_EQ(run("m_pBtnReSet"), (QList<Message>{{QStringLiteral("提示"), QStringLiteral("重置坏点表成功")}}));
    EXPECT_EQ(coreTable().toHex(), QByteArray("00010143"));

    auto* table = child<QTableWidget>("m_pTabPixel");
    child<QComboBox>("m_pCmbSolution")->setCurrentIndex(1);
    child<QLineEdit>("m_pEdtHThrd")->setText("1500");
    child<QLineEdit>("m_pEdtLThrd")->setText("1500");
    child<QPushButton>("m_pBtnAutoDetect")->click();
    EXPECT_FALSE(page->isEnabled()) << "disabled while the sequence runs";
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    EXPECT_TRUE(page->isEnabled());
    EXPECT_EQ(takeMessages(), (QList<Message>{{QStringLiteral("提示"), QStringLiteral("自动检测完成\n文件：") + QDir::toNativeSeparators(QFileInfo(tree->pixelTable()).absoluteFilePath())}}));

    std::set<std::pair<int, int>> truth;
    for (const auto& p : cam->stream()->deadPixels())
        truth.insert(p);
    for (const auto& p : cam->stream()->hotPixels())
        truth.insert(p);
    const int defects = int(truth.size());
    std::set<std::pair<int, int>> marked;
    for (const QPoint& pt : page->marks())
        marked.insert({pt.x(), pt.y()});
    EXPECT_EQ(marked, truth);
    EXPECT_EQ(page->marks().size(), defects);
    ASSERT_EQ(table->rowCount(), defects);
    EXPECT_EQ(net.Render()->Marks(), page->marks()) << "drawn like hand marks";
    // Table rows are 1-based, with the grey value the detection saw.
    const QPoint first = page->marks().front();
    EXPECT_EQ(table->item(0, 0)->text().toInt(), first.x() + 1);
    EXPECT_EQ(table->item(0, 1)->text().toInt(), first.y() + 1);
    const int grey = table->item(0, 2)->text().toInt();
    EXPECT_TRUE(grey < 100 || grey == 16383) << grey;

    // The file: the reset record's pixel and every defect.
    EXPECT_EQ(readBytes(tree->pixelTable()).size(), 4 * (defects + 1));

    // A second run finds the same pixels and does not list them again.
    ASSERT_EQ(run("m_pBtnAutoDetect").size(), 1);
    EXPECT_EQ(table->rowCount(), defects);
}

TEST_F(VideoPagePixel, TableFromMarksThenSendMatchesTheCore)
{
    auto msgs = run("m_pBtnSendPixel");
    EXPECT_EQ(msgs, (QList<Message>{{QStringLiteral("错误"), QStringLiteral("本地坏点表不存在, 请先进行自动检测")}}));
    EXPECT_EQ(cam->core().longRegister(0xF0E0), 0u) << "the core was not put into upgrade mode";
    EXPECT_EQ(run("m_pBtnCreatePixel"),
              (QList<Message>{{QStringLiteral("错误"), QStringLiteral("本地坏点表不存在, 请先进行自动检测")}}));

    // The backup left by the one-key correction is the base.
    QDir().mkpath(tree->pixelDir());
    {
        QFile bak(tree->pixelBackup());
        ASSERT_TRUE(bak.open(QIODevice::WriteOnly));
        bak.write(QByteArray::fromHex("00010143"));
    }
    page->findChild<QCheckBox*>("m_pChkSignPixel")->setChecked(true);
    for (int i = 0; i < 3; ++i) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(40 + 50 * i, 30), QPointF(40 + 50 * i, 30),
                          Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(page->pictureSurface(), &press);
    }
    ASSERT_EQ(page->marks().size(), 3);
    EXPECT_EQ(run("m_pBtnCreatePixel"), (QList<Message>{{QStringLiteral("提示"), QStringLiteral("坏点表生成成功\n文件：") + QDir::toNativeSeparators(QFileInfo(tree->pixelTable()).absoluteFilePath())}}));
    const QByteArray local = readBytes(tree->pixelTable());
    EXPECT_EQ(local.size(), 16);

    EXPECT_EQ(run("m_pBtnSendPixel"), (QList<Message>{{QStringLiteral("提示"), QStringLiteral("写入数据完毕")}}));
    EXPECT_EQ(coreTable().toHex(), local.toHex());
}

TEST_F(VideoPagePixel, ShutterCorrectionWritesItsRegister)
{
    cam->core().setLongRegister(0x7003, 5);
    EXPECT_TRUE(run("m_pBtnShutterCorrect").isEmpty());
    EXPECT_EQ(cam->core().longRegister(0x7003), 0u);
}

TEST_F(VideoPagePixel, AFailedReadBackShowsItsStepAndWritesNoTable)
{
    irsim::FaultRule rule;
    std::string err;
    // Refused rather than unanswered: a silent block command costs 600 polls.
    ASSERT_TRUE(irsim::FaultRule::parse("zero@block:0xE8", &rule, &err)) << err;
    cam->faults().add(rule);
    child<QLineEdit>("m_pEdtHThrd")->setText("1500");
    EXPECT_EQ(run("m_pBtnAutoDetect"), (QList<Message>{{QStringLiteral("提示"), QStringLiteral("读取开始失败")}}));
    EXPECT_FALSE(QFile::exists(tree->pixelTable()));
    EXPECT_EQ(cam->core().upgradeState(), irsim::UpgradeEngine::State::Idle) << "the core left upgrade mode";
}

TEST_F(VideoPagePixel, WithoutStreamOrDeviceTheToolsSaySo)
{
    page->setNetConnect(nullptr);
    const Message noStream{QStringLiteral("提示"), QStringLiteral("未取流, 请先开启取流!")};
    EXPECT_EQ(run("m_pBtnAutoDetect"), QList<Message>{noStream});
    EXPECT_EQ(run("m_pBtnCreatePixel"), QList<Message>{noStream});

    CDevice::SetConnect(nullptr);
    const Message noDevice{QStringLiteral("警告"), QStringLiteral("未连接任何设备!")};
    for (const char* button : {"m_pBtnReSet", "m_pBtnSendPixel", "m_pBtnShutterCorrect"})
        EXPECT_EQ(run(button), QList<Message>{noDevice}) << button;
}

} // namespace
