#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The per-core record files: "module_info/<yyyyMMdd>/<serial>.txt", nine labelled
// lines ended by "\r\n".
class CModuleRecord {
public:
    // root + "/module_info/" + date
    static QString folderFor(const QString& strRoot, const QString& strDate);
    // The file of one core; the serial number is sanitised first, so a hostile
    // serial cannot leave the folder.
    static QString filePath(const QString& strFolder, const QString& strSerial);

    // The nine lines: serial, module information, sensor ID and the six version texts
    // (missing ones are empty). Line breaks or control bytes inside a value would
    // break the line structure, so they become "_".
    static QByteArray recordText(const QString& strSerial, const QString& strModuleInfo,
                                 const QString& strSensorId, const QStringList& versions);

    // Writes (replacing) the record; false when the file could not be written.
    static bool write(const QString& strFolder, const QString& strSerial, const QByteArray& text);

    // Base names of the record files in the folder, sorted by name.
    static QStringList list(const QString& strFolder);
};
