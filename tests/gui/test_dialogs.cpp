// Serial, network and about dialogs: lists, defaults, remembered choices and results.
#include "AboutDlg.h"
#include "ComConnectDlg.h"
#include "ComInfo.h"
#include "CustomModalDialog.h"
#include "GuiTestSupport.h"
#include "NetConnectDialog.h"
#include "QtTranslations.h"
#include "SettingsStore.h"
#include "TestSupport.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using guitest::takeMessages;

namespace {

struct DriverGuard {
    ~DriverGuard() { CustomModalDialog::setDriver({}); }
};

QString field(CustomModalDialog* d, const char* name)
{
    auto* edt = d->findChild<QLineEdit*>(name);
    return edt ? edt->text() : QStringLiteral("<missing>");
}

void setField(CustomModalDialog* d, const char* name, const QString& text)
{
    auto* edt = d->findChild<QLineEdit*>(name);
    ASSERT_TRUE(edt) << name;
    edt->setText(text);
}

} // namespace

TEST(ComConnectDlg, PortsAreTheSerialDevicesInNaturalOrder)
{
    QTemporaryDir dev;
    for (const char* name : {"ttyUSB10", "ttyS0", "ttyUSB1", "ttyACM0", "tty0", "null", "ttyS1"}) {
        QFile f(dev.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString d = dev.path();
    EXPECT_EQ(ComConnectDlg::AvailablePorts(d),
              QStringList({d + "/ttyACM0", d + "/ttyS0", d + "/ttyS1", d + "/ttyUSB1", d + "/ttyUSB10"}));
}

TEST(ComConnectDlg, BaudListDefaultAndTheOperatorsLastChoice)
{
    ComConnectDlg dlg;
    dlg.ShowRequest();
    ASSERT_TRUE(dlg.IsInitialized());
    QComboBox* baud = dlg.BaudCombo();
    ASSERT_EQ(baud->count(), 9);
    QStringList rates;
    for (int i = 0; i < baud->count(); ++i)
        rates << baud->itemText(i);
    EXPECT_EQ(rates, QStringList({"2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"}));
    EXPECT_EQ(baud->currentText(), "115200");
    EXPECT_EQ(dlg.TitleText(), "串口连接");

    baud->setCurrentIndex(2);
    dlg.PortCombo()->setEditText("/dev/pts/77");
    dlg.CancelButton()->click();
    EXPECT_FALSE(dlg.isVisible());

    dlg.ShowRequest(); // shown as it was left
    EXPECT_EQ(baud->count(), 9);
    EXPECT_EQ(baud->currentText(), "9600");
    EXPECT_EQ(dlg.PortCombo()->currentText(), "/dev/pts/77");
    dlg.close();
}

TEST(ComConnectDlg, OkSendsTheTypedPortAndRateCancelSendsNothing)
{
    ComConnectDlg dlg;
    QList<ComInfo> requests;
    QObject::connect(&dlg, &ComConnectDlg::SigLogin, [&](QVariant v) {
        ASSERT_TRUE(v.canConvert<ComInfo>());
        requests << v.value<ComInfo>();
    });
    dlg.ShowRequest();
    dlg.PortCombo()->setEditText("  /dev/pts/5 ");
    dlg.BaudCombo()->setCurrentIndex(3);
    dlg.OkButton()->click();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].strPortName, "/dev/pts/5");
    EXPECT_EQ(requests[0].nBaudRate, 14400);
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_FALSE(dlg.isVisible());

    dlg.ShowRequest();
    dlg.CancelButton()->click();
    dlg.ShowRequest();
    dlg.findChild<QPushButton*>("TitleBtnClose")->click();
    EXPECT_EQ(requests.size(), 1);

    // An empty port is refused with a warning; the dialog stays for a correction.
    takeMessages();
    dlg.ShowRequest();
    dlg.PortCombo()->setEditText("");
    dlg.OkButton()->click();
    EXPECT_EQ(requests.size(), 1);
    EXPECT_TRUE(dlg.isVisible());
    const auto msgs = takeMessages();
    ASSERT_EQ(msgs.size(), 1);
    EXPECT_EQ(msgs[0].first, "警告");
    dlg.close();
}

TEST(NetConnectDialog, WithoutSettingsShowsEmptyFieldsAndTheUsualPort)
{
    irtest::ScopedDataRoot root;
    DriverGuard guard;
    QString ip = "?", port, channel, user = "?", pwd = "?", title;
    int form = -1;
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        ip = field(d, "m_pEdtIp");
        port = field(d, "m_pEdtPort");
        user = field(d, "m_pEdtUsr");
        pwd = field(d, "m_pEdtPwd");
        channel = field(d, "m_pEdtChannel");
        form = d->findChild<QComboBox*>("m_pCmBxDeviceModu")->currentIndex();
        title = d->TitleText();
        EXPECT_EQ(d->findChild<QLineEdit*>("m_pEdtPwd")->echoMode(), QLineEdit::Password);
        EXPECT_EQ(d->findChild<QLabel*>("m_pLabPwd_2")->text(), "设备形态：");
    });
    NetConnectDialog dlg;
    EXPECT_EQ(dlg.RunModal(), QDialog::Rejected);
    EXPECT_EQ(title, "网络连接");
    EXPECT_EQ(ip, "");
    EXPECT_EQ(user, "");
    EXPECT_EQ(pwd, "");
    EXPECT_EQ(port, "8000");
    EXPECT_EQ(channel, "0");
    EXPECT_EQ(form, 0);
}

