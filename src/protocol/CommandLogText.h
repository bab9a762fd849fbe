#pragma once

#include <QDateTime>
#include <QString>

// One line of the command history: "[yyyy-MM-dd HH:mm:ss]-[S][frame]" for a frame
// sent, "[...]-[R][frame]" for a reply received. The console colours sent lines blue
// and received lines red; the CLI prints them as they are.
QString commandLogLine(const QString& frameHex, bool sent, const QDateTime& when = QDateTime::currentDateTime());
// A received frame that was not taken as the reply: "[...]-[R][frame] 已丢弃：reason".
QString droppedReplyLogLine(const QString& frameHex, const QString& reason,
                            const QDateTime& when = QDateTime::currentDateTime());
