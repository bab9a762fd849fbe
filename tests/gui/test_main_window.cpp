// The main window against the virtual camera in this process: network and serial
// connect with identification, failed connects, disconnect, close, window sizing,
// the stream switch and the file tools of the menu.
#include "CComConnect.h"
#include "CDevice.h"
#include "CNetConnect.h"
#include "CameraInfoDataManager.h"
#include "ComConnectDlg.h"
#include "ConfigPageWidget.h"
#include "CustomModalDialog.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "GuiTestSupport.h"
#include "IrBenchDlg.h"
#include "SettingsStore.h"
#include "TestSupport.h"
#include "VideoPageWidget.h"
#include "VirtualCamera.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStackedWidget>
#include <gtest/gtest.h>

#include <memory>

using guitest::takeMessages;
using guitest::waitUntil;

namespace {

QString expectedSensorId(const irsim::Identity& id)
{
    // High word unpadded, low word padded to eight digits, cut before the first "f".
    QString text = QString::number(id.sensorIdHigh, 16) + QString("%1").arg(id.sensorIdLow, 8, 16, QChar('0'));
    const int f = text.indexOf('f');
    return f >= 0 ? text.left(f) : text;
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(CDevice::Current(), nullptr);
        irsim::CameraOptions opts;
        opts.net.port = 0;
        opts.serial = true;
        opts.timeScale = 0.01;
        cam = std::make_unique<irsim::VirtualCamera>(opts);
        std::string error;
        ASSERT_TRUE(cam->start(&error)) << error;
        chooser = std::make_shared<guitest::ScriptedChooser>();
        FileChooser::setProvider(chooser);
        win = std::make_unique<IrBenchDlg>();
        ASSERT_TRUE(win->Initialize());
        win->show();
        takeMessages();
    }

    void TearDown() override
    {
        CustomModalDialog::setDriver({});
        FileChooser::setProvider(nullptr);
        DeviceRunner::instance()->waitIdle(10000);
        win.reset();
        EXPECT_EQ(CDevice::Current(), nullptr);
        cam.reset();
        guitest::setMessageAnswer(1);
    }

    // Answers the network dialog with these values (or cancels it).
    void answerNetDialog(const QString& password, bool accept = true, int nPort = 0)
    {
        const QString port = QString::number(nPort > 0 ? nPort : cam->port());
        CustomModalDialog::setDriver([=](CustomModalDialog* d) {
            d->findChild<QLineEdit*>("m_pEdtIp")->setText("127.0.0.1");
            d->findChild<QLineEdit*>("m_pEdtPort")->setText(port);
            d->findChild<QLineEdit*>("m_pEdtUsr")->setText("admin");
            d->findChild<QLineEdit*>("m_pEdtPwd")->setText(password);
            d->findChild<QLineEdit*>("m_pEdtChannel")->setText("1");
            d->findChild<QComboBox*>("m_pCmBxDeviceModu")->setCurrentIndex(0);
            if (accept)
                d->OkButton()->click();
        });
    }

    bool rowsShown() const
    {
        for (int i = 1; i < 4; ++i)
            if (win->PageList()->item(i)->isHidden())
                return false;
        return true;
    }
    bool rowsHidden() const
    {
        for (int i = 1; i < 4; ++i)
            if (!win->PageList()->item(i)->isHidden())
                return false;
        return true;
    }

    void connectOverNetwork()
    {
        answerNetDialog("admin");
        win->ActNetConnect()->trigger();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
        ASSERT_TRUE(waitUntil([&] { return rowsShown(); })) << "pages not revealed";
    }

    void disconnectAndWait()
    {
        win->ActDisconnect()->trigger();
        ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    std::shared_ptr<guitest::ScriptedChooser> chooser;
    std::unique_ptr<IrBenchDlg> win;
    irtest::ScopedDataRoot root;
};

} // namespace

TEST(WindowPlacement, SmallDesktopIsFilledOtherwiseEightHundredBySixHundred)
{
    const IrBenchDlg::Placement small = IrBenchDlg::ComputePlacement(QRect(0, 0, 1024, 560));
    EXPECT_TRUE(small.bFillAvailable);
    EXPECT_EQ(small.rect, QRect(0, 0, 1024, 560));
    const IrBenchDlg::Placement narrow = IrBenchDlg::ComputePlacement(QRect(0, 0, 590, 900));
    EXPECT_TRUE(narrow.bFillAvailable);
    const IrBenchDlg::Placement big = IrBenchDlg::ComputePlacement(QRect(0, 0, 1024, 768));
    EXPECT_FALSE(big.bFillAvailable);
    EXPECT_EQ(big.rect.size(), QSize(800, 600));
    // 700 is not below 600: the window gets its usual size even though it is wider.
    EXPECT_FALSE(IrBenchDlg::ComputePlacement(QRect(0, 0, 700, 600)).bFillAvailable);

    QWidget w;
    IrBenchDlg::ApplyPlacement(&w, QRect(0, 0, 1024, 560));
    EXPECT_EQ(w.size(), QSize(1024, 560));
    EXPECT_EQ(w.minimumSize(), QSize(1024, 560));
    EXPECT_EQ(w.pos(), QPoint(0, 0));
    QWidget v;
    IrBenchDlg::ApplyPlacement(&v, QRect(0, 0, 1024, 768));
    EXPECT_EQ(v.size(), QSize(800, 600));
}