TEST(NetConnectDialog, FilledFromSettingsAndReturnsTheSixValues)
{
    irtest::ScopedDataRoot root;
    DriverGuard guard;
    SettingsStore::NetLogin stored;
    stored.ip = "10.0.0.7";
    stored.user = "op";
    stored.password = "pw";
    stored.port = 9000;
    stored.channel = 3;
    stored.deviceForm = 1;
    ASSERT_TRUE(SettingsStore::writeNetLogin(stored));

    QString formText, port;
    CustomModalDialog::setDriver([&](CustomModalDialog* d) {
        formText = d->findChild<QComboBox*>("m_pCmBxDeviceModu")->currentText();
        port = field(d, "m_pEdtPort");
        setField(d, "m_pEdtIp", " 10.0.0.8 ");
        setField(d, "m_pEdtChannel", "4");
        d->findChild<QComboBox*>("m_pCmBxDeviceModu")->setCurrentIndex(2);
        d->OkButton()->click();
    });
    NetConnectDialog dlg;
    ASSERT_EQ(dlg.RunModal(), QDialog::Accepted);
    EXPECT_EQ(formText, "标准整机");
    EXPECT_EQ(port, "9000");
    const SettingsStore::NetLogin got = dlg.LoginInfo();
    EXPECT_EQ(got.ip, "10.0.0.8");
    EXPECT_EQ(got.user, "op");
    EXPECT_EQ(got.password, "pw");
    EXPECT_EQ(got.port, 9000);
    EXPECT_EQ(got.channel, 4);
    EXPECT_EQ(got.deviceForm, 2);
}

TEST(NetConnectDialog, RefusesAnEmptyAddressAndPortsOutsideSixteenBits)
{
    irtest::ScopedDataRoot root;
    DriverGuard guard;
    struct Case {
        const char* ip;
        const char* port;
        const char* channel;
    };
    for (const Case& c : {Case{"", "8000", "1"}, Case{"127.0.0.1", "70000", "1"}, Case{"127.0.0.1", "0", "1"},
                          Case{"127.0.0.1", "80a", "1"}, Case{"127.0.0.1", "8000", "x"}}) {
        takeMessages();
        bool stayedOpen = false;
        CustomModalDialog::setDriver([&](CustomModalDialog* d) {
            setField(d, "m_pEdtIp", c.ip);
            setField(d, "m_pEdtPort", c.port);
            setField(d, "m_pEdtChannel", c.channel);
            d->OkButton()->click();
            stayedOpen = d->isVisible();
        });
        NetConnectDialog dlg;
        EXPECT_EQ(dlg.RunModal(), QDialog::Rejected) << c.ip << " " << c.port;
        EXPECT_TRUE(stayedOpen);
        const auto msgs = takeMessages();
        ASSERT_EQ(msgs.size(), 1);
        EXPECT_EQ(msgs[0].first, "警告");
    }
}

TEST(AboutDlg, BuildDateStampFromTheCompilersDate)
{
    EXPECT_EQ(AboutDlg::BuildDateStamp("Jun 22 2018"), "20180622");
    EXPECT_EQ(AboutDlg::BuildDateStamp("Jun  2 2018"), "20180602");
    EXPECT_EQ(AboutDlg::BuildDateStamp("Dec 31 1999"), "19991231");
    EXPECT_EQ(AboutDlg::BuildDateStamp("Sat Jun 2 2018"), "2018Sat02"); // four parts: first part as month
    EXPECT_EQ(AboutDlg::BuildDateStamp("Foo 9 2018"), "2018Foo09");
    EXPECT_EQ(AboutDlg::BuildDateStamp("2018"), "");
    EXPECT_EQ(AboutDlg::BuildDateStamp("a b c d e"), "");
}

TEST(AboutDlg, ShowsVersionAndIconOnFirstShowing)
{
    EXPECT_EQ(AboutDlg::Version(), QStringLiteral(IRBENCH_EXPECTED_VERSION));
    AboutDlg dlg;
    dlg.ShowRequest();
    EXPECT_EQ(dlg.TitleText(), "版本信息");
    EXPECT_EQ(dlg.size(), QSize(300, 150));
    auto* icon = dlg.findChild<QLabel*>("LabIcon");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->size(), QSize(75, 75));
    EXPECT_TRUE(icon->styleSheet().contains(":/Resources/camera1.png"));
    auto* text = dlg.findChild<QLabel*>("LabText");
    ASSERT_TRUE(text);
    EXPECT_TRUE(text->wordWrap());
    EXPECT_TRUE(text->text().contains(AboutDlg::Version()));
    EXPECT_TRUE(text->text().contains(AboutDlg::BuildDateStamp(__DATE__)));
    dlg.OkButton()->click();
    EXPECT_FALSE(dlg.isVisible());
}

// Qt's own dialogs speak Chinese once the program's translations are in.
TEST(QtTranslations, StandardDialogTextsBecomeChinese)
{
    ASSERT_TRUE(installQtTranslations(*QCoreApplication::instance())) << "qt6-translations-l10n installed?";
    EXPECT_TRUE(QCoreApplication::translate("QFileDialog", "Look in:").startsWith(QStringLiteral("查找范围")));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}
