#include "HistoryRecorder.h"

#include "HistorySchema.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

using HistorySchema::Flavour;
using Clock = std::chrono::steady_clock;

namespace {

const QString kLocalConn = QStringLiteral("irbench-history-writer");
const QString kForwardLocalConn = QStringLiteral("irbench-history-outbox");
const QString kServerConn = QStringLiteral("irbench-history-server");
constexpr size_t kBatch = 500;
constexpr int kForwardBatch = 200;
// Kept in memory while the file cannot be written; past this the oldest go.
constexpr size_t kMaxQueued = 200000;

void shutdownRoutine()
{
    HistoryRecorder::instance()->shutdown();
}

} // namespace

struct HistoryRecorder::Impl {
    HistoryRecorder* q = nullptr;
    mutable std::mutex mu;
    // Taken before mu: the writer's commit and its tally against the outbox count.
    std::mutex commitMu;
    std::condition_variable cvWrite;
    std::condition_variable cvForward;
    std::condition_variable cvDone;

    HistoryConfig cfg;
    QString station;
    QString operatorName;
    quint64 configGen = 0;
    QString link;
    QString sensorId;
    QString serial;

    std::deque<HistoryEvent> queue;
    size_t inflight = 0;
    qint64 written = 0;
    qint64 forwarded = 0;
    qint64 dropped = 0;
    qint64 outbox = 0;          // rows in the outbox, never fewer than there are
    qint64 outboxAdded = 0;     // rows the writer put there, ever
    bool outboxDirty = true;    // the file, the configuration or the outbox changed
    bool localFailed = false;
    QString localError;
    quint64 localAttempts = 0;
    qint64 failedWrites = 0;
    QString serverError;
    quint64 forwardAttempts = 0;
    bool forwardFailed = false;
    bool forwarding = false;    // a try is under way: the outbox figure may be stale
    Clock::time_point nextWrite{};
    Clock::time_point nextForward{};
    bool stopping = false;
    bool down = false;
    std::thread writer;
    std::thread forwarder;

    void applyNames()
    {
        station = cfg.station.isEmpty() ? defaultStationName() : cfg.station;
        operatorName = cfg.operatorName.isEmpty() ? defaultOperatorName() : cfg.operatorName;
    }
    void changed() { emit q->signalStateChanged(); }
    void writerLoop();
    void forwardLoop();
    bool writeBatch(std::vector<HistoryEvent>& batch, bool toOutbox, QString* error);
    int forwardBatch(QString* error);
};

bool HistoryRecorder::Impl::writeBatch(std::vector<HistoryEvent>& batch, bool toOutbox, QString* error)
{
    QSqlDatabase db = QSqlDatabase::database(kLocalConn, false);
    if (!HistorySchema::beginWrite(db, Flavour::Sqlite, error))
        return false;
    QSqlQuery ins(db);
    QSqlQuery box(db);
    bool ok = ins.prepare(HistorySchema::insertSql(Flavour::Sqlite)) &&
              (!toOutbox || box.prepare(QStringLiteral("INSERT OR IGNORE INTO outbox (uuid) VALUES (?)")));
    for (size_t i = 0; ok && i < batch.size(); ++i) {
        HistorySchema::bindEvent(ins, batch[i], Flavour::Sqlite);
        ok = ins.exec();
        if (ok && toOutbox) {
            box.addBindValue(batch[i].uuid);
            ok = box.exec();
            if (!ok)
                *error = HistorySchema::errorText(box);
        } else if (!ok) {
            *error = HistorySchema::errorText(ins);
        }
    }
    ins.finish();
    box.finish();
    if (ok && !HistorySchema::commitWrite(db, Flavour::Sqlite, error))
        ok = false;
    if (!ok) {
        if (error->isEmpty())
            *error = HistorySchema::errorText(ins);
        HistorySchema::rollbackWrite(db, Flavour::Sqlite);
    }
    return ok;
}

