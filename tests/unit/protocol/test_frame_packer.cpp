#include "CFramePacker.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

QByteArray bytes(const unsigned char* p, int n)
{
    return QByteArray(reinterpret_cast<const char*>(p), n);
}

// Checks the register frame layout: LEN, checksum over LEN bytes from offset 2,
// terminator, and nothing but zeros after it in the 32-byte buffer.
void expectRegisterFrame(const unsigned char* f, int expectLen)
{
    ASSERT_EQ(f[0], 0xF0);
    const int len = f[1];
    ASSERT_EQ(len, expectLen);
    EXPECT_EQ(f[2], 0x36);
    unsigned sum = 0;
    for (int i = 0; i < len; ++i)
        sum += f[2 + i];
    EXPECT_EQ(f[2 + len], sum & 0xFF);
    EXPECT_EQ(f[3 + len], 0xFF);
    for (int i = len + 4; i < CFramePacker::kWriteBufSize; ++i)
        ASSERT_EQ(f[i], 0) << "byte " << i << " left from an earlier frame";
}

} // namespace

TEST(FramePacker, KnownFramesByteForByte)
{
    CFramePacker* p = CFramePacker::instance();
    EXPECT_EQ(bytes(p->packWriteRegister(0xF0E0, 1), 15), irtest::fromHex("f00b36fe000000f0e00000000105ff"));
    EXPECT_EQ(bytes(p->packReadShort(0x84), 7), irtest::fromHex("f0033684 01bbff"));
    const unsigned char two = 2;
    EXPECT_EQ(bytes(p->packBlock(0xE6, &two, 0), 6), irtest::fromHex("f10001e6e6ff"));
    EXPECT_EQ(bytes(p->packBlock(0xE8, &two, 1), 7), irtest::fromHex("f10002e802eaff"));
    EXPECT_EQ(bytes(p->packReadRegister(0xF0E3), 11), irtest::fromHex("f00736fe01 0000f0e3 08ff"));
}

