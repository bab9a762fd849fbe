#include "HistoryDbDialog.h"

#include "CustomMessageBox.h"
#include "HistoryConfig.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

HistoryDbDialog::HistoryDbDialog(QWidget* parent)
    : CustomModalDialog(parent)
{
    setObjectName("HistoryDbDialog");
}

HistoryDbDialog::~HistoryDbDialog() = default;

bool HistoryDbDialog::SetupUI()
{
    if (!CustomModalDialog::SetupUI())
        return false;
    QWidget* area = ContentWidget();
    auto edit = [area](const char* name) {
        auto* e = new QLineEdit(area);
        e->setObjectName(name);
        return e;
    };
    m_pEdtStation = edit("m_pEdtStation");
    m_pEdtOperator = edit("m_pEdtOperator");
    m_pEdtDbHost = edit("m_pEdtDbHost");
    m_pEdtDbPort = edit("m_pEdtDbPort");
    m_pEdtDbName = edit("m_pEdtDbName");
    m_pEdtDbUser = edit("m_pEdtDbUser");
    m_pEdtDbPwd = edit("m_pEdtDbPwd");
    m_pEdtDbPwd->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout(area);
    form->setContentsMargins(16, 12, 16, 4);
    form->setVerticalSpacing(6);
    form->addRow(QStringLiteral("工位名称："), m_pEdtStation);
    form->addRow(QStringLiteral("操作员："), m_pEdtOperator);
    auto* note = new QLabel(QStringLiteral("共享服务器 (PostgreSQL)，地址留空只记录在本机"), area);
    note->setWordWrap(true);
    form->addRow(note);
    form->addRow(QStringLiteral("服务器地址："), m_pEdtDbHost);
    form->addRow(QStringLiteral("端口："), m_pEdtDbPort);
    form->addRow(QStringLiteral("数据库："), m_pEdtDbName);
    form->addRow(QStringLiteral("用户名："), m_pEdtDbUser);
    form->addRow(QStringLiteral("密码："), m_pEdtDbPwd);
    return true;
}

bool HistoryDbDialog::ReTranslateUI()
{
    if (!CustomModalDialog::ReTranslateUI())
        return false;
    SetTitleText(QStringLiteral("数据库"));
    m_pEdtStation->setPlaceholderText(defaultStationName());
    m_pEdtOperator->setPlaceholderText(defaultOperatorName());
    m_pEdtDbPwd->setPlaceholderText(QStringLiteral("留空则使用 ~/.pgpass"));
    return true;
}

bool HistoryDbDialog::InitBkgs()
{
    if (!CustomModalDialog::InitBkgs())
        return false;
    SettingsStore::readHistorySettings(&m_settings);
    m_pEdtStation->setText(m_settings.station);
    m_pEdtOperator->setText(m_settings.operatorName);
    m_pEdtDbHost->setText(m_settings.dbHost);
    m_pEdtDbPort->setText(QString::number(m_settings.dbPort));
    m_pEdtDbName->setText(m_settings.dbName);
    m_pEdtDbUser->setText(m_settings.dbUser);
    m_pEdtDbPwd->setText(m_settings.dbPassword);
    resize(340, 330);
    return true;
}

void HistoryDbDialog::On_OK()
{
    const QString host = m_pEdtDbHost->text().trimmed();
    bool bPortOk = false;
    const int port = m_pEdtDbPort->text().trimmed().toInt(&bPortOk);
    if (!host.isEmpty()) {
        if (!bPortOk || port < 1 || port > 65535) {
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"),
                                     QStringLiteral("端口号无效,请输入1到65535之间的数字!"), 0);
            m_pEdtDbPort->setFocus();
            return;
        }
        if (m_pEdtDbName->text().trimmed().isEmpty() || m_pEdtDbUser->text().trimmed().isEmpty()) {
            CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), QStringLiteral("请填写数据库名和用户名!"), 0);
            return;
        }
    }
    m_settings.station = m_pEdtStation->text().trimmed();
    m_settings.operatorName = m_pEdtOperator->text().trimmed();
    m_settings.dbHost = host;
    m_settings.dbPort = bPortOk && port > 0 && port < 65536 ? port : 5432;
    m_settings.dbName = m_pEdtDbName->text().trimmed();
    m_settings.dbUser = m_pEdtDbUser->text().trimmed();
    m_settings.dbPassword = m_pEdtDbPwd->text();
    CustomModalDialog::On_OK();
}
