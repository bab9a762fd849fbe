// The calibration page's "质量检验" box against the virtual camera: a verdict only once
// the run is in the history, pictures and a PDF report per judged run, no verdict when
// the record is lost; and the "检验标准" dialog that sets the limits.
#include "CDevice.h"
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "CustomModalDialog.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "HistoryQuery.h"
#include "HistoryRecorder.h"
#include "LiveCamera.h"
#include "QualityGroup.h"
#include "QualityLimitsDlg.h"
#include "QualityRun.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>

#include <gtest/gtest.h>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;

class QualityGroupSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        HistoryConfig cfg;
        cfg.sqlitePath = root.file("h.sqlite");
        cfg.retryMs = 50;
        HistoryRecorder::instance()->configure(cfg);
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = "res160";
        o.stream.scene.flatField = true;
        o.stream.scene.sceneTempC = 40.0;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_TRUE(net.StartStream());
        page = std::make_unique<DetectPageWidget>();
        page->setNetConnect(&net);
        page->setSensorId(CameraInfoDataManager::instance()->sensorId());
        page->show();
        group = page->qualityBox();
        ASSERT_NE(group, nullptr);
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }));
        group->findChild<QLineEdit*>("m_pEdtQualityFrames")->setText("4");
        takeMessages();
    }
    void TearDown() override
    {
        DeviceRunner::instance()->waitIdle(30000);
        page.reset();
        irtest::stopLiveCamera(cam.get(), &net);
        HistoryRecorder::instance()->configure(HistoryConfig());
        takeMessages();
    }

    void setLimits(double maxNonuniformity)
    {
        QualityLimits l;
        l.maxNonuniformityPercent = maxNonuniformity;
        l.maxUnflaggedOutliers = 1000; // the camera's noisy pixels are not in its table
        l.maxCorrectability = 1000;
        ASSERT_TRUE(writeQualityLimits(l, 4));
    }
    QString run()
    {
        group->findChild<QPushButton*>("m_pBtnQuality")->click();
        EXPECT_TRUE(DeviceRunner::instance()->waitIdle(60000));
        return group->verdictText();
    }
    QList<HistoryEvent> qualityEvents()
    {
        HistoryFilter f;
        f.kind = HistoryKind::Quality;
        QList<HistoryEvent> out;
        QString error;
        EXPECT_TRUE(queryHistory(HistoryRecorder::instance()->config(), HistorySource::Local, f, &out, &error))
            << error.toStdString();
        return out;
    }
    QString resultCell(int row) { return group->findChild<QTableWidget*>("m_pTblQuality")->item(row, 3)->text(); }

    irtest::ScopedDataRoot root;
    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<DetectPageWidget> page;
    QualityGroup* group = nullptr;
};

// A pass and a fail of the same core differ only in the limits; each is in the history
// with those limits by the time its verdict shows, with its pictures and its report.
TEST_F(QualityGroupSim, VerdictFollowsTheLimitsAndIsRecordedWithItsReport)
{
    setLimits(100.0);
    ASSERT_EQ(run(), QStringLiteral("合格")) << takeMessages().value(0).second.toStdString();
    QList<HistoryEvent> events = qualityEvents();
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events[0].ok);
    EXPECT_EQ(events[0].details.value("limit_nonuniformity_percent").toDouble(), 100.0);
    const QString firstReport = group->reportPath();
    ASSERT_FALSE(firstReport.isEmpty());
    EXPECT_TRUE(firstReport.startsWith(CalibrationTree(page->sensorId()).reportDir()));
    QFile pdf(firstReport);
    ASSERT_TRUE(pdf.open(QIODevice::ReadOnly));
    EXPECT_EQ(pdf.read(5), QByteArray("%PDF-"));
    EXPECT_TRUE(QFile::exists(group->runDir() + "/Deviation.png"));
    EXPECT_TRUE(QFile::exists(group->runDir() + "/Histogram.png"));
    EXPECT_FALSE(group->deviationMap().isNull());
    EXPECT_EQ(group->deviationMap().width() % 160, 0);

    setLimits(0.0); // no real core is perfectly uniform
    ASSERT_EQ(run(), QStringLiteral("不合格"));
    EXPECT_TRUE(group->findChild<QLabel*>("m_pLabQualityFailed")->text().contains(qualityCaption("nonuniformity_percent")));
    EXPECT_EQ(resultCell(3), QStringLiteral("未通过")); // nonuniformity_percent
    EXPECT_EQ(resultCell(5), QStringLiteral("通过"));   // operability_percent
    events = qualityEvents();
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].details.value("limit_nonuniformity_percent").toDouble(), 0.0);
    EXPECT_NE(group->reportPath(), firstReport);
    EXPECT_TRUE(takeMessages().isEmpty());
}

