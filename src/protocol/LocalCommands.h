#pragma once

#include <QString>
#include <QVector>

// One custom console command, stored exactly as typed.
struct LocalCmdEntry {
    QString desc;
    QString addr;
    QString value;
    bool operator==(const LocalCmdEntry& o) const { return desc == o.desc && addr == o.addr && value == o.value; }
};

// dataRoot + "/info/LocalCmd.ini"
QString localCommandsPath();
// Rewrites the file (groups "Cmd0", "Cmd1", ... with keys Desc, Addr, Value).
bool saveLocalCommands(const QVector<LocalCmdEntry>& list);
// Appends the stored entries to list; stops at the first missing or empty group.
void loadLocalCommands(QVector<LocalCmdEntry>& list);
