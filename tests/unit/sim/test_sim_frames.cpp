// The core's side of the wire: cutting requests out of a byte stream and the exact
// bytes of its replies.
#include "SimTestUtil.h"

#include "FrameAssembler.h"

#include <gtest/gtest.h>

using namespace simtest;
using irsim::FrameAssembler;

namespace {

std::vector<Bytes> drain(FrameAssembler& a, int64_t now = 0)
{
    std::vector<Bytes> out;
    Bytes f;
    while (a.next(&f, now))
        out.push_back(f);
    return out;
}

} // namespace

TEST(SimFrameAssembler, CutsFramesOutOfArbitraryPieces)
{
    const Bytes write = longWrite(0xF0E0, 1);
    const Bytes block = blockFrame(0xEE, Bytes(1000, 0xF0)); // data full of start bytes
    Bytes stream = write;
    stream.insert(stream.end(), block.begin(), block.end());
    stream.insert(stream.end(), write.begin(), write.end());

    // Byte by byte, then in uneven chunks: the same three frames come out.
    for (size_t step : {size_t(1), size_t(7), size_t(333), stream.size()}) {
        FrameAssembler a;
        std::vector<Bytes> got;
        for (size_t at = 0; at < stream.size(); at += step) {
            const size_t n = std::min(step, stream.size() - at);
            a.push(stream.data() + at, n);
            for (const Bytes& f : drain(a))
                got.push_back(f);
        }
        ASSERT_EQ(got.size(), 3u) << "step " << step;
        EXPECT_EQ(got[0], write);
        EXPECT_EQ(got[1], block);
        EXPECT_EQ(got[2], write);
        EXPECT_EQ(a.unframedBytes(), 0u);
        EXPECT_EQ(a.buffered(), 0u);
    }
}

TEST(SimFrameAssembler, PaddingAndNoiseAreSkippedAndCounted)
{
    FrameAssembler a;
    // A short read sent as 11 bytes (7-byte frame, 4 zeros), then noise, then a
    // 15-byte raw command (8-byte frame, 7 zeros).
    const Bytes read = shortRead(0x84);
    const Bytes shortWrite = registerFrame({0x36, 0x30, 0x00, 0x07});
    Bytes stream = padded(read, 11);
    for (uint8_t b : {0x12, 0x34, 0xFF, 0x00})
        stream.push_back(b);
    const Bytes w = padded(shortWrite, 15);
    stream.insert(stream.end(), w.begin(), w.end());
    a.push(stream.data(), stream.size());
    const auto frames = drain(a);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], read);
    EXPECT_EQ(frames[1], shortWrite);
    EXPECT_EQ(a.unframedBytes(), 4u + 4u + 7u);
}

TEST(SimFrameAssembler, BadFramesAreDroppedAndTheStreamResyncs)
{
    FrameAssembler a;
    Bytes bad = longWrite(0xF0E0, 1);
    bad[9] ^= 0x01; // value byte changed: checksum no longer matches
    Bytes noEnd = longRead(0xF031);
    noEnd.back() = 0x00; // terminator missing
    const Bytes good = longRead(0xF032);
    Bytes stream = bad;
    stream.insert(stream.end(), noEnd.begin(), noEnd.end());
    stream.insert(stream.end(), good.begin(), good.end());
    a.push(stream.data(), stream.size());
    const auto frames = drain(a);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], good);
    EXPECT_EQ(a.unframedBytes(), bad.size() + noEnd.size());
}

TEST(SimFrameAssembler, HostileLengthsNeverStallOrOverrun)
{
    // A register start byte claiming 255 bytes is rejected at once.
    {
        FrameAssembler a;
        Bytes s{0xF0, 0xFF};
        const Bytes good = shortRead(1);
        s.insert(s.end(), good.begin(), good.end());
        a.push(s.data(), s.size());
        const auto frames = drain(a);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], good);
    }
    // A block header claiming more than 1000 data bytes likewise.
    {
        FrameAssembler a;
        Bytes s{0xF1, 0x03, 0xEA};
        const Bytes good = blockFrame(0xE6);
        s.insert(s.end(), good.begin(), good.end());
        a.push(s.data(), s.size());
        ASSERT_EQ(drain(a).size(), 1u);
    }
    // A stray start byte with a plausible length holds later requests back only
    // until it goes stale.
    {
        FrameAssembler a;
        a.setStaleMs(100);
        const Bytes stray{0xF1, 0x00, 0x50};
        a.push(stray.data(), stray.size());
        EXPECT_TRUE(drain(a, 0).empty());
        const Bytes good = longRead(0xF031);
        a.push(good.data(), good.size());
        EXPECT_TRUE(drain(a, 50).empty()); // still waiting for the 0x50 bytes
        const auto frames = drain(a, 150);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0], good);
    }
    // The buffer stays bounded whatever arrives.
    {
        FrameAssembler a;
        Bytes flood(3 * FrameAssembler::kMaxBuffered, 0xF1);
        a.push(flood.data(), flood.size());
        EXPECT_LE(a.buffered(), FrameAssembler::kMaxBuffered);
        drain(a);
        EXPECT_LE(a.buffered(), 2u);
    }
}

