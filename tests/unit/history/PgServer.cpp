#include "PgServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace irtest {

namespace {

QString findBinDir()
{
    QDir lib(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = lib.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(),
              [](const QString& a, const QString& b) { return a.toInt() > b.toInt(); });
    for (const QString& v : versions) {
        const QString bin = lib.filePath(v + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")) && QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return QString();
}

int freePort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? int(s.serverPort()) : 0;
}

} // namespace

PgServer::PgServer() = default;

PgServer::~PgServer()
{
    stop();
}

QStringList PgServer::asServerUser(const QString& program, const QStringList& args) const
{
    QStringList all;
    if (!m_user.isEmpty())
        all << QStringLiteral("-u") << m_user << QStringLiteral("--");
    all << program << args;
    return all;
}

bool PgServer::run(const QString& program, const QStringList& args, QString* output, int timeoutMs) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir->path());
    if (m_user.isEmpty())
        p.start(program, args);
    else
        p.start(QStringLiteral("runuser"), asServerUser(program, args));
    const bool finished = p.waitForStarted(10000) && p.waitForFinished(timeoutMs);
    if (!finished)
        p.kill();
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool PgServer::start(QString* error, bool* missing)
{
    m_bin = findBinDir();
    if (missing)
        *missing = m_bin.isEmpty();
    if (m_bin.isEmpty()) {
        *error = QStringLiteral("no PostgreSQL server binaries under /usr/lib/postgresql");
        return false;
    }
    m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/irbench-pg-XXXXXX"));
    if (!m_dir->isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    if (::geteuid() == 0) {
        const passwd* pw = ::getpwnam("postgres");
        if (!pw)
            pw = ::getpwnam("nobody");
        if (!pw) {
            *error = QStringLiteral("running as root without a postgres or nobody user");
            return false;
        }
        m_user = QString::fromLocal8Bit(pw->pw_name);
        if (::chown(QFile::encodeName(m_dir->path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
            *error = QStringLiteral("cannot give the temporary folder to ") + m_user;
            return false;
        }
    }
    const QString pwFile = m_dir->filePath(QStringLiteral("pw"));
    {
        QFile f(pwFile);
        if (!f.open(QIODevice::WriteOnly) || f.write(password().toUtf8() + "\n") <= 0) {
            *error = QStringLiteral("cannot write the password file");
            return false;
        }
    }
    if (!m_user.isEmpty()) {
        const passwd* pw = ::getpwnam(m_user.toLocal8Bit().constData());
        if (!pw || ::chown(QFile::encodeName(pwFile).constData(), pw->pw_uid, pw->pw_gid) != 0) {
            *error = QStringLiteral("cannot hand the password file over");
            return false;
        }
    }
    QString out;
    if (!run(m_bin + QStringLiteral("/initdb"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-U"),
              QStringLiteral("irbench"), QStringLiteral("--auth=scram-sha-256"), QStringLiteral("--pwfile=") + pwFile,
              QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8"), QStringLiteral("--locale=C")},
             &out)) {
        *error = QStringLiteral("initdb failed: ") + out;
        return false;
    }
    m_port = freePort();
    if (!restart(error))
        return false;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), password());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(m_bin + QStringLiteral("/createdb"),
            {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
             QStringLiteral("-U"), QStringLiteral("irbench"), QStringLiteral("irbench")});
    if (!p.waitForFinished(30000) || p.exitCode() != 0) {
        *error = QStringLiteral("createdb failed: ") + QString::fromLocal8Bit(p.readAll());
        return false;
    }
    return true;
}

bool PgServer::restart(QString* error)
{
    QString out;
    const QString options = QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 -k %2 -c fsync=off "
                                           "-c synchronous_commit=off -c full_page_writes=off")
                                .arg(m_port)
                                .arg(m_dir->path());
    if (!run(m_bin + QStringLiteral("/pg_ctl"),
             {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-o"), options,
              QStringLiteral("-l"), m_dir->filePath(QStringLiteral("log")), QStringLiteral("-w"),
              QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("start")},
             &out)) {
        QFile log(m_dir->filePath(QStringLiteral("log")));
        log.open(QIODevice::ReadOnly);
        *error = QStringLiteral("pg_ctl start failed: ") + out + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    m_running = true;
    return true;
}

bool PgServer::stop()
{
    if (!m_running)
        return true;
    QString out;
    m_running = !run(m_bin + QStringLiteral("/pg_ctl"),
                     {QStringLiteral("-D"), m_dir->filePath(QStringLiteral("data")), QStringLiteral("-m"),
                      QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")},
                     &out);
    return !m_running;
}

HistoryConfig PgServer::config() const
{
    HistoryConfig c;
    c.host = QStringLiteral("127.0.0.1");
    c.port = m_port;
    c.database = QStringLiteral("irbench");
    c.user = QStringLiteral("irbench");
    c.password = password();
    c.retryMs = 100;
    c.connectTimeoutS = 2;
    return c;
}

QString PgServer::psql(const QString& sql, bool* ok) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGPASSWORD"), password());
    p.setProcessEnvironment(env);
    p.start(m_bin + QStringLiteral("/psql"),
            {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
             QStringLiteral("-U"), QStringLiteral("irbench"), QStringLiteral("-d"), QStringLiteral("irbench"),
             QStringLiteral("-XAtq"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-c"),
             sql});
    const bool done = p.waitForFinished(30000) && p.exitCode() == 0;
    if (ok)
        *ok = done;
    return done ? QString::fromUtf8(p.readAllStandardOutput()).trimmed() : QString();
}

} // namespace irtest
