#pragma once

#include <QString>

// Where the history goes: the bench's own SQLite file always (the outbox when a server
// is set), and a shared PostgreSQL server when `host` is given.
struct HistoryConfig {
    QString sqlitePath;    // empty: "<data root>/info/irbench.sqlite", following the root
    QString host;          // empty: no server
    int port = 5432;
    QString database;
    QString user;
    QString password;      // empty: libpq's ~/.pgpass
    QString station;       // empty: the host name
    QString operatorName;  // empty: the login name
    int retryMs = 5000;    // a server or file that failed is tried again after this
    int connectTimeoutS = 3;

    bool hasServer() const { return !host.isEmpty(); }
    QString localPath() const;
    // "postgresql://user@host:port/db" or "sqlite:path"; never the password.
    QString describe() const;

    // "sqlite:PATH" or "postgresql://USER@HOST:PORT/DB" (port optional); the password
    // comes from IRBENCH_DB_PASSWORD. False with the reason.
    static bool parseDbOption(const QString& text, HistoryConfig* cfg, QString* error);
    // Station, operator and server from the settings file.
    static HistoryConfig fromSettings();
};

QString defaultHistoryPath();
QString defaultStationName();
QString defaultOperatorName();
QString programVersion();