void HistoryRecorder::Impl::writerLoop()
{
    QString openPath;
    std::unique_lock<std::mutex> lk(mu);
    for (;;) {
        if (queue.empty() || (localFailed && Clock::now() < nextWrite)) {
            if (stopping)
                break;
            if (queue.empty())
                cvWrite.wait(lk);
            else
                cvWrite.wait_until(lk, nextWrite);
            continue;
        }
        const HistoryConfig c = cfg;
        std::vector<HistoryEvent> batch;
        while (!queue.empty() && batch.size() < kBatch) {
            batch.push_back(std::move(queue.front()));
            queue.pop_front();
        }
        inflight = batch.size();
        lk.unlock();

        const QString path = c.localPath();
        QString error;
        bool ok = true;
        if (openPath != path) {
            HistorySchema::closeConnection(kLocalConn);
            ok = HistorySchema::openSqlite(kLocalConn, path, &error) &&
                 HistorySchema::migrate(QSqlDatabase::database(kLocalConn, false), Flavour::Sqlite, &error);
            openPath = ok ? path : QString();
        }
        // Held from the commit to the tally (see forwardLoop).
        std::unique_lock<std::mutex> commit(commitMu);
        if (ok)
            ok = writeBatch(batch, c.hasServer(), &error);
        if (!ok) {
            HistorySchema::closeConnection(kLocalConn);
            openPath.clear();
        }

        lk.lock();
        inflight = 0;
        ++localAttempts;
        if (ok) {
            written += qint64(batch.size());
            if (c.hasServer()) {
                outbox += qint64(batch.size());
                outboxAdded += qint64(batch.size());
                outboxDirty = true;
            }
            localFailed = false;
            localError.clear();
            cvForward.notify_all();
        } else {
            // Back to the front, in order, for the next try.
            for (auto it = batch.rbegin(); it != batch.rend(); ++it)
                queue.push_front(std::move(*it));
            while (queue.size() > kMaxQueued) {
                queue.pop_front();
                ++dropped;
            }
            localFailed = true;
            ++failedWrites;
            localError = QStringLiteral("%1: %2").arg(path, error);
            nextWrite = Clock::now() + std::chrono::milliseconds(c.retryMs);
        }
        commit.unlock();
        cvDone.notify_all();
        lk.unlock();
        changed();
        lk.lock();
    }
    lk.unlock();
    HistorySchema::closeConnection(kLocalConn);
}

int HistoryRecorder::Impl::forwardBatch(QString* error)
{
    QSqlDatabase local = QSqlDatabase::database(kForwardLocalConn, false);
    QSqlDatabase server = QSqlDatabase::database(kServerConn, false);
    QSqlQuery sel(local);
    sel.setForwardOnly(true);
    sel.prepare(QStringLiteral("SELECT o.seq, %1 FROM outbox o JOIN events e ON e.uuid = o.uuid "
                               "ORDER BY o.seq LIMIT ?")
                    .arg(HistorySchema::eventColumns().replace(QStringLiteral(", "), QStringLiteral(", e."))
                             .prepend(QStringLiteral("e."))));
    sel.addBindValue(kForwardBatch);
    if (!sel.exec()) {
        *error = HistorySchema::errorText(sel);
        return -1;
    }
    std::vector<HistoryEvent> events;
    qint64 lastSeq = -1;
    while (sel.next()) {
        lastSeq = sel.value(0).toLongLong();
        events.push_back(HistorySchema::eventAt(sel, 1));
    }
    sel.finish();
    if (events.empty()) {
        // Rows without their event cannot be sent (a file edited by hand): drop only those.
        QSqlQuery(local).exec(QStringLiteral("DELETE FROM outbox WHERE uuid NOT IN (SELECT uuid FROM events)"));
        return 0;
    }
    if (!server.transaction()) {
        *error = HistorySchema::errorText(server);
        return -1;
    }
    QSqlQuery ins(server);
    if (!ins.prepare(HistorySchema::insertSql(Flavour::Postgres))) {
        *error = HistorySchema::errorText(ins);
        server.rollback();
        return -1;
    }
    for (const HistoryEvent& e : events) {
        HistorySchema::bindEvent(ins, e, Flavour::Postgres);
        if (!ins.exec()) {
            *error = HistorySchema::errorText(ins);
            server.rollback();
            return -1;
        }
    }
    if (!server.commit()) {
        *error = HistorySchema::errorText(server);
        server.rollback();
        return -1;
    }
    // On the server now; if this delete is lost they go again and are skipped there.
    QSqlQuery del(local);
    del.prepare(QStringLiteral("DELETE FROM outbox WHERE seq <= ?"));
    del.addBindValue(lastSeq);
    del.exec();
    return int(events.size());
}

