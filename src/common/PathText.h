#pragma once

#include <QString>

// A result message that says where its output went: the message, then on a second
// line "文件：" or "文件夹：" and the full path in the platform's own separators.
QString withFileLine(const QString& text, const QString& path);
QString withFolderLine(const QString& text, const QString& path);
