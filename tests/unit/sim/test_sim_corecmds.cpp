// The core's own commands as a host meets them: completion replies, answer delays
// inside the host's poll window, the gain tables the core computes, the shutter
// correction, the bad-pixel table region and the control interface.
#include "SimControl.h"
#include "SimTestUtil.h"
#include "TestSupport.h"
#include "VirtualCamera.h"

#include "StreamPacket.h"

#include <gtest/gtest.h>

#include <functional>
#include <cmath>
#include <set>

using namespace simtest;

namespace {

using PeerPtr = std::shared_ptr<RecordingPeer>;

void send(irsim::CoreModel& core, const PeerPtr& peer, const Bytes& req)
{
    core.receive(peer, req.data(), req.size());
}

// A register whose reads the core answers `delayMs` (nominal, scaled like its own
// delays) late. Its timer sends in due-time order: what came before this reply is all
// the core had sent by then.
struct Mark {
    Mark(irsim::CoreModel& c, uint32_t r, int delayMs)
        : core(c)
        , reg(r)
        , fault(c.faults().add({irsim::FaultRule::Kind::Delay, delayMs, irsim::FaultRule::Target::Register, r}))
    {
        c.setLongRegister(r, r);
    }
    ~Mark() { core.faults().remove(fault); }
    bool is(const Bytes& chunk) const { return valueOf(chunk) == reg; }
    // Sends the read and returns what came before its reply (nothing if it never came).
    std::vector<Bytes> before(const PeerPtr& peer) const
    {
        send(core, peer, longRead(reg));
        if (!irtest::waitFor([&] { const auto c = peer->chunks(); return !c.empty() && is(c.back()); }))
            return {};
        auto chunks = peer->chunks();
        chunks.pop_back();
        return chunks;
    }
    irsim::CoreModel& core;
    const uint32_t reg;
    const int fault;
};

// The chunks a write brings before a read answered after any completion reply.
std::vector<Bytes> repliesTo(irsim::CoreModel& core, const PeerPtr& peer, const Bytes& req, const Mark& late)
{
    peer->takeAll();
    send(core, peer, req);
    return late.before(peer);
}

struct Host {
    irsim::CoreModel& core;
    std::shared_ptr<RecordingPeer> peer = std::make_shared<RecordingPeer>();

    uint32_t value(const Bytes& req) { return valueOf(transact(core, peer, req)); }
    Bytes payload(const Bytes& req) { return payloadOf(transact(core, peer, req)); }

    // A one-key step: acknowledgement, then the completion reply's value (-1: none).
    // `whileWaiting` runs right after the acknowledgement.
    int oneKey(uint32_t value, const std::function<void()>& whileWaiting = {})
    {
        peer->takeAll();
        const Bytes req = longWrite(0xF023, value);
        core.receive(peer, req.data(), req.size());
        if (whileWaiting)
            whileWaiting();
        if (!peer->waitChunks(2, 5000))
            return -1;
        const auto chunks = peer->chunks();
        EXPECT_EQ(valueOf(chunks[0]), 1u) << "acknowledged at once";
        return int(valueOf(chunks[1]));
    }

    // The bad-pixel page's table write: enter, confirm, address, size, blocks, end,
    // reload, exit. True when every step was acknowledged.
    bool writeTable(uint32_t address, const Bytes& data)
    {
        if (value(longWrite(0xF0E0, 1)) != 1 || value(longWrite(0xF0E1, 1)) != 1)
            return false;
        if (value(blockFrame(0xE3, be32(address))) != 1 || value(blockFrame(0xE4, be32(uint32_t(data.size())))) != 1)
            return false;
        for (size_t at = 0; at < data.size(); at += 1000) {
            const size_t n = std::min<size_t>(1000, data.size() - at);
            if (value(blockFrame(0xEE, Bytes(data.begin() + at, data.begin() + at + n))) != 1)
                return false;
        }
        return value(blockFrame(0xE5)) == 1 && value(blockFrame(0xEC, {1})) == 1 && value(blockFrame(0xE6)) == 1;
    }

    // Read-back of a data set: enter, confirm, E8 selector, E9 length, EA blocks, EB,
    // E6. False when a step fails or a block comes back empty before the end.
    bool readSet(uint8_t selector, Bytes* out)
    {
        out->clear();
        if (value(longWrite(0xF0E0, 1)) != 1 || value(longWrite(0xF0E1, 1)) != 1)
            return false;
        if (value(blockFrame(0xE8, {selector})) != 1)
            return false;
        const Bytes len = payload(blockFrame(0xE9));
        if (len.size() != 4)
            return false;
        const uint32_t n = uint32_t(len[0]) << 24 | uint32_t(len[1]) << 16 | uint32_t(len[2]) << 8 | len[3];
        while (out->size() < n) {
            const Bytes chunk = payload(blockFrame(0xEA));
            if (chunk.empty())
                return false;
            out->insert(out->end(), chunk.begin(), chunk.end());
        }
        return value(blockFrame(0xEB)) == 1 && value(blockFrame(0xE6)) == 1 && out->size() == n;
    }
};

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 13 + (i >> 9));
    return b;
}

