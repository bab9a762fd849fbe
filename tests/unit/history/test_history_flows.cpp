// Each event kind written by its real flow against the virtual camera, into SQLite in
// a temporary data root; the recorder's own faults (a corrupt, read-only or newer
// file) reported while the bench goes on working.
#include "CComonFun.h"
#include "CTwoPointNuc.h"
#include "CalibrationSequences.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "ModuleInteract.h"
#include "FileTransfer.h"
#include "HistoryQuery.h"
#include "HistoryRecorder.h"
#include "HistorySchema.h"
#include "Presets.h"
#include "TestSupport.h"
#include "TransferRig.h"
#include "UpgradeWriter.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using transfertest::RecordingContext;
using transfertest::TransferRig;

class HistoryFlows : public ::testing::Test {
protected:
    void SetUp() override
    {
        HistoryConfig cfg;
        cfg.retryMs = 50;
        cfg.station = QStringLiteral("bench-7");
        HistoryRecorder::instance()->configure(cfg);
        HistoryRecorder::instance()->clearCore();
        ASSERT_TRUE(rig.ok()) << rig.error();
    }
    void TearDown() override { HistoryRecorder::instance()->flushLocal(5000); }

    // The newest events of a kind, after everything recorded so far is in the file.
    QList<HistoryEvent> events(const QString& kind)
    {
        EXPECT_TRUE(HistoryRecorder::instance()->flushLocal(5000)) << HistoryRecorder::instance()->state().localError.toStdString();
        HistoryFilter f;
        f.kind = kind;
        QList<HistoryEvent> out;
        QString error;
        EXPECT_TRUE(queryHistory(HistoryRecorder::instance()->config(), HistorySource::Local, f, &out, &error))
            << error.toStdString();
        return out;
    }

    irtest::ScopedDataRoot root;
    TransferRig rig;
};

TEST_F(HistoryFlows, IdentificationRecordsTheCoreAndLaterEventsCarryIt)
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    mgr->setDeviceForm(1);
    mgr->onDisconnectCameraInfoManagerPostEvent();
    mgr->identifyNow();
    const QList<HistoryEvent> ids = events(HistoryKind::Identify);
    ASSERT_EQ(ids.size(), 1);
    EXPECT_TRUE(ids[0].ok);
    EXPECT_EQ(ids[0].sensorId, mgr->sensorId());
    EXPECT_EQ(ids[0].serial, mgr->serialNumber());
    EXPECT_EQ(ids[0].station, QStringLiteral("bench-7"));
    EXPECT_EQ(ids[0].details.value("module_info").toString(), mgr->moduleInfo());
    EXPECT_EQ(ids[0].details.value("core_class").toInt(), mgr->coreClass());

    RecordingContext ctx;
    MemorySource source(transfertest::pattern(1500, 4));
    ASSERT_TRUE(writeUpgrade(ctx, 0x1000000, source).ok);
    QByteArray back;
    ASSERT_TRUE(readBackToMemory(ctx, 2, &back)) << ctx.messages.join(" ").toStdString();
    const QList<HistoryEvent> reads = events(HistoryKind::ReadBack);
    ASSERT_EQ(reads.size(), 1);
    EXPECT_EQ(reads[0].sensorId, mgr->sensorId());
    EXPECT_EQ(reads[0].details.value("size").toInt(), back.size());
    EXPECT_EQ(reads[0].details.value("sha256").toString(), sha256Hex(back));
    mgr->onDisconnectCameraInfoManagerPostEvent();
}

TEST_F(HistoryFlows, HostileNamesAreStoredAndFoundUnchanged)
{
    rig.core().setIdentity(*irsim::findPreset("hostile"));
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    mgr->setDeviceForm(1);
    mgr->onDisconnectCameraInfoManagerPostEvent();
    mgr->identifyNow();
    const QString id = mgr->sensorId();
    ASSERT_TRUE(id.contains(QChar(0x1b))) << "the preset's control byte should reach the manager";
    HistoryFilter f;
    f.sensorId = id;
    ASSERT_TRUE(HistoryRecorder::instance()->flushLocal(5000));
    QList<HistoryEvent> out;
    QString error;
    ASSERT_TRUE(queryHistory(HistoryRecorder::instance()->config(), HistorySource::Local, f, &out, &error));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].sensorId, id);
    EXPECT_EQ(out[0].serial, mgr->serialNumber());
    mgr->onDisconnectCameraInfoManagerPostEvent();
}

