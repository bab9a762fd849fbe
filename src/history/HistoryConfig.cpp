#include "HistoryConfig.h"

#include "CComonFun.h"
#include "SettingsStore.h"

#include <QRegularExpression>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

QString HistoryConfig::localPath() const
{
    return sqlitePath.isEmpty() ? defaultHistoryPath() : sqlitePath;
}

QString HistoryConfig::describe() const
{
    if (!hasServer())
        return QStringLiteral("sqlite:") + localPath();
    return QStringLiteral("postgresql://%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

bool HistoryConfig::parseDbOption(const QString& text, HistoryConfig* cfg, QString* error)
{
    HistoryConfig c = cfg ? *cfg : HistoryConfig();
    if (text.startsWith(QLatin1String("sqlite:"))) {
        const QString path = text.mid(7);
        if (path.isEmpty()) {
            *error = QStringLiteral("sqlite: 后缺少文件路径");
            return false;
        }
        c.sqlitePath = path;
        c.host.clear();
    } else {
        static const QRegularExpression re(
            QStringLiteral("^postgres(?:ql)?://([^@/:]+)@([^/:]+|\\[[0-9a-fA-F:]+\\])(?::(\\d{1,5}))?/([^/?#]+)$"));
        const auto m = re.match(text);
        if (!m.hasMatch()) {
            *error = QStringLiteral("数据库应写作 sqlite:PATH 或 postgresql://USER@HOST:PORT/DB");
            return false;
        }
        c.user = m.captured(1);
        c.host = m.captured(2);
        if (c.host.startsWith(QLatin1Char('[')))
            c.host = c.host.mid(1, c.host.size() - 2);
        c.port = m.captured(3).isEmpty() ? 5432 : m.captured(3).toInt();
        if (c.port <= 0 || c.port > 65535) {
            *error = QStringLiteral("数据库端口 %1 无效").arg(m.captured(3));
            return false;
        }
        c.database = m.captured(4);
        c.password = qEnvironmentVariable("IRBENCH_DB_PASSWORD");
    }
    if (cfg)
        *cfg = c;
    return true;
}

HistoryConfig HistoryConfig::fromSettings()
{
    HistoryConfig c;
    SettingsStore::HistorySettings h;
    if (!SettingsStore::readHistorySettings(&h))
        return c;
    c.station = h.station.trimmed();
    c.operatorName = h.operatorName.trimmed();
    c.host = h.dbHost;
    c.port = h.dbPort;
    c.database = h.dbName;
    c.user = h.dbUser;
    c.password = h.dbPassword;
    return c;
}

QString defaultHistoryPath()
{
    return CComonFun::dataRoot() + QStringLiteral("/info/irbench.sqlite");
}

QString defaultStationName()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("bench") : host;
}

QString defaultOperatorName()
{
    if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

QString programVersion()
{
    return QStringLiteral(IRBENCH_VERSION);
}
