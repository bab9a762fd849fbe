#pragma once

#include "StreamPacket.h"

#include <cstdint>
#include <vector>

namespace vtest {

// A W x H frame (info rows included) whose pixel (x, y) is seed + x + 7 y (14-bit),
// with a recognisable add-info block.
inline std::vector<uint16_t> makeFrame(int w, int h, int seed)
{
    std::vector<uint16_t> f(size_t(w) * size_t(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            f[size_t(y) * size_t(w) + size_t(x)] = uint16_t((seed + x + 7 * y) & 0x3FFF);
    uint16_t* block = f.data() + size_t(w) * size_t(h - 2);
    for (int i = 0; i < 30 && i < w * 2; ++i)
        block[i] = uint16_t(seed * 100 + i);
    return f;
}

inline std::vector<uint8_t> packet(const std::vector<uint16_t>& frame, int w, int h, bool crc = true,
                                   bool corrupt = false)
{
    std::vector<uint8_t> out;
    streampacket::BuildOptions o;
    o.withCrc = crc;
    o.corruptCrc = corrupt;
    streampacket::appendPacket(out, frame.data(), uint32_t(w), uint32_t(h), o);
    return out;
}

} // namespace vtest
