#include "CommandLogText.h"

QString commandLogLine(const QString& frameHex, bool sent, const QDateTime& when)
{
    const QString tagged = QString(sent ? "[S][%1]" : "[R][%1]").arg(frameHex);
    return QString("[%1]-%2").arg(when.toString("yyyy-MM-dd HH:mm:ss"), tagged);
}

QString droppedReplyLogLine(const QString& frameHex, const QString& reason, const QDateTime& when)
{
    return commandLogLine(frameHex, false, when) + QStringLiteral(" 已丢弃：%1").arg(reason);
}