// The bench's history file cannot be written: the figures are there for diagnosis,
// but no "合格" and no report for a core whose record is lost.
TEST_F(QualityGroupSim, NoVerdictWhenTheRecordIsLost)
{
    setLimits(100.0);
    const QString path = root.file("damaged.sqlite");
    QFile damaged(path);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(8192, 'x')); // not a database: every commit fails
    damaged.close();
    HistoryConfig cfg;
    cfg.sqlitePath = path;
    cfg.retryMs = 50;
    HistoryRecorder::instance()->configure(cfg);
    EXPECT_EQ(run(), QStringLiteral("未判定"));
    const auto shown = takeMessages();
    ASSERT_FALSE(shown.isEmpty());
    EXPECT_EQ(shown.last().first, QStringLiteral("错误"));
    EXPECT_TRUE(group->reportPath().isEmpty());
    EXPECT_FALSE(QDir(CalibrationTree(page->sensorId()).reportDir()).exists());
}

TEST_F(QualityGroupSim, RefusesAFrameCountItCannotJudge)
{
    for (const char* bad : {"1", "129", "x"}) {
        group->findChild<QLineEdit*>("m_pEdtQualityFrames")->setText(bad);
        EXPECT_EQ(run(), QStringLiteral("未检验")) << bad;
        EXPECT_EQ(takeMessages(),
                  (QList<QPair<QString, QString>>{{QStringLiteral("警告"), QStringLiteral("检验帧数必须是2~128之间的整数!")}}))
            << bad;
    }
}

// "设置 > 检验标准…": a bad value keeps the dialog open and stores nothing; a good one
// is stored and the page's box takes the new frame count.
TEST(QualityLimitsDialog, ValidatesStoresAndUpdatesThePage)
{
    irtest::ScopedDataRoot root;
    DetectPageWidget page;
    QMenu menu;
    addQualityLimitsAction(&menu, &page);
    QAction* act = menu.findChild<QAction*>("m_pActQualityLimits");
    ASSERT_NE(act, nullptr);
    auto set = [](CustomModalDialog* d, const char* name, const char* text) {
        d->findChild<QLineEdit*>(name)->setText(QString::fromUtf8(text));
    };
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        set(d, "m_pEdtOperability", "101");
        d->OkButton()->click();
        EXPECT_TRUE(d->isVisible()); // refused: still open
    });
    act->trigger();
    auto shown = takeMessages();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].second.contains(qualityCaption("operability_percent")));
    QualityLimits stored;
    int frames = 0;
    readQualityLimits(&stored, &frames);
    EXPECT_EQ(stored.minOperabilityPercent, QualityLimits().minOperabilityPercent);

    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        set(d, "m_pEdtNonuniformity", "0.5");
        set(d, "m_pEdtCluster", "2");
        set(d, "m_pEdtFrames", "32");
        d->OkButton()->click();
    });
    act->trigger();
    CustomModalDialog::setDriver({});
    EXPECT_TRUE(takeMessages().isEmpty());
    readQualityLimits(&stored, &frames);
    EXPECT_EQ(stored.maxNonuniformityPercent, 0.5);
    EXPECT_EQ(stored.maxLargestCluster, 2);
    EXPECT_EQ(frames, 32);
    EXPECT_EQ(page.qualityBox()->findChild<QLineEdit*>("m_pEdtQualityFrames")->text(), "32");
}

} // namespace
