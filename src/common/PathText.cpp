#include "PathText.h"

#include <QDir>
#include <QFileInfo>

namespace {

QString fullPath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString withFileLine(const QString& text, const QString& path)
{
    return text + QStringLiteral("\n文件：") + fullPath(path);
}

QString withFolderLine(const QString& text, const QString& path)
{
    return text + QStringLiteral("\n文件夹：") + fullPath(path);
}