std::unique_ptr<irsim::VirtualCamera> startCamera(const char* preset, bool flat, double timeScale = 0.01)
{
    irsim::CameraOptions o;
    o.net.port = 0;
    o.preset = preset;
    o.timeScale = timeScale;
    o.stream.scene.flatField = flat;
    auto cam = std::make_unique<irsim::VirtualCamera>(o);
    std::string err;
    EXPECT_TRUE(cam->start(&err)) << err;
    return cam;
}

} // namespace

TEST(SimCoreCommands, CompletionRepliesOnlyForTheCoresOwnWork)
{
    irsim::CoreModel core;
    core.setTimeScale(0.01);
    core.setCompletionDelayMs(1500); // 15 ms here
    auto peer = std::make_shared<RecordingPeer>();
    const Mark late(core, 0xA5A5, 3000);

    // Capture, NVFFC and detection: acknowledgement, then completion.
    for (const auto& [reg, value] : {std::pair<uint32_t, uint32_t>{0xF023, 1}, {0xF023, 6}, {0xF026, 2}, {0xF03D, 0xD3}}) {
        const auto chunks = repliesTo(core, peer, longWrite(reg, value), late);
        ASSERT_EQ(chunks.size(), 2u) << std::hex << reg << "=" << value;
        EXPECT_EQ(valueOf(chunks[0]), 1u);
        EXPECT_EQ(chunks[1], irsim::writeReply(0xFE, 1));
    }
    // Cursor mode on the same register is an ordinary write: a second reply would be
    // taken for the answer to the host's next command.
    for (const auto& [reg, value] : {std::pair<uint32_t, uint32_t>{0xF03D, 15}, {0xF023, 0}, {0xF023, 7}}) {
        const auto chunks = repliesTo(core, peer, longWrite(reg, value), late);
        EXPECT_EQ(chunks.size(), 1u) << std::hex << reg << "=" << value;
    }
}

TEST(SimCoreCommands, DetectionV30AndShutterAnswerInsideTheHostsPollWindow)
{
    irsim::CoreModel core;
    core.setTimeScale(0.1); // V30 60 ms, shutter 30 ms; completion replies 150 ms
    auto peer = std::make_shared<RecordingPeer>();
    const Mark window(core, 0xA5A5, 2000); // the host waits 10 polls of 200 ms
    for (const auto& [reg, value, nominal] :
         {std::tuple<uint32_t, uint32_t, int>{0xF057, 1, 600}, {0x7003, 0, 300}}) {
        const Mark half(core, 0xA1A1, nominal / 2);
        peer->takeAll();
        send(core, peer, longRead(half.reg));
        send(core, peer, longWrite(reg, value));
        EXPECT_TRUE(peer->chunks().empty()) << std::hex << reg << ": not at once";
        const auto chunks = window.before(peer);
        ASSERT_EQ(chunks.size(), 2u) << std::hex << reg << ": one answer inside the window, no completion";
        EXPECT_TRUE(half.is(chunks[0])) << std::hex << reg << ": not before its delay";
        EXPECT_EQ(chunks[1], irsim::writeReply(0xFE, 1)) << std::hex << reg;
    }
    EXPECT_EQ(core.longRegister(0xF057), 1u);
}

