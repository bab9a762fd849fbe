#include "StreamPacket.h"

#include "Crc32Mpeg2.h"

#include <cstring>

namespace streampacket {

namespace {

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void putLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t byteSwap(uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

} // namespace

bool validGeometry(uint64_t width, uint64_t height)
{
    if (width == 0 || height <= uint64_t(kInfoRows))
        return false;
    if (width > uint64_t(kBufferBytes) || height > uint64_t(kBufferBytes))
        return false;
    return uint64_t(kHeaderBytes) + width * height * 2 <= uint64_t(kBufferBytes);
}

uint32_t crcTagValue(const uint8_t* data, size_t len)
{
    return byteSwap(crc32Mpeg2(data, len));
}

bool isMagicAt(const uint8_t* p)
{
    return le32(p) == kMagic1 && le32(p + 4) == kMagic2;
}

HeaderInfo parseHeader(const uint8_t* p)
{
    HeaderInfo info;
    int64_t remaining = int64_t(le32(p + 8));
    int pos = kTagAreaStart;
    while (remaining > 0 && pos + 8 <= kHeaderBytes) {
        const uint32_t id = le32(p + pos);
        const uint32_t len = le32(p + pos + 4);
        const int64_t tagBytes = 8 + int64_t(len);
        if (id == kTagGeometry && pos + 20 <= kHeaderBytes) {
            info.hasGeometry = true;
            info.width = le32(p + pos + 12);
            info.height = le32(p + pos + 16);
        } else if (id == kTagCrc && pos + 16 <= kHeaderBytes) {
            info.hasCrc = true;
            info.crc = le32(p + pos + 12);
        }
        remaining -= tagBytes;
        if (tagBytes > kHeaderBytes - pos)
            break;
        pos += int(tagBytes);
    }
    return info;
}

void appendPacket(std::vector<uint8_t>& out, const uint16_t* frame, uint32_t width, uint32_t height,
                  const BuildOptions& options)
{
    const size_t dataBytes = size_t(width) * height * 2;
    const size_t start = out.size();
    out.resize(start + kHeaderBytes + dataBytes, 0);
    uint8_t* h = out.data() + start;
    uint8_t* data = h + kHeaderBytes;
    std::memcpy(data, frame, dataBytes); // the host and the wire are little-endian

    putLe32(h, kMagic1);
    putLe32(h + 4, kMagic2);
    uint8_t* tag = h + kTagAreaStart;
    // Geometry: id, length 12, a 16-bit word (bit depth), padding, width, height.
    putLe32(tag, kTagGeometry);
    putLe32(tag + 4, 12);
    tag[8] = 14;
    putLe32(tag + 12, width);
    putLe32(tag + 16, height);
    int tagArea = 20;
    if (options.withCrc) {
        uint8_t* crc = tag + 20;
        putLe32(crc, kTagCrc);
        putLe32(crc + 4, 8);
        uint32_t value = crcTagValue(data, dataBytes);
        if (options.corruptCrc)
            value += 1;
        putLe32(crc + 12, value);
        tagArea += 16;
    }
    putLe32(h + 8, uint32_t(tagArea));
}

} // namespace streampacket
