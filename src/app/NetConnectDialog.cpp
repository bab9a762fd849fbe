#include "NetConnectDialog.h"

#include "CustomMessageBox.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

NetConnectDialog::NetConnectDialog(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("NetConnectDialog");
}

NetConnectDialog::~NetConnectDialog() = default;

bool NetConnectDialog::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    QWidget* area = ContentWidget();
    auto makeLabel = [area](const char* name) {
        auto* lab = new QLabel(area);
        lab->setObjectName(name);
        return lab;
    };
    auto makeEdit = [area](const char* name) {
        auto* edt = new QLineEdit(area);
        edt->setObjectName(name);
        return edt;
    };
    m_pLabIp = makeLabel("m_pLabIp");
    m_pLabPort = makeLabel("m_pLabPort");
    m_pLabUsr = makeLabel("m_pLabUsr");
    m_pLabPwd = makeLabel("m_pLabPwd");
    m_pLabChannel = makeLabel("m_pLabChannel");
    m_pLabPwd_2 = makeLabel("m_pLabPwd_2");
    m_pEdtIp = makeEdit("m_pEdtIp");
    m_pEdtPort = makeEdit("m_pEdtPort");
    m_pEdtUsr = makeEdit("m_pEdtUsr");
    m_pEdtPwd = makeEdit("m_pEdtPwd");
    m_pEdtChannel = makeEdit("m_pEdtChannel");
    m_pCmBxDeviceModu = new QComboBox(area);
    m_pCmBxDeviceModu->setObjectName("m_pCmBxDeviceModu");

    auto* form = new QFormLayout(area);
    form->setContentsMargins(16, 12, 16, 4);
    form->setVerticalSpacing(6);
    form->addRow(m_pLabIp, m_pEdtIp);
    form->addRow(m_pLabPort, m_pEdtPort);
    form->addRow(m_pLabUsr, m_pEdtUsr);
    form->addRow(m_pLabPwd, m_pEdtPwd);
    form->addRow(m_pLabChannel, m_pEdtChannel);
    form->addRow(m_pLabPwd_2, m_pCmBxDeviceModu);
    return true;
}

bool NetConnectDialog::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    m_pLabIp->setText(QStringLiteral("IP地址："));
    m_pLabPort->setText(QStringLiteral("端口："));
    m_pLabUsr->setText(QStringLiteral("用户名："));
    m_pLabPwd->setText(QStringLiteral("密码："));
    m_pLabChannel->setText(QStringLiteral("通道号："));
    m_pLabPwd_2->setText(QStringLiteral("设备形态："));
    m_pEdtPort->setText(QStringLiteral("8000"));
    m_pCmBxDeviceModu->clear();
    m_pCmBxDeviceModu->addItems({QStringLiteral("标准机芯"), QStringLiteral("标准整机"), QStringLiteral("军用"),
                                 QStringLiteral("其他")});
    SetTitleText(QStringLiteral("网络连接"));
    return true;
}

bool NetConnectDialog::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    m_pEdtPwd->setEchoMode(QLineEdit::Password);

    SettingsStore::NetLogin stored;
    SettingsStore::readNetLogin(&stored);
    m_pEdtIp->setText(stored.ip);
    m_pEdtUsr->setText(stored.user);
    m_pEdtPwd->setText(stored.password);
    // Before the first connect there is no stored port; the usual 8000 stays.
    if (SettingsStore::hasStoredPort())
        m_pEdtPort->setText(QString::number(stored.port));
    m_pEdtChannel->setText(QString::number(stored.channel));
    const int form = stored.deviceForm;
    m_pCmBxDeviceModu->setCurrentIndex(form >= 0 && form < m_pCmBxDeviceModu->count() ? form : 0);
    resize(300, 250);
    return true;
}

void NetConnectDialog::On_OK()
{
    // Refuse values the link would misuse: a port outside 1..65535 would be cut to
    // 16 bits and reach a different service.
    const QString ip = m_pEdtIp->text().trimmed();
    if (ip.isEmpty()) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("IP地址不能为空!"), 0);
        m_pEdtIp->setFocus();
        return;
    }
    bool bPortOk = false;
    const int port = m_pEdtPort->text().trimmed().toInt(&bPortOk);
    if (!bPortOk || port < 1 || port > 65535) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("端口号无效,请输入1到65535之间的数字!"),
                                 0);
        m_pEdtPort->setFocus();
        return;
    }
    bool bChannelOk = false;
    const int channel = m_pEdtChannel->text().trimmed().toInt(&bChannelOk);
    if (!bChannelOk || channel < 0) {
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("通道号无效,请输入不小于0的数字!"), 0);
        m_pEdtChannel->setFocus();
        return;
    }
    m_info.ip = ip;
    m_info.user = m_pEdtUsr->text();
    m_info.password = m_pEdtPwd->text();
    m_info.port = port;
    m_info.channel = channel;
    m_info.deviceForm = m_pCmBxDeviceModu->currentIndex();
    CustomModalDialog::On_OK();
}
