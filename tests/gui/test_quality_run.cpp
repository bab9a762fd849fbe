// The acceptance check against the virtual camera in-process: the whole correction
// chain through the calibration page on a flat blackbody, then the check judged
// against the camera's truth; the history it must reach before a verdict counts;
// the tables it refuses; the limits kept in the settings file.
#include "CFindFrame.h"
#include "CNetConnect.h"
#include "CPixelDetector.h"
#include "CComonFun.h"
#include "CalibrationTree.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "DetectPageWidget.h"
#include "DeviceRunner.h"
#include "FrameSource.h"
#include "GuiTestSupport.h"
#include "HistoryQuery.h"
#include "HistoryRecorder.h"
#include "LiveCamera.h"
#include "QualityRun.h"
#include "SettingsStore.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

namespace {

using guitest::takeMessages;
using guitest::waitUntil;
using Messages = QList<QPair<QString, QString>>;

class TestContext : public TransferContext {
public:
    void message(const QString& title, const QString& text) override { messages << title + "|" + text; }
    void setProgress(int p) override { progress << p; }
    QStringList messages;
    QList<int> progress;
};

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

constexpr int kW = 160;
constexpr int kRows = 118;

class QualitySim : public ::testing::Test {
protected:
    void SetUp() override
    {
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = "res160";
        o.completionDelayMs = int(5 * DataExchange::pollIntervalMs());
        o.stream.scene.flatField = true;
        o.stream.scene.sceneTempC = 20.0;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        CameraInfoDataManager::instance()->identifyNow();
        ASSERT_EQ(CameraInfoDataManager::instance()->frameSize(), QSize(kW, kRows + 2));
        ASSERT_TRUE(net.StartStream());
        ASSERT_TRUE(waitUntil([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }));
        ASSERT_TRUE(dir.isValid());
        takeMessages();
    }
    void TearDown() override
    {
        DeviceRunner::instance()->waitIdle(30000);
        if (page)
            QDir(page->tree().coreDir()).removeRecursively();
        page.reset();
        irtest::stopLiveCamera(cam.get(), &net);
    }

    // The blackbody changes from the next rendered frame; two more make sure the
    // buffer's newest frame shows it.
    void setBlackbody(double celsius)
    {
        cam->stream()->setSceneTemp(celsius);
        const uint64_t sent = cam->stream()->packetsSent();
        ASSERT_TRUE(waitUntil([&] { return cam->stream()->packetsSent() >= sent + 3; }));
    }

