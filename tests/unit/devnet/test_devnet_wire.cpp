// Framing, encoders and the incremental decoder of the devnet wire protocol.
#include "DevnetWire.h"
#include "devnet.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace devnet;

namespace {

std::vector<Message> decodeAll(const std::vector<uint8_t>& bytes, size_t chunk, bool* failed = nullptr)
{
    WireDecoder dec;
    std::vector<Message> out;
    for (size_t at = 0; at < bytes.size(); at += chunk) {
        dec.feed(bytes.data() + at, std::min(chunk, bytes.size() - at));
        Message m;
        while (dec.next(&m))
            out.push_back(m);
    }
    if (failed)
        *failed = dec.failed();
    return out;
}

Message decodeOne(const std::vector<uint8_t>& bytes)
{
    bool failed = true;
    auto all = decodeAll(bytes, bytes.size(), &failed);
    EXPECT_FALSE(failed);
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? Message() : all.front();
}

std::vector<uint8_t> header(uint8_t type, uint32_t len)
{
    return {'I', 'R', 'D', 'N', kVersion, type, 0, 0, uint8_t(len >> 24), uint8_t(len >> 16), uint8_t(len >> 8),
            uint8_t(len)};
}

} // namespace

TEST(DevnetWire, ControlMessagesRoundTrip)
{
    LoginReq login;
    ASSERT_TRUE(parseLogin(decodeOne(encodeLogin(7, "admin", "p\xC3\xA4ss")), &login));
    EXPECT_EQ(login.reqId, 7u);
    EXPECT_EQ(login.user, "admin");
    EXPECT_EQ(login.password, "p\xC3\xA4ss");

    LoginOk ok;
    ASSERT_TRUE(parseLoginOk(decodeOne(encodeLoginOk(9, "SN-1", "model X", 2, 1)), &ok));
    EXPECT_EQ(ok.reqId, 9u);
    EXPECT_EQ(ok.serialNumber, "SN-1");
    EXPECT_EQ(ok.model, "model X");
    EXPECT_EQ(ok.channelCount, 2u);
    EXPECT_EQ(ok.serialPortCount, 1u);

    StartReq start;
    ASSERT_TRUE(parseSerialStart(decodeOne(encodeSerialStart(3, 0xA1B2C3D4u, 1)), &start));
    EXPECT_EQ(start.reqId, 3u);
    EXPECT_EQ(start.tag, 0xA1B2C3D4u);
    EXPECT_EQ(start.port, 1u);

    ErrorMsg err;
    ASSERT_TRUE(parseError(decodeOne(encodeError(5, WireErrAuth, "refused")), &err));
    EXPECT_EQ(err.reqId, 5u);
    EXPECT_EQ(err.code, uint32_t(WireErrAuth));
    EXPECT_EQ(err.text, "refused");

    const Message ping = decodeOne(encodePing(MsgPing, 0x01020304));
    uint32_t seq = 0;
    EXPECT_EQ(ping.type, MsgPing);
    ASSERT_TRUE(parseU32(ping, &seq));
    EXPECT_EQ(seq, 0x01020304u);

    EXPECT_EQ(decodeOne(encodeLogout()).payload.size(), 0u);
}

TEST(DevnetWire, HeaderLayoutIsBigEndian)
{
    const auto msg = encodeSerialStart(0x11223344, 2, 1);
    ASSERT_EQ(msg.size(), kHeaderSize + 12);
    EXPECT_EQ(std::vector<uint8_t>(msg.begin(), msg.begin() + 12), header(MsgSerialStart, 12));
    EXPECT_EQ(msg[12], 0x11);
    EXPECT_EQ(msg[15], 0x44);
}

TEST(DevnetWire, PreviewRequestTravelsWithChannelFirst)
{
    NET_DEV_PREVIEWINFO p;
    std::memset(&p, 0, sizeof(p));
    p.lChannel = 258;
    p.bBlocked = 1;
    p.byProtoType = 1;
    p.byReserved2[219] = 0x5A;
    const auto msg = encodeStreamStart(1, 77, reinterpret_cast<const uint8_t*>(&p));
    ASSERT_EQ(msg.size(), kHeaderSize + 8 + kPreviewSize);
    // channel big-endian right after request id and tag
    EXPECT_EQ(msg[kHeaderSize + 8], 0);
    EXPECT_EQ(msg[kHeaderSize + 10], 1);
    EXPECT_EQ(msg[kHeaderSize + 11], 2);

    StartReq req;
    ASSERT_TRUE(parseStreamStart(decodeOne(msg), &req));
    EXPECT_EQ(req.channel, 258);
    EXPECT_EQ(req.tag, 77u);
    ASSERT_EQ(req.preview.size(), kPreviewSize);
    EXPECT_EQ(std::memcmp(req.preview.data(), &p, kPreviewSize), 0);
}

TEST(DevnetWire, DataMessagesCarryBytesUnchanged)
{
    std::vector<uint8_t> bytes(1000);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7);
    bytes[0] = 0;
    bytes[1] = 0xFF;

    DataMsg d;
    const Message serial = decodeOne(encodeSerialData(12, 3, bytes.data(), bytes.size()));
    ASSERT_TRUE(parseSerialData(serial, &d));
    EXPECT_EQ(d.tag, 12u);
    EXPECT_EQ(d.channel, 3u);
    EXPECT_EQ(std::vector<uint8_t>(d.data, d.data + d.len), bytes);

    const Message stream = decodeOne(encodeStreamData(13, bytes.data(), 5));
    ASSERT_TRUE(parseStreamData(stream, &d));
    EXPECT_EQ(d.tag, 13u);
    EXPECT_EQ(std::vector<uint8_t>(d.data, d.data + d.len), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5));
}

