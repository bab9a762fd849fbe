// What recording costs. The calling thread only queues an event (BM_Record beside
// BM_BuildEvent, what the flow pays to describe it anyway; goal under 50 us); the
// recorder's threads commit 1000 events into SQLite (BM_RecorderSqlite) and forward
// them to PostgreSQL (BM_RecorderPostgres), each beside the same inserts made directly
// on the calling thread in one transaction (BM_DirectSqlite, BM_DirectPostgres).
#include "CComonFun.h"
#include "HistoryRecorder.h"
#include "HistorySchema.h"
#include "PgServer.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

using HistorySchema::Flavour;
constexpr int kBatch = 1000;

irtest::PgServer* g_server = nullptr;
QString g_serverError;
QTemporaryDir* g_dir = nullptr;
int g_file = 0;

HistoryEvent flashWrite(int n)
{
    HistoryEvent e(HistoryKind::FlashWrite);
    e.details["address"] = QStringLiteral("0x0C00000");
    e.details["size"] = 219648;
    e.details["sha256"] = QStringLiteral("171f8d8985becb2e5260bf1ae7579119275a162761ea0395387cc64d6f2998fc");
    e.details["pacing"] = QStringLiteral("fixed");
    e.details["n"] = n;
    e.succeed();
    return e;
}

QString freshFile()
{
    return g_dir->filePath(QStringLiteral("h%1.sqlite").arg(++g_file));
}

// The recorder on a fresh local file (and the server when given).
HistoryRecorder* recorderOn(HistoryConfig cfg = HistoryConfig())
{
    cfg.sqlitePath = freshFile();
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->configure(cfg);
    return rec;
}

void BM_BuildEvent(benchmark::State& state)
{
    int n = 0;
    for (auto _ : state) {
        HistoryEvent e = flashWrite(++n);
        e.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        benchmark::DoNotOptimize(e);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildEvent)->Unit(benchmark::kMicrosecond);

void BM_Record(benchmark::State& state)
{
    HistoryRecorder* rec = recorderOn();
    int n = 0;
    for (auto _ : state) {
        rec->record(flashWrite(++n));
        if (n % kBatch == 0) {
            state.PauseTiming(); // the queue is not left to grow without bound
            rec->flushLocal(60000);
            state.ResumeTiming();
        }
    }
    rec->flushLocal(60000);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Record)->Unit(benchmark::kMicrosecond);

void BM_RecorderSqlite(benchmark::State& state)
{
    HistoryRecorder* rec = recorderOn();
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            rec->record(flashWrite(i));
        if (!rec->flushLocal(60000))
            state.SkipWithError(qPrintable(rec->state().localError));
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_RecorderSqlite)->Unit(benchmark::kMillisecond)->UseRealTime();

void direct(benchmark::State& state, Flavour f)
{
    const QString name = QStringLiteral("bench-direct");
    QString error;
    const bool open = f == Flavour::Sqlite ? HistorySchema::openSqlite(name, freshFile(), &error)
                                           : HistorySchema::openPostgres(name, g_server->config(), &error);
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        if (open && HistorySchema::migrate(db, f, &error)) {
            QSqlQuery q(db);
            q.prepare(HistorySchema::insertSql(f));
            for (auto _ : state) {
                HistorySchema::beginWrite(db, f, &error);
                for (int i = 0; i < kBatch; ++i) {
                    HistoryEvent e = flashWrite(i);
                    e.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
                    e.programVersion = e.station = e.operatorName = QStringLiteral("bench");
                    HistorySchema::bindEvent(q, e, f);
                    q.exec();
                }
                if (!HistorySchema::commitWrite(db, f, &error))
                    state.SkipWithError(qPrintable(error));
            }
        } else {
            state.SkipWithError(qPrintable(error));
        }
    }
    HistorySchema::closeConnection(name);
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_DirectSqlite(benchmark::State& state)
{
    direct(state, Flavour::Sqlite);
}
BENCHMARK(BM_DirectSqlite)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DirectPostgres(benchmark::State& state)
{
    if (!g_server) {
        state.SkipWithError(qPrintable(g_serverError));
        return;
    }
    direct(state, Flavour::Postgres);
}
BENCHMARK(BM_DirectPostgres)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RecorderPostgres(benchmark::State& state)
{
    if (!g_server) {
        state.SkipWithError(qPrintable(g_serverError));
        return;
    }
    HistoryRecorder* rec = recorderOn(g_server->config());
    for (auto _ : state) {
        for (int i = 0; i < kBatch; ++i)
            rec->record(flashWrite(i));
        QString error;
        // Until the outbox is empty: the last event is on the server.
        while (rec->state().pending > 0)
            if (rec->syncNow(60000, &error) < 0) {
                state.SkipWithError(qPrintable(error));
                break;
            }
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_RecorderPostgres)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    CComonFun::setDataRoot(dir.path());
    auto server = std::make_unique<irtest::PgServer>();
    if (server->start(&g_serverError))
        g_server = server.get();
    else
        std::fprintf(stderr, "no PostgreSQL for the server figures: %s\n", qPrintable(g_serverError));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    HistoryRecorder::instance()->shutdown();
    g_server = nullptr;
    return 0;
}
