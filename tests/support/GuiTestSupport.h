#pragma once

#include "FileChooser.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

namespace guitest {

// Messages the recording sink answered, as (title, text), oldest first; taking them
// empties the record.
QList<QPair<QString, QString>> takeMessages();
// (Re)installs the sink that records every box.
void installRecordingSink();
// What the sink answers to the next boxes (1 OK, 0 Cancel).
void setMessageAnswer(int answer);

// Processes events until `cond` holds or `timeoutMs` runs out.
bool waitUntil(const std::function<bool()>& cond, int timeoutMs = 10000);

// A chooser that answers with prepared paths and remembers what it was asked.
class ScriptedChooser : public FileChooser::Provider {
public:
    QString nextOpen;
    QString nextSave;
    QString nextFolder;
    QStringList captions;
    QStringList filters;

    QString openFile(QWidget*, const QString& caption, const QString&, const QString& filter) override
    {
        captions << caption;
        filters << filter;
        return nextOpen;
    }
    QString saveFile(QWidget*, const QString& caption, const QString&, const QString& filter) override
    {
        captions << caption;
        filters << filter;
        return nextSave;
    }
    QString folder(QWidget*, const QString& caption, const QString&) override
    {
        captions << caption;
        return nextFolder;
    }
};

} // namespace guitest
