#include "HistorySchema.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sys/stat.h>

namespace HistorySchema {

namespace {

// Server migrations run under this advisory lock: two benches starting together must
// not both create the tables.
constexpr qint64 kMigrationLock = 0x49724265;

struct Migration {
    int version;
    QStringList sqlite;
    QStringList postgres;
};

const QList<Migration>& migrations()
{
    static const QString columns = QStringLiteral(
        "uuid TEXT NOT NULL UNIQUE, kind TEXT NOT NULL, station TEXT, operator TEXT, program_version TEXT, "
        "link TEXT, %1 started_utc %2 NOT NULL, ended_utc %2 NOT NULL, result TEXT NOT NULL, code INTEGER, "
        "message TEXT, step TEXT, sensor_id TEXT, serial TEXT, details %3");
    static const QList<Migration> list{
        {1,
         {QStringLiteral("CREATE TABLE events (seq INTEGER PRIMARY KEY AUTOINCREMENT, %1)")
              .arg(columns.arg(QString(), QStringLiteral("TEXT"), QStringLiteral("TEXT"))),
          QStringLiteral("CREATE TABLE outbox (seq INTEGER PRIMARY KEY AUTOINCREMENT, uuid TEXT NOT NULL UNIQUE)")},
         {QStringLiteral("CREATE TABLE events (id BIGSERIAL PRIMARY KEY, %1, "
                         "received_utc TIMESTAMPTZ NOT NULL DEFAULT now())")
              .arg(columns.arg(QString(), QStringLiteral("TIMESTAMPTZ"), QStringLiteral("JSONB")))}},
        {2,
         {QStringLiteral("CREATE INDEX events_core ON events (sensor_id, started_utc)"),
          QStringLiteral("CREATE INDEX events_kind ON events (kind)")},
         {QStringLiteral("CREATE INDEX events_core ON events (sensor_id, started_utc)"),
          QStringLiteral("CREATE INDEX events_kind ON events (kind)")}},
    };
    return list;
}

bool exec(QSqlQuery& q, const QString& sql, QString* error)
{
    if (q.exec(sql))
        return true;
    *error = errorText(q);
    return false;
}

// Server text may not hold U+0000 (neither TEXT nor JSONB takes it).
QString serverText(const QString& s, HistorySchema::Flavour f)
{
    if (f == Flavour::Sqlite || !s.contains(QChar(0)))
        return s;
    return QString(s).replace(QChar(0), QChar(0xFFFD));
}

QVariant textValue(const QString& s, Flavour f)
{
    return s.isNull() ? QVariant(QString(QLatin1String(""))) : QVariant(serverText(s, f));
}

} // namespace

bool openSqlite(const QString& name, const QString& path, QString* error)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    if (!db.isValid()) {
        *error = QStringLiteral("缺少 SQLite 数据库驱动 (libqt6sql6-sqlite)");
        return false;
    }
    db.setDatabaseName(path);
    struct stat st {};
    const bool readOnly = ::stat(QFile::encodeName(path).constData(), &st) == 0 && !(st.st_mode & S_IWUSR);
    db.setConnectOptions(readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=5000")
                                  : QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        *error = errorText(db);
        return false;
    }
    QSqlQuery q(db);
    // A corrupt file shows here: the first statement that reads its header fails.
    if (!readOnly && !exec(q, QStringLiteral("PRAGMA journal_mode=WAL"), error))
        return false;
    if (!exec(q, QStringLiteral("PRAGMA synchronous=NORMAL"), error))
        return false;
    if (readOnly) {
        *error = QStringLiteral("数据库文件只读");
        return false;
    }
    return true;
}

bool openPostgres(const QString& name, const HistoryConfig& cfg, QString* error)
{
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    if (!db.isValid()) {
        *error = QStringLiteral("缺少 PostgreSQL 数据库驱动 (libqt6sql6-psql)");
        return false;
    }
    db.setHostName(cfg.host);
    db.setPort(cfg.port);
    db.setDatabaseName(cfg.database);
    db.setUserName(cfg.user);
    db.setPassword(cfg.password);
    db.setConnectOptions(QStringLiteral("connect_timeout=%1;application_name=irbench").arg(cfg.connectTimeoutS));
    if (!db.open()) {
        *error = errorText(db);
        db.setPassword(QString());
        return false;
    }
    return true;
}

