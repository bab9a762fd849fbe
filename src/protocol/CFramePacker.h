#pragma once

#include <QString>
#include <cstdint>

// Builds the command frames sent to the core: register frames (0xF0) and block
// frames (0xF1), each with an 8-bit additive checksum and the 0xFF terminator.
// Every pack clears its buffer and returns it; the pointer stays valid and unchanged
// until the next pack into the same buffer.
class CFramePacker {
public:
    static constexpr int kWriteBufSize = 32;
    static constexpr int kReadBufSize = 32;
    static constexpr int kBlockBufSize = 1006;
    static constexpr int kMaxBlockData = 1000;

    static CFramePacker* instance();

    unsigned char* packWriteRegister(uint32_t addr, uint32_t value);  // 15 bytes
    unsigned char* packReadRegister(uint32_t addr);                   // 11 bytes
    unsigned char* packWriteShort(uint8_t addr, uint32_t value, int width); // 8/9/11 bytes
    unsigned char* packReadShort(uint8_t addr);                       // 7 bytes
    unsigned char* packHexText(const QString& text);                  // up to 32 bytes
    // n is clamped to 0..1000; frame is n + 6 bytes.
    unsigned char* packBlock(uint8_t cmd, const void* data, int n);

private:
    CFramePacker();
    unsigned char m_write[kWriteBufSize];
    unsigned char m_read[kReadBufSize];
    unsigned char m_block[kBlockBufSize];
};

// Hex text ("F00B", "f") to bytes: odd length gets a leading "0"; each pair is read
// like "%x" (stops at the first non-hex digit). Stores at most `cap` bytes and returns
// how many were stored.
int hexTextToBytes(const QString& text, unsigned char* out, int cap);
void writeU32BE(uint32_t value, unsigned char* out);
void writeU16BE(uint16_t value, unsigned char* out);
