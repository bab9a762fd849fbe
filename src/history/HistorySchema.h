#pragma once

#include "HistoryConfig.h"
#include "HistoryEvent.h"

#include <QSqlDatabase>
#include <QString>

class QSqlQuery;

// The history's tables in the bench's SQLite file and on the shared server, their
// versions and the statements on them. Every value goes in bound, never spliced into
// the text: sensor IDs and serial numbers come from the device.
namespace HistorySchema {

// Version 1: events (and the outbox locally); 2: indexes by core and by kind.
constexpr int kVersion = 2;

enum class Flavour { Sqlite, Postgres };

// A connection of this name, opened; false with the reason. The SQLite file gets its
// folder, the WAL journal and a busy wait; a file without its owner's write bit is
// opened read-only, even for root.
bool openSqlite(const QString& name, const QString& path, QString* error);
bool openPostgres(const QString& name, const HistoryConfig& cfg, QString* error);
void closeConnection(const QString& name);

// A writing transaction. SQLite's takes the write lock at once (BEGIN IMMEDIATE): two
// connections that both read first and then write would otherwise refuse each other.
bool beginWrite(QSqlDatabase db, Flavour f, QString* error);
bool commitWrite(QSqlDatabase db, Flavour f, QString* error);
void rollbackWrite(QSqlDatabase db, Flavour f);

// Brings the database to kVersion inside one transaction. A database of a newer
// version is refused and left as it is.
bool migrate(QSqlDatabase db, Flavour f, QString* error);

// Insert-if-absent on the event's UUID.
QString insertSql(Flavour f);
void bindEvent(QSqlQuery& q, const HistoryEvent& e, Flavour f);
// The event columns in the order eventAt reads them.
QString eventColumns();
HistoryEvent eventAt(const QSqlQuery& q, int firstColumn = 0);

QString isoUtc(const QDateTime& t);
// The last error of a query or connection, for the operator (never holds the password).
QString errorText(const QSqlQuery& q);
QString errorText(const QSqlDatabase& db);

} // namespace HistorySchema