TEST_F(HistoryFlows, VerifiedWriteCarriesTheSha256OfTheBytesSent)
{
    const QByteArray data = transfertest::pattern(2500, 3);
    RecordingContext ctx;
    UpgradeOptions options;
    options.recordLater = true;
    MemorySource source(data);
    UpgradeResult r = writeUpgrade(ctx, 0x1000000, source, options);
    ASSERT_TRUE(r.ok);
    QByteArray back;
    ASSERT_TRUE(readBackToMemory(ctx, 2, &back));
    recordVerifiedWrite(r.history, 2, back.startsWith(data));
    const QList<HistoryEvent> writes = events(HistoryKind::FlashWrite);
    ASSERT_EQ(writes.size(), 1);
    const HistoryEvent& w = writes[0];
    EXPECT_TRUE(w.ok);
    EXPECT_EQ(w.details.value("sha256").toString(), sha256Hex(data));
    EXPECT_EQ(w.details.value("address").toString(), QStringLiteral("0x1000000"));
    EXPECT_EQ(w.details.value("size").toInt(), 2500);
    EXPECT_TRUE(w.details.value("verified").toBool());
    EXPECT_EQ(w.details.value("pacing").toString(), DataExchange::pacingName(DataExchange::pacing()));
    EXPECT_LE(w.started, w.ended);
}

TEST_F(HistoryFlows, FailedWriteNamesItsStep)
{
    ASSERT_TRUE(rig.fault("zero@block:0xEE#2"));
    RecordingContext ctx;
    MemorySource source(transfertest::pattern(3500, 1));
    ASSERT_FALSE(writeUpgrade(ctx, 0x1000000, source).ok);
    const QList<HistoryEvent> writes = events(HistoryKind::FlashWrite);
    ASSERT_EQ(writes.size(), 1);
    EXPECT_FALSE(writes[0].ok);
    EXPECT_EQ(writes[0].step, QStringLiteral("block"));
    EXPECT_EQ(writes[0].code, ModuleInteract::ErrBlock);
    EXPECT_EQ(writes[0].details.value("bytes_sent").toInt(), 1000);
    EXPECT_EQ(writes[0].details.value("sha256").toString(), sha256Hex(transfertest::pattern(3500, 1).left(1000)));
}

TEST_F(HistoryFlows, TwoPointGainTableRecordsItsHashAndMeans)
{
    constexpr int kW = 16, kH = 8, kN = 2;
    QTemporaryDir dir;
    auto writeSet = [&](const QString& sub, int level) {
        QDir().mkpath(dir.filePath(sub));
        for (int f = 1; f <= kN; ++f) {
            std::vector<uint16_t> px(size_t(kW * kH));
            for (int i = 0; i < kW * kH; ++i)
                px[size_t(i)] = uint16_t(level + (i * 7) % 40 + f);
            ASSERT_TRUE(CComonFun::writeFrameFile(dir.filePath(sub + QStringLiteral("/Frame%1.frame").arg(f)),
                                                  px.data(), px.size()));
        }
    };
    writeSet(QStringLiteral("low"), 3000);
    writeSet(QStringLiteral("high"), 9000);
    GainJob job{dir.filePath("low"), dir.filePath("high"), dir.filePath("FinalPixel.bak"), dir.filePath("K1.bin"),
                kW, kH, kN};
    RecordingContext ctx;
    CTwoPointNuc nuc;
    ASSERT_TRUE(runGainCorrection(ctx, job, &nuc)) << ctx.messages.join(" ").toStdString();
    const QList<HistoryEvent> gains = events(HistoryKind::GainTable);
    ASSERT_EQ(gains.size(), 1);
    EXPECT_EQ(gains[0].details.value("sha256").toString(), sha256Hex(irtest::readAll(job.gainPath)));
    EXPECT_DOUBLE_EQ(gains[0].details.value("mean_low").toDouble(), nuc.Mean(CTwoPointNuc::LowSet));
    EXPECT_DOUBLE_EQ(gains[0].details.value("mean_high").toDouble(), nuc.Mean(CTwoPointNuc::HighSet));
}

// The file cannot be written: the state says so with the reason, the bench's write
// still succeeds, and the events wait in memory until the file is usable again.
class UnwritableFile : public ::testing::TestWithParam<const char*> {};