TEST(FramePacker, LengthAndChecksumOfEveryRegisterKind)
{
    CFramePacker* p = CFramePacker::instance();
    const unsigned char* f = p->packWriteRegister(0xFFFFFFFF, 0xFFFFFFFF); // checksum wraps
    expectRegisterFrame(f, 11);
    EXPECT_EQ(f[13], 0x2C);
    expectRegisterFrame(p->packReadRegister(0x12345678), 7);
    EXPECT_EQ(bytes(p->packReadRegister(0x12345678) + 5, 4), irtest::fromHex("12345678"));

    const struct { int width; int len; const char* value; } cases[] = {
        {1, 4, "d4"}, {2, 5, "c3d4"}, {4, 7, "a1b2c3d4"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        // A long frame first: the short one must not carry any of its bytes.
        p->packWriteRegister(0xAAAAAAAA, 0xBBBBBBBB);
        const unsigned char* s = p->packWriteShort(0x33, 0xA1B2C3D4, c.width);
        expectRegisterFrame(s, c.len);
        EXPECT_EQ(s[3], 0x33);
        EXPECT_EQ(s[4], 0x00);
        EXPECT_EQ(bytes(s + 5, c.width), irtest::fromHex(c.value));
    }
    p->packReadRegister(0xAAAAAAAA);
    expectRegisterFrame(p->packReadShort(0x0E), 3);
    // Out-of-range widths stay inside the frame format.
    expectRegisterFrame(p->packWriteShort(0x01, 5, 9), 7);
    expectRegisterFrame(p->packWriteShort(0x01, 5, 0), 4);
}

TEST(FramePacker, SameBufferPointerAndRepeatablePacks)
{
    CFramePacker* p = CFramePacker::instance();
    unsigned char* a = p->packWriteRegister(0xF02A, 300);
    const QByteArray first = bytes(a, 32);
    EXPECT_EQ(p->packWriteShort(1, 2, 1), a);
    EXPECT_EQ(p->packHexText("F0"), a);
    EXPECT_EQ(p->packWriteRegister(0xF02A, 300), a);
    EXPECT_EQ(bytes(a, 32), first);
    EXPECT_NE(p->packReadRegister(1), a);
    EXPECT_EQ(p->packReadShort(1), p->packReadRegister(2));
}

TEST(FramePacker, BlockFramesClampAndChecksum)
{
    CFramePacker* p = CFramePacker::instance();
    QByteArray data(1500, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 + 1);
    for (int n : {1000, 1500}) {
        const unsigned char* f = p->packBlock(0xEE, data.constData(), n);
        EXPECT_EQ(f[1], 0x03);
        EXPECT_EQ(f[2], 0xE9);
        EXPECT_EQ(bytes(f + 4, 1000), data.left(1000));
        unsigned sum = 0xEE;
        for (int i = 0; i < 1000; ++i)
            sum += static_cast<unsigned char>(data[i]);
        EXPECT_EQ(f[1004], sum & 0xFF);
        EXPECT_EQ(f[1005], 0xFF);
    }
    // A short block after a long one: only zeros behind the terminator.
    const unsigned char* f = p->packBlock(0xE3, "\x01\x40\x00\x00", 4);
    EXPECT_EQ(bytes(f, 10), irtest::fromHex("f10005e30140000024ff"));
    for (int i = 10; i < CFramePacker::kBlockBufSize; ++i)
        ASSERT_EQ(f[i], 0);
    EXPECT_EQ(bytes(p->packBlock(0xE5, data.constData(), -4), 6), irtest::fromHex("f10001e5e5ff"));
    // No data to copy from: the command goes alone instead of reading through null.
    EXPECT_EQ(bytes(p->packBlock(0xEA, nullptr, 10), 7), irtest::fromHex("f10001eaeaff00"));
}

TEST(HexText, PairsOddLengthsAndBadDigits)
{
    CFramePacker* p = CFramePacker::instance();
    EXPECT_EQ(bytes(p->packHexText("f"), 2), irtest::fromHex("0f00"));
    EXPECT_EQ(bytes(p->packHexText("F00B"), 3), irtest::fromHex("f00b00"));
    EXPECT_EQ(bytes(p->packHexText("1F2"), 2), irtest::fromHex("01f2"));
    EXPECT_EQ(bytes(p->packHexText("F00703FE"), 5), irtest::fromHex("f00703fe00"));

    unsigned char out[8];
    std::fill(std::begin(out), std::end(out), 0xAA);
    // "5z" stops at z; "z5" and "  " hold no number at all and give 0x00.
    EXPECT_EQ(hexTextToBytes("5zz5  aB", out, 8), 4);
    EXPECT_EQ(bytes(out, 5), irtest::fromHex("050000abaa"));
    EXPECT_EQ(hexTextToBytes("", out, 8), 0);
    EXPECT_EQ(hexTextToBytes("12", out, 0), 0);
    EXPECT_EQ(hexTextToBytes("12", nullptr, 4), 0);
    EXPECT_EQ(hexTextToBytes(QString::fromUtf8("中1"), out, 8), 1);
    EXPECT_EQ(out[0], 0x00);
}

TEST(HexText, AtMostThirtyTwoBytesAreStored)
{
    QString text;
    for (int i = 0; i < 40; ++i)
        text += QString::asprintf("%02x", i);
    unsigned char out[48];
    std::fill(std::begin(out), std::end(out), 0xAA);
    EXPECT_EQ(hexTextToBytes(text, out, 32), 32);
    EXPECT_EQ(out[31], 31);
    EXPECT_EQ(out[32], 0xAA);
    const unsigned char* f = CFramePacker::instance()->packHexText(text);
    EXPECT_EQ(f[0], 0);
    EXPECT_EQ(f[31], 31);
}

TEST(BigEndian, Helpers)
{
    unsigned char b[4];
    writeU32BE(0x01020304, b);
    EXPECT_EQ(bytes(b, 4), irtest::fromHex("01020304"));
    writeU16BE(0xA1B2, b);
    EXPECT_EQ(bytes(b, 2), irtest::fromHex("a1b2"));
}
