#pragma once

#include "HistoryConfig.h"
#include "HistoryEvent.h"

#include <QObject>
#include <QString>

#include <memory>

// The process-wide recorder of every core's history. A flow that touched a core calls
//
//     HistoryRecorder::instance()->record(std::move(event));
//
// from any thread; the call only queues the event (a few microseconds) and returns.
// The recorder's own writer thread commits the events into the bench's SQLite file;
// with a server configured the same transaction puts them into the outbox, and a
// forwarding thread sends them on in order, insert-if-absent on the UUID, whenever the
// server answers. Nothing here ever waits for a database on the caller's thread
// (except flushLocal / syncNow, which say so).
//
// Without configure() the events go to "<data root>/info/irbench.sqlite".
class HistoryRecorder : public QObject {
    Q_OBJECT
public:
    static HistoryRecorder* instance();

    // Takes effect for the next batch; events already queued go to the new place.
    void configure(const HistoryConfig& cfg);
    HistoryConfig config() const;

    void record(HistoryEvent event);

    // What the flows do not know themselves, filled into every event they leave empty.
    void setLink(const QString& link);
    void setCore(const QString& sensorId, const QString& serial);
    void clearCore();

    struct State {
        bool serverConfigured = false;
        qint64 queued = 0;      // recorded, not yet in the local file
        qint64 pending = 0;     // not yet on the server (queued ones included)
        qint64 written = 0;     // committed locally since start
        qint64 forwarded = 0;   // sent to the server since start
        qint64 dropped = 0;     // oldest events given up while the file stayed unwritable
        qint64 failedWrites = 0; // tries of the file that failed, since start
        bool localFailed = false;
        QString localError;     // why the file cannot be written
        QString serverError;    // why the server did not take the outbox (last try)
    };
    State state() const;

    // Waits up to `timeoutMs` until every event recorded so far is in the local file;
    // false on time-out or when the file cannot be written.
    bool flushLocal(int timeoutMs);
    // Forwards the outbox now and waits until it is empty or the server fails (at most
    // `timeoutMs`). Gives the number of events this call forwarded, -1 with `error`.
    int syncNow(int timeoutMs, QString* error);
    // Writes what is queued (bounded) and stops both threads; record() then drops.
    // Runs by itself when the application object goes away.
    void shutdown(int timeoutMs = 5000);

signals:
    // From the recorder's threads; connect queued.
    void signalStateChanged();

public:
    ~HistoryRecorder() override;

private:
    HistoryRecorder();
    struct Impl;
    std::unique_ptr<Impl> d;
};
