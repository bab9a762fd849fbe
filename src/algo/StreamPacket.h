#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The camera's stream packet: a 56-byte header (two magics, a tag area with the
// frame geometry and optionally the frame CRC) followed by W x H little-endian 16-bit
// pixels. The last two rows of a frame are info rows; the first 60 bytes of the first
// info row are the add-info block.
namespace streampacket {

constexpr uint32_t kMagic1 = 0x12345678u;
constexpr uint32_t kMagic2 = 0x87654321u;
constexpr uint32_t kTagGeometry = 0x5F46524Du; // "MRF_" in memory
constexpr uint32_t kTagCrc = 0x5F435243u;      // "CRC_" in memory
constexpr int kHeaderBytes = 56;
constexpr int kTagAreaStart = 12;
constexpr int kBufferBytes = 4500000; // receive and frame buffers of the host
constexpr int kAddInfoBytes = 60;
constexpr int kInfoRows = 2;

// A geometry the host can hold: at least one image row besides the two info rows, and
// header plus frame within one receive buffer.
bool validGeometry(uint64_t width, uint64_t height);

// The value the "CRC_" tag carries (read as little-endian) for these frame bytes: the
// CRC-32/MPEG-2 stored big-endian.
uint32_t crcTagValue(const uint8_t* data, size_t len);

struct HeaderInfo {
    bool hasGeometry = false;
    uint32_t width = 0;
    uint32_t height = 0;
    bool hasCrc = false;
    uint32_t crc = 0; // tag value as stored (see crcTagValue)
};

// True when the two magics start at `p` (at least 8 readable bytes).
bool isMagicAt(const uint8_t* p);
// Reads the tags of a header starting at `p` (kHeaderBytes readable). Tags that would
// reach past the header are ignored, whatever the tag-area length claims.
HeaderInfo parseHeader(const uint8_t* p);

struct BuildOptions {
    bool withCrc = true;
    bool corruptCrc = false; // tag value off by one: the host must drop the frame
};

// Appends one whole packet for a W x H frame (info rows included).
void appendPacket(std::vector<uint8_t>& out, const uint16_t* frame, uint32_t width, uint32_t height,
                  const BuildOptions& options = BuildOptions());

} // namespace streampacket
