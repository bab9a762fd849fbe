#include "CReplyParser.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Exactly sized buffers so that the address sanitizer sees any read past the end.
std::vector<unsigned char> reply(const char* hex, int size)
{
    const QByteArray b = irtest::fromHex(hex);
    std::vector<unsigned char> v(size_t(size), 0);
    std::memcpy(v.data(), b.constData(), size_t(std::min<int>(b.size(), size)));
    return v;
}

void loadShort(const char* hex)
{
    const auto v = reply(hex, CReplyParser::kShortSize);
    std::memcpy(CReplyParser::instance()->shortReplyBuffer(), v.data(), v.size());
}

const unsigned char kStarts[] = {0xF0, 0xF1, 0x00, 0x7E};
const int kHostileLens[] = {0, 1, 2, 3, 255};

} // namespace

TEST(ReplyParser, ValuesFromRegisterAndBlockReplies)
{
    CReplyParser* rp = CReplyParser::instance();
    uint32_t v = 99;
    loadShort("f00436fe00 01 2fff");
    EXPECT_TRUE(rp->parseValue(&v));
    EXPECT_EQ(v, 1u);
    loadShort("f00736fe01 0012abcd 00ff");
    EXPECT_TRUE(rp->parseValue(&v));
    EXPECT_EQ(v, 0x0012ABCDu);
    loadShort("f10236 02 38ff");
    EXPECT_TRUE(rp->parseValue(&v));
    EXPECT_EQ(v, 2u);
    // Six payload bytes of a block reply fill the 64-bit accessor.
    loadShort("f10784 010203040506 00ff");
    uint64_t v64 = 0;
    EXPECT_TRUE(rp->parseValue64(&v64));
    EXPECT_EQ(v64, 0x010203040506ull);
    EXPECT_TRUE(rp->parseValue(&v));
    EXPECT_EQ(v, 0x03040506u);
    // A LEN of 255 in an 11-byte buffer: four value bytes, never the bytes behind them.
    loadShort("f0ff36fe01 01020304 0506");
    EXPECT_TRUE(rp->parseValue64(&v64));
    EXPECT_EQ(v64, 0x01020304ull);
    loadShort("00f00436fe000100ff");
    v = 99;
    EXPECT_FALSE(rp->parseValue(&v));
    EXPECT_EQ(v, 0u);
}

TEST(ReplyParser, HostileLengthBytesStayInsideTheBuffers)
{
    for (unsigned char start : kStarts) {
        for (int L : kHostileLens) {
            SCOPED_TRACE(testing::Message() << "start " << int(start) << " L " << L);
            auto buf = reply("", CReplyParser::kShortSize);
            for (int i = 0; i < CReplyParser::kShortSize; ++i)
                buf[size_t(i)] = static_cast<unsigned char>(0x11 * (i + 1));
            buf[0] = start;
            buf[1] = static_cast<unsigned char>(L);
            const bool known = start == 0xF0 || start == 0xF1;

            uint64_t value = 1;
            EXPECT_EQ(CReplyParser::parseValueIn(buf.data(), int(buf.size()), &value), known);
            const int off = CReplyParser::payloadOffset(buf.data(), int(buf.size()));
            const int n = CReplyParser::payloadLength(buf.data(), int(buf.size()));
            EXPECT_EQ(off, start == 0xF0 ? 5 : start == 0xF1 ? 3 : -1);
            EXPECT_GE(n, 0);
            if (known) {
                // Payload plus checksum and terminator never pass the end.
                EXPECT_LE(off + n + 2, CReplyParser::kShortSize);
                const int declared = start == 0xF0 ? L - 3 : L - 1;
                EXPECT_EQ(n, std::max(0, std::min(declared, CReplyParser::kShortSize - off - 2)));
                uint64_t expect = 0;
                for (int i = 0; i < n; ++i)
                    expect = (expect << 8) | buf[size_t(off + i)];
                EXPECT_EQ(value, expect);
            } else {
                EXPECT_EQ(value, 0u);
            }

            // copyPayload respects the destination's capacity.
            std::memcpy(CReplyParser::instance()->shortReplyBuffer(), buf.data(), buf.size());
            for (int cap : {0, 2, 32}) {
                unsigned char dst[40];
                std::memset(dst, 0xEE, sizeof dst);
                int len = -1;
                EXPECT_EQ(CReplyParser::instance()->copyPayload(dst, cap, &len), known);
                EXPECT_EQ(len, known ? std::min(n, cap) : 0);
                for (int i = std::max(len, 0); i < 40; ++i)
                    ASSERT_EQ(dst[i], 0xEE) << "written past the copied payload";
            }

            // Long buffer with the same header, whatever the received count.
            auto lbuf = reply("", CReplyParser::kLongSize);
            lbuf[0] = start;
            lbuf[1] = static_cast<unsigned char>(L);
            for (int received : {-5, 0, 1, 2, 3, 50, 259, 280, 100000}) {
                int len = -1;
                const unsigned char* p = CReplyParser::longPayloadIn(lbuf.data(), int(lbuf.size()), received, &len);
                if (p) {
                    EXPECT_GE(len, 0);
                    EXPECT_GE(p, lbuf.data());
                    EXPECT_LE(p + len, lbuf.data() + lbuf.size());
                } else {
                    EXPECT_EQ(len, 0);
                }
            }
        }
    }
    EXPECT_FALSE(CReplyParser::parseValueIn(nullptr, 11, nullptr));
    EXPECT_EQ(CReplyParser::longPayloadIn(nullptr, 259, 10, nullptr), nullptr);
    EXPECT_FALSE(CReplyParser::instance()->copyPayload(nullptr, 4, nullptr));
}

