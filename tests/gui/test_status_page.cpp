#include "CComonFun.h"
#include "CModuleRecord.h"
#include "CameraInfoDataManager.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "SimLink.h"
#include "StatusPageWidget.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QGroupBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

namespace {

using Msg = QPair<QString, QString>;
const Msg kNoDevice{"警告", "未连接任何设备!"};

void spin(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

template <typename T>
T* child(QWidget* page, const char* name)
{
    T* w = page->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QString text(QWidget* page, const char* name)
{
    QLabel* lab = child<QLabel>(page, name);
    return lab ? lab->text() : QStringLiteral("<missing>");
}

QString cell(QTableWidget* tab, int row, int col)
{
    QTableWidgetItem* item = tab->item(row, col);
    return item ? item->text() : QString();
}

class StatusPage : public ::testing::Test {
protected:
    void SetUp() override
    {
        mgr = CameraInfoDataManager::instance();
        mgr->onDisconnectCameraInfoManagerPostEvent();
        guitest::takeMessages();
        page = std::make_unique<StatusPageWidget>();
        pageMessages = guitest::takeMessages();
    }
    void TearDown() override
    {
        page.reset();
        mgr->onDisconnectCameraInfoManagerPostEvent();
        guitest::takeMessages();
    }
    // Identifies the virtual camera and has the page show it, as the main window does.
    void identify(irtest::SimLink& sim)
    {
        ASSERT_TRUE(sim.ok()) << sim.error();
        mgr->setDeviceForm(1);
        mgr->identifyNow();
        spin(20); // queued signals, if any
        page->showIdentification();
        page->onShowInfo();
    }

    irtest::ScopedDataRoot root;
    CameraInfoDataManager* mgr = nullptr;
    std::unique_ptr<StatusPageWidget> page;
    QList<Msg> pageMessages; // what creating the page said
};

TEST_F(StatusPage, CaptionsLabelsAndButtons)
{
    QStringList groups;
    for (QGroupBox* g : page->findChildren<QGroupBox*>())
        groups << g->title();
    EXPECT_EQ(groups, QStringList({"MovementInfo", "Version Info", "Status Info"}));
    QStringList captions;
    for (QLabel* l : page->findChildren<QLabel*>())
        if (l->objectName().isEmpty())
            captions << l->text();
    EXPECT_EQ(captions, QStringList({"Module Serial：", "Sensor ID：", "Module Info：", "软件版本：", "软件版本日期：",
                                     "FPGA版本：", "FPGA版本日期：", "工艺版本日期：", "硬件版本日期：", "FPA：",
                                     "PCB：", "TEC：", "LBV：", "HBV：", "INX："}));
    QTableWidget* tab = child<QTableWidget>(page.get(), "m_pTabSerialNum");
    ASSERT_NE(tab, nullptr);
    EXPECT_EQ(tab->columnCount(), 2);
    EXPECT_EQ(tab->horizontalHeaderItem(0)->text(), "NUM");
    EXPECT_EQ(tab->horizontalHeaderItem(1)->text(), "SERIAL");
    EXPECT_EQ(child<QPushButton>(page.get(), "m_pBtnUpdate")->text(), "更新");
    EXPECT_EQ(child<QPushButton>(page.get(), "m_pBtnSave")->text(), "保存");
    EXPECT_EQ(child<QPushButton>(page.get(), "m_pBtnGetChk")->text(), "获取信息");
    QPushButton* show = child<QPushButton>(page.get(), "m_pBtnShowStatus");
    EXPECT_EQ(show->text(), "显示状态");
    EXPECT_TRUE(show->isCheckable());
    EXPECT_EQ(child<QTimer>(page.get(), "m_pTimerStatus")->interval(), 500);
}

TEST_F(StatusPage, RecordFolderMadeOnceWithMessage)
{
    const QString date = CComonFun::dateStamp();
    EXPECT_EQ(page->recordFolder(), root.path() + "/module_info/" + date);
    EXPECT_TRUE(QDir(page->recordFolder()).exists());
    EXPECT_EQ(pageMessages, QList<Msg>({{"提示", "文件夹../module_info/" + date + "已创建!\n文件夹："
                                                     + QDir::toNativeSeparators(root.path() + "/module_info/" + date)}}));
    // A second page finds the folder and says nothing.
    StatusPageWidget again;
    EXPECT_TRUE(guitest::takeMessages().isEmpty());
    EXPECT_EQ(again.recordFolder(), page->recordFolder());
}

TEST_F(StatusPage, RecordFolderThatCannotBeMadeIsReported)
{
    irtest::ScopedDataRoot other;
    ASSERT_TRUE(CComonFun::writeFile(other.file("module_info"), "a file, not a folder"));
    StatusPageWidget blocked;
    const auto msgs = guitest::takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, "错误");
    EXPECT_EQ(msgs[0].second, "文件夹../module_info/" + CComonFun::dateStamp() + "创建失败!\n文件夹："
                                  + QDir::toNativeSeparators(other.path() + "/module_info/" + CComonFun::dateStamp()));
}

TEST_F(StatusPage, EveryActionWithoutIdentificationWarns)
{
    QPushButton* show = child<QPushButton>(page.get(), "m_pBtnShowStatus");
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    child<QPushButton>(page.get(), "m_pBtnUpdate")->click();
    show->click();
    EXPECT_EQ(guitest::takeMessages(), QList<Msg>({kNoDevice, kNoDevice, kNoDevice}));
    // Nothing to show: the button is back to its resting state and no timer runs.
    EXPECT_FALSE(show->isChecked());
    EXPECT_EQ(show->text(), "显示状态");
    EXPECT_FALSE(child<QTimer>(page.get(), "m_pTimerStatus")->isActive());
    EXPECT_EQ(child<QTableWidget>(page.get(), "m_pTabSerialNum")->rowCount(), 0);
    EXPECT_FALSE(DeviceRunner::instance()->busy());
}

TEST_F(StatusPage, ShowsIdentificationAndSavesExactRecord)
{
    irtest::SimLink sim("default", 1);
    identify(sim);
    EXPECT_EQ(text(page.get(), "m_pLabSerialValue"), "2024a001");
    EXPECT_EQ(text(page.get(), "m_pLabSensorIdValue"), "20240815");
    EXPECT_EQ(text(page.get(), "m_pLabModuleInfoValue"), "0110220000");
    EXPECT_EQ(text(page.get(), "m_pLabVer0"), "1.2.3");
    EXPECT_EQ(text(page.get(), "m_pLabVer5"), "20231212");

    guitest::takeMessages();
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    EXPECT_EQ(guitest::takeMessages(),
              QList<Msg>({{"提示", "已保存!\n文件：" + QDir::toNativeSeparators(page->recordFolder() + "/2024a001.txt")}}));
    const QByteArray expected =
        "SerialNum:    2024a001\r\n"
        "ModuleInfo:    0110220000\r\n"
        "SensorID:    20240815\r\n"
        "SoftWareVerNum:    1.2.3\r\n"
        "SoftWareVerTime:    20241105\r\n"
        "FPGAVerNum:    2.0.1\r\n"
        "FPGAVerTime:    20240920\r\n"
        "ProcessVerTime:    20240301\r\n"
        "HardwareVerTime:    20231212\r\n";
    EXPECT_EQ(irtest::readAll(page->recordFolder() + "/2024a001.txt"), expected);
}

TEST_F(StatusPage, SavingTwiceOverwritesAndAddsARow)
{
    irtest::SimLink sim("type0", 1);
    identify(sim);
    QTableWidget* tab = child<QTableWidget>(page.get(), "m_pTabSerialNum");
    const QString file = page->recordFolder() + "/10000007.txt";
    ASSERT_TRUE(CComonFun::writeFile(file, QByteArray(4000, 'x'))); // an older, longer record
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    ASSERT_EQ(tab->rowCount(), 2);
    EXPECT_EQ(cell(tab, 0, 0), "1");
    EXPECT_EQ(cell(tab, 1, 0), "2");
    EXPECT_EQ(cell(tab, 1, 1), "10000007");
    const QByteArray content = irtest::readAll(file);
    EXPECT_TRUE(content.startsWith("SerialNum:    10000007\r\n"));
    EXPECT_EQ(content.count("\r\n"), 9);
    EXPECT_FALSE(content.contains('x'));

    // Listing replaces the rows with one per file.
    ASSERT_TRUE(CComonFun::writeFile(page->recordFolder() + "/0abc.txt", "y"));
    child<QPushButton>(page.get(), "m_pBtnGetChk")->click();
    ASSERT_EQ(tab->rowCount(), 2);
    EXPECT_EQ(cell(tab, 0, 0), "1");
    EXPECT_EQ(cell(tab, 0, 1), "0abc");
    EXPECT_EQ(cell(tab, 1, 0), "2");
    EXPECT_EQ(cell(tab, 1, 1), "10000007");
}

TEST_F(StatusPage, HostileSerialIsSavedInsideTheRecordFolder)
{
    irtest::SimLink sim("hostile", 1);
    identify(sim);
    EXPECT_EQ(text(page.get(), "m_pLabSerialValue"), QString::fromLatin1("..\x01/"));
    guitest::takeMessages();
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    const auto saved = guitest::takeMessages();
    ASSERT_EQ(saved.size(), 1);
    EXPECT_TRUE(saved[0].second.startsWith("已保存!\n文件：")) << saved[0].second.toStdString();
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    QStringList written;
    while (it.hasNext()) {
        const QString f = it.next();
        if (f.endsWith(".txt") && f.contains("/module_info/"))
            written << f;
    }
    ASSERT_EQ(written.size(), 1);
    EXPECT_EQ(QFileInfo(written[0]).absolutePath(), QDir(page->recordFolder()).absolutePath());
    EXPECT_EQ(QFileInfo(written[0]).fileName(), mgr->safeSerialNumber() + ".txt");
}

TEST_F(StatusPage, FailedSaveIsReportedAndAddsNoRow)
{
    irtest::SimLink sim("default", 1);
    identify(sim);
    // A folder where the record file should be: it cannot be opened for writing.
    ASSERT_TRUE(QDir().mkpath(page->recordFolder() + "/2024a001.txt"));
    guitest::takeMessages();
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    EXPECT_EQ(guitest::takeMessages(),
              QList<Msg>({{"提示", "保存失败!\n文件：" + QDir::toNativeSeparators(page->recordFolder() + "/2024a001.txt")}}));
    EXPECT_EQ(child<QTableWidget>(page.get(), "m_pTabSerialNum")->rowCount(), 0);
}

TEST_F(StatusPage, SaveWithoutSerialNumberIsRefused)
{
    irtest::SimLink sim("default", 1);
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("noreply@short:0x84", &rule, nullptr));
    sim.camera().faults().add(rule);
    identify(sim);
    guitest::takeMessages();
    child<QPushButton>(page.get(), "m_pBtnSave")->click();
    const auto msgs = guitest::takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_NE(msgs[0].second, "已保存!");
    EXPECT_TRUE(QDir(page->recordFolder()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(StatusPage, LiveValuesFollowTheFrameRecord)
{
    irtest::SimLink sim("default", 1);
    identify(sim);
    FrameAddInfo fi;
    fi.tFPA = 31.4159265f;
    fi.tBoard = 45.5f;
    fi.TEC = 1234;
    mgr->setFrameAddInfo(fi);
    QPushButton* show = child<QPushButton>(page.get(), "m_pBtnShowStatus");
    QTimer* timer = child<QTimer>(page.get(), "m_pTimerStatus");
    show->click();
    EXPECT_TRUE(show->isChecked());
    EXPECT_EQ(show->text(), "关闭显示");
    EXPECT_TRUE(timer->isActive());
    page->onTimerOut();
    EXPECT_EQ(text(page.get(), "m_pLabFpaValue"), "31.4159");
    EXPECT_EQ(text(page.get(), "m_pLabPcbValue"), "45.5");
    EXPECT_EQ(text(page.get(), "m_pLabTecValue"), "1234");
    EXPECT_EQ(text(page.get(), "m_pLabLbvValue"), "");

    fi.tFPA = 1234567.0f;
    mgr->setFrameAddInfo(fi);
    page->onTimerOut();
    EXPECT_EQ(text(page.get(), "m_pLabFpaValue"), "1.23457e+06");

    show->click();
    EXPECT_EQ(show->text(), "显示状态");
    EXPECT_FALSE(timer->isActive());
    EXPECT_EQ(text(page.get(), "m_pLabFpaValue"), "");
    EXPECT_EQ(text(page.get(), "m_pLabTecValue"), "");
    EXPECT_TRUE(guitest::takeMessages().isEmpty());
}

TEST_F(StatusPage, DisconnectClearsDisplayAndStopsLiveValues)
{
    irtest::SimLink sim("default", 1);
    identify(sim);
    QPushButton* show = child<QPushButton>(page.get(), "m_pBtnShowStatus");
    show->click();
    page->onTimerOut();
    ASSERT_FALSE(text(page.get(), "m_pLabTecValue").isEmpty());
    mgr->onDisconnectCameraInfoManagerPostEvent();
    page->clearDisplay();
    for (const char* name : {"m_pLabSerialValue", "m_pLabSensorIdValue", "m_pLabModuleInfoValue", "m_pLabVer0",
                             "m_pLabVer3", "m_pLabFpaValue", "m_pLabTecValue"})
        EXPECT_EQ(text(page.get(), name), "") << name;
    EXPECT_FALSE(show->isChecked());
    EXPECT_FALSE(child<QTimer>(page.get(), "m_pTimerStatus")->isActive());
}

TEST_F(StatusPage, UpdateRunsOffTheGuiThreadAndRefreshes)
{
    irtest::SimLink sim("type4", 1);
    identify(sim);
    ASSERT_EQ(text(page.get(), "m_pLabSensorIdValue"), "IRB0123");
    // The core changes under the page; "更新" must fetch the new identity.
    const irsim::Identity* next = irsim::findPreset("type0");
    ASSERT_NE(next, nullptr);
    sim.camera().core().setIdentity(*next);
    guitest::takeMessages();

    bool sawDisabled = false;
    QObject::connect(DeviceRunner::instance(), &DeviceRunner::signalBusyChanged, page.get(), [&](bool busy) {
        if (busy)
            sawDisabled = !page->isEnabled();
    });
    QPushButton* update = child<QPushButton>(page.get(), "m_pBtnUpdate");
    update->click();
    EXPECT_EQ(guitest::takeMessages(),
              QList<Msg>({{"提示", "机芯数据更新,等待所有信息显示完后点击Save保存"}}));
    EXPECT_TRUE(sawDisabled);
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(30000));
    spin(50);
    EXPECT_TRUE(page->isEnabled());
    EXPECT_TRUE(update->isEnabled());
    EXPECT_EQ(text(page.get(), "m_pLabSensorIdValue"), "a000012345");
    EXPECT_EQ(text(page.get(), "m_pLabSerialValue"), "10000007");
    EXPECT_EQ(text(page.get(), "m_pLabModuleInfoValue"), "0102210000");
}

} // namespace
