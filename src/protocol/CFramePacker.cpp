#include "CFramePacker.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr unsigned char kRegStart = 0xF0;
constexpr unsigned char kBlockStart = 0xF1;
constexpr unsigned char kClassByte = 0x36;
constexpr unsigned char kLongAddr = 0xFE;
constexpr unsigned char kOpWrite = 0x00;
constexpr unsigned char kOpRead = 0x01;
constexpr unsigned char kTerminator = 0xFF;

unsigned char checksum(const unsigned char* p, int n)
{
    unsigned sum = 0;
    for (int i = 0; i < n; ++i)
        sum += p[i];
    return static_cast<unsigned char>(sum & 0xFF);
}

// Register frame: F0 LEN body[LEN] CHK FF, where body starts with the class byte.
// Returns the frame length (LEN + 4).
int finishRegisterFrame(unsigned char* buf, int bodyLen)
{
    buf[0] = kRegStart;
    buf[1] = static_cast<unsigned char>(bodyLen);
    buf[2 + bodyLen] = checksum(buf + 2, bodyLen);
    buf[3 + bodyLen] = kTerminator;
    return bodyLen + 4;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

} // namespace

CFramePacker* CFramePacker::instance()
{
    static CFramePacker packer;
    return &packer;
}

CFramePacker::CFramePacker()
{
    std::memset(m_write, 0, sizeof(m_write));
    std::memset(m_read, 0, sizeof(m_read));
    std::memset(m_block, 0, sizeof(m_block));
}

unsigned char* CFramePacker::packWriteRegister(uint32_t addr, uint32_t value)
{
    std::memset(m_write, 0, sizeof(m_write));
    m_write[2] = kClassByte;
    m_write[3] = kLongAddr;
    m_write[4] = kOpWrite;
    writeU32BE(addr, m_write + 5);
    writeU32BE(value, m_write + 9);
    finishRegisterFrame(m_write, 11);
    return m_write;
}

unsigned char* CFramePacker::packReadRegister(uint32_t addr)
{
    std::memset(m_read, 0, sizeof(m_read));
    m_read[2] = kClassByte;
    m_read[3] = kLongAddr;
    m_read[4] = kOpRead;
    writeU32BE(addr, m_read + 5);
    finishRegisterFrame(m_read, 7);
    return m_read;
}

unsigned char* CFramePacker::packWriteShort(uint8_t addr, uint32_t value, int width)
{
    // The core knows 1, 2 and 4 byte short writes; anything else is kept inside 1..4
    // so the frame can never run past the buffer.
    width = std::clamp(width, 1, 4);
    std::memset(m_write, 0, sizeof(m_write));
    m_write[2] = kClassByte;
    m_write[3] = addr;
    m_write[4] = kOpWrite;
    for (int i = 0; i < width; ++i)
        m_write[5 + i] = static_cast<unsigned char>(value >> (8 * (width - 1 - i)));
    finishRegisterFrame(m_write, 3 + width);
    return m_write;
}

unsigned char* CFramePacker::packReadShort(uint8_t addr)
{
    std::memset(m_read, 0, sizeof(m_read));
    m_read[2] = kClassByte;
    m_read[3] = addr;
    m_read[4] = kOpRead;
    finishRegisterFrame(m_read, 3);
    return m_read;
}

unsigned char* CFramePacker::packHexText(const QString& text)
{
    std::memset(m_write, 0, sizeof(m_write));
    hexTextToBytes(text, m_write, kWriteBufSize);
    return m_write;
}

unsigned char* CFramePacker::packBlock(uint8_t cmd, const void* data, int n)
{
    n = std::clamp(n, 0, kMaxBlockData);
    if (!data)
        n = 0; // nothing to copy from: send the command alone
    std::memset(m_block, 0, sizeof(m_block));
    m_block[0] = kBlockStart;
    writeU16BE(static_cast<uint16_t>(n + 1), m_block + 1);
    m_block[3] = cmd;
    if (n > 0)
        std::memcpy(m_block + 4, data, static_cast<size_t>(n));
    m_block[4 + n] = checksum(m_block + 3, n + 1);
    m_block[5 + n] = kTerminator;
    return m_block;
}

int hexTextToBytes(const QString& text, unsigned char* out, int cap)
{
    if (!out || cap <= 0)
        return 0;
    const QString t = (text.size() % 2) ? QStringLiteral("0") + text : text;
    const int pairs = std::min(static_cast<int>(t.size() / 2), cap);
    for (int i = 0; i < pairs; ++i) {
        // Scanned like "%x": digits until the first non-hex character. A pair that
        // starts with a non-hex character holds no number and gives 0x00.
        const int hi = hexDigit(t.at(2 * i));
        int v = 0;
        if (hi >= 0) {
            v = hi;
            const int lo = hexDigit(t.at(2 * i + 1));
            if (lo >= 0)
                v = v * 16 + lo;
        }
        out[i] = static_cast<unsigned char>(v);
    }
    return pairs;
}

void writeU32BE(uint32_t value, unsigned char* out)
{
    out[0] = static_cast<unsigned char>(value >> 24);
    out[1] = static_cast<unsigned char>(value >> 16);
    out[2] = static_cast<unsigned char>(value >> 8);
    out[3] = static_cast<unsigned char>(value);
}

void writeU16BE(uint16_t value, unsigned char* out)
{
    out[0] = static_cast<unsigned char>(value >> 8);
    out[1] = static_cast<unsigned char>(value);
}
