// Both FPA runs against the virtual camera over its network front: a drift sweep on a
// ramping FPA from sampling to coefficients in the flash model (with a failed write
// resumed), the coefficients against the camera's own drift polynomial, and
// stabilisation collections on a rising and a falling FPA with the registers they send.
#include "CNetConnect.h"
#include "CalibrationRuns.h"
#include "CComonFun.h"
#include "CFindFrame.h"
#include "LiveCamera.h"
#include "StableFpaData.h"
#include "TempDriftData.h"
#include "TestSupport.h"
#include "TransferRig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

namespace {

class LiveRun : public ::testing::Test {
protected:
    void start(const char* preset, double fpa, int sensorType, int coreClass, int w, int h)
    {
        irsim::CameraOptions o = irtest::liveOptions();
        o.preset = preset;
        o.stream.scene.fpaTempC = fpa;
        const std::string err = irtest::startLiveCamera(&cam, &net, o);
        ASSERT_TRUE(err.empty()) << err;
        // The layout the identification of this core gives.
        net.SetFrameLayout(
            [=] {
                AddInfoLayout l;
                l.sensorType = sensorType;
                l.coreClass = coreClass;
                l.coreWidth = w;
                l.coreHeight = h;
                return l;
            },
            {});
        ASSERT_TRUE(net.StartStream());
        ASSERT_TRUE(irtest::waitFor([&] { return net.FrameBuffer() && net.FrameBuffer()->HasFrame(); }, 5000));
    }
    void TearDown() override { irtest::stopLiveCamera(cam.get(), &net); }
    // A run with D = 5 from collection 0 on this camera's stream.
    StableJob stableJob(const QString& dir, std::atomic<bool>* running, std::atomic<bool>* judging)
    {
        StableJob job;
        job.frames = net.FrameBuffer();
        job.stableDir = dir;
        job.diff = 5;
        job.running = running;
        job.judging = judging;
        return job;
    }

