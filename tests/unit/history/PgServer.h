#pragma once

#include "HistoryConfig.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace irtest {

// A throwaway PostgreSQL cluster for one test: initdb in a temporary folder, the
// server on a free loopback port with a password (scram), run as the "postgres" user
// (or "nobody") when we are root, because the server refuses to run as root.
// Without the server binaries the tests skip, unless IRBENCH_REQUIRE_PG is set (CI):
// then they fail.
class PgServer {
public:
    PgServer();
    ~PgServer();

    // False with why; `missing` is set when there is no PostgreSQL on this machine.
    bool start(QString* error, bool* missing = nullptr);
    bool stop();
    bool restart(QString* error);
    HistoryConfig config() const;   // database "irbench", user "irbench", the password
    // Runs psql with one statement; the output rows, or an empty string with *ok false.
    QString psql(const QString& sql, bool* ok = nullptr) const;
    static QString password() { return QStringLiteral("Ln3-secret-pw"); }

private:
    QStringList asServerUser(const QString& program, const QStringList& args) const;
    bool run(const QString& program, const QStringList& args, QString* output, int timeoutMs = 60000) const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_bin;
    QString m_user;   // empty: run directly
    int m_port = 0;
    bool m_running = false;
};

} // namespace irtest
