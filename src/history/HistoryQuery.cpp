#include "HistoryQuery.h"

#include "HistorySchema.h"

#include <QAtomicInteger>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>

using HistorySchema::Flavour;

namespace {

QAtomicInteger<quint64> g_connections;

QString csvCell(const QString& s, bool text = true)
{
    QString v = s;
    if (text && !v.isEmpty() && QStringLiteral("=+-@").contains(v.front()))
        v.prepend(QLatin1Char('\''));
    if (v.contains(QLatin1Char(',')) || v.contains(QLatin1Char('"')) || v.contains(QLatin1Char('\n')) ||
        v.contains(QLatin1Char('\r'))) {
        v.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        v = QLatin1Char('"') + v + QLatin1Char('"');
    }
    return v;
}

} // namespace

bool queryHistory(const HistoryConfig& cfg, HistorySource source, const HistoryFilter& f, QList<HistoryEvent>* out,
                  QString* error)
{
    const QString name = QStringLiteral("irbench-history-query-%1").arg(++g_connections);
    const Flavour flavour = source == HistorySource::Server ? Flavour::Postgres : Flavour::Sqlite;
    bool ok = source == HistorySource::Server ? HistorySchema::openPostgres(name, cfg, error)
                                              : HistorySchema::openSqlite(name, cfg.localPath(), error);
    if (ok)
        ok = HistorySchema::migrate(QSqlDatabase::database(name, false), flavour, error);
    if (ok) {
        QStringList where;
        QVariantList values;
        if (!f.sensorId.isEmpty()) {
            where << QStringLiteral("sensor_id = ?");
            values << f.sensorId;
        }
        if (!f.kind.isEmpty()) {
            where << QStringLiteral("kind = ?");
            values << f.kind;
        }
        if (f.since.isValid()) {
            where << (flavour == Flavour::Postgres ? QStringLiteral("started_utc >= CAST(? AS timestamptz)")
                                                   : QStringLiteral("started_utc >= ?"));
            values << HistorySchema::isoUtc(f.since.startOfDay(Qt::UTC));
        }
        QString sql = QStringLiteral("SELECT %1 FROM events").arg(HistorySchema::eventColumns());
        if (!where.isEmpty())
            sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
        sql += flavour == Flavour::Postgres ? QStringLiteral(" ORDER BY started_utc DESC, id DESC LIMIT ?")
                                            : QStringLiteral(" ORDER BY started_utc DESC, seq DESC LIMIT ?");
        values << qMax(1, f.limit);
        QSqlQuery q(QSqlDatabase::database(name, false));
        q.setForwardOnly(true);
        ok = q.prepare(sql);
        for (const QVariant& v : values)
            q.addBindValue(v);
        ok = ok && q.exec();
        if (!ok) {
            *error = HistorySchema::errorText(q);
        } else if (out) {
            out->clear();
            while (q.next())
                out->append(HistorySchema::eventAt(q));
        }
    }
    HistorySchema::closeConnection(name);
    return ok;
}

QString historyLine(const HistoryEvent& e)
{
    QStringList parts{
        e.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("Z"),
        e.kind,
        e.sensorId.isEmpty() ? QStringLiteral("-") : e.sensorId,
        e.serial.isEmpty() ? QStringLiteral("-") : e.serial,
        e.station,
        historyResultText(e),
    };
    const QString details = historyDetailsText(e.details);
    if (!details.isEmpty())
        parts << details;
    QString line = parts.join(QLatin1Char('\t'));
    // One event, one line, whatever the device put into its names.
    for (QChar& ch : line)
        if (ch.category() == QChar::Other_Control && ch != QLatin1Char('\t'))
            ch = QChar(0xFFFD);
    return line;
}

QString historyCsv(const QList<HistoryEvent>& events)
{
    QString csv = HistorySchema::eventColumns().remove(QLatin1Char(' ')) + QStringLiteral("\r\n");
    for (const HistoryEvent& e : events) {
        const QStringList row{
            csvCell(e.uuid),
            csvCell(e.kind),
            csvCell(e.station),
            csvCell(e.operatorName),
            csvCell(e.programVersion),
            csvCell(e.link),
            csvCell(HistorySchema::isoUtc(e.started)),
            csvCell(HistorySchema::isoUtc(e.ended)),
            csvCell(e.ok ? QStringLiteral("success") : QStringLiteral("failure")),
            csvCell(QString::number(e.code), false),
            csvCell(e.message),
            csvCell(e.step),
            csvCell(e.sensorId),
            csvCell(e.serial),
            csvCell(QString::fromUtf8(QJsonDocument(e.details).toJson(QJsonDocument::Compact))),
        };
        csv += row.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return csv;
}

bool writeHistoryCsv(const QString& path, const QList<HistoryEvent>& events, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") + historyCsv(events).toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
