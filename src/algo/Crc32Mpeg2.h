#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32/MPEG-2: polynomial 0x04C11DB7, initial 0xFFFFFFFF, no reflection, no final
// XOR. The stream packets carry it over their frame bytes.
uint32_t crc32Mpeg2(const uint8_t* data, size_t len, uint32_t crc = 0xFFFFFFFFu);
