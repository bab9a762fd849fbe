#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Process-wide helpers: data root, whole-file I/O, date stamps, folder handling and
// the sanitising of device-supplied names.
class CComonFun {
public:
    // Folder that holds "info", the logs, "module_info" and the calibration tree:
    // the program's folder when writable, else the user's data folder. Tests set it.
    static QString dataRoot();
    static void setDataRoot(const QString& path);

    static bool readFile(const QString& path, QByteArray* data);
    // Writes the whole file (truncating); false when any byte could not be written.
    static bool writeFile(const QString& path, const QByteArray& data);
    // Both write whole or not at all: a failed write leaves an earlier file of that
    // name as it was.
    static bool writeFile(const QString& path, const char* data, qint64 len);
    // A frame file: the 16-bit pixels little-endian, no header.
    static bool writeFrameFile(const QString& path, const uint16_t* pixels, size_t count);
    // Appends bytes, creating the file when missing.
    static bool appendFile(const QString& path, const char* data, qint64 len);

    static bool makePath(const QString& path);
    static bool fileExists(const QString& path);
    static bool removeTree(const QString& path);

    static QString dateStamp(); // "%4d%02d%02d"
    static QString timeStamp(); // "%02d%02d%02d"

    // Turns a device-supplied text (sensor ID, serial number) into a safe single path
    // component: no separators, no "..", no control characters, never empty.
    static QString sanitizeName(const QString& name);
};
