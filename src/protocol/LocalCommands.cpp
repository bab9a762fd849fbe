#include "LocalCommands.h"

#include "CComonFun.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace {

QString groupName(int i)
{
    return QString::asprintf("Cmd%d", i);
}

// A hand-edited value with an unquoted comma reads back as a list; keep it as text.
QString readText(const QSettings& s, const QString& key)
{
    const QVariant v = s.value(key);
    if (v.typeId() == QMetaType::QStringList)
        return v.toStringList().join(QLatin1Char(','));
    return v.toString();
}

} // namespace

QString localCommandsPath()
{
    return CComonFun::dataRoot() + "/info/LocalCmd.ini";
}

bool saveLocalCommands(const QVector<LocalCmdEntry>& list)
{
    const QString path = localCommandsPath();
    if (!CComonFun::makePath(QFileInfo(path).absolutePath()))
        return false;
    {
        // Start from an empty file so that entries removed since the last save go away.
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
    }
    QSettings s(path, QSettings::IniFormat);
    s.clear();
    for (int i = 0; i < list.size(); ++i) {
        const QString g = groupName(i);
        s.setValue(g + "/Desc", list[i].desc);
        s.setValue(g + "/Addr", list[i].addr);
        s.setValue(g + "/Value", list[i].value);
    }
    s.sync();
    return s.status() == QSettings::NoError;
}

void loadLocalCommands(QVector<LocalCmdEntry>& list)
{
    const QString path = localCommandsPath();
    if (!QFileInfo::exists(path))
        return;
    QSettings s(path, QSettings::IniFormat);
    for (int i = 0;; ++i) {
        const QString g = groupName(i);
        LocalCmdEntry e{readText(s, g + "/Desc"), readText(s, g + "/Addr"), readText(s, g + "/Value")};
        if (e.desc.isEmpty() && e.addr.isEmpty() && e.value.isEmpty())
            break; // a gap ends the list
        list.append(e);
    }
}
