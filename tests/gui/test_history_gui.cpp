// The history where the operator sees it: the status page's tab (the identified
// core's events, newest first, the kind filter, the CSV export) and the status strip.
#include "CameraInfoDataManager.h"
#include "GuiTestSupport.h"
#include "HistoryActions.h"
#include "HistoryRecorder.h"
#include "HistoryTabWidget.h"
#include "SimLink.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTcpServer>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <memory>

namespace {

HistoryEvent made(const QString& kind, const QString& sensorId, int n)
{
    HistoryEvent e(kind);
    e.sensorId = sensorId;
    e.details["n"] = n;
    e.started = QDateTime::currentDateTimeUtc().addSecs(n);
    e.succeed();
    return e;
}

class HistoryGui : public ::testing::Test {
protected:
    void SetUp() override
    {
        HistoryConfig cfg;
        cfg.sqlitePath = root.file("h.sqlite");
        cfg.retryMs = 50;
        HistoryRecorder::instance()->configure(cfg);
        guitest::takeMessages();
    }
    void TearDown() override
    {
        CameraInfoDataManager::instance()->onDisconnectCameraInfoManagerPostEvent();
        HistoryRecorder::instance()->configure(HistoryConfig());
        FileChooser::setProvider(nullptr);
        guitest::takeMessages();
    }
    irtest::ScopedDataRoot root;
};

TEST_F(HistoryGui, TabShowsTheIdentifiedCoreNewestFirstFilteredAndExports)
{
    irtest::SimLink sim("default", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    mgr->setDeviceForm(1);
    mgr->identifyNow();
    const QString id = mgr->sensorId();
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->record(made(HistoryKind::FlashWrite, id, 1));
    rec->record(made(HistoryKind::ReadBack, id, 2));
    rec->record(made(HistoryKind::FlashWrite, QStringLiteral("another-core"), 3));

    HistoryTabWidget tab;
    tab.show();
    ASSERT_TRUE(guitest::waitUntil([&] { return !tab.isLoading() && tab.shownEvents().size() == 3; }));
    const QList<HistoryEvent>& shown = tab.shownEvents();
    EXPECT_EQ(shown[0].kind, HistoryKind::ReadBack); // newest first
    EXPECT_EQ(shown[2].kind, HistoryKind::Identify);
    for (const HistoryEvent& e : shown)
        EXPECT_EQ(e.sensorId, id);
    auto* table = tab.findChild<QTableWidget*>("m_pTabHistory");
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->item(0, 1)->text(), HistoryKind::caption(HistoryKind::ReadBack));

    auto* kind = tab.findChild<QComboBox*>("m_pCbxHistoryKind");
    kind->setCurrentIndex(kind->findData(HistoryKind::FlashWrite));
    ASSERT_TRUE(guitest::waitUntil([&] { return !tab.isLoading() && tab.shownEvents().size() == 1; }));
    EXPECT_EQ(tab.shownEvents()[0].details.value("n").toInt(), 1);

    auto chooser = std::make_shared<guitest::ScriptedChooser>();
    chooser->nextSave = root.file("out.csv");
    FileChooser::setProvider(chooser);
    tab.findChild<QPushButton*>("m_pBtnHistoryExport")->click();
    const QByteArray csv = irtest::readAll(chooser->nextSave);
    EXPECT_TRUE(csv.startsWith("\xEF\xBB\xBFuuid,kind,"));
    EXPECT_EQ(csv.count("\r\n"), 2);
    const auto msgs = guitest::takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_TRUE(msgs[0].second.startsWith(QStringLiteral("已导出 1 条记录"))) << msgs[0].second.toStdString();
}

TEST_F(HistoryGui, StripCountsThePendingAndTurnsRedOnceWhenTheFileFails)
{
    QMenu menu;
    QWidget strip;
    auto* layout = new QHBoxLayout(&strip);
    addHistoryActions(&menu, layout);
    auto* label = strip.findChild<QLabel*>("HistoryLabel");
    ASSERT_NE(label, nullptr);
    EXPECT_NE(menu.findChild<QAction*>("m_pActDatabase"), nullptr);

    // A server that is not there: the events wait in the outbox.
    int closedPort = 0;
    {
        QTcpServer s;
        ASSERT_TRUE(s.listen(QHostAddress::LocalHost, 0));
        closedPort = s.serverPort();
    }
    HistoryConfig cfg;
    cfg.sqlitePath = root.file("outbox.sqlite");
    cfg.host = QStringLiteral("127.0.0.1");
    cfg.port = closedPort;
    cfg.database = cfg.user = QStringLiteral("irbench");
    cfg.retryMs = 60000;
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->configure(cfg);
    for (int i = 0; i < 3; ++i)
        rec->record(made(HistoryKind::FileTool, QString(), i));
    EXPECT_TRUE(guitest::waitUntil([&] { return label->text() == QStringLiteral("记录: 3 条待上传"); }))
        << label->text().toStdString() << rec->state().localError.toStdString();

    QFile bad(root.file("bad.sqlite"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(4096, 'z'));
    bad.close();
    cfg = HistoryConfig();
    cfg.sqlitePath = bad.fileName();
    cfg.retryMs = 30;
    rec->configure(cfg);
    rec->record(made(HistoryKind::FileTool, QString(), 9));
    ASSERT_TRUE(guitest::waitUntil([&] { return label->text() == QStringLiteral("记录未保存"); }));
    EXPECT_TRUE(label->styleSheet().contains("#d01010"));
    // Ten more failed tries, each announced: the strip repaints, the box stays at one.
    const qint64 failed = rec->state().failedWrites;
    rec->record(made(HistoryKind::FileTool, QString(), 10));
    ASSERT_TRUE(guitest::waitUntil([&] { return rec->state().failedWrites >= failed + 10; }));
    EXPECT_EQ(label->text(), QStringLiteral("记录未保存"));
    const auto msgs = guitest::takeMessages();
    ASSERT_EQ(msgs.size(), 1) << "the reason once, not once per event";
    EXPECT_EQ(msgs[0].first, QStringLiteral("错误"));
    EXPECT_TRUE(msgs[0].second.contains(bad.fileName()));
}

} // namespace
