// The configuration page's command console: custom commands kept in LocalCmd.ini,
// single commands sent by hand, and the time-stamped history of every frame.
#include "ConfigPageWidget.h"

#include "CCmdTableWidget.h"
#include "CommandLogText.h"
#include "CustomMessageBox.h"
#include "DataExchange.h"
#include "CReplyParser.h"
#include "DeviceRunner.h"

#include <QDateTime>
#include <QPointer>

#include <QCursor>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTextCursor>

#include <memory>

namespace {

constexpr int kMaxRawBytes = 32; // the command buffer of a raw frame

void warn(const QString& text)
{
    CustomMessageBox::MsgBox(nullptr, QStringLiteral("警告"), text, 0);
}

bool isHexText(const QString& text)
{
    for (const QChar ch : text) {
        const char c = ch.toLatin1();
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

// "F010" or "0xF010", at most eight digits; false for anything else.
bool parseHex32(QString text, uint32_t* value)
{
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        text = text.mid(2);
    if (text.isEmpty() || text.size() > 8 || !isHexText(text))
        return false;
    *value = text.toUInt(nullptr, 16);
    return true;
}

struct ConsoleOutcome {
    bool bReplied = false;
    uint32_t nReply = 0;
};

QString consoleFailureLine(bool bReplied, uint32_t nReply)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (bReplied)
        return QStringLiteral("[%1]-机芯拒绝了该命令(应答值 %2)").arg(stamp).arg(nReply);
    const double budgetS = DataExchange::pollIntervalMs() * DataExchange::kCommandPolls / 1000.0;
    return QStringLiteral("[%1]-机芯未确认: %2 秒内未收到应答").arg(stamp).arg(budgetS, 0, 'g', 3);
}

} // namespace

void ConfigPageWidget::runCommand(const QString& strAddrIn, const QString& strValueIn)
{
    const QString strAddr = strAddrIn.trimmed();
    const QString strValue = strValueIn.trimmed();
    if (strAddr.isEmpty()) {
        warn(QStringLiteral("地址不能为空！"));
        return;
    }
    std::function<bool(DeviceTaskContext&)> task;
    if (strValue.isEmpty()) {
        // A whole command typed as hex: refused rather than cut or half-read.
        if (!isHexText(strAddr)) {
            warn(QStringLiteral("命令只能包含十六进制字符（0-9、A-F），不能有空格或分隔符，未发送"));
            return;
        }
        if ((strAddr.size() + 1) / 2 > kMaxRawBytes) {
            warn(QStringLiteral("命令最长%1字节（%2个十六进制字符），未发送").arg(kMaxRawBytes).arg(kMaxRawBytes * 2));
            return;
        }
        task = [strAddr](DeviceTaskContext&) { return DataExchange::instance()->sendRawCommand(strAddr); };
    } else {
        uint32_t nAddr = 0;
        uint32_t nValue = 0;
        if (!parseHex32(strAddr, &nAddr) || !parseHex32(strValue, &nValue)) {
            warn(QStringLiteral("地址和值须为十六进制数（最多8位，如 F010），未发送"));
            return;
        }
        task = [nAddr, nValue](DeviceTaskContext&) {
            return DataExchange::instance()->writeRegister(int(nAddr), int(nValue));
        };
    }
    // The history shows what went out and what came back; no box of its own. A
    // command that the core left unanswered or refused says so in a line of its own.
    auto outcome = std::make_shared<ConsoleOutcome>();
    auto watched = [task, outcome](DeviceTaskContext& ctx) {
        DataExchange* dx = DataExchange::instance();
        const bool ok = task(ctx);
        outcome->bReplied = dx->lastReplyReceived();
        if (!ok && outcome->bReplied)
            CReplyParser::instance()->parseValue(&outcome->nReply);
        return ok;
    };
    QPointer<ConfigPageWidget> self(this);
    runSequence(watched,
                [self, outcome](bool ok) {
                    if (!ok && self)
                        self->appendHistoryLine(consoleFailureLine(outcome->bReplied, outcome->nReply),
                                                QColor(Qt::darkRed));
                },
                false);
}

void ConfigPageWidget::OnBtnSendInput()
{
    runCommand(m_pEdtInputCmdAddr->text(), m_pEdtInputCmdValue->text());
}

void ConfigPageWidget::OnTableDoubleClicked(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    const QTableWidgetItem* addr = m_pTabCustomCmd->item(row, 1);
    const QTableWidgetItem* value = m_pTabCustomCmd->item(row, 2);
    runCommand(addr ? addr->text() : QString(), value ? value->text() : QString());
}

void ConfigPageWidget::addCommandRow(const LocalCmdEntry& entry)
{
    const int row = m_pTabCustomCmd->rowCount();
    m_pTabCustomCmd->insertRow(row);
    m_pTabCustomCmd->setItem(row, 0, new QTableWidgetItem(entry.desc));
    m_pTabCustomCmd->setItem(row, 1, new QTableWidgetItem(entry.addr));
    m_pTabCustomCmd->setItem(row, 2, new QTableWidgetItem(entry.value));
}

QVector<LocalCmdEntry> ConfigPageWidget::customCommands() const
{
    QVector<LocalCmdEntry> list;
    auto text = [this](int row, int col) {
        const QTableWidgetItem* item = m_pTabCustomCmd->item(row, col);
        return item ? item->text() : QString();
    };
    for (int row = 0; row < m_pTabCustomCmd->rowCount(); ++row)
        list.append(LocalCmdEntry{text(row, 0), text(row, 1), text(row, 2)});
    return list;
}

void ConfigPageWidget::saveCustomCommands()
{
    if (!saveLocalCommands(customCommands()))
        CustomMessageBox::MsgBox(nullptr, QStringLiteral("提示"),
                                 QStringLiteral("自定义命令保存失败：%1").arg(localCommandsPath()), 0);
}

void ConfigPageWidget::OnBtnNewCmd()
{
    const QString strDesc = m_pEdtInputCmdDesc->text();
    const QString strAddr = m_pEdtInputCmdAddr->text();
    const QString strValue = m_pEdtInputCmdValue->text();
    if (strDesc.isEmpty() || strAddr.isEmpty()) {
        warn(QStringLiteral("描述或地址不能为空！"));
        return;
    }
    addCommandRow(LocalCmdEntry{strDesc, strAddr, strValue});
    saveCustomCommands();
}

void ConfigPageWidget::OnShowRightMenu()
{
    // popup, not exec: the menu never holds up the event loop.
    m_pMenuCmd->popup(QCursor::pos());
}

void ConfigPageWidget::OnActionDelList()
{
    const int row = m_pTabCustomCmd->currentRow();
    if (row >= 0 && row < m_pTabCustomCmd->rowCount())
        m_pTabCustomCmd->removeRow(row);
    saveCustomCommands();
}

void ConfigPageWidget::appendHistory(const QString& strCMD, bool bSent)
{
    appendHistoryLine(commandLogLine(strCMD, bSent), bSent ? QColor(Qt::blue) : QColor(Qt::red));
}

void ConfigPageWidget::appendHistoryLine(const QString& strLine, const QColor& color)
{
    QTextDocument* doc = m_pTbrCmdHistory->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(color);
    if (!doc->isEmpty())
        cursor.insertBlock();
    cursor.insertText(strLine, format);
    m_pTbrCmdHistory->setTextColor(format.foreground().color());
    m_pTbrCmdHistory->moveCursor(QTextCursor::End);
    m_pTbrCmdHistory->verticalScrollBar()->setValue(m_pTbrCmdHistory->verticalScrollBar()->maximum());
}

void ConfigPageWidget::onShowSendCMDMessage(const QString& strCMD)
{
    appendHistory(strCMD, true);
}

void ConfigPageWidget::onShowRecvCMDMessage(const QString& strCMD)
{
    appendHistory(strCMD, false);
}

void ConfigPageWidget::onShowDroppedReply(const QString& strCMD, const QString& strReason)
{
    // Grey: it reached the bench but answered nothing.
    appendHistoryLine(droppedReplyLogLine(strCMD, strReason), QColor(Qt::darkGray));
}