TEST_F(MainWindowTest, StartsDisconnectedWithOnlyTheStatusRow)
{
    EXPECT_EQ(win->windowTitle(), "IrBench");
    EXPECT_EQ(win->TitleText(), "IrBench");
    QStringList menus;
    for (QAction* a : win->MenuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, QStringList({"相机", "设置", "工具", "关于"}));
    QStringList actions;
    for (QAction* a : win->MenuBar()->actions())
        for (QAction* b : a->menu()->actions())
            if (!b->isSeparator())
                actions << b->text();
    EXPECT_EQ(actions, QStringList({"连接网络", "连接串口", "断开连接", "退出", "开启取流", "配置机芯规格书",
                                    "快速应答模式", "数据库…", "检验标准…", "文件比特倒置转换", "文件校验", "关于"}));
    EXPECT_TRUE(win->ActGetStream()->isCheckable());
    EXPECT_TRUE(win->ActGetStream()->isChecked());
    EXPECT_FALSE(win->ActSensorExcel()->isEnabled());
    EXPECT_TRUE(win->ActNetConnect()->isEnabled());
    EXPECT_TRUE(win->ActComConnect()->isEnabled());

    QListWidget* list = win->PageList();
    ASSERT_EQ(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), "状态");
    EXPECT_EQ(list->item(1)->text(), "配置");
    EXPECT_EQ(list->item(2)->text(), "检测");
    EXPECT_EQ(list->item(3)->text(), "标定");
    EXPECT_FALSE(list->item(0)->isHidden());
    EXPECT_TRUE(rowsHidden());
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(list->width(), 100);
    EXPECT_EQ(list->iconSize(), QSize(46, 37));
    EXPECT_EQ(list->viewMode(), QListView::IconMode);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_EQ(win->PageStack()->count(), 4);
    EXPECT_EQ(win->PageStack()->currentIndex(), 0);

    // The list drives the stack.
    list->item(2)->setHidden(false);
    list->setCurrentRow(2);
    EXPECT_EQ(win->PageStack()->currentWidget(), win->DetectPage());
}

TEST_F(MainWindowTest, NetworkConnectIdentifiesRevealsPagesAndStreams)
{
    connectOverNetwork();
    const QString sensorId = expectedSensorId(cam->core().identity());
    ASSERT_FALSE(sensorId.isEmpty());
    EXPECT_EQ(win->ConnectLabel()->text(), "127.0.0.1已连接");
    EXPECT_FALSE(win->ActNetConnect()->isEnabled());
    EXPECT_FALSE(win->ActComConnect()->isEnabled());
    EXPECT_TRUE(win->ActSensorExcel()->isEnabled());
    EXPECT_GE(win->LoginHandle(), 0);
    EXPECT_EQ(CDevice::Current(), win->NetLink());
    EXPECT_EQ(CameraInfoDataManager::instance()->sensorId(), sensorId);
    EXPECT_EQ(win->ConfigPage()->sensorId(), sensorId);
    EXPECT_EQ(win->ConfigPage()->netConnect(), win->NetLink());
    EXPECT_EQ(win->ConfigPage()->vendorIndex(),
              ConfigPageWidget::vendorIndexFor(CameraInfoDataManager::instance()->sensorTypeCode()));
    EXPECT_EQ(win->DetectPage()->sensorId(), sensorId);
    EXPECT_EQ(win->VideoPage()->sensorId(), sensorId);
    EXPECT_EQ(win->VideoPage()->detectPage(), win->DetectPage());
    EXPECT_TRUE(win->NetLink()->IsPlaying());
    EXPECT_TRUE(waitUntil([&] { return win->DetectPage()->isPageTimerActive() && win->VideoPage()->isPageTimerActive(); }));

    // The accepted values were kept for the next connect.
    SettingsStore::NetLogin saved;
    SettingsStore::readNetLogin(&saved);
    EXPECT_EQ(saved.ip, "127.0.0.1");
    EXPECT_EQ(saved.port, cam->port());
    EXPECT_EQ(saved.user, "admin");
    EXPECT_EQ(saved.channel, 1);

    win->PageList()->setCurrentRow(3);
    disconnectAndWait();
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_TRUE(rowsHidden());
    EXPECT_EQ(win->PageList()->currentRow(), 0);
    EXPECT_EQ(win->PageStack()->currentIndex(), 0);
    EXPECT_TRUE(win->ActNetConnect()->isEnabled());
    EXPECT_TRUE(win->ActComConnect()->isEnabled());
    EXPECT_FALSE(win->ActSensorExcel()->isEnabled());
    EXPECT_FALSE(CameraInfoDataManager::instance()->isIdentified());
    EXPECT_FALSE(win->NetLink()->IsPlaying());
    EXPECT_FALSE(win->DetectPage()->isPageTimerActive() || win->DetectPage()->isPageTimerPending());
    EXPECT_FALSE(win->VideoPage()->isPageTimerActive() || win->VideoPage()->isPageTimerPending());

    // The link object is kept and reused by the next connect.
    CNetConnect* first = win->NetLink();
    connectOverNetwork();
    EXPECT_EQ(win->NetLink(), first);
    disconnectAndWait();
}