void HistoryRecorder::Impl::forwardLoop()
{
    QString localPath;
    quint64 serverGen = 0;
    bool serverOpen = false;
    std::unique_lock<std::mutex> lk(mu);
    for (;;) {
        if (stopping)
            break;
        const bool work = cfg.hasServer() && (outbox > 0 || outboxDirty);
        if (!work || Clock::now() < nextForward) {
            if (work)
                cvForward.wait_until(lk, nextForward);
            else
                cvForward.wait(lk);
            continue;
        }
        const HistoryConfig c = cfg;
        const quint64 gen = configGen;
        outboxDirty = false;
        forwarding = true;
        qint64 addedBefore = 0;
        lk.unlock();

        QString error;
        int sent = 0;
        qint64 counted = -1;
        const QString path = c.localPath();
        bool ok = true;
        if (localPath != path) {
            HistorySchema::closeConnection(kForwardLocalConn);
            ok = HistorySchema::openSqlite(kForwardLocalConn, path, &error) &&
                 HistorySchema::migrate(QSqlDatabase::database(kForwardLocalConn, false), Flavour::Sqlite, &error);
            localPath = ok ? path : QString();
        }
        if (ok) {
            // No commit between the count and the writer's tally: the outbox is what
            // the file holds now plus what the writer adds from here on.
            std::lock_guard<std::mutex> commit(commitMu);
            {
                std::lock_guard<std::mutex> tally(mu);
                addedBefore = outboxAdded;
            }
            QSqlQuery n(QSqlDatabase::database(kForwardLocalConn, false));
            ok = n.exec(QStringLiteral("SELECT count(*) FROM outbox")) && n.next();
            if (ok)
                counted = n.value(0).toLongLong();
            else
                error = HistorySchema::errorText(n);
        }
        if (ok && counted > 0 && (!serverOpen || serverGen != gen)) {
            HistorySchema::closeConnection(kServerConn);
            ok = HistorySchema::openPostgres(kServerConn, c, &error) &&
                 HistorySchema::migrate(QSqlDatabase::database(kServerConn, false), Flavour::Postgres, &error);
            serverOpen = ok;
            serverGen = gen;
        }
        if (ok && counted > 0) {
            sent = forwardBatch(&error);
            ok = sent >= 0;
        }
        if (!ok) {
            HistorySchema::closeConnection(kServerConn);
            serverOpen = false;
            if (localPath.isEmpty() || counted < 0) {
                HistorySchema::closeConnection(kForwardLocalConn);
                localPath.clear();
            }
        }

        lk.lock();
        forwarding = false;
        ++forwardAttempts;
        if (ok) {
            outbox = std::max<qint64>(0, counted - sent) + (outboxAdded - addedBefore);
            forwarded += sent;
            serverError.clear();
            forwardFailed = false;
        } else {
            if (counted >= 0)
                outbox = counted + (outboxAdded - addedBefore);
            serverError = error;
            forwardFailed = true;
            outboxDirty = true; // tried again after the pause
            nextForward = Clock::now() + std::chrono::milliseconds(c.retryMs);
        }
        cvDone.notify_all();
        lk.unlock();
        changed();
        lk.lock();
    }
    lk.unlock();
    HistorySchema::closeConnection(kServerConn);
    HistorySchema::closeConnection(kForwardLocalConn);
}

HistoryRecorder* HistoryRecorder::instance()
{
    // Made on first use and kept to the end; its threads stop with the application.
    static HistoryRecorder* recorder = [] {
        auto* r = new HistoryRecorder;
        if (QCoreApplication* app = QCoreApplication::instance())
            r->moveToThread(app->thread());
        qAddPostRoutine(shutdownRoutine);
        return r;
    }();
    return recorder;
}

HistoryRecorder::HistoryRecorder()
    : d(std::make_unique<Impl>())
{
    d->q = this;
    d->applyNames();
    d->writer = std::thread([this] { d->writerLoop(); });
    d->forwarder = std::thread([this] { d->forwardLoop(); });
}

HistoryRecorder::~HistoryRecorder()
{
    shutdown(0);
}

void HistoryRecorder::configure(const HistoryConfig& cfg)
{
    {
        std::lock_guard<std::mutex> lk(d->mu);
        d->cfg = cfg;
        d->applyNames();
        ++d->configGen;
        d->outboxDirty = true;
        d->localFailed = false;
        d->forwardFailed = false;
        d->serverError.clear();
        d->nextWrite = d->nextForward = Clock::now();
    }
    d->cvWrite.notify_all();
    d->cvForward.notify_all();
    emit signalStateChanged();
}