TEST(DevnetWire, AnyChunkingYieldsTheSameMessages)
{
    std::vector<uint8_t> all;
    std::vector<std::vector<uint8_t>> parts = {encodeLogin(1, "u", "p"), encodeSerialData(2, 1, nullptr, 0),
                                               encodeStreamData(3, reinterpret_cast<const uint8_t*>("abcdef"), 6),
                                               encodeError(0, WireErrBusy, "busy"), encodeLogout()};
    for (auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());

    const auto whole = decodeAll(all, all.size());
    ASSERT_EQ(whole.size(), parts.size());
    for (size_t chunk : {size_t(1), size_t(5), size_t(11), size_t(13)}) {
        bool failed = true;
        const auto split = decodeAll(all, chunk, &failed);
        EXPECT_FALSE(failed);
        ASSERT_EQ(split.size(), whole.size()) << "chunk " << chunk;
        for (size_t i = 0; i < whole.size(); ++i) {
            EXPECT_EQ(split[i].type, whole[i].type);
            EXPECT_EQ(split[i].payload, whole[i].payload);
        }
    }
}

TEST(DevnetWire, DecoderRejectsGarbageAndOversizeEarly)
{
    {   // wrong magic is recognised from the first byte
        WireDecoder dec;
        const uint8_t g = 'G';
        dec.feed(&g, 1);
        EXPECT_TRUE(dec.failed());
    }
    {   // unknown version
        auto h = header(MsgPing, 4);
        h[4] = 2;
        WireDecoder dec;
        dec.feed(h.data(), 5);
        EXPECT_TRUE(dec.failed());
    }
    {   // a control message claiming more than its limit fails on the header alone
        auto h = header(MsgLogin, kMaxControlPayload + 1);
        WireDecoder dec;
        dec.feed(h.data(), h.size());
        Message m;
        EXPECT_FALSE(dec.next(&m));
        EXPECT_TRUE(dec.failed());
        EXPECT_EQ(dec.buffered(), kHeaderSize); // nothing reserved for the claimed length
    }
    {   // data messages may be large, but not above the data limit
        auto ok = header(MsgStreamData, kMaxDataPayload);
        WireDecoder dec;
        dec.feed(ok.data(), ok.size());
        EXPECT_FALSE(dec.failed());
        auto bad = header(MsgStreamData, kMaxDataPayload + 1);
        WireDecoder dec2;
        dec2.feed(bad.data(), bad.size());
        EXPECT_TRUE(dec2.failed());
    }
    {   // messages before the garbage still come out; nothing after it does
        auto bytes = encodePing(MsgPong, 1);
        const auto second = encodePing(MsgPong, 2);
        bytes.push_back('x');
        bytes.insert(bytes.end(), second.begin(), second.end());
        bool failed = false;
        const auto msgs = decodeAll(bytes, bytes.size(), &failed);
        EXPECT_TRUE(failed);
        ASSERT_EQ(msgs.size(), 1u);
        uint32_t seq = 0;
        EXPECT_TRUE(parseU32(msgs[0], &seq));
        EXPECT_EQ(seq, 1u);
    }
}

TEST(DevnetWire, MalformedPayloadsAreRefused)
{
    Message m;
    m.type = MsgLogin;
    LoginReq login;
    // string length runs past the end
    m.payload = {0, 0, 0, 1, 0, 5, 'a', 'b'};
    EXPECT_FALSE(parseLogin(m, &login));
    // trailing bytes after the last field
    m.payload = {0, 0, 0, 1, 0, 1, 'a', 0, 1, 'b', 0};
    EXPECT_FALSE(parseLogin(m, &login));
    m.payload.pop_back();
    EXPECT_TRUE(parseLogin(m, &login));
    // a user name above the limit
    m.payload = {0, 0, 0, 1, 0, uint8_t(kMaxNameLen + 1)};
    m.payload.resize(m.payload.size() + kMaxNameLen + 1, 'u');
    m.payload.insert(m.payload.end(), {0, 0});
    EXPECT_FALSE(parseLogin(m, &login));

    StartReq start;
    m.type = MsgStreamStart;
    m.payload.assign(8 + kPreviewSize - 1, 0); // preview one byte short
    EXPECT_FALSE(parseStreamStart(m, &start));

    DataMsg d;
    m.type = MsgSerialData;
    m.payload.assign(7, 0); // shorter than tag + channel
    EXPECT_FALSE(parseSerialData(m, &d));
    // a parser refuses a payload of another type
    m.type = MsgStreamData;
    m.payload.assign(8, 0);
    EXPECT_FALSE(parseSerialData(m, &d));
}

TEST(DevnetWire, EncodersCapFieldsAtTheirLimits)
{
    LoginReq login;
    ASSERT_TRUE(parseLogin(decodeOne(encodeLogin(1, std::string(100, 'u'), "p")), &login));
    EXPECT_EQ(login.user.size(), kMaxNameLen);
    ErrorMsg err;
    ASSERT_TRUE(parseError(decodeOne(encodeError(1, 1, std::string(5000, 'e'))), &err));
    EXPECT_EQ(err.text.size(), kMaxErrorText);
}
