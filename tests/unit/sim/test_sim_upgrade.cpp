// Upgrade mode: the legal sequence, refused steps, flash contents and read-back.
#include "SimTestUtil.h"

#include <gtest/gtest.h>

using namespace simtest;
using State = irsim::UpgradeEngine::State;

namespace {

struct Session {
    irsim::CoreModel core;
    std::shared_ptr<RecordingPeer> peer = std::make_shared<RecordingPeer>();

    uint32_t value(const Bytes& req) { return valueOf(transact(core, peer, req)); }
    Bytes payload(const Bytes& req) { return payloadOf(transact(core, peer, req)); }
    bool enter() { return value(longWrite(0xF0E0, 1)) == 1 && value(longWrite(0xF0E1, 1)) == 1; }

    // The host's file write: address, size, 1000-byte blocks, end; optional reload.
    bool writeFile(uint32_t address, const Bytes& data, bool reload = false, bool emptyTail = false)
    {
        if (value(blockFrame(0xE3, be32(address))) != 1 || value(blockFrame(0xE4, be32(uint32_t(data.size())))) != 1)
            return false;
        for (size_t at = 0; at < data.size(); at += 1000) {
            const size_t n = std::min<size_t>(1000, data.size() - at);
            if (value(blockFrame(0xEE, Bytes(data.begin() + at, data.begin() + at + n))) != 1)
                return false;
        }
        if (emptyTail && value(blockFrame(0xEE)) != 1)
            return false;
        if (value(blockFrame(0xE5)) != 1)
            return false;
        return !reload || value(blockFrame(0xEC, {1})) == 1;
    }
};

Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + (i >> 8));
    return b;
}

} // namespace

TEST(SimUpgrade, LegalSequenceCommitsToFlash)
{
    Session s;
    const Bytes data = pattern(2500, 3);
    ASSERT_TRUE(s.enter());
    EXPECT_EQ(s.core.upgradeState(), State::Ready);
    ASSERT_TRUE(s.writeFile(0x1000000, data, true));
    EXPECT_EQ(s.core.readFlash(0x1000000, data.size()), data);
    EXPECT_EQ(s.core.readFlash(0x1000000 + 2500, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF})); // untouched
    EXPECT_EQ(s.core.reloadCount(), 1);
    const auto last = s.core.lastWrite(2);
    EXPECT_TRUE(last.valid);
    EXPECT_EQ(last.size, 2500u);

    // Several areas in one session (configuration codes): E3 again after E5.
    ASSERT_TRUE(s.writeFile(0x1420000, pattern(16, 1)));
    ASSERT_TRUE(s.writeFile(0x1421000, pattern(16, 2)));
    // A file of a multiple of 1000 bytes may end with one empty block.
    ASSERT_TRUE(s.writeFile(0x1400000, pattern(3000, 9), false, true));
    EXPECT_EQ(s.core.lastWrite(1).size, 3000u);
    EXPECT_EQ(s.core.commitCount(), 4);
    EXPECT_EQ(s.value(blockFrame(0xE6)), 1u);
    EXPECT_EQ(s.core.upgradeState(), State::Idle);
}

TEST(SimUpgrade, OutOfOrderStepsAreRefused)
{
    Session s;
    // Nothing but entry (and exit) works outside upgrade mode.
    EXPECT_EQ(s.value(longWrite(0xF0E1, 1)), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0x1000000))), 0u);
    EXPECT_EQ(s.value(blockFrame(0xEE, {1, 2, 3})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE6)), 1u);
    EXPECT_EQ(s.value(longWrite(0xF0E0, 2)), 0u);

    // Entered but not confirmed.
    EXPECT_EQ(s.value(longWrite(0xF0E0, 1)), 1u);
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0x1000000))), 0u);
    EXPECT_EQ(s.value(longWrite(0xF0E1, 1)), 1u);
    EXPECT_EQ(s.value(longWrite(0xF0E1, 1)), 0u); // confirmed twice

    // Size before address, data before size, bad field widths, address off the flash.
    EXPECT_EQ(s.value(blockFrame(0xE4, be32(10))), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE3, {0x01, 0x00, 0x00})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0x4000000))), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0x1400000))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE, {1})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE4, be32(0x1000000))), 0u); // runs off the 32 MiB flash
    EXPECT_EQ(s.value(blockFrame(0xE4, be32(1500))), 1u);

    // Data: an empty block too early, then more than announced.
    EXPECT_EQ(s.value(blockFrame(0xEE)), 0u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(1000, 1))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(501, 2))), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE5)), 0u); // 500 bytes still missing
    EXPECT_EQ(s.value(blockFrame(0xEC, {1})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(500, 2))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE)), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE)), 0u); // only one empty tail block
    EXPECT_EQ(s.value(blockFrame(0xEC, {1})), 0u); // reload before end
    EXPECT_EQ(s.value(blockFrame(0xE5)), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEC, {2})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xEC, {1})), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEC, {1})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xEB)), 0u); // not reading
    EXPECT_EQ(s.value(blockFrame(0x42)), 0u); // unknown command
    EXPECT_EQ(s.core.commitCount(), 1);
}

