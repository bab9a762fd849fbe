#include "CModuleRecord.h"

#include "CComonFun.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char* const kLabels[9] = {
    "SerialNum:    ",      "ModuleInfo:    ", "SensorID:    ",
    "SoftWareVerNum:    ", "SoftWareVerTime:    ", "FPGAVerNum:    ",
    "FPGAVerTime:    ",    "ProcessVerTime:    ", "HardwareVerTime:    ",
};

QString oneLine(const QString& value)
{
    QString out = value;
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char('_');
    return out;
}

} // namespace

QString CModuleRecord::folderFor(const QString& strRoot, const QString& strDate)
{
    return strRoot + "/module_info/" + strDate;
}

QString CModuleRecord::filePath(const QString& strFolder, const QString& strSerial)
{
    return strFolder + "/" + CComonFun::sanitizeName(strSerial) + ".txt";
}

QByteArray CModuleRecord::recordText(const QString& strSerial, const QString& strModuleInfo,
                                     const QString& strSensorId, const QStringList& versions)
{
    QStringList values{strSerial, strModuleInfo, strSensorId};
    for (int i = 0; i < 6; ++i)
        values << versions.value(i);
    QByteArray out;
    for (int i = 0; i < 9; ++i) {
        out += kLabels[i];
        out += oneLine(values.at(i)).toUtf8();
        out += "\r\n";
    }
    return out;
}

bool CModuleRecord::write(const QString& strFolder, const QString& strSerial, const QByteArray& text)
{
    // The dated folder is made when the page opens; it may have gone since.
    if (!CComonFun::makePath(strFolder))
        return false;
    return CComonFun::writeFile(filePath(strFolder, strSerial), text);
}

QStringList CModuleRecord::list(const QString& strFolder)
{
    QStringList names;
    const QFileInfoList files = QDir(strFolder).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QFileInfo& fi : files)
        names << fi.completeBaseName();
    return names;
}
