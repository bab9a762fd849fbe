#include "CDevice.h"
#include "CFramePacker.h"
#include "CModuleInfoDecoder.h"
#include "CameraInfoDataManager.h"
#include "DataExchange.h"
#include "Presets.h"
#include "SimLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Signals of the manager in the order they arrived. The context object queues
// them to this thread: the manager emits from its workers.
class SignalRecorder {
public:
    explicit SignalRecorder(CameraInfoDataManager* mgr)
    {
        m_conns << QObject::connect(mgr, &CameraInfoDataManager::signalConnectPostEventFinish, &m_ctx,
                                    [this] { events << "finish"; });
        m_conns << QObject::connect(mgr, &CameraInfoDataManager::signalSetShowInfo, &m_ctx, [this] { events << "show"; });
        m_conns << QObject::connect(mgr, &CameraInfoDataManager::signalInteractRunning, &m_ctx,
                                    [this](bool b) { events << (b ? "running" : "idle"); });
    }
    ~SignalRecorder()
    {
        for (const auto& c : m_conns)
            QObject::disconnect(c);
    }
    // Processes events until "idle" arrived `count` times or the time runs out.
    bool waitIdle(int count = 1, int timeoutMs = 20000)
    {
        QElapsedTimer t;
        t.start();
        while (events.count("idle") < count && t.elapsed() < timeoutMs)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return events.count("idle") >= count;
    }
    QStringList events;

private:
    QObject m_ctx;
    QList<QMetaObject::Connection> m_conns;
};

struct Expected {
    std::string sensorId;
    std::string serial;
};

// A register reply is 11 bytes: 5 header bytes, at most 4 payload bytes, CHK, 0xFF.
constexpr size_t kShortPayloadMax = 4;

std::string rawText(const std::vector<uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.begin() + std::min(bytes.size(), kShortPayloadMax));
}

std::string moduleHex(const irsim::Identity& id, int form)
{
    std::string out;
    const int n = form == 0 ? 2 : 5;
    const uint8_t* bytes = form == 0 ? id.module + 1 : id.module;
    for (int i = 0; i < n; ++i) {
        char buf[4];
        std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
        out += buf;
    }
    return out;
}

class IdentifyDevice : public ::testing::Test {
protected:
    void SetUp() override
    {
        mgr = CameraInfoDataManager::instance();
        mgr->onDisconnectCameraInfoManagerPostEvent();
    }
    void TearDown() override { mgr->onDisconnectCameraInfoManagerPostEvent(); }

    CameraInfoDataManager* mgr = nullptr;
};

TEST_F(IdentifyDevice, EveryPresetOverForm1)
{
    for (const irsim::Identity& id : irsim::identityPresets()) {
        SCOPED_TRACE(id.name);
        irtest::SimLink sim(id.name, 1);
        ASSERT_TRUE(sim.ok()) << sim.error();
        mgr->setDeviceForm(1);
        mgr->onDisconnectCameraInfoManagerPostEvent();
        mgr->identifyNow();

        EXPECT_TRUE(mgr->isIdentified());
        EXPECT_EQ(mgr->moduleInfo().toStdString(), moduleHex(id, 1));
        EXPECT_EQ(mgr->sensorTypeCode(), id.sensorType);
        EXPECT_EQ(mgr->coreClass(), id.coreClass);
        EXPECT_EQ(mgr->frameSize(), QSize(id.width, id.height));
        EXPECT_EQ(mgr->readError(), 0);
        EXPECT_EQ(mgr->versions(),
                  QStringList({"1.2.3", "20241105", "2.0.1", "20240920", "20240301", "20231212"}));
        if (id.sensorType == 5) {
            EXPECT_EQ(mgr->sensorId().toStdString(), rawText(id.rawSensorId));
            EXPECT_EQ(mgr->serialNumber().toStdString(), rawText(id.rawSerial));
        } else {
            char serial[32];
            std::snprintf(serial, sizeof serial, "%x", id.serialNumber);
            EXPECT_EQ(mgr->serialNumber().toStdString(), serial);
        }
    }
}