TEST(SimUpgrade, UnfinishedTransferNeverReachesFlash)
{
    Session s;
    ASSERT_TRUE(s.enter());
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0xC00000))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xE4, be32(2000))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(1000, 0x11))), 1u);
    // The host gives up and leaves, then starts afresh.
    EXPECT_EQ(s.value(blockFrame(0xE6)), 1u);
    EXPECT_EQ(s.core.readFlash(0xC00000, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(s.core.lastWrite(6).valid);
    ASSERT_TRUE(s.enter());
    EXPECT_EQ(s.value(blockFrame(0xE5)), 0u); // nothing pending any more

    // Dropped after the third block: three blocks in, nothing committed.
    irsim::FaultRule rule;
    ASSERT_TRUE(irsim::FaultRule::parse("drop@block:0xEE#3", &rule, nullptr));
    s.core.faults().add(rule);
    ASSERT_TRUE(s.enter());
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0xC00000))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xE4, be32(5000))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(1000, 1))), 1u);
    EXPECT_EQ(s.value(blockFrame(0xEE, Bytes(1000, 2))), 1u);
    EXPECT_TRUE(transact(s.core, s.peer, blockFrame(0xEE, Bytes(1000, 3)), 100).empty());
    EXPECT_EQ(s.peer->drops(), 1);
    EXPECT_EQ(s.core.commitCount(), 0);
}

TEST(SimReadBack, TableReadsBackByteForByteInSmallBlocks)
{
    Session s;
    const Bytes occ = pattern(2500, 0x40);
    const Bytes k3 = pattern(254, 0x90); // exactly one block
    ASSERT_TRUE(s.enter());
    ASSERT_TRUE(s.writeFile(0x1000000, occ));
    ASSERT_TRUE(s.writeFile(0xE00000, k3));
    ASSERT_EQ(s.value(blockFrame(0xE6)), 1u);

    struct Expect { int selector; Bytes data; };
    const Expect expects[] = {{2, occ}, {8, k3}, {3, {}}, {10, {}}};
    for (const Expect& e : expects) {
        SCOPED_TRACE(e.selector);
        ASSERT_TRUE(s.enter());
        ASSERT_EQ(s.value(blockFrame(0xE8, {uint8_t(e.selector)})), 1u);
        const Bytes len = s.payload(blockFrame(0xE9));
        ASSERT_EQ(len.size(), 4u);
        EXPECT_EQ(len, be32(uint32_t(e.data.size())));
        Bytes got;
        for (int guard = 0; guard < 100 && got.size() < e.data.size(); ++guard) {
            const Bytes reply = transact(s.core, s.peer, blockFrame(0xEA));
            ASSERT_EQ(reply.size(), size_t(reply[1]) + 4);
            const Bytes block = payloadOf(reply);
            ASSERT_FALSE(block.empty());
            EXPECT_LE(block.size(), 254u);
            got.insert(got.end(), block.begin(), block.end());
        }
        EXPECT_EQ(got, e.data);
        // Past the end: a reply without data.
        EXPECT_TRUE(s.payload(blockFrame(0xEA)).empty());
        EXPECT_EQ(s.value(blockFrame(0xEB)), 1u);
        EXPECT_EQ(s.value(blockFrame(0xE6)), 1u);
    }

    // Read requests outside a read get no data; unknown selectors are refused.
    ASSERT_TRUE(s.enter());
    EXPECT_TRUE(s.payload(blockFrame(0xE9)).empty());
    EXPECT_TRUE(s.payload(blockFrame(0xEA)).empty());
    EXPECT_EQ(s.value(blockFrame(0xE8, {0})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE8, {11})), 0u);
    EXPECT_EQ(s.value(blockFrame(0xE8, {1, 2})), 0u);
    // No write while reading.
    ASSERT_EQ(s.value(blockFrame(0xE8, {2})), 1u);
    EXPECT_EQ(s.value(blockFrame(0xE3, be32(0x1000000))), 0u);
}
