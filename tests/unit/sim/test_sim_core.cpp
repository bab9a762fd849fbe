// Identity presets, long-running commands and fault injection of the core model.
#include "SimTestUtil.h"

#include "Presets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <set>
#include <string>
#include <thread>

using namespace simtest;

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t0)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// How the host decodes what it reads (written out from the identification rules).
struct Decoded {
    int sensorType = 7;
    int width = 0, height = 0;
    int coreClass = 0;
    std::string sensorId;
    std::string swVersion, swDate, serial;
};

Decoded decode(irsim::CoreModel& core, const std::shared_ptr<RecordingPeer>& peer)
{
    Decoded d;
    const Bytes form1 = payloadOf(transact(core, peer, padded(shortRead(6), 11)));
    const Bytes form0 = payloadOf(transact(core, peer, padded(shortRead(1), 11)));
    EXPECT_EQ(form1.size(), 5u);
    EXPECT_EQ(form0.size(), 2u);
    if (form1.size() != 5 || form0.size() != 2)
        return d;
    EXPECT_EQ(form0[0], form1[1]);
    EXPECT_EQ(form0[1], form1[2]);
    const int typeNibble = form0[0] >> 4;
    const int typeMap[] = {0, 1, 2, 4, -1, 5};
    if (typeNibble <= 5 && typeMap[typeNibble] >= 0)
        d.sensorType = typeMap[typeNibble];
    switch (form0[1] & 0x0F) {
    case 1: d.width = 384; d.height = 288; break;
    case 2: d.width = 640; d.height = 512; break;
    case 3: d.width = 160; d.height = 120; break;
    }
    const uint8_t* b = form1.data();
    if (b[0] == 0x03 && b[1] == 0x22 && b[2] == 0x71 && b[3] == 1 && b[4] >= 1 && b[4] <= 10)
        d.coreClass = 3;
    else if (b[0] == 0x03 && b[1] == 0x22 && (b[2] == 0x51 || b[2] == 0x71) && b[3] == 2 && b[4] >= 16 && b[4] <= 31)
        d.coreClass = 4;
    else if (b[0] == 0x0A && b[1] == 0x22 && b[2] == 0x51 && b[3] == 1 && b[4] >= 1 && b[4] <= 15)
        d.coreClass = 1;
    else if (b[0] == 0x0A && b[1] == 0x22 && (b[2] == 0x51 || b[2] == 0x71) && b[3] == 2 && b[4] <= 15)
        d.coreClass = 2;

    if (d.sensorType == 5) {
        const Bytes raw = payloadOf(transact(core, peer, longRead(0xF0E3)));
        d.sensorId.assign(raw.begin(), raw.end());
        const Bytes sn = payloadOf(transact(core, peer, padded(shortRead(132), 11)));
        d.serial.assign(sn.begin(), sn.end());
    } else {
        char text[32];
        std::snprintf(text, sizeof text, "%x%08x", valueOf(transact(core, peer, longRead(0xF0E3))),
                      valueOf(transact(core, peer, longRead(0xF0E4))));
        std::string id = text;
        id = id.substr(0, id.find('f'));
        if (d.sensorType == 4) {
            std::string ascii;
            for (size_t i = 0; i + 1 < id.size(); i += 2)
                ascii += char(std::stoi(id.substr(i, 2), nullptr, 16));
            id = ascii;
        }
        d.sensorId = id;
        std::snprintf(text, sizeof text, "%x", valueOf(transact(core, peer, padded(shortRead(132), 11))));
        d.serial = text;
    }
    const uint32_t v = valueOf(transact(core, peer, longRead(0xF031)));
    char text[32];
    std::snprintf(text, sizeof text, "%x.%x.%x", (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    d.swVersion = text;
    std::snprintf(text, sizeof text, "%x", valueOf(transact(core, peer, longRead(0xF032))));
    d.swDate = text;
    return d;
}

} // namespace

TEST(SimPresets, EveryPresetDecodesToWhatItClaims)
{
    auto peer = std::make_shared<RecordingPeer>();
    std::set<int> types, classes, widths;
    for (const irsim::Identity& id : irsim::identityPresets()) {
        SCOPED_TRACE(id.name);
        irsim::CoreModel core;
        core.setIdentity(id);
        const Decoded d = decode(core, peer);
        EXPECT_EQ(d.sensorType, id.sensorType);
        EXPECT_EQ(d.coreClass, id.coreClass);
        EXPECT_EQ(d.width, id.width);
        EXPECT_EQ(d.height, id.height);
        EXPECT_FALSE(d.sensorId.empty());
        types.insert(d.sensorType);
        classes.insert(d.coreClass);
        widths.insert(d.width);
    }
    EXPECT_EQ(types, (std::set<int>{0, 1, 2, 4, 5, 7})); // 7: a nibble the host does not know
    EXPECT_EQ(classes, (std::set<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(widths, (std::set<int>{160, 384, 640}));
}

TEST(SimPresets, HandCheckedIdentities)
{
    auto peer = std::make_shared<RecordingPeer>();
    {
        irsim::CoreModel core; // default preset
        const Decoded d = decode(core, peer);
        EXPECT_EQ(d.sensorType, 1);
        EXPECT_EQ(d.width, 640);
        EXPECT_EQ(d.sensorId, "20240815");
        EXPECT_EQ(d.serial, "2024a001");
        EXPECT_EQ(d.swVersion, "1.2.3");
        EXPECT_EQ(d.swDate, "20241105");
        EXPECT_EQ(payloadOf(transact(core, peer, padded(shortRead(14), 11))).size(), 4u);
    }
    {
        irsim::CoreModel core;
        core.setIdentity(*irsim::findPreset("type4"));
        EXPECT_EQ(decode(core, peer).sensorId, "IRB0123");
    }
    {
        irsim::CoreModel core;
        core.setIdentity(*irsim::findPreset("hostile"));
        const Decoded d = decode(core, peer);
        EXPECT_NE(d.sensorId.find('/'), std::string::npos);
        EXPECT_NE(d.sensorId.find(".."), std::string::npos);
        EXPECT_NE(d.serial.find(".."), std::string::npos);
        bool control = false;
        for (char c : d.sensorId + d.serial)
            control |= (unsigned char)c < 0x20;
        EXPECT_TRUE(control);
        // The whole raw reply fits the host's 11-byte read.
        EXPECT_LE(transact(core, peer, longRead(0xF0E3)).size(), 13u);
    }
    EXPECT_EQ(irsim::findPreset("no-such-preset"), nullptr);
    EXPECT_NE(irsim::presetListing().find("hostile"), std::string::npos);
}

TEST(SimCore, LongCommandsAnswerLateAndCaptureCommandsReportCompletion)
{
    irsim::CoreModel core;
    core.setTimeScale(0.05);
    core.setLongCommandDelayMs(3000); // 150 ms here
    core.setCompletionDelayMs(2000);  // 100 ms here
    auto peer = std::make_shared<RecordingPeer>();

    const Bytes req = padded(longWrite(0xF029, 1), 15);
    auto t0 = Clock::now();
    core.receive(peer, req.data(), req.size());
    EXPECT_TRUE(peer->chunks().empty());
    ASSERT_TRUE(peer->waitChunks(1, 3000));
    EXPECT_GE(msSince(t0), 140);
    EXPECT_EQ(valueOf(peer->takeAll()), 1u);

    // An ordinary write is answered at once.
    const Bytes plain = longWrite(0xF02A, 7);
    core.receive(peer, plain.data(), plain.size());
    EXPECT_EQ(peer->chunks().size(), 1u);
    peer->takeAll();

    // Capture command: acknowledgement now, completion later.
    const Bytes capture = longWrite(0xF023, 1);
    t0 = Clock::now();
    core.receive(peer, capture.data(), capture.size());
    ASSERT_EQ(peer->chunks().size(), 1u);
    ASSERT_TRUE(peer->waitChunks(2, 3000));
    EXPECT_GE(msSince(t0), 90);
    EXPECT_EQ(peer->chunks()[1], irsim::writeReply(0xFE, 1));

    // The closing command is recorded.
    transact(core, peer, longWrite(0xF018, 5));
    EXPECT_EQ(core.closeCommandCount(), 1);
    EXPECT_EQ(core.longRegister(0xF018), 5u);
}

TEST(SimFaults, EachKindChangesTheReplyAsAdvertised)
{
    irsim::CoreModel core;
    core.setTimeScale(0.1);
    auto peer = std::make_shared<RecordingPeer>();
    auto fault = [](const char* text) {
        irsim::FaultRule rule;
        std::string error;
        EXPECT_TRUE(irsim::FaultRule::parse(text, &rule, &error)) << error;
        return rule;
    };
    const Bytes read = longRead(0xF031);
    const Bytes normal = transact(core, peer, read);
    ASSERT_FALSE(normal.empty());

    // No reply, once; the next request is answered again.
    int id = core.faults().add(fault("noreply#1"));
    EXPECT_TRUE(transact(core, peer, read, 100).empty());
    EXPECT_EQ(transact(core, peer, read), normal);
    EXPECT_EQ(core.faults().fired(id), 1);
    core.faults().clear();

    // Value 0, and the refused request has no effect.
    core.faults().add(fault("zero@0xF0E0"));
    EXPECT_EQ(valueOf(transact(core, peer, longWrite(0xF0E0, 1))), 0u);
    EXPECT_EQ(core.upgradeState(), irsim::UpgradeEngine::State::Idle);
    EXPECT_EQ(valueOf(transact(core, peer, read)), 0x010203u); // other addresses untouched
    core.faults().clear();

    // Delay (1000 ms nominal = 100 ms here).
    core.faults().add(fault("delay=1000"));
    auto t0 = Clock::now();
    EXPECT_EQ(transact(core, peer, read), normal);
    EXPECT_GE(msSince(t0), 90);
    core.faults().clear();

    // Split: two chunks that together are the reply.
    core.faults().add(fault("split=100"));
    peer->takeAll();
    core.receive(peer, read.data(), read.size());
    ASSERT_TRUE(peer->waitChunks(2));
    const auto chunks = peer->chunks();
    EXPECT_LT(chunks[0].size(), normal.size());
    Bytes joined = chunks[0];
    joined.insert(joined.end(), chunks[1].begin(), chunks[1].end());
    EXPECT_EQ(joined, normal);
    core.faults().clear();

    // Garbage in front of the reply.
    core.faults().add(fault("garbage=5"));
    const Bytes noisy = transact(core, peer, read);
    ASSERT_EQ(noisy.size(), normal.size() + 5);
    EXPECT_EQ(Bytes(noisy.begin() + 5, noisy.end()), normal);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(noisy[i] != 0xF0 && noisy[i] != 0xF1);
    core.faults().clear();

    // Drop: the connection goes instead of the reply, with the rest of the chunk.
    core.faults().add(fault("drop@0xF031"));
    Bytes two = read;
    const Bytes other = longRead(0xF032);
    two.insert(two.end(), other.begin(), other.end());
    peer->takeAll();
    core.receive(peer, two.data(), two.size());
    EXPECT_EQ(peer->drops(), 1);
    EXPECT_TRUE(peer->chunks().empty());
    EXPECT_EQ(core.faults().totalFired(), 1 + 1 + 1 + 1 + 1 + 1);
}

TEST(SimFaults, TargetsAndCountsSelectTheRightRequests)
{
    irsim::CoreModel core;
    auto peer = std::make_shared<RecordingPeer>();
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("zero@block:0xEE>2", &rule, nullptr));
    const int after = core.faults().add(rule);
    ASSERT_TRUE(irsim::FaultRule::parse("zero@short:0x84*2", &rule, nullptr));
    const int times = core.faults().add(rule);

    for (const Bytes& req : {longWrite(0xF0E0, 1), longWrite(0xF0E1, 1), blockFrame(0xE3, be32(0x1400000)),
                             blockFrame(0xE4, be32(3000))})
        ASSERT_EQ(valueOf(transact(core, peer, req)), 1u);
    // Blocks 1 and 2 pass, block 3 and later are refused; other commands pass.
    EXPECT_EQ(valueOf(transact(core, peer, blockFrame(0xEE, Bytes(1000, 1)))), 1u);
    EXPECT_EQ(valueOf(transact(core, peer, blockFrame(0xEE, Bytes(1000, 2)))), 1u);
    EXPECT_EQ(valueOf(transact(core, peer, blockFrame(0xEE, Bytes(1000, 3)))), 0u);
    EXPECT_EQ(valueOf(transact(core, peer, blockFrame(0xEE, Bytes(1000, 3)))), 0u);
    EXPECT_EQ(valueOf(transact(core, peer, blockFrame(0xE6))), 1u);
    EXPECT_EQ(core.faults().fired(after), 2);

    // Short register 0x84 reads as zero twice, then as itself; 0x0E is never hit.
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(valueOf(transact(core, peer, shortRead(0x84))), i < 2 ? 0u : 0x2024A001u);
    EXPECT_EQ(valueOf(transact(core, peer, shortRead(0x0E))), 0x20240301u);
    EXPECT_EQ(core.faults().fired(times), 2);
    EXPECT_TRUE(core.faults().remove(times));
    EXPECT_EQ(core.faults().fired(times), -1);
}

TEST(SimFaults, RuleGrammar)
{
    struct Case { const char* text; bool ok; const char* canonical; };
    const Case cases[] = {
        {"noreply", true, "noreply"},
        {"zero@0xF0E0", true, "zero@0xF0E0"},
        {"delay=500@block:0xEE", true, "delay=500@block:0xEE"},
        {"delay", true, "delay=500"},
        {"split", true, "split=20"},
        {"drop@block:0xEE#3", true, "drop@block:0xEE#3"},
        {"garbage", true, "garbage=4"},
        {"noreply@short:132*2", true, "noreply@short:0x84*2"},
        {"zero@block>1", true, "zero@block>1"},
        {"flip", true, "flip"},
        {"badsum@block:0xEA", true, "badsum@block:0xEA"},
        {"badend#2", true, "badend#2"},
        {"echo@0xF0E0", true, "echo@0xF0E0"},
        {"noise", true, "noise=4"},
        {"noise=64@block", true, "noise=64@block"},
        {"flip@block:0xEA%5", true, "flip@block:0xEA%5"},
        {"delay=50%0.5", true, "delay=50%0.5"},
        {"noise=0", false, nullptr},
        {"noise=65", false, nullptr},
        {"flip=1", false, nullptr},
        {"echo%0", false, nullptr},
        {"echo%101", false, nullptr},
        {"echo%x", false, nullptr},
        {"", false, nullptr},
        {"explode", false, nullptr},
        {"zero=1", false, nullptr},
        {"delay=-5", false, nullptr},
        {"delay=99999999999", false, nullptr},
        {"garbage=0", false, nullptr},
        {"garbage=65", false, nullptr},
        {"drop@block:0x1EE", false, nullptr},
        {"drop@short:0xFE", false, nullptr},
        {"noreply#0", false, nullptr},
        {"noreply#x", false, nullptr},
        {"noreply@", false, nullptr},
    };
    for (const Case& c : cases) {
        irsim::FaultRule rule;
        std::string error;
        const bool ok = irsim::FaultRule::parse(c.text, &rule, &error);
        EXPECT_EQ(ok, c.ok) << c.text;
        if (ok && c.canonical) {
            EXPECT_EQ(rule.toString(), c.canonical);
        }
        if (!ok) {
            EXPECT_FALSE(error.empty()) << c.text;
        }
    }
}

// A soak run picks its faulted requests at random; the same seed must pick the same
// ones (and the same noise) so that a failure can be run again.
TEST(SimFaults, PercentCountsAreReproducibleFromTheSeed)
{
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("zero@block%30", &rule, nullptr));
    irsim::FaultRule noise;
    ASSERT_TRUE(irsim::FaultRule::parse("noise=3@block%50", &noise, nullptr));
    struct Trace {
        std::vector<int> zeroAt;
        Bytes noise;
        int noisy = 0;
    };
    auto run = [&](uint32_t seed) {
        irsim::FaultInjector f;
        f.setSeed(seed);
        f.add(rule);
        f.add(noise);
        irsim::RequestKey key;
        key.kind = irsim::RequestKey::Block;
        key.address = 0xEE;
        Trace t;
        for (int i = 0; i < 1000; ++i) {
            const irsim::FaultEffect fx = f.apply(key);
            if (fx.zero)
                t.zeroAt.push_back(i);
            if (!fx.noise.empty())
                ++t.noisy;
            t.noise.insert(t.noise.end(), fx.noise.begin(), fx.noise.end());
        }
        EXPECT_FALSE(f.apply(irsim::RequestKey{}).zero) << "not a block: never picked";
        return t;
    };
    const Trace a = run(7);
    const Trace again = run(7);
    EXPECT_EQ(again.zeroAt, a.zeroAt);
    EXPECT_EQ(again.noise, a.noise);
    EXPECT_NE(run(8).zeroAt, a.zeroAt);
    // About the asked share of the requests (deterministic for this seed).
    EXPECT_GT(a.zeroAt.size(), 250u);
    EXPECT_LT(a.zeroAt.size(), 350u);
    EXPECT_GT(a.noisy, 440);
    EXPECT_LT(a.noisy, 560);
    EXPECT_EQ(a.noise.size(), size_t(a.noisy) * 3);
}
