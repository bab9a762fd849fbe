#include "HistoryEvent.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonValue>
#include <QVariant>

namespace HistoryKind {

QStringList all()
{
    return {Identify, FlashWrite, ReadBack, Capture, GainTable, PixelTable, Base, Nvffc, Drift, Stabilise,
            DetectorConfig, FileTool, Quality};
}

QString caption(const QString& kind)
{
    static const QHash<QString, QString> names{
        {Identify, QStringLiteral("识别")},         {FlashWrite, QStringLiteral("写入闪存")},
        {ReadBack, QStringLiteral("读回")},         {Capture, QStringLiteral("采集")},
        {GainTable, QStringLiteral("增益表")},      {PixelTable, QStringLiteral("坏点表")},
        {Base, QStringLiteral("本底")},             {Nvffc, QStringLiteral("NVFFC")},
        {Drift, QStringLiteral("温漂")},            {Stabilise, QStringLiteral("FPA稳定")},
        {DetectorConfig, QStringLiteral("探测器配置")}, {FileTool, QStringLiteral("文件工具")},
        {Quality, QStringLiteral("质量检验")},
    };
    return names.value(kind, kind);
}

} // namespace HistoryKind

HistoryEvent::HistoryEvent(const QString& k)
    : kind(k)
    , started(QDateTime::currentDateTimeUtc())
{
}

void HistoryEvent::succeed()
{
    finish(true, 0, QString());
}

void HistoryEvent::fail(int nCode, const QString& text, const QString& strStep)
{
    finish(false, nCode, text, strStep);
}

void HistoryEvent::finish(bool bOk, int nCode, const QString& text, const QString& strStep)
{
    ok = bOk;
    code = nCode;
    message = text;
    step = strStep;
    ended = QDateTime::currentDateTimeUtc();
}

QString sha256Hex(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString historyResultText(const HistoryEvent& e)
{
    if (e.ok)
        return QStringLiteral("成功");
    QString t = QStringLiteral("失败 (%1)").arg(e.code);
    if (!e.step.isEmpty())
        t += QStringLiteral(" 步骤 ") + e.step;
    if (!e.message.isEmpty())
        t += QLatin1Char(' ') + QString(e.message).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return t;
}

QString historyDetailsText(const QJsonObject& details)
{
    QStringList parts;
    for (auto it = details.begin(); it != details.end(); ++it) {
        const QJsonValue v = it.value();
        QString s;
        if (v.isString())
            s = v.toString();
        else if (v.isBool())
            s = v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        else if (v.isDouble())
            s = QString::number(v.toDouble(), 'g', 12);
        else if (v.isNull())
            s = QStringLiteral("-");
        else if (v.isArray())
            s = v.toVariant().toStringList().join(QLatin1Char('/'));
        else
            s = QStringLiteral("…");
        parts << it.key() + QLatin1Char('=') + s;
    }
    return parts.join(QLatin1Char(' '));
}