// A 1000-byte block at 9600 baud takes over a second to arrive; while its bytes keep
// coming it is not noise, however long the whole frame takes.
TEST(SimFrameAssembler, SlowFrameWhoseBytesKeepComingIsNotStale)
{
    FrameAssembler a;
    a.setStaleMs(100);
    const Bytes block = blockFrame(0xEE, Bytes(1000, 0x33));
    int64_t now = 0;
    std::vector<Bytes> got;
    for (size_t at = 0; at < block.size(); at += 50, now += 60) {
        a.push(block.data() + at, std::min<size_t>(50, block.size() - at));
        for (const Bytes& f : drain(a, now))
            got.push_back(f);
    }
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], block);
    EXPECT_EQ(a.unframedBytes(), 0u);
}

TEST(SimReplies, WriteReadAndBlockRepliesHaveTheWireBytes)
{
    irsim::CoreModel core;
    auto peer = std::make_shared<RecordingPeer>();

    // 32-bit write: F0 07 36 FE 00 00 00 00 01 CHK FF, CHK = 36+FE+01.
    EXPECT_EQ(transact(core, peer, padded(longWrite(0x2001, 0), 15)),
              (Bytes{0xF0, 0x07, 0x36, 0xFE, 0x00, 0x00, 0x00, 0x00, 0x01, 0x35, 0xFF}));
    // Short write of width 2 echoes its address byte.
    EXPECT_EQ(transact(core, peer, padded(registerFrame({0x36, 0x33, 0x00, 0x12, 0x34}), 15)),
              (Bytes{0xF0, 0x07, 0x36, 0x33, 0x00, 0x00, 0x00, 0x00, 0x01, 0x6A, 0xFF}));
    EXPECT_EQ(core.shortRegister(0x33), (Bytes{0x12, 0x34}));
    // 32-bit read of the software version 0x010203.
    EXPECT_EQ(transact(core, peer, longRead(0xF031)),
              (Bytes{0xF0, 0x07, 0x36, 0xFE, 0x01, 0x00, 0x01, 0x02, 0x03, 0x3B, 0xFF}));
    // Short read of the form-0 module bytes: two payload bytes.
    EXPECT_EQ(transact(core, peer, padded(shortRead(1), 11)),
              (Bytes{0xF0, 0x05, 0x36, 0x01, 0x01, 0x10, 0x22, 0x6A, 0xFF}));
    // Block acknowledgement and refusal.
    EXPECT_EQ(transact(core, peer, blockFrame(0xE6)), (Bytes{0xF1, 0x02, 0xE6, 0x01, 0xE7, 0xFF}));
    EXPECT_EQ(transact(core, peer, blockFrame(0xE5)), (Bytes{0xF1, 0x02, 0xE5, 0x00, 0xE5, 0xFF}));
    // A register written earlier reads back with its value.
    transact(core, peer, longWrite(0xF02A, 0x01020304));
    const Bytes r = transact(core, peer, longRead(0xF02A));
    EXPECT_EQ(valueOf(r), 0x01020304u);
    EXPECT_EQ(r.size(), size_t(r[1]) + 4);
}

TEST(SimReplies, LengthQueryAndRawCommands)
{
    irsim::CoreModel core;
    auto peer = std::make_shared<RecordingPeer>();
    const Bytes data(2500, 0x5A);
    for (const Bytes& req : {longWrite(0xF0E0, 1), longWrite(0xF0E1, 1), blockFrame(0xE3, be32(0xC00000)),
                             blockFrame(0xE4, be32(2500)), blockFrame(0xEE, Bytes(1000, 0x5A)),
                             blockFrame(0xEE, Bytes(1000, 0x5A)), blockFrame(0xEE, Bytes(500, 0x5A)),
                             blockFrame(0xE5), blockFrame(0xE8, {6})})
        ASSERT_EQ(valueOf(transact(core, peer, req)), 1u);
    // F1 05 E9 00 00 09 C4 CHK FF, CHK = E9+09+C4.
    EXPECT_EQ(transact(core, peer, blockFrame(0xE9)), (Bytes{0xF1, 0x05, 0xE9, 0x00, 0x00, 0x09, 0xC4, 0xB6, 0xFF}));

    // Any other well-formed register frame is acknowledged like a write.
    const Bytes raw = registerFrame({0x11, 0x22, 0x33});
    EXPECT_EQ(transact(core, peer, padded(raw, 15)),
              (Bytes{0xF0, 0x07, 0x36, 0x22, 0x00, 0x00, 0x00, 0x00, 0x01, 0x59, 0xFF}));
    EXPECT_EQ(core.requestLog().back(), raw);
    EXPECT_EQ(core.unframedBytes(), 15u - raw.size());
}