    QualityJob job(const QString& table = QString())
    {
        QualityJob j;
        j.sensorId = CameraInfoDataManager::instance()->sensorId();
        j.serial = CameraInfoDataManager::instance()->serialNumber();
        j.tablePath = table;
        j.runDir = dir.filePath("run");
        return j;
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
    std::unique_ptr<DetectPageWidget> page;
    QTemporaryDir dir;
};

Messages clickAndWait(QWidget* page, const char* name)
{
    auto* button = page->findChild<QPushButton*>(QString::fromLatin1(name));
    EXPECT_NE(button, nullptr) << name;
    if (!button)
        return {};
    button->click();
    EXPECT_TRUE(DeviceRunner::instance()->waitIdle(60000)) << name;
    return takeMessages();
}

// Two-point correction in tool mode, the gain-clamp table into the core, a shutter
// correction, then the check on a flat blackbody with the table read back from the
// core, each figure held against what the camera's truth allows.
TEST_F(QualitySim, GroundTruthChainOnAFlatBlackbody)
{
    constexpr int M = 16;  // frames per two-point set
    constexpr double kLowC = 20.0, kHighC = 60.0, kCheckC = 45.0;
    page = std::make_unique<DetectPageWidget>();
    page->setNetConnect(&net);
    page->setSensorId(CameraInfoDataManager::instance()->sensorId());
    page->show();
    page->findChild<QCheckBox*>("m_pChbModifyPara")->setChecked(true);
    page->findChild<QLineEdit*>("m_pEdtCapNum")->setText(QString::number(M));
    const QPair<QString, QString> written{QStringLiteral("提示"), QStringLiteral("写入数据完毕")};

    setBlackbody(kLowC);
    ASSERT_EQ(clickAndWait(page.get(), "m_pBtnGetLowT").size(), 1);
    setBlackbody(kHighC);
    ASSERT_EQ(clickAndWait(page.get(), "m_pBtnGetHighT").size(), 1);
    ASSERT_EQ(clickAndWait(page.get(), "m_pBtnOneKeyCorrect").size(), 1);
    ASSERT_EQ(clickAndWait(page.get(), "m_pBtnOnKeyWrite"), Messages{written});
    ASSERT_TRUE(waitUntil([&] { return cam->stream()->gainCorrected(); }));
    ASSERT_EQ(clickAndWait(page.get(), "m_pBtnBPDetect_V20"), Messages{written});
    ASSERT_TRUE(DataExchange::instance()->writeRegister(0x7003, 0)); // shutter correction
    ASSERT_TRUE(waitUntil([&] { return cam->stream()->shutterCorrections() >= 1; }));
    setBlackbody(kCheckC);

    TestContext ctx;
    QualityRunResult r;
    ASSERT_TRUE(runQualityCheck(ctx, net.FrameBuffer(), job(), &r)) << ctx.messages.join("; ").toStdString();
    ASSERT_EQ(r.outcome, QualityRunResult::Outcome::Judged);
    EXPECT_TRUE(ctx.messages.isEmpty()) << ctx.messages.join("; ").toStdString();
    EXPECT_EQ(r.tableSource, QStringLiteral("机芯"));
    EXPECT_EQ(irtest::readAll(r.runDir + "/BadPixel.bin"), irtest::readAll(page->tree().pixelTable()));
    ASSERT_EQ(r.width, kW);
    ASSERT_EQ(r.rows, kRows);
    ASSERT_EQ(r.badMap.size(), size_t(kW * kRows));
    ASSERT_EQ(r.meanImage.size(), size_t(kW * kRows));
    EXPECT_TRUE(std::is_sorted(ctx.progress.begin(), ctx.progress.end()) && ctx.progress.value(ctx.progress.size() - 1) == 100);

    // Recall: every stuck pixel is in the table.
    const auto at = [](const std::pair<int, int>& p) { return size_t(p.second * kW + p.first); };
    std::set<size_t> stuck;
    for (const auto& list : {cam->stream()->deadPixels(), cam->stream()->hotPixels()})
        for (const auto& p : list) {
            EXPECT_EQ(r.badMap[at(p)], 1) << "missed " << p.first << "," << p.second;
            stuck.insert(at(p));
        }
    ASSERT_FALSE(stuck.empty());
    int falsePositives = 0;
    for (size_t i = 0; i < r.badMap.size(); ++i)
        falsePositives += r.badMap[i] && !stuck.count(i);
    std::printf("[quality] table: %zu stuck pixels all flagged (recall 100 %%), %d false positives\n", stuck.size(),
                falsePositives);

    // The floor. The core scales each pixel's signal above its 6000-count pedestal by
    // K = 32768 x span / (H - L); the shutter takes out the offsets only, so the lever
    // on a gain error is S = 40 x (T - 25) counts. H and L are M-frame averages of
    // frames rounded to counts (noise sigma^2 + 1/12), each average cut to a whole
    // count (1/12 more); K is cut to an integer (1/12 in 32768ths). So
    //   spatial floor = S_check x sqrt((2 (sigma^2 + 1/12) / M + 2/12) / dS^2 + 1/(12 x 32768^2))
    // with dS = 40 x (T_high - T_low). The temporal noise is what the figure subtracts.
    const double sigma = 3.0; // SceneOptions::noiseCounts
    const double dS = irsim::FrameSource::kCountsPerDegree * (kHighC - kLowC);
    const double sCheck = irsim::FrameSource::kCountsPerDegree * (kCheckC - 25.0);
    const double varE = 2.0 * (sigma * sigma + 1.0 / 12) / M + 2.0 / 12;
    const double floorSpatial = sCheck * std::sqrt(varE / (dS * dS) + 1.0 / (12.0 * 32768.0 * 32768.0));
    const double floorPercent = 100.0 * floorSpatial / r.figures.mean;
    std::printf("[quality] %s", qualityFiguresText(r.figures).c_str());
    std::printf("[quality] nonuniformity %.5f %% (spatial %.4f counts), floor %.5f %% (%.4f counts), ratio %.3f\n",
                r.figures.nonuniformityPercent, r.figures.spatialNoise, floorPercent, floorSpatial,
                r.figures.nonuniformityPercent / floorPercent);
    EXPECT_LE(r.figures.nonuniformityPercent, 1.5 * floorPercent);
    // Far below the floor would mean the formula, not the chain, is off.
    EXPECT_GE(r.figures.nonuniformityPercent, 0.5 * floorPercent);

    // Noisy working pixels: not in the gain-clamp table, and exactly those whose mean
    // strays past 5 spreads are the unflagged outliers.
    const auto noisy = cam->stream()->noisyPixels();
    ASSERT_FALSE(noisy.empty());
    int predicted = 0;
    for (const auto& p : noisy) {
        EXPECT_EQ(r.badMap[at(p)], 0) << "noisy " << p.first << "," << p.second;
        const double dev = std::fabs(r.meanImage[at(p)] - r.figures.mean);
        std::printf("[quality] noisy %d,%d mean off by %.2f (5 spreads = %.2f)\n", p.first, p.second, dev,
                    5 * r.figures.meanSpread);
        predicted += dev > 5 * r.figures.meanSpread;
    }
    std::printf("[quality] unflagged outliers %d, predicted from the noisy pixels %d of %zu; verdict %s\n",
                r.figures.unflaggedOutliers, predicted, noisy.size(), qualityVerdictText(r.verdict).c_str());
    EXPECT_EQ(r.figures.unflaggedOutliers, predicted);
}

// The verdict counts only once it is in the local history: a file that cannot be
// written gives RecordLost with the recorder's reason, never Judged, and the event
// arrives when the file is usable again.
class QualityHistory : public QualitySim, public ::testing::WithParamInterface<bool> {};

TEST_P(QualityHistory, VerdictOnlyWithTheEventInTheLocalFile)
{
    const bool writable = GetParam();
    const QString db = dir.filePath("history.sqlite");
    if (!writable) {
        ASSERT_TRUE(writeBytes(db, QByteArray(8192, 'x'))); // not a database
    }
    HistoryConfig cfg;
    cfg.sqlitePath = db;
    cfg.retryMs = 20;
    HistoryRecorder* rec = HistoryRecorder::instance();
    rec->configure(cfg);
    const QString table = dir.filePath("table.bin");
    ASSERT_TRUE(writeBytes(table, QByteArray()));
    QualityJob j = job(table);
    j.frames = 4;
    j.limits.maxNonuniformityPercent = 0.25;
    j.limits.maxUnflaggedOutliers = 3;

    TestContext ctx;
    QualityRunResult r;
    const bool ok = runQualityCheck(ctx, net.FrameBuffer(), j, &r);
    HistoryFilter f;
    f.kind = HistoryKind::Quality;
    QList<HistoryEvent> events;
    QString error;
    if (writable) {
        ASSERT_TRUE(ok) << ctx.messages.join("; ").toStdString();
        EXPECT_EQ(r.outcome, QualityRunResult::Outcome::Judged);
        // No flush here: the run waited for it.
        ASSERT_TRUE(queryHistory(cfg, HistorySource::Local, f, &events, &error)) << error.toStdString();
        ASSERT_EQ(events.size(), 1);
        const HistoryEvent& e = events[0];
        EXPECT_TRUE(e.uuid == r.historyUuid && e.sensorId == j.sensorId && e.ok == r.verdict.pass);
        EXPECT_DOUBLE_EQ(e.details.value("limit_nonuniformity_percent").toDouble(), 0.25);
        EXPECT_EQ(e.details.value("limit_unflagged_outliers").toInt(), 3);
        EXPECT_DOUBLE_EQ(e.details.value("mean").toDouble(), r.figures.mean);
        EXPECT_EQ(e.details.value("verdict").toString().toStdString(), qualityVerdictText(r.verdict));
        // The run file: its limits part is a limits file again.
        const QByteArray text = irtest::readAll(j.runDir + "/Quality.txt");
        EXPECT_TRUE(text.startsWith(QByteArray::fromStdString(qualityFiguresText(r.figures)))) << text.constData();
        const qsizetype cut = text.indexOf("# limits\n");
        ASSERT_GT(cut, 0) << text.constData();
        QualityLimits back;
        back.maxCorrectability = 77;
        ASSERT_TRUE(parseQualityLimits(text.mid(cut).toStdString(), &back, nullptr, nullptr));
        EXPECT_EQ(qualityLimitsText(back), qualityLimitsText(j.limits));
    } else {
        EXPECT_FALSE(ok);
        EXPECT_EQ(r.outcome, QualityRunResult::Outcome::RecordLost);
        EXPECT_TRUE(r.error.contains(db)) << r.error.toStdString();
        ASSERT_EQ(ctx.messages.size(), 1);
        EXPECT_TRUE(ctx.messages[0].contains(QStringLiteral("历史记录"))) << ctx.messages[0].toStdString();
        ASSERT_TRUE(QFile::remove(db));
        ASSERT_TRUE(rec->flushLocal(5000)) << rec->state().localError.toStdString();
        ASSERT_TRUE(queryHistory(cfg, HistorySource::Local, f, &events, &error)) << error.toStdString();
        ASSERT_EQ(events.size(), 1) << "kept and written later";
        EXPECT_EQ(events[0].uuid, r.historyUuid);
    }
    rec->configure(HistoryConfig());
}

INSTANTIATE_TEST_SUITE_P(Quality, QualityHistory, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Writable" : "Unwritable"; });

// Tables that cannot be judged against: refused with a message, no verdict made, no
// run file left that looks like one.
struct BadTable {
    const char* name;
    QByteArray bytes;
    const char* says;
};

class QualityBadTable : public QualitySim, public ::testing::WithParamInterface<BadTable> {};

TEST_P(QualityBadTable, IsRefusedWithoutAVerdict)
{
    const QString table = dir.filePath("table.bin");
    ASSERT_TRUE(writeBytes(table, GetParam().bytes));
    QualityJob j = job(table);
    j.frames = 3;
    TestContext ctx;
    QualityRunResult r;
    EXPECT_FALSE(runQualityCheck(ctx, net.FrameBuffer(), j, &r));
    EXPECT_EQ(r.outcome, QualityRunResult::Outcome::Failed);
    EXPECT_FALSE(r.verdict.pass);
    ASSERT_EQ(ctx.messages.size(), 1);
    EXPECT_TRUE(ctx.messages[0].startsWith(QStringLiteral("提示|")));
    EXPECT_TRUE(ctx.messages[0].contains(QString::fromUtf8(GetParam().says))) << ctx.messages[0].toStdString();
    EXPECT_EQ(r.error, ctx.messages[0].section('|', 1));
    EXPECT_FALSE(QFile::exists(j.runDir + "/Quality.txt"));
}

QByteArray everyPixel()
{
    std::vector<uint8_t> map(size_t(kW * kRows), 1), records;
    CPixelDetector::EncodeMap(map.data(), kW, kRows, &records);
    return QByteArray(reinterpret_cast<const char*>(records.data()), qsizetype(records.size()));
}

INSTANTIATE_TEST_SUITE_P(Quality, QualityBadTable,
                         ::testing::Values(BadTable{"EveryPixel", everyPixel(), "全部像素"},
                                           BadTable{"CutRecord", QByteArray::fromHex("0001014300"), "无法"},
                                           BadTable{"TooLong", QByteArray(kW * kRows * 8 + 68, '\0'), "过大"}),
                         [](const ::testing::TestParamInfo<BadTable>& i) { return std::string(i.param.name); });

// The limits in the settings file: what was written is read back; a stored value that
// is not a number or out of range leaves its default, and is never written.
TEST(QualitySettings, RoundTripAndBadValuesGiveDefaults)
{
    irtest::ScopedDataRoot root;
    QualityLimits l;
    int frames = 0;
    ASSERT_TRUE(readQualityLimits(&l, &frames));
    EXPECT_EQ(qualityLimitsText(l), qualityLimitsText(QualityLimits()));
    EXPECT_EQ(frames, kDefaultQualityFrames);

    const QualityLimits mine{0.35, 1.25, 99.95, 2, 1, 4.5};
    ASSERT_TRUE(writeQualityLimits(mine, 64));
    ASSERT_TRUE(readQualityLimits(&l, &frames));
    EXPECT_EQ(qualityLimitsText(l), qualityLimitsText(mine));
    EXPECT_EQ(frames, 64);
    EXPECT_EQ(QFileInfo(SettingsStore::settingsPath()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0)
        << "the file holds the camera password";

    EXPECT_FALSE(writeQualityLimits(mine, 129));
    {
        QSettings s(SettingsStore::settingsPath(), QSettings::IniFormat);
        s.setValue("QualityNonuniformity", "abc");
        s.setValue("QualityCorrectability", "-0.5");
        s.setValue("QualityOperability", "100.5");
        s.setValue("QualityCluster", "2.5");
        s.setValue("QualityOutliers", "-1");
        s.setValue("QualityNoise", "nan");
        s.setValue("QualityFrames", "1");
    }
    ASSERT_TRUE(readQualityLimits(&l, &frames));
    EXPECT_EQ(qualityLimitsText(l), qualityLimitsText(QualityLimits()));
    EXPECT_EQ(frames, kDefaultQualityFrames);
}

} // namespace
