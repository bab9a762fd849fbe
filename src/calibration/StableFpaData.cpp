#include "StableFpaData.h"

#include "CComonFun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace stablefpa {

QString dataDir(const QString& stableDir)
{
    return stableDir + QStringLiteral("/data");
}

QString imageFile(const QString& dir, int k)
{
    return dir + QStringLiteral("/%1.bin").arg(k);
}

QString infoFile(const QString& dir)
{
    return dir + QStringLiteral("/background_info.dat");
}

QString templateFile(const QString& stableDir)
{
    return QDir::cleanPath(stableDir + QStringLiteral("/../../info/background_info.dat"));
}

CopyResult copyTemplate(const QString& templatePath, const QString& target)
{
    if (QFileInfo::exists(target))
        return CopyResult::Kept;
    if (!QFileInfo::exists(templatePath))
        return CopyResult::NoTemplate;
    QByteArray bytes;
    if (!CComonFun::readFile(templatePath, &bytes) || !CComonFun::writeFile(target, bytes))
        return CopyResult::Failed;
    return CopyResult::Copied;
}

bool fitsInfo(int k, int lines)
{
    return k >= 0 && k < kMaxCollections && k + kMeanLine < lines;
}

int infoLineCount(const QString& path)
{
    QByteArray bytes;
    if (!CComonFun::readFile(path, &bytes))
        return -1;
    return int(bytes.count('\n')) + 1;
}

RecordResult recordCollection(const QString& path, int k, double temperature, int mean)
{
    QByteArray bytes;
    if (!QFileInfo::exists(path) || !CComonFun::readFile(path, &bytes))
        return RecordResult::NoFile;
    QList<QByteArray> lines = bytes.split('\n');
    if (!fitsInfo(k, int(lines.size())))
        return RecordResult::OutOfRange;
    lines[k + kTempLine] = QByteArray::number(temperature, 'g', 6);
    lines[k + kMeanLine] = QByteArray::number(mean);
    return CComonFun::writeFile(path, lines.join('\n')) ? RecordResult::Written : RecordResult::WriteFailed;
}

} // namespace stablefpa