TEST_F(IdentifyDevice, KnownSensorIdTexts)
{
    const struct { const char* preset; const char* id; } cases[] = {
        {"default", "20240815"}, {"type0", "a000012345"}, {"type2", "777a0b"},
        {"type4", "IRB0123"},    {"type5", "S5A1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.preset);
        irtest::SimLink sim(c.preset, 1);
        ASSERT_TRUE(sim.ok()) << sim.error();
        mgr->setDeviceForm(1);
        mgr->identifyNow();
        EXPECT_EQ(mgr->sensorId(), QString::fromLatin1(c.id));
    }
}

TEST_F(IdentifyDevice, Form0ReadsTwoBytesFromShortRegisterOne)
{
    irtest::SimLink sim("default", 0);
    ASSERT_TRUE(sim.ok()) << sim.error();
    mgr->setDeviceForm(0);
    mgr->identifyNow();
    EXPECT_EQ(mgr->moduleInfo(), "1022");
    EXPECT_EQ(mgr->sensorTypeCode(), 1);
    EXPECT_FLOAT_EQ(mgr->frameRate(), 50.0f);
    EXPECT_EQ(mgr->frameRateVariant(), 0);
    EXPECT_EQ(mgr->resolutionIndex(), 2);
    EXPECT_EQ(mgr->outputType(), 0);
    EXPECT_EQ(mgr->coreFamily(), 0);

    // Two bytes cannot carry a core class: a class-3 core reads as class 0 in form 0.
    irtest::SimLink sim3("class3", 0);
    ASSERT_TRUE(sim3.ok()) << sim3.error();
    mgr->identifyNow();
    EXPECT_EQ(mgr->moduleInfo(), "2271");
    EXPECT_EQ(mgr->coreClass(), 0);
    EXPECT_FALSE(mgr->isCoreClass3or4());
}

TEST_F(IdentifyDevice, Forms2And3SendNoModuleRequest)
{
    const unsigned char* req1 = CFramePacker::instance()->packReadShort(1);
    const std::vector<uint8_t> read1(req1, req1 + 7);
    const unsigned char* req6 = CFramePacker::instance()->packReadShort(6);
    const std::vector<uint8_t> read6(req6, req6 + 7);
    for (int form : {2, 3}) {
        SCOPED_TRACE(form);
        irtest::SimLink sim("default", form);
        ASSERT_TRUE(sim.ok()) << sim.error();
        mgr->setDeviceForm(form);
        mgr->onDisconnectCameraInfoManagerPostEvent();
        sim.camera().core().clearLog();
        mgr->identifyNow();
        int moduleRequests = 0;
        const auto log = sim.camera().core().requestLog();
        for (const auto& frame : log) {
            const std::vector<uint8_t> head(frame.begin(), frame.begin() + std::min<size_t>(7, frame.size()));
            if (head == read1 || head == read6)
                ++moduleRequests;
        }
        EXPECT_EQ(moduleRequests, 0);
        EXPECT_GE(log.size(), 9u); // sensor ID, versions and serial still asked
        EXPECT_TRUE(mgr->moduleInfo().isEmpty());
        EXPECT_EQ(mgr->sensorTypeCode(), 7);
        EXPECT_EQ(mgr->sensorId(), "20240815");
        EXPECT_EQ(mgr->frameSize(), QSize(384, 288)); // default resolution index 1
    }
}

TEST_F(IdentifyDevice, DeviceFormIndexOutsideOneToThreeIsZero)
{
    const int cases[][2] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 0}, {-1, 0}, {99, 0}};
    for (const auto& c : cases) {
        mgr->setDeviceForm(c[0]);
        EXPECT_EQ(mgr->deviceForm(), c[1]) << c[0];
    }
}