TEST(SimCoreCommands, OneKeyCorrectionStoresTheCoresGainTable)
{
    auto cam = startCamera("res384", true);
    ASSERT_TRUE(cam && cam->stream());
    irsim::CoreModel& core = cam->core();
    Host host{core};
    const int w = 384, rows = 286;
    const size_t n = size_t(w) * size_t(rows);

    // Gains before both points: the core reports failure and stores nothing.
    EXPECT_EQ(host.oneKey(3), 0);
    EXPECT_FALSE(core.lastWrite(6).valid);

    cam->stream()->setSceneTemp(20.0);
    EXPECT_EQ(host.oneKey(1), 1);
    EXPECT_EQ(host.oneKey(4), 0) << "the high point is still missing";
    cam->stream()->setSceneTemp(60.0);
    EXPECT_EQ(host.oneKey(2), 1);
    // The core acknowledges before it works (a late acknowledgement would be taken
    // for the completion), and the table is there when it reports completion.
    core.setCompletionDelayMs(20000); // 200 ms here
    EXPECT_EQ(host.oneKey(4, [&] {
        EXPECT_EQ(host.peer->chunks().size(), 1u);
        EXPECT_FALSE(core.lastWrite(7).valid) << "not yet computed";
    }), 1); // TEC2

    const auto stored = core.lastWrite(7);
    ASSERT_TRUE(stored.valid);
    ASSERT_EQ(stored.size, n * 2);
    EXPECT_FALSE(core.lastWrite(6).valid) << "TEC1 untouched";
    const Bytes table = core.readFlash(0xD00000, n * 2);

    std::set<size_t> stuck;
    for (const auto& p : cam->stream()->deadPixels())
        stuck.insert(size_t(p.second) * size_t(w) + size_t(p.first));
    for (const auto& p : cam->stream()->hotPixels())
        stuck.insert(size_t(p.second) * size_t(w) + size_t(p.first));
    std::set<size_t> noisy;
    for (const auto& p : cam->stream()->noisyPixels())
        noisy.insert(size_t(p.second) * size_t(w) + size_t(p.first));
    const std::vector<float> gains = cam->stream()->pixelGains();
    ASSERT_EQ(gains.size(), n);
    for (size_t i = 0; i < n; ++i) {
        const unsigned k = unsigned(table[2 * i]) << 8 | table[2 * i + 1];
        if (stuck.count(i)) {
            EXPECT_TRUE(k == 25000 || k == 45000) << "pixel " << i << " K " << k;
            continue;
        }
        // The core's gain undoes the pixel's own response.
        ASSERT_NEAR(double(k) * gains[i] / 32768.0, 1.0, noisy.count(i) ? 0.05 : 0.01) << "pixel " << i;
    }

    // The host reads it back through selector 7 byte for byte.
    Bytes back;
    ASSERT_TRUE(host.readSet(7, &back));
    EXPECT_EQ(back, table);
    EXPECT_EQ(core.upgradeState(), irsim::UpgradeEngine::State::Idle);
}

TEST(SimCoreCommands, ShutterCorrectionRegisterFlattensThePicture)
{
    auto cam = startCamera("res160", true);
    ASSERT_TRUE(cam && cam->stream());
    Host host{cam->core()};
    auto worstOffset = [&] {
        float worst = 0;
        for (float v : cam->stream()->pixelOffsets())
            worst = std::max(worst, std::fabs(v));
        return worst;
    };
    EXPECT_GT(worstOffset(), 50.0f);
    EXPECT_EQ(host.value(longWrite(0x7003, 0)), 1u);
    EXPECT_EQ(cam->stream()->shutterCorrections(), 1);
    EXPECT_LT(worstOffset(), 1.0f);
}

TEST(SimCoreCommands, GainTableInFlashCorrectsTheVideo)
{
    auto cam = startCamera("res160", true);
    ASSERT_TRUE(cam && cam->stream());
    irsim::FrameStreamer& stream = *cam->stream();
    Host host{cam->core()};
    const int w = 160, rows = 118;
    const size_t n = size_t(w) * size_t(rows);
    std::set<size_t> skip;
    for (const auto& list : {stream.deadPixels(), stream.hotPixels(), stream.noisyPixels()})
        for (const auto& p : list)
            skip.insert(size_t(p.second) * size_t(w) + size_t(p.first));
    // Spread of the working pixels in front of a 40 degree blackbody.
    auto spread = [&] {
        stream.setSceneTemp(40.0);
        const Bytes packet = stream.makePacket(0.0);
        const uint8_t* img = packet.data() + streampacket::kHeaderBytes;
        double s = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            if (skip.count(i))
                continue;
            const double v = double(img[2 * i] | (img[2 * i + 1] << 8));
            s += v;
            s2 += v * v;
        }
        const double m = s / double(n - skip.size());
        return std::sqrt(std::max(0.0, s2 / double(n - skip.size()) - m * m));
    };
    ASSERT_EQ(host.value(longWrite(0x7003, 0)), 1u); // offsets flat: the gains remain
    const double raw = spread();
    EXPECT_GT(raw, 10.0);
    EXPECT_FALSE(stream.gainCorrected());

    // The core's own one-key correction into TEC1: the video is corrected at once.
    stream.setSceneTemp(20.0);
    ASSERT_EQ(host.oneKey(1), 1);
    stream.setSceneTemp(60.0);
    ASSERT_EQ(host.oneKey(2), 1);
    ASSERT_EQ(host.oneKey(3), 1);
    EXPECT_TRUE(stream.gainCorrected());
    EXPECT_LT(spread(), 6.0) << "raw " << raw;

    // A host transfer into a gain area replaces it: all gains 1 undo the correction.
    Bytes unity(n * 2);
    for (size_t i = 0; i < n; ++i) {
        unity[2 * i] = 0x80;
        unity[2 * i + 1] = 0x00;
    }
    ASSERT_TRUE(host.writeTable(0xE00000, unity));
    EXPECT_NEAR(spread(), raw, raw * 0.2);
    // A table of another size is not applied.
    ASSERT_TRUE(host.writeTable(0xC00000, pattern(1000, 7)));
    EXPECT_FALSE(stream.gainCorrected());
}