TEST_F(MainWindowTest, FailedLoginWarnsAndLeavesTheStateAlone)
{
    answerNetDialog("wrong-password");
    win->ActNetConnect()->trigger();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0], qMakePair(QString("警告"), QString("设备连接失败!\n原因：用户名或密码错误,相机拒绝登录")));
    EXPECT_LT(win->LoginHandle(), 0);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_TRUE(win->ActNetConnect()->isEnabled());
    EXPECT_TRUE(win->ActComConnect()->isEnabled());
    EXPECT_TRUE(rowsHidden());
    EXPECT_EQ(CDevice::Current(), nullptr);
    // The dialog was accepted, so its values were stored before the attempt.
    SettingsStore::NetLogin saved;
    SettingsStore::readNetLogin(&saved);
    EXPECT_EQ(saved.password, "wrong-password");

    // A later good login on the same link object works.
    connectOverNetwork();
    EXPECT_GE(win->LoginHandle(), 0);
    disconnectAndWait();
}

// Nothing listening: the reason names the address; the dialog opened again shows
// what was typed, for a second try.
TEST_F(MainWindowTest, LoginToAnAddressWithoutCameraSaysSoAndKeepsTheValues)
{
    int nFreePort = 0;
    {
        irsim::CameraOptions opts;
        opts.net.port = 0;
        irsim::VirtualCamera gone(opts);
        std::string error;
        ASSERT_TRUE(gone.start(&error)) << error;
        nFreePort = gone.port();
    }
    answerNetDialog("admin", true, nFreePort);
    win->ActNetConnect()->trigger();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].second, QString("设备连接失败!\n原因：127.0.0.1:%1 没有设备在监听(地址或端口错误,或相机未启动)")
                                  .arg(nFreePort));
    EXPECT_EQ(CDevice::Current(), nullptr);

    QString shownPort, shownPwd;
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        shownPort = d->findChild<QLineEdit*>("m_pEdtPort")->text();
        shownPwd = d->findChild<QLineEdit*>("m_pEdtPwd")->text();
    });
    win->ActNetConnect()->trigger();
    EXPECT_EQ(shownPort, QString::number(nFreePort));
    EXPECT_EQ(shownPwd, "admin");
}

TEST_F(MainWindowTest, CancellingTheNetworkDialogChangesNothing)
{
    answerNetDialog("admin", false);
    win->ActNetConnect()->trigger();
    EXPECT_FALSE(DeviceRunner::instance()->busy());
    EXPECT_FALSE(QFileInfo::exists(SettingsStore::settingsPath()));
    EXPECT_EQ(win->NetLink(), nullptr);
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_TRUE(takeMessages().isEmpty());
}

TEST_F(MainWindowTest, SerialConnectOverThePtyIdentifiesWithoutStream)
{
    const QString pty = QString::fromStdString(cam->ptyPath());
    ASSERT_FALSE(pty.isEmpty());
    win->ActComConnect()->trigger();
    ComConnectDlg* dlg = win->ComDialog();
    ASSERT_TRUE(dlg->isVisible());
    dlg->PortCombo()->setEditText(pty);
    dlg->OkButton()->click();
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(CDevice::Current(), win->ComLink());
    EXPECT_EQ(win->ConnectLabel()->text(), pty + " 已连接");
    EXPECT_FALSE(win->ActNetConnect()->isEnabled());
    EXPECT_FALSE(win->ActComConnect()->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return rowsShown(); })) << "pages not revealed over serial";
    const QString sensorId = expectedSensorId(cam->core().identity());
    EXPECT_EQ(win->ConfigPage()->sensorId(), sensorId);
    EXPECT_EQ(win->ConfigPage()->netConnect(), nullptr);
    EXPECT_EQ(win->VideoPage()->netConnect(), nullptr);
    EXPECT_EQ(win->NetLink(), nullptr); // no network link, no stream
    EXPECT_FALSE(win->VideoPage()->isPageTimerActive() || win->VideoPage()->isPageTimerPending());

    disconnectAndWait();
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_FALSE(win->ComLink()->IsOpen());
    EXPECT_TRUE(rowsHidden());
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
}

