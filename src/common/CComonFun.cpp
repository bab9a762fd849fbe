#include "CComonFun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>

namespace {
QMutex g_rootLock;
QString g_root;

bool writableDir(const QString& dir)
{
    if (dir.isEmpty())
        return false;
    QFileInfo fi(dir);
    return fi.isDir() && fi.isWritable();
}
} // namespace

QString CComonFun::dataRoot()
{
    QMutexLocker lock(&g_rootLock);
    if (g_root.isEmpty()) {
        QString appDir = QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
        if (writableDir(appDir)) {
            g_root = appDir;
        } else {
            QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
            if (data.isEmpty())
                data = QDir::homePath() + "/.local/share/IrBench";
            QDir().mkpath(data);
            g_root = data;
        }
    }
    return g_root;
}

void CComonFun::setDataRoot(const QString& path)
{
    QMutexLocker lock(&g_rootLock);
    g_root = path;
}

bool CComonFun::readFile(const QString& path, QByteArray* data)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray all = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return false;
    if (data)
        *data = all;
    return true;
}

bool CComonFun::writeFile(const QString& path, const QByteArray& data)
{
    return writeFile(path, data.constData(), data.size());
}

bool CComonFun::writeFile(const QString& path, const char* data, qint64 len)
{
    QSaveFile f(path);
    f.setDirectWriteFallback(true); // a writable file in a read-only folder
    if (!f.open(QIODevice::WriteOnly))
        return false;
    // Short writes stay in the buffer until the flush, and commit() renames the
    // temporary even when that flush fails (disk full, file-size limit).
    if ((len > 0 && f.write(data, len) != len) || !f.flush()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

bool CComonFun::writeFrameFile(const QString& path, const uint16_t* pixels, size_t count)
{
    QByteArray bytes(qsizetype(count * 2), Qt::Uninitialized);
    qToLittleEndian<uint16_t>(pixels, qsizetype(count), bytes.data());
    return writeFile(path, bytes);
}

bool CComonFun::appendFile(const QString& path, const char* data, qint64 len)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (len > 0 && f.write(data, len) != len)
        return false;
    return f.flush();
}

bool CComonFun::makePath(const QString& path)
{
    return QDir().mkpath(path);
}

bool CComonFun::fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

bool CComonFun::removeTree(const QString& path)
{
    QDir d(path);
    if (!d.exists())
        return true;
    return d.removeRecursively();
}

QString CComonFun::dateStamp()
{
    return QDate::currentDate().toString("yyyyMMdd");
}

QString CComonFun::timeStamp()
{
    return QTime::currentTime().toString("HHmmss");
}

QString CComonFun::sanitizeName(const QString& name)
{
    QString out;
    out.reserve(name.size());
    for (QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\' || c == ':' || c == '*' || c == '?'
            || c == '"' || c == '<' || c == '>' || c == '|' || c.category() == QChar::Other_Format)
            out += '_';
        else
            out += c;
    }
    out = out.trimmed();
    // A name made only of dots ("." or "..") would name the folder itself or its parent.
    bool onlyDots = !out.isEmpty();
    for (QChar c : out)
        if (c != '.') { onlyDots = false; break; }
    if (onlyDots)
        out.fill('_');
    if (out.isEmpty())
        out = "_";
    if (out.size() > 128)
        out.truncate(128);
    return out;
}