    std::unique_ptr<irsim::VirtualCamera> cam;
    CNetConnect net;
};

double percentile99(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[size_t(double(v.size() - 1) * 0.99)];
}

TEST_F(LiveRun, DriftSweepSamplesOutsideTheBandFitsAndWritesEveryFile)
{
    start("drift4", 22.0, 4, 0, 160, 120);
    QTemporaryDir tmp;
    const QString data = tempdrift::dataDir(tmp.path());
    const QString ret = tempdrift::retDir(tmp.path());
    std::atomic<bool> running{true};
    DriftSamplingJob job;
    job.frames = net.FrameBuffer();
    job.dataDir = data;
    job.clear = true;
    job.step = 10; // 0.1 degree in hundredths
    job.frameCount = 16;
    job.running = &running;
    std::vector<float> sampled;
    QString failure;
    std::mutex lock;
    DriftSamplingHooks hooks;
    hooks.sampled = [&](int, float t, int) {
        std::lock_guard<std::mutex> g(lock);
        sampled.push_back(t);
    };
    hooks.failed = [&](const QString& text) { failure = text; };
    // 22 -> 28 degrees at 12 degrees a minute of real time (0.12 nominal at scale 0.01):
    // about 35 samples below the band and 15 above it.
    cam->stream()->rampFpaTo(28.0, 0.12);
    std::thread worker([&] { runDriftSampling(job, hooks); });
    const bool reached = irtest::waitFor([&] { return cam->stream()->currentFpa() >= 28.0; }, 60000);
    // The last sample once the FPA holds at the target.
    irtest::waitFor([&] {
        std::lock_guard<std::mutex> g(lock);
        return !sampled.empty() && sampled.back() >= 2780.f;
    }, 5000);
    running = false;
    worker.join();
    ASSERT_TRUE(reached);
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    // Short register 0x13 = 0 before the first sample's frames.
    const auto regs = cam->stream()->driftRegisters();
    ASSERT_FALSE(regs.empty());
    EXPECT_TRUE(regs.front().isShort && regs.front().address == 0x13 && regs.front().value == 0);
    ASSERT_GE(sampled.size(), 30u);
    ASSERT_LE(sampled.size(), 60u);
    for (float t : sampled)
        EXPECT_TRUE(t < 2550.f || t > 2650.f || t == sampled.front()) << t;
    EXPECT_EQ(irtest::readAll(tempdrift::temperatureFile(data)).size(), qsizetype(sampled.size() * 2));

    const tempdrift::FitOutcome fit = tempdrift::fitSamples(data, ret, 3, 160, 120);
    ASSERT_EQ(fit.status, tempdrift::FitOutcome::Written) << fit.text.toStdString();
    ASSERT_EQ(fit.total, 8);
    EXPECT_EQ(fit.saturated, 0);

    // The known polynomial: the noise-free picture at each sample temperature, fitted
    // the same way without truncation, against the stored coefficients of segment 0.
    const std::vector<driftfit::Segment> segs = driftfit::splitSegments(fit.temperatures, 2650);
    ASSERT_GE(segs[0].size(), 5);
    const driftfit::SegmentAxis axis = driftfit::segmentAxis(fit.temperatures.data(), segs[0].size(), 3);
    const driftfit::FitOperator op = driftfit::makeOperator(axis.x, 5);
    ASSERT_GT(op.rows, 0);
    std::vector<std::vector<double>> truth;
    for (int i = 0; i < op.rows; ++i)
        truth.push_back(cam->stream()->expectedImage(double(fit.temperatures[size_t(i)]) / 100.0));
    const size_t pixels = truth[0].size();
    ASSERT_EQ(pixels, size_t(160 * 118)); // the info rows' coefficients are 0
    // c1, c2, c3, c4 x 10 in counts, 99 % of the pixels: 3 counts of noise a frame, 16
    // frames a sample, 35 samples, then truncation (measured 1.9, 1.7, 0, 8).
    const double tolerance[4] = {2.5, 2.5, 1.5, 12.0};
    for (int j = 0; j < 4; ++j) {
        const QByteArray file = irtest::readAll(tempdrift::coefficientFile(ret, j));
        ASSERT_EQ(file.size(), qsizetype(160 * 120 * 2 + 8));
        std::vector<double> err;
        for (size_t p = 0; p < pixels; ++p) {
            double c = 0;
            for (int i = 0; i < op.rows; ++i)
                c += op.pinv[size_t(j + 1) * size_t(op.rows) + size_t(i)] * truth[size_t(i)][p];
            if (j == 3)
                c *= 10;
            err.push_back(std::fabs(qFromLittleEndian<int16_t>(file.constData() + 2 * p) - c));
        }
        const double e99 = percentile99(err);
        std::printf("drift fit c%d: 99%% of pixels within %.2f counts of the truth\n", j + 1, e99);
        EXPECT_LE(e99, tolerance[j]) << "array " << j;
    }

    // Into the flash model; the sixth file's third block fails, "烧录" resumes from there.
    irsim::FaultRule rule;
    std::string why;
    ASSERT_TRUE(irsim::FaultRule::parse("zero@block:0xEE#" + std::to_string(5 * 39 + 3), &rule, &why)) << why;
    cam->faults().add(rule);
    transfertest::RecordingContext ctx;
    int written = 0;
    QString detail;
    EXPECT_EQ(tempdrift::writeCoefficientFiles(ctx, ret, 0, 8, &written, {}, &detail), tempdrift::WriteBlock);
    EXPECT_EQ(written, 5);
    EXPECT_EQ(tempdrift::writeCoefficientFiles(ctx, ret, written, 8, &written, {}, &detail), tempdrift::WriteOk);
    EXPECT_EQ(written, 8);
    for (int k = 0; k < 8; ++k) {
        const QByteArray file = irtest::readAll(tempdrift::coefficientFile(ret, k));
        const auto flash = cam->core().readFlash(tempdrift::fileAddress(k), size_t(file.size()));
        EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(flash.data()), int(flash.size())), file) << k;
    }
}