TEST(SimBadPixelRegion, TablesOfAnySizeIncludingNoneWriteAndReadBack)
{
    irsim::CoreModel core;
    Host host{core};
    // Zero records (a core without bad pixels), one record, exactly one block, a
    // few blocks with a short tail, and a smaller table after a larger one.
    for (size_t size : {size_t(0), size_t(4), size_t(1000), size_t(2504), size_t(8), size_t(0)}) {
        const Bytes table = pattern(size, uint8_t(size));
        ASSERT_TRUE(host.writeTable(0x1400000, table)) << size << " bytes";
        const auto last = core.lastWrite(1);
        ASSERT_TRUE(last.valid);
        EXPECT_EQ(last.size, size);
        Bytes back;
        ASSERT_TRUE(host.readSet(1, &back)) << size << " bytes";
        EXPECT_EQ(back, table) << size << " bytes";
    }
    EXPECT_EQ(core.reloadCount(), 6);

    // A zero-size write whose host sends one empty data block is still accepted.
    ASSERT_EQ(host.value(longWrite(0xF0E0, 1)), 1u);
    ASSERT_EQ(host.value(longWrite(0xF0E1, 1)), 1u);
    EXPECT_EQ(host.value(blockFrame(0xE3, be32(0x1400000))), 1u);
    EXPECT_EQ(host.value(blockFrame(0xE4, be32(0))), 1u);
    EXPECT_EQ(host.value(blockFrame(0xEE)), 1u);
    EXPECT_EQ(host.value(blockFrame(0xEE, {1, 2, 3, 4})), 0u) << "more than announced";
    EXPECT_EQ(host.value(blockFrame(0xE5)), 1u);
    EXPECT_EQ(host.value(blockFrame(0xE6)), 1u);
    EXPECT_EQ(core.lastWrite(1).size, 0u);
}

TEST(SimControl, CommandsChangeTheRunningCamera)
{
    auto cam = startCamera("res160", false);
    ASSERT_TRUE(cam && cam->stream());
    irsim::SimControl control(*cam);
    std::string reply;
    auto say = [&](const std::string& line) {
        reply.clear();
        return control.run(line, &reply);
    };

    ASSERT_TRUE(say("scene-temp 60"));
    EXPECT_EQ(reply, "ok");
    EXPECT_DOUBLE_EQ(cam->stream()->sceneTemp(), 60.0);
    ASSERT_TRUE(say("flat on\r"));
    EXPECT_EQ(reply, "ok");
    EXPECT_TRUE(cam->stream()->flatField());
    ASSERT_TRUE(say("fpa 33.5"));
    EXPECT_NEAR(cam->stream()->currentFpa(), 33.5, 1e-6);
    ASSERT_TRUE(say("fpa-ramp -2"));
    EXPECT_DOUBLE_EQ(cam->stream()->fpaRamp(), -2.0);
    ASSERT_TRUE(say("fault zero@0xF0E0#1"));
    EXPECT_EQ(reply.rfind("ok ", 0), 0u) << reply;
    EXPECT_EQ(cam->faults().list().size(), 1u);
    Host host{cam->core()};
    EXPECT_EQ(host.value(longWrite(0xF0E0, 1)), 0u) << "the fault is live";
    EXPECT_EQ(host.value(longWrite(0xF0E0, 1)), 1u);
    ASSERT_TRUE(say("fault clear"));
    EXPECT_TRUE(cam->faults().list().empty());
    ASSERT_TRUE(say("shutter"));
    EXPECT_EQ(cam->stream()->shutterCorrections(), 1);
    ASSERT_TRUE(say("status"));
    EXPECT_NE(reply.find("scene-temp 60.00 flat on"), std::string::npos) << reply;

    // Bad input changes nothing and says why.
    for (const char* bad : {"scene-temp", "scene-temp hot", "scene-temp 400", "flat maybe", "fpa-ramp 99",
                            "fault explode", "fault a b", "frobnicate", "quit now"}) {
        ASSERT_TRUE(say(bad)) << bad;
        EXPECT_EQ(reply.rfind("error: ", 0), 0u) << bad << " -> " << reply;
    }
    EXPECT_DOUBLE_EQ(cam->stream()->sceneTemp(), 60.0);
    EXPECT_TRUE(cam->stream()->flatField());
    EXPECT_FALSE(control.quitRequested());

    EXPECT_FALSE(say("")) << "blank lines get no answer";
    EXPECT_FALSE(say("  # a note"));
    ASSERT_TRUE(say("quit"));
    EXPECT_EQ(reply, "ok");
    EXPECT_TRUE(control.quitRequested());
}