HistoryConfig HistoryRecorder::config() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    return d->cfg;
}

void HistoryRecorder::record(HistoryEvent e)
{
    if (e.uuid.isEmpty())
        e.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (!e.started.isValid())
        e.started = QDateTime::currentDateTimeUtc();
    if (!e.ended.isValid())
        e.ended = e.started;
    {
        std::lock_guard<std::mutex> lk(d->mu);
        if (d->down)
            return;
        if (e.station.isEmpty())
            e.station = d->station;
        if (e.operatorName.isEmpty())
            e.operatorName = d->operatorName;
        if (e.programVersion.isEmpty())
            e.programVersion = programVersion();
        if (e.link.isEmpty())
            e.link = d->link;
        if (e.sensorId.isEmpty() && e.serial.isEmpty()) {
            e.sensorId = d->sensorId;
            e.serial = d->serial;
        }
        d->queue.push_back(std::move(e));
        if (d->queue.size() > kMaxQueued) {
            d->queue.pop_front();
            ++d->dropped;
        }
    }
    d->cvWrite.notify_one();
}

void HistoryRecorder::setLink(const QString& link)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->link = link;
}

void HistoryRecorder::setCore(const QString& sensorId, const QString& serial)
{
    std::lock_guard<std::mutex> lk(d->mu);
    d->sensorId = sensorId;
    d->serial = serial;
}

void HistoryRecorder::clearCore()
{
    setCore(QString(), QString());
}

HistoryRecorder::State HistoryRecorder::state() const
{
    std::lock_guard<std::mutex> lk(d->mu);
    State s;
    s.serverConfigured = d->cfg.hasServer();
    s.queued = qint64(d->queue.size() + d->inflight);
    s.pending = s.serverConfigured ? s.queued + d->outbox : 0;
    s.written = d->written;
    s.forwarded = d->forwarded;
    s.dropped = d->dropped;
    s.failedWrites = d->failedWrites;
    s.localFailed = d->localFailed;
    s.localError = d->localError;
    s.serverError = d->serverError;
    return s;
}

bool HistoryRecorder::flushLocal(int timeoutMs)
{
    std::unique_lock<std::mutex> lk(d->mu);
    const quint64 attempts = d->localAttempts;
    d->cvDone.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
        return (d->queue.empty() && d->inflight == 0) || (d->localFailed && d->localAttempts != attempts) ||
               d->down;
    });
    return d->queue.empty() && d->inflight == 0 && !d->localFailed;
}

int HistoryRecorder::syncNow(int timeoutMs, QString* error)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::unique_lock<std::mutex> lk(d->mu);
    if (!d->cfg.hasServer()) {
        if (error)
            *error = QStringLiteral("未设置数据库服务器");
        return -1;
    }
    const qint64 before = d->forwarded;
    d->outboxDirty = true;
    d->nextForward = Clock::now();
    const quint64 attempts = d->forwardAttempts;
    d->cvForward.notify_all();
    const bool done = d->cvDone.wait_until(lk, end, [&] {
        const bool empty = d->queue.empty() && d->inflight == 0 && d->outbox == 0 && !d->outboxDirty &&
                           !d->forwarding;
        return (empty && d->forwardAttempts != attempts) ||
               (d->forwardFailed && d->forwardAttempts != attempts) || (d->localFailed && d->queue.size() > 0) ||
               d->down;
    });
    const qint64 sent = d->forwarded - before;
    if (d->forwardFailed || d->localFailed || !done) {
        if (error)
            *error = d->forwardFailed ? d->serverError
                     : d->localFailed ? d->localError
                                      : QStringLiteral("等待上传超时");
        return -1;
    }
    return int(sent);
}

void HistoryRecorder::shutdown(int timeoutMs)
{
    {
        std::unique_lock<std::mutex> lk(d->mu);
        if (d->down)
            return;
        // What is queued goes into the file first, unless the file keeps failing.
        d->cvDone.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] {
            return (d->queue.empty() && d->inflight == 0) || d->localFailed;
        });
        d->stopping = true;
        d->down = true;
    }
    d->cvWrite.notify_all();
    d->cvForward.notify_all();
    if (d->writer.joinable())
        d->writer.join();
    if (d->forwarder.joinable())
        d->forwarder.join();
}
