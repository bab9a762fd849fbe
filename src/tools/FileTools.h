#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// The two file conversions of the tools menu, free of any GUI: the bit reversal of
// every byte ("Invert_" + name) and the 48-byte checksum header ("crc_" + name).
namespace FileTools {

constexpr int kBlockSize = 1024;             // the inversion works in blocks of this size
constexpr int kHeaderSize = 48;
constexpr uint32_t kHeaderMagic = 0x5A5AA5A5u;
// The header's length field is 32 bits; longer inputs cannot be described.
constexpr qint64 kMaxChecksumInput = 0xFFFFFFFFll;

// Bit 0 becomes bit 7, bit 1 becomes bit 6, and so on.
uint8_t reverseBits(uint8_t b);
void reverseBitsInPlace(uint8_t* data, size_t n);

// Reflected CRC-32 over the IEEE 802.3 table (polynomial 0xEDB88320), starting value
// 0 and no final inversion: the variant the boot loader checks. Pass the previous
// result to continue over further bytes.
uint32_t crc32(const uint8_t* data, size_t n, uint32_t crc = 0);

// Header fields, all 32-bit little-endian: magic, 1, 48, length, 1, CRC, 24 zero bytes.
std::array<uint8_t, kHeaderSize> checksumHeader(uint32_t length, uint32_t crc);

// The output lies beside the input: the prefix goes right after the last "/".
QString prefixedPath(const QString& path, const QString& prefix);

// Progress while a file is worked through: bytes done of total. Returning false stops
// the work (the result then reports it as cancelled).
using Progress = std::function<bool(qint64 done, qint64 total)>;

struct Result {
    bool ok = false;
    QString outputPath;
    QString error;       // operator-facing reason when !ok
    qint64 length = 0;   // input bytes handled
    uint32_t crc = 0;    // checksum tool only
};

// Both tools write through a temporary file that replaces the output only when every
// byte has been written, so a failure never leaves a truncated output behind.
Result invertFile(const QString& inputPath, const Progress& progress = Progress());
Result checksumFile(const QString& inputPath, const Progress& progress = Progress());

} // namespace FileTools