struct StableRecorder {
    std::mutex lock;
    std::vector<int> numbers;
    std::vector<double> temps;
    std::vector<double> watched;
    QString failure;
    QString warning;
    StableHooks hooks()
    {
        StableHooks h;
        h.collected = [this](int k, double t, int) {
            std::lock_guard<std::mutex> g(lock);
            numbers.push_back(k);
            temps.push_back(t);
        };
        h.watched = [this](double, double t) {
            std::lock_guard<std::mutex> g(lock);
            watched.push_back(t);
        };
        h.failed = [this](const QString& t) { failure = t; };
        h.warning = [this](const QString& t) { warning = t; };
        return h;
    }
    size_t collections()
    {
        std::lock_guard<std::mutex> g(lock);
        return numbers.size();
    }
    int seen(double t)
    {
        std::lock_guard<std::mutex> g(lock);
        return int(std::count(watched.begin(), watched.end(), t));
    }
};

TEST_F(LiveRun, StabilisationCollectsOnRiseAndFallButNotOnAChangeOfExactlyD)
{
    start("drift4", 30.0, 4, 0, 160, 120);
    QTemporaryDir tmp;
    const QString stable = tmp.filePath("CORE/StableFPA");
    QStringList lines;
    for (int i = 0; i < 130; ++i)
        lines << QStringLiteral("line%1").arg(i);
    ASSERT_TRUE(CComonFun::makePath(tmp.filePath("info")));
    ASSERT_TRUE(CComonFun::writeFile(tmp.filePath("info/background_info.dat"), lines.join('\n').toUtf8()));
    std::atomic<bool> running{true}, judging{true};
    StableJob job = stableJob(stable, &running, &judging);
    job.clear = true;
    StableRecorder rec;
    const StableHooks hooks = rec.hooks();
    std::thread worker([&] { runStableJudging(job, hooks); });
    EXPECT_TRUE(irtest::waitFor([&] { return rec.collections() == 1; }, 10000));
    cam->stream()->holdFpa(30.05); // exactly D
    EXPECT_TRUE(irtest::waitFor([&] { return rec.seen(3005) >= 5; }, 10000));
    EXPECT_EQ(rec.collections(), 1u);
    cam->stream()->holdFpa(30.06);
    EXPECT_TRUE(irtest::waitFor([&] { return rec.collections() == 2; }, 10000));
    cam->stream()->holdFpa(29.90);
    EXPECT_TRUE(irtest::waitFor([&] { return rec.collections() == 3; }, 10000));
    running = false;
    worker.join();
    ASSERT_TRUE(rec.failure.isEmpty()) << rec.failure.toStdString();
    EXPECT_TRUE(rec.warning.isEmpty());
    EXPECT_EQ(rec.numbers, (std::vector<int>{0, 1, 2}));

    const QString data = stablefpa::dataDir(stable);
    const QByteArray info = irtest::readAll(stablefpa::infoFile(data));
    EXPECT_FALSE(info.endsWith('\n'));
    const QList<QByteArray> got = info.split('\n');
    ASSERT_EQ(got.size(), 130);
    const char* temps[] = {"3000", "3006", "2990"};
    for (int k = 0; k < 3; ++k) {
        const QByteArray img = irtest::readAll(stablefpa::imageFile(data, k));
        ASSERT_EQ(img.size(), 160 * 118 * 2) << k;
        uint64_t sum = 0;
        for (int p = 0; p < 160 * 118; ++p)
            sum += qFromLittleEndian<uint16_t>(img.constData() + 2 * p);
        EXPECT_EQ(got[49 + k], temps[k]);
        EXPECT_EQ(got[89 + k], QByteArray::number(qulonglong(sum / (160 * 118)))) << k;
    }
    for (int i : {0, 48, 52, 88, 92, 129})
        EXPECT_EQ(got[i], QByteArray("line") + QByteArray::number(i));
    // Class 0: only the collection numbers, in order.
    std::vector<uint32_t> f050;
    for (const auto& e : cam->stream()->driftRegisters()) {
        EXPECT_NE(e.address, 0x201048u);
        if (e.address == 0xF050)
            f050.push_back(e.value);
    }
    EXPECT_EQ(f050, (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(LiveRun, StabilisationOfClassOneSwitchesTheCoreAroundEachCollection)
{
    start("class1", 30.0, 2, 1, 384, 288);
    QTemporaryDir tmp;
    const QString stable = tmp.filePath("CORE/StableFPA");
    std::atomic<bool> running{true}, judging{true};
    StableJob job = stableJob(stable, &running, &judging);
    job.startNumber = 5;
    job.coreClass = 1;
    StableRecorder rec;
    const StableHooks hooks = rec.hooks();
    std::thread worker([&] { runStableJudging(job, hooks); });
    EXPECT_TRUE(irtest::waitFor([&] { return rec.collections() == 1; }, 10000));
    running = false;
    worker.join();
    // No template: images only, and the operator is told at the start.
    EXPECT_FALSE(rec.warning.isEmpty());
    EXPECT_TRUE(QFile::exists(stablefpa::imageFile(stablefpa::dataDir(stable), 5)));
    const auto regs = cam->stream()->driftRegisters();
    std::vector<std::pair<uint32_t, uint32_t>> order;
    for (const auto& e : regs)
        order.emplace_back(e.address, e.value);
    EXPECT_EQ(order, (std::vector<std::pair<uint32_t, uint32_t>>{
                         {0x201048, 1}, {0x201048, 2}, {0x201048, 1}, {0xF050, 5}}));
    // The 32 frames of the collection came between the two state writes around it.
    ASSERT_EQ(regs.size(), 4u);
    EXPECT_GE(regs[2].frame - regs[1].frame, 32u);
}

TEST_F(LiveRun, StabilisationStopsOnAFailedCaptureOrACollectionOutsideTheRecord)
{
    start("class1", 30.0, 2, 1, 384, 288);
    QTemporaryDir tmp;
    const QString stable = tmp.filePath("CORE/StableFPA");
    ASSERT_TRUE(CComonFun::makePath(tmp.filePath("info")));
    QStringList lines;
    for (int i = 0; i < 130; ++i)
        lines << QString::number(i);
    ASSERT_TRUE(CComonFun::writeFile(tmp.filePath("info/background_info.dat"), lines.join('\n').toUtf8()));
    std::atomic<bool> running{true}, judging{true};

    // Collection 40 would write its temperature into the mean block: nothing is taken.
    StableJob job = stableJob(stable, &running, &judging);
    job.startNumber = 40;
    job.coreClass = 1;
    // On a worker, as the page runs it.
    auto runOnWorker = [&job](StableRecorder& r) {
        int taken = -1;
        const StableHooks hooks = r.hooks();
        std::thread t([&] { taken = runStableJudging(job, hooks); });
        t.join();
        return taken;
    };
    StableRecorder rec;
    EXPECT_EQ(runOnWorker(rec), 0);
    EXPECT_TRUE(rec.failure.contains(QStringLiteral("采集编号 40"))) << rec.failure.toStdString();
    EXPECT_FALSE(QFile::exists(stablefpa::imageFile(stablefpa::dataDir(stable), 40)));

    // The stream stops: the capture fails, the core is set back to 1, no number is sent.
    job.startNumber = 3;
    net.FrameBuffer()->SetCaptureStallMs(200);
    ASSERT_TRUE(net.StopStream());
    StableRecorder rec2;
    EXPECT_EQ(runOnWorker(rec2), 0);
    EXPECT_FALSE(rec2.failure.isEmpty());
    std::vector<std::pair<uint32_t, uint32_t>> order;
    for (const auto& e : cam->stream()->driftRegisters())
        order.emplace_back(e.address, e.value);
    EXPECT_EQ(order, (std::vector<std::pair<uint32_t, uint32_t>>{
                         {0x201048, 1}, {0x201048, 1}, {0x201048, 2}, {0x201048, 1}}));
    EXPECT_FALSE(QFile::exists(stablefpa::imageFile(stablefpa::dataDir(stable), 3)));
    EXPECT_EQ(irtest::readAll(stablefpa::infoFile(stablefpa::dataDir(stable))), lines.join('\n').toUtf8());
}

} // namespace