void closeConnection(const QString& name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

namespace {

// The server's transaction calls, SQLite's own statements (QSqlDatabase::transaction
// would say a deferred BEGIN).
bool transactionStep(QSqlDatabase& db, Flavour f, bool (QSqlDatabase::*serverStep)(), const QString& sqliteSql,
                     QString* error)
{
    if (f == Flavour::Postgres) {
        if ((db.*serverStep)())
            return true;
        *error = errorText(db);
        return false;
    }
    QSqlQuery q(db);
    return exec(q, sqliteSql, error);
}

} // namespace

bool beginWrite(QSqlDatabase db, Flavour f, QString* error)
{
    return transactionStep(db, f, &QSqlDatabase::transaction, QStringLiteral("BEGIN IMMEDIATE"), error);
}

bool commitWrite(QSqlDatabase db, Flavour f, QString* error)
{
    return transactionStep(db, f, &QSqlDatabase::commit, QStringLiteral("COMMIT"), error);
}

void rollbackWrite(QSqlDatabase db, Flavour f)
{
    if (f == Flavour::Postgres)
        db.rollback();
    else
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
}

bool migrate(QSqlDatabase db, Flavour f, QString* error)
{
    QSqlQuery q(db);
    if (!beginWrite(db, f, error))
        return false;
    auto failed = [&db, f]() {
        rollbackWrite(db, f);
        return false;
    };
    if (f == Flavour::Postgres) {
        q.prepare(QStringLiteral("SELECT pg_advisory_xact_lock(?)"));
        q.addBindValue(kMigrationLock);
        if (!q.exec()) {
            *error = errorText(q);
            return failed();
        }
    }
    // Looked up first: the server would answer "already exists" with a notice.
    const QString exists = f == Flavour::Postgres
                               ? QStringLiteral("SELECT to_regclass('irbench_schema') IS NOT NULL")
                               : QStringLiteral("SELECT count(*) > 0 FROM sqlite_master WHERE type = 'table' AND "
                                                "name = 'irbench_schema'");
    if (!exec(q, exists, error) || !q.next())
        return failed();
    const bool hasTable = q.value(0).toBool();
    q.finish();
    if (!hasTable && !exec(q, QStringLiteral("CREATE TABLE irbench_schema (version INTEGER NOT NULL)"), error))
        return failed();
    if (!exec(q, QStringLiteral("SELECT version FROM irbench_schema"), error))
        return failed();
    int version = 0;
    const bool hasRow = q.next();
    if (hasRow)
        version = q.value(0).toInt();
    q.finish();
    if (version > kVersion) {
        *error = QStringLiteral("数据库由更新版本的 IrBench 写入 (结构版本 %1, 本程序只认识到 %2), 未做任何改动")
                     .arg(version)
                     .arg(kVersion);
        return failed();
    }
    if (!hasRow && !exec(q, QStringLiteral("INSERT INTO irbench_schema (version) VALUES (0)"), error))
        return failed();
    for (const Migration& m : migrations()) {
        if (m.version <= version)
            continue;
        for (const QString& sql : f == Flavour::Sqlite ? m.sqlite : m.postgres)
            if (!exec(q, sql, error))
                return failed();
        q.prepare(QStringLiteral("UPDATE irbench_schema SET version = ?"));
        q.addBindValue(m.version);
        if (!q.exec()) {
            *error = errorText(q);
            return failed();
        }
    }
    q.finish();
    if (!commitWrite(db, f, error))
        return failed();
    return true;
}

QString insertSql(Flavour f)
{
    static const QString cols = QStringLiteral(
        "(uuid, kind, station, operator, program_version, link, started_utc, ended_utc, result, code, message, "
        "step, sensor_id, serial, details)");
    if (f == Flavour::Sqlite)
        return QStringLiteral("INSERT OR IGNORE INTO events ") + cols +
               QStringLiteral(" VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    return QStringLiteral("INSERT INTO events ") + cols +
           QStringLiteral(" VALUES (?, ?, ?, ?, ?, ?, CAST(? AS timestamptz), CAST(? AS timestamptz), ?, ?, ?, ?, "
                          "?, ?, CAST(? AS jsonb)) ON CONFLICT (uuid) DO NOTHING");
}

void bindEvent(QSqlQuery& q, const HistoryEvent& e, Flavour f)
{
    q.addBindValue(e.uuid);
    q.addBindValue(e.kind);
    q.addBindValue(textValue(e.station, f));
    q.addBindValue(textValue(e.operatorName, f));
    q.addBindValue(textValue(e.programVersion, f));
    q.addBindValue(textValue(e.link, f));
    q.addBindValue(isoUtc(e.started));
    q.addBindValue(isoUtc(e.ended.isValid() ? e.ended : e.started));
    q.addBindValue(e.ok ? QStringLiteral("success") : QStringLiteral("failure"));
    q.addBindValue(e.code);
    q.addBindValue(textValue(e.message, f));
    q.addBindValue(textValue(e.step, f));
    q.addBindValue(textValue(e.sensorId, f));
    q.addBindValue(textValue(e.serial, f));
    QString json = QString::fromUtf8(QJsonDocument(e.details).toJson(QJsonDocument::Compact));
    if (f == Flavour::Postgres)
        json.replace(QStringLiteral("\\u0000"), QStringLiteral("\\ufffd"));
    q.addBindValue(json);
}

QString eventColumns()
{
    return QStringLiteral("uuid, kind, station, operator, program_version, link, started_utc, ended_utc, result, "
                          "code, message, step, sensor_id, serial, details");
}

HistoryEvent eventAt(const QSqlQuery& q, int c)
{
    auto time = [&q](int i) {
        const QVariant v = q.value(i);
        if (v.metaType().id() == QMetaType::QDateTime)
            return v.toDateTime().toUTC();
        return QDateTime::fromString(v.toString(), Qt::ISODateWithMs).toUTC();
    };
    HistoryEvent e;
    e.uuid = q.value(c + 0).toString();
    e.kind = q.value(c + 1).toString();
    e.station = q.value(c + 2).toString();
    e.operatorName = q.value(c + 3).toString();
    e.programVersion = q.value(c + 4).toString();
    e.link = q.value(c + 5).toString();
    e.started = time(c + 6);
    e.ended = time(c + 7);
    e.ok = q.value(c + 8).toString() == QLatin1String("success");
    e.code = q.value(c + 9).toInt();
    e.message = q.value(c + 10).toString();
    e.step = q.value(c + 11).toString();
    e.sensorId = q.value(c + 12).toString();
    e.serial = q.value(c + 13).toString();
    e.details = QJsonDocument::fromJson(q.value(c + 14).toString().toUtf8()).object();
    return e;
}

QString isoUtc(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QString errorText(const QSqlQuery& q)
{
    const QString t = q.lastError().text().trimmed();
    return t.isEmpty() ? QStringLiteral("未知数据库错误") : t;
}

QString errorText(const QSqlDatabase& db)
{
    const QString t = db.lastError().text().trimmed();
    return t.isEmpty() ? QStringLiteral("未知数据库错误") : t;
}

} // namespace HistorySchema