TEST_F(MainWindowTest, SerialPortThatDoesNotOpenIsReported)
{
    win->ActComConnect()->trigger();
    win->ComDialog()->PortCombo()->setEditText(root.file("no-such-tty"));
    win->ComDialog()->OkButton()->click();
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0], qMakePair(QString("警告"), QString("串口打开失败!")));
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_TRUE(win->ActComConnect()->isEnabled());
}

TEST_F(MainWindowTest, LiveViewSwitchedOffBeforeConnectStartsWhenSwitchedOn)
{
    win->ActGetStream()->trigger(); // unchecked, nothing connected: nothing happens
    EXPECT_FALSE(win->ActGetStream()->isChecked());
    connectOverNetwork();
    EXPECT_FALSE(win->NetLink()->IsPlaying());
    EXPECT_FALSE(win->VideoPage()->isPageTimerActive() || win->VideoPage()->isPageTimerPending());

    win->ActGetStream()->trigger();
    EXPECT_TRUE(win->NetLink()->IsPlaying());
    EXPECT_TRUE(waitUntil([&] { return win->VideoPage()->isPageTimerActive(); }));
    win->ActGetStream()->trigger();
    EXPECT_FALSE(win->NetLink()->IsPlaying());
    EXPECT_FALSE(win->VideoPage()->isPageTimerActive() || win->VideoPage()->isPageTimerPending());
    disconnectAndWait();
}

TEST_F(MainWindowTest, ClosingTheWindowDisconnectsFirst)
{
    connectOverNetwork();
    const int before = cam->core().closeCommandCount();
    win->close();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    EXPECT_TRUE(waitUntil([&] { return !win->isVisible(); }));
    EXPECT_EQ(CDevice::Current(), nullptr);
    EXPECT_EQ(win->ConnectLabel()->text(), "未连接");
    EXPECT_FALSE(CameraInfoDataManager::instance()->isIdentified());
    // The network link told the core it is going away, once.
    EXPECT_TRUE(waitUntil([&] { return cam->core().closeCommandCount() > before; }));
    EXPECT_EQ(cam->core().closeCommandCount(), before + 1);
}

TEST_F(MainWindowTest, IdentificationEndingAfterDisconnectRevealsNothing)
{
    connectOverNetwork();
    disconnectAndWait();
    ASSERT_TRUE(rowsHidden());
    // A late finish signal (identification that was still running) is ignored.
    emit CameraInfoDataManager::instance()->signalConnectPostEventFinish();
    QCoreApplication::processEvents();
    EXPECT_TRUE(rowsHidden());
    EXPECT_FALSE(win->ActSensorExcel()->isEnabled());
}

TEST_F(MainWindowTest, ChecksumToolFromTheMenuWritesBesideTheInput)
{
    const QString in = root.file("app.elf");
    QFile f(in);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("abc");
    f.close();
    chooser->nextOpen = in;
    win->ActFileCrc()->trigger();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    EXPECT_EQ(chooser->captions.value(0), "打开文件");
    EXPECT_EQ(chooser->filters.value(0), "elf文件(*.elf);;全部文件(*.*)");
    auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0], qMakePair(QString("提示"), "文件校验完成\n文件：" + QDir::toNativeSeparators(root.file("crc_app.elf"))));
    const QByteArray out = irtest::readAll(root.file("crc_app.elf"));
    ASSERT_EQ(out.size(), 51);
    EXPECT_EQ(out.mid(48), QByteArray("abc"));

    // A file that cannot be read is reported, not announced as done.
    chooser->nextOpen = root.file("missing.dat");
    win->ActFileInvert()->trigger();
    ASSERT_TRUE(DeviceRunner::instance()->waitIdle(10000));
    msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, "错误");
    EXPECT_NE(msgs[0].second, "文件转换完成");
    EXPECT_FALSE(QFileInfo::exists(root.file("Invert_missing.dat")));

    // No file chosen: nothing happens, nothing is said.
    chooser->nextOpen.clear();
    win->ActFileInvert()->trigger();
    EXPECT_FALSE(DeviceRunner::instance()->busy());
    EXPECT_TRUE(takeMessages().isEmpty());
}