TEST_F(IdentifyDevice, HostileNamesAreSanitisedForPaths)
{
    irtest::SimLink sim("hostile", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    mgr->setDeviceForm(1);
    mgr->identifyNow();
    // The raw text stays available for display.
    EXPECT_EQ(mgr->sensorId(), QString::fromLatin1("../\x1b"));
    EXPECT_EQ(mgr->serialNumber(), QString::fromLatin1("..\x01/"));
    const QDir root(QDir::tempPath() + "/irbench-root");
    for (const QString& safe : {mgr->safeSensorId(), mgr->safeSerialNumber()}) {
        SCOPED_TRACE(safe.toStdString());
        EXPECT_FALSE(safe.isEmpty());
        EXPECT_FALSE(safe.contains('/'));
        EXPECT_FALSE(safe.contains('\\'));
        EXPECT_NE(safe, "..");
        EXPECT_NE(safe, ".");
        for (QChar c : safe)
            EXPECT_GE(c.unicode(), 0x20);
        const QString path = QDir::cleanPath(root.path() + "/" + safe + "/Raw");
        EXPECT_TRUE(path.startsWith(root.path() + "/" + safe)) << path.toStdString();
        EXPECT_EQ(QFileInfo(QDir::cleanPath(root.path() + "/" + safe)).absolutePath(), root.path());
    }
}

TEST_F(IdentifyDevice, ThreadedIdentificationSignalsAndStoresOnce)
{
    irtest::SimLink sim("class4", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    mgr->setDeviceForm(1);
    SignalRecorder rec(mgr);
    mgr->onConnectCameraInfoManagerPostEvent();
    mgr->onConnectCameraInfoManagerPostEvent(); // second request while running: ignored
    ASSERT_TRUE(rec.waitIdle());
    // Let a wrongly started second identification show itself.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(rec.events, QStringList({"running", "finish", "show", "idle"}));
    EXPECT_EQ(mgr->coreClass(), 4);
    EXPECT_TRUE(mgr->isCoreClass3or4());
    EXPECT_EQ(mgr->serialNumber(), "c0000004");
}

TEST_F(IdentifyDevice, SilentSensorIdKeepsPreviousAndSetsReadError)
{
    irtest::SimLink sim("default", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    mgr->setDeviceForm(1);
    mgr->identifyNow();
    ASSERT_EQ(mgr->sensorId(), "20240815");

    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("noreply@0xF0E4", &rule, nullptr));
    sim.camera().faults().add(rule);
    SignalRecorder rec(mgr);
    mgr->identifyNow();
    EXPECT_EQ(mgr->readError(), 0x10001);
    EXPECT_EQ(mgr->sensorId(), "20240815"); // not "2024" + zeros
    EXPECT_EQ(rec.events, QStringList({"running", "finish", "show", "idle"}));

    mgr->onDisconnectCameraInfoManagerPostEvent();
    EXPECT_EQ(mgr->readError(), 0);
    EXPECT_TRUE(mgr->sensorId().isEmpty());
}

TEST_F(IdentifyDevice, SilentModuleReadKeepsPreviousDecode)
{
    irtest::SimLink sim("class1", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    mgr->setDeviceForm(1);
    mgr->identifyNow();
    ASSERT_EQ(mgr->coreClass(), 1);
    ASSERT_EQ(mgr->moduleInfo(), "0a22510105");

    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("noreply@short:0x06", &rule, nullptr));
    sim.camera().faults().add(rule);
    mgr->identifyNow();
    EXPECT_EQ(mgr->moduleInfo(), "0a22510105");
    EXPECT_EQ(mgr->coreClass(), 1);
    EXPECT_EQ(mgr->frameSize(), QSize(384, 288));
    EXPECT_EQ(mgr->readError(), 0x10002);
    EXPECT_EQ(mgr->sensorId(), "c100100001") << "stopped there: the earlier sensor ID stays";
}

TEST_F(IdentifyDevice, SilentVersionStopsTheIdentificationNamingTheRegister)
{
    irtest::SimLink sim("default", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    for (const char* f : {"noreply@0xF031", "noreply@0xF032", "noreply@short:0x0e", "noreply@short:0x84"}) {
        irsim::FaultRule rule;
        ASSERT_TRUE(irsim::FaultRule::parse(f, &rule, nullptr)) << f;
        sim.camera().faults().add(rule);
    }
    mgr->setDeviceForm(1);
    mgr->identifyNow();
    // Going on would take the silent read's late answer for the next field's.
    EXPECT_EQ(mgr->readError(), 0x10003);
    EXPECT_TRUE(mgr->readErrorText().contains("0xF031")) << mgr->readErrorText().toStdString();
    EXPECT_EQ(mgr->versions(), CModuleInfoDecoder::defaultVersions());
    EXPECT_TRUE(mgr->serialNumber().isEmpty());
    EXPECT_EQ(mgr->sensorId(), "20240815") << "read before the silent register";
}

TEST_F(IdentifyDevice, ForgetDuringIdentificationDropsItsResults)
{
    irtest::SimLink sim("default", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    // Slow version reads keep the second stage busy while the core is forgotten.
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("delay=100@0xF031", &rule, nullptr));
    sim.camera().faults().add(rule);
    mgr->setDeviceForm(1);
    SignalRecorder rec(mgr);
    QObject::connect(mgr, &CameraInfoDataManager::signalConnectPostEventFinish, mgr,
                     [this] { mgr->onDisconnectCameraInfoManagerPostEvent(); }, Qt::SingleShotConnection);
    mgr->onConnectCameraInfoManagerPostEvent();
    ASSERT_TRUE(rec.waitIdle());
    EXPECT_FALSE(mgr->isIdentified());
    EXPECT_TRUE(mgr->serialNumber().isEmpty());
    EXPECT_TRUE(mgr->sensorId().isEmpty());
    EXPECT_EQ(mgr->versions()[0], "0.0.0");
    EXPECT_EQ(mgr->versions()[1], "20170101");
}

TEST_F(IdentifyDevice, NoLinkFailsQuicklyAndReportsReadError)
{
    ASSERT_EQ(CDevice::Current(), nullptr);
    mgr->setDeviceForm(1);
    SignalRecorder rec(mgr);
    mgr->identifyNow();
    EXPECT_TRUE(mgr->isIdentified()); // set when identification starts
    EXPECT_EQ(mgr->readError(), 0x10002) << "stopped at the first read, the module block";
    EXPECT_TRUE(mgr->sensorId().isEmpty());
    EXPECT_TRUE(mgr->moduleInfo().isEmpty());
    EXPECT_EQ(mgr->sensorTypeCode(), 7);
    EXPECT_EQ(rec.events, QStringList({"running", "finish", "show", "idle"}));
}

TEST(FrameStatus, CopiedInAndOut)
{
    CameraInfoDataManager* mgr = CameraInfoDataManager::instance();
    FrameAddInfo in;
    in.tFPA = 31.25f;
    in.tBoard = 40.5f;
    in.TEC = 3;
    in.LBV = 0xBEEF;
    mgr->setFrameAddInfo(in);
    mgr->onDisconnectCameraInfoManagerPostEvent(); // forgetting keeps the frame record
    const FrameAddInfo out = mgr->frameAddInfo();
    EXPECT_FLOAT_EQ(out.tFPA, 31.25f);
    EXPECT_FLOAT_EQ(out.tBoard, 40.5f);
    EXPECT_EQ(out.TEC, 3);
    EXPECT_EQ(out.LBV, 0xBEEF);
}

} // namespace

// The operator disconnects while the old core's identification is still reading its
// versions and connects again at once: the new identification must run and reveal
// the core, not be taken for the old one that is about to end.
TEST_F(IdentifyDevice, NewIdentificationIsNotSwallowedByOneOfAForgottenCore)
{
    irtest::SimLink sim("default", 1);
    ASSERT_TRUE(sim.ok()) << sim.error();
    irsim::FaultRule slow;
    std::string err;
    ASSERT_TRUE(irsim::FaultRule::parse("noreply@0xF031", &slow, &err)) << err;
    const int id = sim.camera().faults().add(slow);
    mgr->setDeviceForm(1);
    SignalRecorder rec(mgr);
    mgr->onConnectCameraInfoManagerPostEvent();
    QElapsedTimer t;
    t.start();
    while (!rec.events.contains("finish") && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    ASSERT_TRUE(rec.events.contains("finish")); // stage two now waits on 0xF031
    mgr->onDisconnectCameraInfoManagerPostEvent();
    sim.camera().faults().remove(id);
    rec.events.clear();
    mgr->onConnectCameraInfoManagerPostEvent();
    ASSERT_TRUE(rec.waitIdle()) << rec.events.join(',').toStdString();
    EXPECT_EQ(rec.events.count("finish"), 1) << rec.events.join(',').toStdString();
    EXPECT_EQ(rec.events.count("idle"), 1) << "the forgotten core's identification ends silently";
    EXPECT_TRUE(mgr->isIdentified());
    EXPECT_EQ(mgr->sensorId(), "20240815");
}