TEST(ReplyParser, LongPayloadRules)
{
    auto buf = reply("f164ea", CReplyParser::kLongSize); // L = 100
    int len = 0;
    const unsigned char* p = CReplyParser::longPayloadIn(buf.data(), 259, 50, &len);
    ASSERT_EQ(p, buf.data() + 3);
    EXPECT_EQ(len, 47) << "incomplete block reply: what arrived minus the header";
    p = CReplyParser::longPayloadIn(buf.data(), 259, 104, &len);
    EXPECT_EQ(len, 99);
    // Nothing counted as received: an incomplete block reply is unusable.
    EXPECT_EQ(CReplyParser::longPayloadIn(buf.data(), 259, 0, &len), nullptr);

    buf = reply("f00836 01 0102030405", CReplyParser::kLongSize);
    p = CReplyParser::longPayloadIn(buf.data(), 259, 0, &len);
    ASSERT_EQ(p, buf.data() + 5);
    EXPECT_EQ(len, 5);
    buf = reply("f00336", CReplyParser::kLongSize);
    ASSERT_NE(CReplyParser::longPayloadIn(buf.data(), 259, 0, &len), nullptr);
    EXPECT_EQ(len, 0);

    buf = reply("1122", CReplyParser::kLongSize); // unknown start: raw bytes minus two
    EXPECT_EQ(CReplyParser::longPayloadIn(buf.data(), 259, 20, &len), buf.data());
    EXPECT_EQ(len, 18);
    EXPECT_EQ(CReplyParser::longPayloadIn(buf.data(), 259, 400, &len), buf.data());
    EXPECT_EQ(len, 259) << "a chunk larger than the buffer is cut at the buffer";
    EXPECT_EQ(CReplyParser::longPayloadIn(buf.data(), 259, 1, &len), nullptr);

    // The member reads the long buffer.
    std::memcpy(CReplyParser::instance()->longReplyBuffer(), reply("f10500aabbccdd", 259).data(), 259);
    p = CReplyParser::instance()->longPayload(&len, 9);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(p), len), irtest::fromHex("aabbccdd"));
}

TEST(ReplyParser, ClearForgetsEarlierReplies)
{
    CReplyParser* rp = CReplyParser::instance();
    loadShort("f00436fe00 01 2fff");
    std::memset(rp->longReplyBuffer(), 0xF0, CReplyParser::kLongSize);
    rp->clearShort();
    rp->clearLong();
    uint32_t v = 5;
    EXPECT_FALSE(rp->parseValue(&v));
    for (int i = 0; i < CReplyParser::kShortSize; ++i)
        ASSERT_EQ(rp->shortReplyBuffer()[i], 0);
    for (int i = 0; i < CReplyParser::kLongSize; ++i)
        ASSERT_EQ(rp->longReplyBuffer()[i], 0);
}