TEST_P(UnwritableFile, IsReportedWhileTheBenchGoesOnAndNothingIsLost)
{
    irtest::ScopedDataRoot root;
    TransferRig rig;
    ASSERT_TRUE(rig.ok()) << rig.error();
    const QString path = root.file("bad.sqlite");
    const std::string kind = GetParam();
    if (kind == "corrupt") {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
    } else if (kind == "read-only") {
        HistoryConfig ok;
        ok.sqlitePath = path;
        QString error;
        ASSERT_TRUE(queryHistory(ok, HistorySource::Local, HistoryFilter(), nullptr, &error)) << error.toStdString();
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
    } else {
        QString error;
        ASSERT_TRUE(HistorySchema::openSqlite("newer", path, &error)) << error.toStdString();
        QSqlQuery q(QSqlDatabase::database("newer"));
        ASSERT_TRUE(q.exec("CREATE TABLE irbench_schema (version INTEGER NOT NULL)"));
        ASSERT_TRUE(q.exec("INSERT INTO irbench_schema VALUES (99)"));
        q.finish();
        HistorySchema::closeConnection("newer");
    }
    const QByteArray before = irtest::readAll(path);

    HistoryConfig cfg;
    cfg.sqlitePath = path;
    cfg.retryMs = 20;
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->configure(cfg);
    RecordingContext ctx;
    MemorySource source(transfertest::pattern(1200, 2));
    EXPECT_TRUE(writeUpgrade(ctx, 0x1000000, source).ok);
    EXPECT_FALSE(rec->flushLocal(3000));
    const HistoryRecorder::State s = rec->state();
    EXPECT_TRUE(s.localFailed);
    EXPECT_TRUE(s.localError.contains(path)) << s.localError.toStdString();
    EXPECT_GE(s.queued, 1);
    if (kind == "newer") {
        EXPECT_TRUE(s.localError.contains(QStringLiteral("更新版本"))) << s.localError.toStdString();
        EXPECT_EQ(irtest::readAll(path), before) << "a newer database is never altered";
    }

    // Usable again: what waited arrives.
    QFile::remove(path);
    QFile::remove(path + "-wal");
    QFile::remove(path + "-shm");
    ASSERT_TRUE(rec->flushLocal(5000)) << rec->state().localError.toStdString();
    QList<HistoryEvent> out;
    QString error;
    HistoryFilter f;
    f.kind = HistoryKind::FlashWrite;
    ASSERT_TRUE(queryHistory(cfg, HistorySource::Local, f, &out, &error));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0].details.value("sha256").toString(), sha256Hex(transfertest::pattern(1200, 2)));
    rec->configure(HistoryConfig());
}

INSTANTIATE_TEST_SUITE_P(History, UnwritableFile, ::testing::Values("corrupt", "read-only", "newer"));

TEST(HistoryCsv, QuotesAndDisarmsFormulas)
{
    HistoryEvent e(HistoryKind::Identify);
    e.uuid = QStringLiteral("u1");
    e.sensorId = QStringLiteral("=HYPERLINK(\"x\")");
    e.serial = QStringLiteral("a,b\nc");
    e.fail(-3, QStringLiteral("+1 未应答"));
    const QString csv = historyCsv({e});
    const QStringList lines = csv.split(QStringLiteral("\r\n"));
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("uuid,kind,")));
    EXPECT_TRUE(csv.contains(QStringLiteral("\"'=HYPERLINK(\"\"x\"\")\""))) << csv.toStdString();
    EXPECT_TRUE(csv.contains(QStringLiteral("\"a,b\nc\"")));
    EXPECT_TRUE(csv.contains(QStringLiteral(",-3,'+1 未应答,"))) << csv.toStdString();
}

TEST(HistoryDbOption, ParsesBothFormsAndRefusesOthers)
{
    HistoryConfig c;
    QString error;
    qputenv("IRBENCH_DB_PASSWORD", "pw-from-env");
    ASSERT_TRUE(HistoryConfig::parseDbOption("postgresql://line@10.0.0.5:6543/irbench", &c, &error));
    EXPECT_EQ(c.user, "line");
    EXPECT_EQ(c.host, "10.0.0.5");
    EXPECT_EQ(c.port, 6543);
    EXPECT_EQ(c.database, "irbench");
    EXPECT_EQ(c.password, "pw-from-env");
    EXPECT_FALSE(c.describe().contains("pw-from-env"));
    ASSERT_TRUE(HistoryConfig::parseDbOption("sqlite:/tmp/x.sqlite", &c, &error));
    EXPECT_FALSE(c.hasServer());
    EXPECT_EQ(c.localPath(), "/tmp/x.sqlite");
    for (const char* bad : {"mysql://a@b/c", "postgresql://host/db", "postgresql://u@h:99999/db", "sqlite:"})
        EXPECT_FALSE(HistoryConfig::parseDbOption(bad, &c, &error)) << bad;
    qunsetenv("IRBENCH_DB_PASSWORD");
}

} // namespace
