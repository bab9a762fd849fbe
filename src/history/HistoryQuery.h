#pragma once

#include "HistoryConfig.h"
#include "HistoryEvent.h"

#include <QDate>
#include <QList>
#include <QString>

// Reading the history back: the history tab, `irbench-cli history`, the tests. Each
// call opens a connection of its own, so any thread may call it (the tab calls it off
// the GUI thread).
struct HistoryFilter {
    QString sensorId;   // empty: every core
    QString kind;       // empty: every kind
    QDate since;        // invalid: from the start (UTC days)
    int limit = 5000;
};

enum class HistorySource { Local, Server };

// Newest first. False with the reason.
bool queryHistory(const HistoryConfig& cfg, HistorySource source, const HistoryFilter& filter,
                  QList<HistoryEvent>* out, QString* error);

// One line per event for a terminal: time, kind, core, result, details.
QString historyLine(const HistoryEvent& e);
// A header row, then one row per event; text that a spreadsheet would take for a
// formula (=, +, -, @ first) is prefixed with an apostrophe.
QString historyCsv(const QList<HistoryEvent>& events);
// The CSV into `path` with a UTF-8 byte-order mark (spreadsheets read the Chinese
// right), replaced whole or not at all.
bool writeHistoryCsv(const QString& path, const QList<HistoryEvent>& events, QString* error);
